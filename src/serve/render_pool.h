// The workers that draw: `threads` threads fed from one queue, so that every worker is busy
// whenever that many requests are ready, whatever connection they came on. A chart is queued
// only once its picture fits the memory budget; until then it waits aside, a bounded time,
// while smaller charts go ahead.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "serve/metrics.h"
#include "serve/render.h"
#include "serve/request.h"

namespace norvisk::serve {

class RenderPool;

// One chart to draw. The connection handling fills `chart` and submits it; a worker draws it
// (unless Abandoned() says its client has gone) and hands it back with the outcome.
class RenderJob {
 public:
  virtual ~RenderJob() { ReleasePicture(); }
  // Read by a worker just before it draws: a request nobody waits for is not drawn.
  virtual bool Abandoned() const = 0;

  ChartRequest chart;
  // The outcome, for the connection handling once the job is back.
  bool drawn = false;  // false: abandoned, never drawn
  RenderResult result = RenderResult::Failed;
  bool overBudget = false;         // with NoMemory: no room in the memory budget in time
  unsigned char* bytes = nullptr;  // on Ok: the picture, freed with ReleasePicture
  std::size_t size = 0;
  // Frees the picture and gives its room in the budget back.
  void ReleasePicture();

 private:
  friend class RenderPool;
  RenderPool* pool_ = nullptr;  // whose budget holds `charged_` bytes for this job
  std::size_t charged_ = 0;
  std::chrono::steady_clock::time_point until_;  // waits for room until then
};

class RenderPool {
 public:
  // `finished` is called on the worker's thread with each job it is done with. `memory` bytes
  // of pictures may be held at once; a job that finds no room waits up to `roomWait`.
  RenderPool(int threads, int queue, std::size_t memory, std::chrono::milliseconds roomWait,
             Metrics* metrics, std::function<void(RenderJob*)> finished);
  ~RenderPool();
  RenderPool(const RenderPool&) = delete;
  RenderPool& operator=(const RenderPool&) = delete;

  // Queues a job, or refuses it (false) when `threads + queue` jobs are waiting or being drawn.
  bool Submit(RenderJob* job);
  // Lets the jobs being drawn finish and stops the workers; jobs still queued or waiting for
  // room are returned, undrawn, without `finished`.
  std::vector<RenderJob*> Stop();

  // The memory a chart's picture takes while it is drawn: the surface, 3 bytes a pixel, and
  // the encoded picture, at most an uncompressed BMP's size.
  static std::size_t PictureMemory(const ChartRequest& chart);

 private:
  friend class RenderJob;
  void Work(int index);
  // Under mutex_: the next job to hand to a worker, or nullptr.
  RenderJob* Take(std::chrono::steady_clock::time_point now);
  // Under mutex_: jobs waiting for room that fit now join the queue, in their order.
  void Admit();
  bool Charge(RenderJob* job, std::size_t bytes);  // under mutex_
  // Takes mutex_: charges `bytes` for `job` instead of what it held, and admits waiting jobs
  // into the room that frees.
  void Recharge(RenderJob* job, std::size_t bytes);

  const std::size_t capacity_;
  const std::size_t memory_;
  const std::chrono::milliseconds roomWait_;
  Metrics* metrics_;
  std::function<void(RenderJob*)> finished_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<RenderJob*> jobs_;
  std::deque<RenderJob*> waiting_;  // for room in the budget, oldest first
  std::size_t held_ = 0;            // queued, waiting or being drawn; under mutex_
  std::size_t used_ = 0;            // bytes of the budget charged; under mutex_
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace norvisk::serve
