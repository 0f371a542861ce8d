// One queue, several workers: a worker takes the oldest job whatever connection it came on.
#include "serve/render_pool.h"

#include <chrono>

namespace norvisk::serve {

void RenderJob::ReleasePicture() {
  if (bytes) FreePicture(bytes);
  bytes = nullptr;
  size = 0;
}

RenderPool::RenderPool(int threads, int queue, Metrics* metrics,
                       std::function<void(RenderJob*)> finished)
    : capacity_(static_cast<std::size_t>(threads) + static_cast<std::size_t>(queue)),
      metrics_(metrics),
      finished_(std::move(finished)) {
  workers_.reserve(static_cast<std::size_t>(threads));
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this, i] { Work(i); });
}

RenderPool::~RenderPool() { Stop(); }

bool RenderPool::Submit(RenderJob* job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || held_ >= capacity_) return false;
    jobs_.push_back(job);
    ++held_;
    metrics_->SetQueued(static_cast<long>(held_));
  }
  ready_.notify_one();
  return true;
}

std::vector<RenderJob*> RenderPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& t : workers_)
    if (t.joinable()) t.join();
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RenderJob*> left(jobs_.begin(), jobs_.end());
  jobs_.clear();
  return left;
}

void RenderPool::Work(int index) {
  for (;;) {
    RenderJob* job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = jobs_.front();
      jobs_.pop_front();
    }
    job->drawn = !job->Abandoned();
    if (job->drawn) {
      auto start = std::chrono::steady_clock::now();
      job->result = Render(job->chart, &job->bytes, &job->size);
      // Only pictures count as drawn: a /parse reading would hide their times among its own.
      if (job->result == RenderResult::Ok && IsChart(job->chart.route))
        metrics_->CountRender(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), index);
    } else {
      metrics_->CountAbandoned();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --held_;
      metrics_->SetQueued(static_cast<long>(held_));
    }
    finished_(job);
  }
}

}  // namespace norvisk::serve
