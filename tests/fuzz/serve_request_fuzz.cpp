// The service's request reading from raw bytes: framing, the request line and query, bodies,
// pipelining and If-None-Match, with no sockets.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "serve/http_reader.h"
#include "serve/request.h"

using norvisk_fuzz::Check;
namespace serve = norvisk::serve;
using Progress = serve::RequestReader::Progress;

namespace {

struct Step {
  Progress progress;
  int status;
  std::size_t used;
  bool keepAlive;
  std::string data;
  bool operator==(const Step& o) const {
    return progress == o.progress && status == o.status && used == o.used &&
           keepAlive == o.keepAlive && data == o.data;
  }
};

bool Allowed(int status) {
  for (int s : {200, 400, 404, 405, 413, 414, 422, 431, 501, 505})
    if (s == status) return true;
  return false;
}

// Reads every request in `bytes`, handing them over `piece` bytes at a time (0: all at once) as
// a connection would, and checks each outcome on the way.
std::vector<Step> ReadAll(std::string_view bytes, std::size_t piece, const serve::Limits& limits) {
  serve::RequestReader reader(limits);
  std::vector<Step> steps;
  std::string pending;
  std::size_t given = 0, used = 0;
  for (;;) {
    Progress p;
    std::size_t n = reader.Read(pending, &p);
    Check(n <= pending.size(), "a read uses no more than it was given");
    pending.erase(0, n);
    used += n;
    if (p == Progress::Head) continue;
    if (p == Progress::NeedMore) {
      if (given == bytes.size()) break;
      std::size_t more = piece ? std::min(piece, bytes.size() - given) : bytes.size() - given;
      pending.append(bytes.substr(given, more));
      given += more;
      continue;
    }
    const serve::Decision& d = reader.Result();
    Check(Allowed(d.status), "answers are the statuses the service gives");
    Check((d.status == 200) == d.message.empty(), "a refusal, and only a refusal, says why");
    Check(d.message.find('\n') == std::string::npos && d.message.find('\r') == std::string::npos,
          "a refusal is one line");
    for (char c : d.message)
      Check(c >= ' ' && c < 127, "a refusal is plain ASCII whatever the request held");
    Check((d.status == 405) == (d.allow != nullptr), "405 and only 405 names the methods allowed");
    Check(!(p == Progress::Refused && reader.KeepAlive()), "a refusal ends the connection");
    if (d.status == 200 && serve::IsChart(d.chart.route)) {
      Check(d.chart.width > 0 && d.chart.height > 0, "a chart to draw has a size");
      Check(static_cast<long long>(d.chart.width) * d.chart.height <= limits.maxPixels,
            "a chart to draw is within the pixel limit");
      Check(d.chart.data.find('\0') == std::string::npos, "data never holds a NUL");
      if (reader.Method() == "POST")
        Check(d.chart.data.size() <= limits.maxBody, "a body is within the limit");
      const std::string tag = serve::EntityTag(d.chart, "1");
      Check(serve::MatchesNoneMatch(tag, tag), "a tag matches itself");
      serve::Precondition pre =
          serve::EvaluateNoneMatch(reader.Method(), reader.HasNoneMatch(), reader.NoneMatch(), tag);
      Check(reader.HasNoneMatch() || pre == serve::Precondition::None,
            "no condition without If-None-Match");
      Check(pre != serve::Precondition::NotModified || reader.Method() != "POST",
            "a POST is never answered 304");
    }
    steps.push_back({p, d.status, used, reader.KeepAlive(), d.chart.data});
    if (p == Progress::Refused) {
      Check(reader.Read(pending, &p) == 0 && p == Progress::Refused,
            "nothing is read after a refusal");
      break;
    }
    reader.Next();
  }
  return steps;
}

}  // namespace

// Input: one byte choosing how the bytes arrive (its low four bits: pieces of that many bytes,
// 0 for all at once), then the bytes a client sends.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  serve::Limits limits;
  limits.maxBody = 256;
  limits.maxPixels = 1 << 20;
  limits.maxRequestLine = 512;
  limits.maxHead = 1024;
  std::vector<Step> whole = ReadAll(bytes, 0, limits);
  std::vector<Step> pieces = ReadAll(bytes, data[0] & 15, limits);
  // Bytes that arrive in other pieces are the same requests: where reads happen to end never
  // changes where a request ends or what it asks. A refusal may give another reason (a head
  // read whole meets its bad field before its size), and a head cut off by the end of the
  // input may be refused one way and still awaited the other.
  std::size_t same = std::min(whole.size(), pieces.size());
  for (std::size_t i = 0; i < same; ++i) {
    Check(whole[i].progress == pieces[i].progress, "accepted or refused whatever the pieces");
    if (whole[i].progress == Progress::Done)
      Check(whole[i] == pieces[i], "the same requests whatever pieces the bytes come in");
  }
  Check(whole.size() == pieces.size() ||
            (whole.size() + 1 == pieces.size() && pieces.back().progress == Progress::Refused) ||
            (pieces.size() + 1 == whole.size() && whole.back().progress == Progress::Refused),
        "the same number of requests whatever pieces the bytes come in");
  return 0;
}
