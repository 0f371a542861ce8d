// The workers that draw: `threads` threads fed from one queue, so that every worker is busy
// whenever that many requests are ready, whatever connection they came on.
#pragma once

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
  unsigned char* bytes = nullptr;  // on Ok: the picture, freed with ReleasePicture
  std::size_t size = 0;
  void ReleasePicture();
};

class RenderPool {
 public:
  // `finished` is called on the worker's thread with each job it is done with.
  RenderPool(int threads, int queue, Metrics* metrics, std::function<void(RenderJob*)> finished);
  ~RenderPool();
  RenderPool(const RenderPool&) = delete;
  RenderPool& operator=(const RenderPool&) = delete;

  // Queues a job, or refuses it (false) when `threads + queue` jobs are waiting or being drawn.
  bool Submit(RenderJob* job);
  // Lets the jobs being drawn finish and stops the workers; jobs still queued are returned,
  // undrawn, without `finished`.
  std::vector<RenderJob*> Stop();

 private:
  void Work(int index);

  const std::size_t capacity_;
  Metrics* metrics_;
  std::function<void(RenderJob*)> finished_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<RenderJob*> jobs_;
  std::size_t held_ = 0;  // queued or being drawn; under mutex_
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace norvisk::serve
