// Reading the options of `norvisk serve`.
#include "serve/options.h"

#include <arpa/inet.h>

#include <charconv>
#include <string_view>

namespace norvisk::serve {

const char* const kServeHelp =
    "norvisk serve - charts over HTTP\n"
    "\n"
    "Usage:\n"
    "  norvisk serve [--listen ADDR:PORT] [--threads N] [--queue N] [--max-per-client N]\n"
    "                [--max-body BYTES] [--max-pixels N] [--max-memory BYTES]\n"
    "                [--timeout SECONDS] [--no-playground]\n"
    "\n"
    "  --listen ADDR:PORT   IPv4 address and port to listen on (default 127.0.0.1:8080;\n"
    "                       0.0.0.0 listens on all interfaces; port 0 takes a free port)\n"
    "  --threads N          workers that draw (default: one per CPU); a thread of its own\n"
    "                       handles the connections, so any worker draws for any of them\n"
    "  --queue N            chart requests, whole with their body, that may wait beyond one\n"
    "                       per worker; more are answered 503 with Retry-After at once\n"
    "                       (default 256)\n"
    "  --max-per-client N   connections one client address may hold (default 64; 0: no\n"
    "                       limit). Behind a proxy every request comes from the proxy's\n"
    "                       address: set 0, or the proxy's number of connections\n"
    "  --max-body BYTES     largest request body (default 1048576); a larger one gets 413 as\n"
    "                       soon as its length says so or its chunks pass it\n"
    "  --max-pixels N       largest width x height (default 16000000); larger ones get 413\n"
    "  --max-memory BYTES   picture memory held at once, pictures being drawn and pictures\n"
    "                       not yet sent (default 536870912, 512 MiB). A chart that does not\n"
    "                       fit waits up to 5 seconds for room, then gets 503 with\n"
    "                       Retry-After; smaller charts are drawn meanwhile. A picture of\n"
    "                       W x H takes about 6 x W x H bytes while it is drawn\n"
    "  --timeout SECONDS    connections idle this long are closed, and on SIGTERM, SIGINT or\n"
    "                       SIGHUP the requests in flight get this long to finish (default 10)\n"
    "  --no-playground      no page at / (404): for a service that serves only pictures\n"
    "\n"
    "The first line on standard output is \"norvisk: listening on http://ADDR:PORT\".\n"
    "\n"
    "Requests:\n"
    "  GET|HEAD /bar.jpg /bar.bmp /bar.png /xy.jpg /xy.bmp /xy.png\n"
    "      ?data=DATA&width=W&height=H\n"
    "      The chart `norvisk bar|xy OUT DATA --width W --height H` would write, as image/jpeg,\n"
    "      image/bmp or image/png. DATA is percent-encoded, \"+\" is a blank, only \"&\" "
    "separates\n"
    "      parameters; width and height default to 640 and 300.\n"
    "      Example: curl 'http://127.0.0.1:8080/bar.jpg?data=(Q1;Q2)(North;10;20)' -o bar.jpg\n"
    "  POST the same paths: the body is DATA as it stands (any content type); width and\n"
    "      height in the query.\n"
    "  GET|HEAD|POST /parse/bar /parse/xy ?data=DATA\n"
    "      How DATA is read: the JSON of `norvisk parse bar|xy DATA`, application/json, with\n"
    "      the errors, ETag and caching of the pictures. POST: DATA is the body.\n"
    "  GET /          the playground: a page to type data in and see the chart and its\n"
    "      reading (with /playground.css and /playground.js; Content-Security-Policy allows\n"
    "      only this service; ETag, Cache-Control: no-cache)\n"
    "  GET /health    200 \"ok\"\n"
    "  GET /metrics   counters in Prometheus' text format\n"
    "  /health and /metrics are answered at once, whatever the workers are drawing. A chart\n"
    "  request whose client has gone before a worker takes it is not drawn.\n"
    "Pictures carry a strong ETag, Cache-Control: public, max-age=86400 and Content-Length.\n"
    "If-None-Match on GET or HEAD gets 304 with the picture's ETag and Cache-Control, without\n"
    "drawing; on POST it gets 412. A PNG's ETag also names the bytes this machine's compressor\n"
    "makes of a reference chart (other processors may give other bytes for the same pixels).\n"
    "Every answer has X-Content-Type-Options: nosniff.\n"
    "Errors are one line of text/plain with Cache-Control: no-store: 400 bad parameters or a\n"
    "malformed request (among them any doubt where it ends: two Content-Length values,\n"
    "Content-Length with Transfer-Encoding; no Host), 404 unknown path, 405 other methods\n"
    "(with Allow), 412 If-None-Match on POST, 413 body or picture too large, 414 request line\n"
    "over 16 KiB, 422 nothing to draw (XY data without a point, a size of 0 or less), 431 a\n"
    "head over 64 KiB, 501 a transfer coding other than chunked, 503 too many requests\n"
    "waiting or no room in --max-memory (with Retry-After), 505 an HTTP version other than\n"
    "1.0 and 1.1. After a malformed request or a refused body the connection is closed.\n"
    "\n"
    "Exit status: 0 after SIGTERM, SIGINT or SIGHUP (each lets the requests in flight finish);\n"
    "1 when the address cannot be used; 2 on a usage error.\n";

namespace {

bool ReadInt(std::string_view text, long long low, long long high, long long* value) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), *value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && *value >= low &&
         *value <= high;
}

bool ReadListen(std::string_view text, Options* o) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string host(text.substr(0, colon));
  in_addr addr;
  long long port;
  if (inet_pton(AF_INET, host.c_str(), &addr) != 1) return false;
  if (!ReadInt(text.substr(colon + 1), 0, 65535, &port)) return false;
  o->host = host;
  o->port = static_cast<int>(port);
  return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* why) {
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o->help = true;
      continue;
    }
    if (arg == "--no-playground") {
      o->playground = false;
      continue;
    }
    static constexpr std::string_view kKnown[] = {"--listen",         "--threads",    "--queue",
                                                  "--max-body",       "--max-pixels", "--timeout",
                                                  "--max-per-client", "--max-memory"};
    bool known = false;
    for (std::string_view k : kKnown) known = known || arg == k;
    if (!known) {
      *why = (arg.starts_with("-") ? "unknown option " : "unknown argument ") + std::string(arg);
      return false;
    }
    if (i + 1 >= argc) {
      *why = std::string(arg) + " needs a value";
      return false;
    }
    std::string_view value = argv[++i];
    long long n = 0;
    bool ok = true;
    if (arg == "--listen") {
      ok = ReadListen(value, o);
    } else if (arg == "--threads") {
      ok = ReadInt(value, 1, 256, &n) && (o->threads = static_cast<int>(n), true);
    } else if (arg == "--queue") {
      ok = ReadInt(value, 0, 1'000'000, &n) && (o->queue = static_cast<int>(n), true);
    } else if (arg == "--max-per-client") {
      ok = ReadInt(value, 0, 1'000'000, &n) && (o->maxPerClient = static_cast<int>(n), true);
    } else if (arg == "--max-body") {
      ok = ReadInt(value, 0, 1LL << 40, &n) &&
           (o->limits.maxBody = static_cast<std::size_t>(n), true);
    } else if (arg == "--max-memory") {
      ok = ReadInt(value, 1, 1LL << 46, &n) && (o->maxMemory = static_cast<std::size_t>(n), true);
    } else if (arg == "--max-pixels") {
      ok = ReadInt(value, 1, 1LL << 40, &n) && (o->limits.maxPixels = n, true);
    } else {
      ok = ReadInt(value, 1, 86400, &n) && (o->timeout = static_cast<int>(n), true);
    }
    if (!ok) {
      *why = std::string(arg) + ": cannot use \"" + std::string(value) + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace norvisk::serve
