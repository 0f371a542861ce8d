// The service's counters, shared by the connection handling and the workers and written in
// Prometheus' text format.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "serve/request.h"

namespace norvisk::serve {

class Metrics {
 public:
  // The statuses the service answers with; anything else counts as "other".
  static constexpr int kStatuses[] = {200, 304, 400, 404, 405, 412, 413,
                                      414, 422, 431, 500, 501, 503, 505};
  static constexpr int kStatusCount = sizeof(kStatuses) / sizeof(kStatuses[0]);
  static constexpr int kRouteCount = kRouteTableSize + 1;  // the routes of the table, and Unknown
  // Upper bounds of the render-time buckets, in seconds.
  static constexpr double kBuckets[] = {0.0005, 0.001, 0.0025, 0.005, 0.01,
                                        0.025,  0.05,  0.1,    0.25,  1.0};
  static constexpr int kBucketCount = sizeof(kBuckets) / sizeof(kBuckets[0]);

  // `workers`: how many render threads have a counter of their own.
  explicit Metrics(int workers = 0);

  void CountResponse(Route route, int status);
  // A picture drawn by worker `worker` in `seconds`; failed drawings are not counted.
  void CountRender(double seconds, int worker = -1);
  // A request whose client went away before it was drawn.
  void CountAbandoned() { abandoned_.fetch_add(1, std::memory_order_relaxed); }
  void Enter() { inFlight_.fetch_add(1, std::memory_order_relaxed); }
  void Leave() { inFlight_.fetch_sub(1, std::memory_order_relaxed); }
  long InFlight() const { return inFlight_.load(std::memory_order_relaxed); }
  // Chart requests waiting for a worker or being drawn.
  void SetQueued(long n) { queued_.store(n, std::memory_order_relaxed); }

  // The exposition text; counters are read one by one, so a scrape taken while requests run
  // may be a moment apart between lines, never torn within one.
  std::string Text() const;

 private:
  std::atomic<unsigned long long> responses_[kRouteCount][kStatusCount + 1] = {};
  std::atomic<unsigned long long> buckets_[kBucketCount + 1] = {};
  std::atomic<unsigned long long> renderNanos_{0};
  std::atomic<unsigned long long> abandoned_{0};
  std::atomic<long> inFlight_{0};
  std::atomic<long> queued_{0};
  int workers_;
  std::unique_ptr<std::atomic<unsigned long long>[]> workerRenders_;
};

}  // namespace norvisk::serve
