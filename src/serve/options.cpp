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
    "  norvisk serve [--listen ADDR:PORT] [--threads N] [--queue N] [--max-body BYTES]\n"
    "                [--max-pixels N] [--timeout SECONDS]\n"
    "\n"
    "  --listen ADDR:PORT   IPv4 address and port to listen on (default 127.0.0.1:8080;\n"
    "                       0.0.0.0 listens on all interfaces; port 0 takes a free port)\n"
    "  --threads N          worker threads (default: one per CPU); every picture is drawn\n"
    "                       by a graph of its own, so they share no drawing state\n"
    "  --queue N            requests held beyond one per worker (a body still arriving or a\n"
    "                       picture still being sent counts); more are answered 503 with\n"
    "                       Retry-After (default 256)\n"
    "  --max-body BYTES     largest POST body (default 1048576); larger ones get 413\n"
    "  --max-pixels N       largest width x height (default 16000000); larger ones get 413\n"
    "  --timeout SECONDS    idle connections are closed after this long, and on SIGTERM or\n"
    "                       SIGINT the requests in flight get this long to finish (default 10)\n"
    "\n"
    "The first line on standard output is \"norvisk: listening on http://ADDR:PORT\".\n"
    "\n"
    "Requests:\n"
    "  GET|HEAD /bar.jpg /bar.bmp /xy.jpg /xy.bmp ?data=DATA&width=W&height=H\n"
    "      The chart `norvisk bar|xy OUT DATA --width W --height H` would write, as image/jpeg\n"
    "      or image/bmp. DATA is percent-encoded, \"+\" is a blank, only \"&\" separates\n"
    "      parameters; width and height default to 640 and 300.\n"
    "      Example: curl 'http://127.0.0.1:8080/bar.jpg?data=(Q1;Q2)(North;10;20)' -o bar.jpg\n"
    "  POST the same paths: the body is DATA as it stands (any content type); width and\n"
    "      height in the query.\n"
    "  GET /health    200 \"ok\"\n"
    "  GET /metrics   counters in Prometheus' text format\n"
    "Pictures carry a strong ETag (If-None-Match gets 304 without drawing), Cache-Control:\n"
    "public, max-age=86400 and Content-Length. Errors are one line of text/plain with\n"
    "Cache-Control: no-store: 400 bad parameters, 404 unknown path, 405 other methods (with\n"
    "Allow), 413 body or picture too large, 414 request line over 16 KiB, 422 nothing to draw\n"
    "(XY data without a point, a size of 0 or less), 503 too many requests waiting.\n"
    "Each client address may hold 64 connections at once; each connection 64 KiB of buffers.\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT; 1 when the address cannot be used or libmicrohttpd\n"
    "cannot be loaded (it is opened when the service starts); 2 on a usage error.\n";

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
    if (i + 1 >= argc) {
      *why = arg.starts_with("--") ? std::string(arg) + " needs a value"
                                   : "unknown argument " + std::string(arg);
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
    } else if (arg == "--max-body") {
      ok = ReadInt(value, 0, 1LL << 40, &n) &&
           (o->limits.maxBody = static_cast<std::size_t>(n), true);
    } else if (arg == "--max-pixels") {
      ok = ReadInt(value, 1, 1LL << 40, &n) && (o->limits.maxPixels = n, true);
    } else if (arg == "--timeout") {
      ok = ReadInt(value, 1, 86400, &n) && (o->timeout = static_cast<int>(n), true);
    } else {
      *why = "unknown option " + std::string(arg);
      return false;
    }
    if (!ok) {
      *why = std::string(arg) + ": cannot use \"" + std::string(value) + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace norvisk::serve
