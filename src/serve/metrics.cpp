// Counting requests and render times without locks, and writing them for a scraper.
#include "serve/metrics.h"

#include <cstdio>

namespace norvisk::serve {
namespace {

// The routes of the table in its order, then Unknown.
Route RouteAt(int index) {
  return index < kRouteTableSize ? kRouteTable[index].route : Route::Unknown;
}

int RouteIndex(Route route) {
  for (int i = 0; i < kRouteTableSize; ++i)
    if (kRouteTable[i].route == route) return i;
  return Metrics::kRouteCount - 1;
}

int StatusIndex(int status) {
  for (int i = 0; i < Metrics::kStatusCount; ++i)
    if (Metrics::kStatuses[i] == status) return i;
  return Metrics::kStatusCount;
}

void AppendNumber(std::string& out, const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  out += buf;
}

}  // namespace

Metrics::Metrics(int workers)
    : workers_(workers > 0 ? workers : 0),
      workerRenders_(new std::atomic<unsigned long long>[workers_ ? workers_ : 1]()) {}

void Metrics::CountResponse(Route route, int status) {
  responses_[RouteIndex(route)][StatusIndex(status)].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::CountRender(double seconds, int worker) {
  if (worker >= 0 && worker < workers_)
    workerRenders_[worker].fetch_add(1, std::memory_order_relaxed);
  int b = 0;
  while (b < kBucketCount && seconds > kBuckets[b]) ++b;
  buckets_[b].fetch_add(1, std::memory_order_relaxed);
  renderNanos_.fetch_add(static_cast<unsigned long long>(seconds * 1e9), std::memory_order_relaxed);
}

std::string Metrics::Text() const {
  std::string out;
  out += "# HELP norvisk_requests_total Requests answered, by path and status.\n";
  out += "# TYPE norvisk_requests_total counter\n";
  unsigned long long notModified = 0;
  for (int r = 0; r < kRouteCount; ++r) {
    for (int s = 0; s <= kStatusCount; ++s) {
      unsigned long long n = responses_[r][s].load(std::memory_order_relaxed);
      if (s < kStatusCount && kStatuses[s] == 304) notModified += n;
      if (n == 0) continue;
      out += "norvisk_requests_total{path=\"";
      out += RouteName(RouteAt(r));
      out += "\",status=\"";
      out += s < kStatusCount ? std::to_string(kStatuses[s]) : std::string("other");
      out += "\"} " + std::to_string(n) + "\n";
    }
  }
  out += "# HELP norvisk_not_modified_total Requests answered 304 without rendering.\n";
  out += "# TYPE norvisk_not_modified_total counter\n";
  out += "norvisk_not_modified_total " + std::to_string(notModified) + "\n";
  out += "# HELP norvisk_requests_in_flight Requests received and not yet answered.\n";
  out += "# TYPE norvisk_requests_in_flight gauge\n";
  out += "norvisk_requests_in_flight " + std::to_string(InFlight()) + "\n";
  out += "# HELP norvisk_render_queue Chart requests waiting for a worker or being drawn.\n";
  out += "# TYPE norvisk_render_queue gauge\n";
  out += "norvisk_render_queue " + std::to_string(queued_.load(std::memory_order_relaxed)) + "\n";
  out += "# HELP norvisk_abandoned_total Chart requests not drawn: the client had gone.\n";
  out += "# TYPE norvisk_abandoned_total counter\n";
  out += "norvisk_abandoned_total " + std::to_string(abandoned_.load(std::memory_order_relaxed)) +
         "\n";
  out += "# HELP norvisk_worker_renders_total Pictures drawn, by worker thread.\n";
  out += "# TYPE norvisk_worker_renders_total counter\n";
  for (int w = 0; w < workers_; ++w)
    out += "norvisk_worker_renders_total{worker=\"" + std::to_string(w) + "\"} " +
           std::to_string(workerRenders_[w].load(std::memory_order_relaxed)) + "\n";
  out += "# HELP norvisk_render_seconds Time to draw and encode one picture.\n";
  out += "# TYPE norvisk_render_seconds histogram\n";
  unsigned long long cumulative = 0;
  for (int b = 0; b <= kBucketCount; ++b) {
    cumulative += buckets_[b].load(std::memory_order_relaxed);
    out += "norvisk_render_seconds_bucket{le=\"";
    if (b < kBucketCount)
      AppendNumber(out, "%g", kBuckets[b]);
    else
      out += "+Inf";
    out += "\"} " + std::to_string(cumulative) + "\n";
  }
  out += "norvisk_render_seconds_sum ";
  AppendNumber(out, "%.9f", renderNanos_.load(std::memory_order_relaxed) / 1e9);
  out += "\nnorvisk_render_seconds_count " + std::to_string(cumulative) + "\n";
  return out;
}

}  // namespace norvisk::serve
