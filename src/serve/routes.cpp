// What each whole request is answered with; charts go to the workers and come back here.
#include <boost/asio/post.hpp>
#include <mutex>

#include "serve/playground.h"
#include "serve/png_fingerprint.h"
#include "serve/render.h"
#include "serve/server.h"

namespace norvisk::serve {

void Server::Dispatch(Connection& c) {
  Decision& d = c.reader.Result();
  c.route = d.chart.route;
  if (d.status != 200) return SendText(c, d.status, d.message + "\n", d.allow);
  switch (Info(c.route).handler) {
    case Handler::Health: return SendText(c, 200, "ok\n");
    case Handler::Metrics:
      c.text = metrics_.Text();
      return SendText(c, 200, c.text, nullptr, false, Info(c.route).contentType);
    case Handler::Chart:
    case Handler::Parse: return StartChart(c);
    case Handler::Page: return SendPage(c);
    case Handler::None: return SendText(c, 404, "not found: no chart or page at this path\n");
  }
}

void Server::SendPage(Connection& c) {
  ResponseHead head;
  std::string_view body;
  if (!options_.playground ||
      !AnswerPlayground(c.route, c.reader.HasNoneMatch(), c.reader.NoneMatch(), &head, &body))
    return SendText(c, 404, "not found: no chart or page at this path\n");
  Send(c, head, body.data(), body.size());
}

void Server::StartChart(Connection& c) {
  Decision& d = c.reader.Result();
  EntityTag(d.chart, TagVersion(d.chart.route), &c.etag);
  c.precondition =
      EvaluateNoneMatch(c.reader.Method(), c.reader.HasNoneMatch(), c.reader.NoneMatch(), c.etag);
  if (c.precondition == Precondition::NotModified) return SendNotModified(c);
  if (c.precondition == Precondition::Failed)
    return SendText(c, 412, "precondition failed: the picture exists\n");
  c.chart.route = d.chart.route;
  c.chart.width = d.chart.width;
  c.chart.height = d.chart.height;
  c.chart.data.swap(d.chart.data);
  c.gone.store(false, std::memory_order_relaxed);
  c.rendering = true;
  c.self = c.shared_from_this();
  if (!pool_->Submit(&c)) {
    c.rendering = false;
    c.self.reset();
    return SendText(c, 503, "unavailable: too many requests waiting, try again\n", nullptr, true);
  }
  StartRead(c);  // to learn of a client that leaves before its turn
}

void Server::Finished(RenderJob* job) {
  bool post;
  {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    finished_.push_back(static_cast<Connection*>(job));
    post = !finishPosted_;
    finishPosted_ = true;
  }
  if (post) asio::post(io_, [this] { TakeFinished(); });
}

void Server::TakeFinished() {
  {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    taking_.swap(finished_);
    finishPosted_ = false;
  }
  for (Connection* job : taking_) {
    std::shared_ptr<Connection> keep = std::move(job->self);
    Connection& c = *keep;
    c.rendering = false;
    if (c.closed || !c.drawn || c.gone.load(std::memory_order_relaxed)) {
      c.ReleasePicture();
      if (!c.closed) Close(c);
      continue;
    }
    Answer(c);
  }
  taking_.clear();
}

void Server::Answer(Connection& c) {
  switch (c.result) {
    case RenderResult::Ok:
      if (c.precondition == Precondition::DrawThen304) {
        c.ReleasePicture();
        return SendNotModified(c);
      }
      if (c.precondition == Precondition::DrawThen412) {
        c.ReleasePicture();
        return SendText(c, 412, "precondition failed: the picture exists\n");
      }
      return SendPicture(c);
    case RenderResult::NothingToDraw:
      return SendText(c, 422, "not drawn: the data held no point\n");
    case RenderResult::NoMemory:
      if (c.overBudget)
        return SendText(c, 503, "unavailable: no room for the picture in --max-memory, try again\n",
                        nullptr, true);
      return SendText(c, 503, "unavailable: out of memory\n", nullptr, true);
    case RenderResult::Failed:
      return SendText(c, 500, "internal error: the chart could not be drawn\n");
  }
}

}  // namespace norvisk::serve
