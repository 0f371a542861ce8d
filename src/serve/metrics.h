// The service's counters, shared by the worker threads and written in Prometheus' text format.
#pragma once

#include <atomic>
#include <string>

#include "serve/request.h"

namespace norvisk::serve {

class Metrics {
 public:
  // The statuses the service answers with itself; anything else counts as "other".
  static constexpr int kStatuses[] = {200, 304, 400, 404, 405, 413, 414, 422, 500, 503};
  static constexpr int kStatusCount = sizeof(kStatuses) / sizeof(kStatuses[0]);
  static constexpr int kRouteCount = 7;  // the routes of Route, Unknown included
  // Upper bounds of the render-time buckets, in seconds.
  static constexpr double kBuckets[] = {0.0005, 0.001, 0.0025, 0.005, 0.01,
                                        0.025,  0.05,  0.1,    0.25,  1.0};
  static constexpr int kBucketCount = sizeof(kBuckets) / sizeof(kBuckets[0]);

  void CountResponse(Route route, int status);
  void CountRender(double seconds);
  void Enter() { inFlight_.fetch_add(1, std::memory_order_relaxed); }
  void Leave() { inFlight_.fetch_sub(1, std::memory_order_relaxed); }
  long InFlight() const { return inFlight_.load(std::memory_order_relaxed); }

  // The exposition text; counters are read one by one, so a scrape taken while requests run
  // may be a moment apart between lines, never torn within one.
  std::string Text() const;

 private:
  std::atomic<unsigned long long> responses_[kRouteCount][kStatusCount + 1] = {};
  std::atomic<unsigned long long> buckets_[kBucketCount + 1] = {};
  std::atomic<unsigned long long> renderNanos_{0};
  std::atomic<long> inFlight_{0};
};

}  // namespace norvisk::serve
