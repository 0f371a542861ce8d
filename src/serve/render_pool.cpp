// One queue, several workers: a worker takes the oldest job whatever connection it came on,
// once the job's picture fits the memory budget.
#include "serve/render_pool.h"

namespace norvisk::serve {

using Clock = std::chrono::steady_clock;

void RenderJob::ReleasePicture() {
  if (bytes) FreePicture(bytes);
  bytes = nullptr;
  size = 0;
  if (charged_ > 0) pool_->Recharge(this, 0);
}

std::size_t RenderPool::PictureMemory(const ChartRequest& chart) {
  // A reading draws nothing; its JSON is a few times the data at most, charged as drawn.
  if (Info(chart.route).handler == Handler::Parse) return chart.data.size() * 4 + 4096;
  const auto width = static_cast<std::size_t>(chart.width > 0 ? chart.width : 0);
  const auto height = static_cast<std::size_t>(chart.height > 0 ? chart.height : 0);
  const std::size_t surface = width * height * 3;
  const std::size_t encoded = 54 + (width * 3 + 3) / 4 * 4 * height + 4096;
  return surface + encoded;
}

RenderPool::RenderPool(int threads, int queue, std::size_t memory,
                       std::chrono::milliseconds roomWait, Metrics* metrics,
                       std::function<void(RenderJob*)> finished)
    : capacity_(static_cast<std::size_t>(threads) + static_cast<std::size_t>(queue)),
      memory_(memory),
      roomWait_(roomWait),
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
    // A picture that fits is charged and queued; one that can never fit is queued to be
    // refused at once; the others wait aside for room, while smaller ones go ahead of them.
    const std::size_t need = PictureMemory(job->chart);
    job->overBudget = need > memory_;
    if (job->overBudget || Charge(job, need)) {
      jobs_.push_back(job);
    } else {
      job->until_ = Clock::now() + roomWait_;
      waiting_.push_back(job);
    }
    ++held_;
    metrics_->SetQueued(static_cast<long>(held_));
  }
  // Also when it waits for room: a worker keeps the time it may wait.
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
  std::vector<RenderJob*> left(waiting_.begin(), waiting_.end());
  left.insert(left.end(), jobs_.begin(), jobs_.end());
  waiting_.clear();
  jobs_.clear();
  return left;
}

bool RenderPool::Charge(RenderJob* job, std::size_t bytes) {
  if (used_ + bytes > memory_) return false;
  used_ += bytes;
  job->pool_ = this;
  job->charged_ = bytes;
  metrics_->SetPictureMemory(used_);
  return true;
}

void RenderPool::Recharge(RenderJob* job, std::size_t bytes) {
  bool admitted = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    used_ = used_ - job->charged_ + bytes;
    const bool freed = bytes < job->charged_;
    job->charged_ = bytes;
    if (freed && !waiting_.empty()) {
      const std::size_t queued = jobs_.size();
      Admit();
      admitted = jobs_.size() > queued;
    }
    metrics_->SetPictureMemory(used_);
  }
  if (admitted) ready_.notify_all();
}

void RenderPool::Admit() {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (Charge(*it, PictureMemory((*it)->chart))) {
      jobs_.push_back(*it);
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
}

RenderJob* RenderPool::Take(Clock::time_point now) {
  // One out of time is answered at once; the oldest waits longest.
  if (!waiting_.empty() && now >= waiting_.front()->until_) {
    RenderJob* job = waiting_.front();
    waiting_.pop_front();
    job->overBudget = !job->Abandoned();
    return job;
  }
  if (jobs_.empty()) return nullptr;
  RenderJob* job = jobs_.front();
  jobs_.pop_front();
  return job;
}

void RenderPool::Work(int index) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    RenderJob* job = Take(Clock::now());
    if (!job) {
      if (waiting_.empty())
        ready_.wait(lock);  // Submit and Recharge notify
      else
        ready_.wait_until(lock, waiting_.front()->until_);
      continue;
    }
    lock.unlock();
    if (job->overBudget) {
      job->drawn = true;
      job->result = RenderResult::NoMemory;
      metrics_->CountOverBudget();
    } else {
      job->drawn = !job->Abandoned();
      if (job->drawn) {
        auto start = Clock::now();
        job->result = Render(job->chart, &job->bytes, &job->size);
        // Only pictures count as drawn: a /parse reading would hide their times among its own.
        if (job->result == RenderResult::Ok && IsChart(job->chart.route))
          metrics_->CountRender(std::chrono::duration<double>(Clock::now() - start).count(), index);
      } else {
        metrics_->CountAbandoned();
      }
      // Once drawn, only the encoded picture is held until it is sent.
      if (job->charged_ > 0) Recharge(job, job->result == RenderResult::Ok ? job->size : 0);
    }
    lock.lock();
    --held_;
    metrics_->SetQueued(static_cast<long>(held_));
    lock.unlock();
    finished_(job);
    lock.lock();
  }
}

}  // namespace norvisk::serve
