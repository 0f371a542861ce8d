// The command line of `norvisk serve`.
#pragma once

#include <cstddef>
#include <string>

#include "serve/request.h"

namespace norvisk::serve {

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  int threads = 0;        // 0: one worker per CPU
  int queue = 256;        // chart requests waiting beyond one per worker before 503
  int maxPerClient = 64;  // connections one client address may hold; 0: no limit
  // Bytes of picture memory held at once: pictures being drawn and pictures not yet sent.
  std::size_t maxMemory = std::size_t{512} << 20;
  int timeout = 10;  // seconds: idle connections, and the drain on SIGTERM / SIGINT
  Limits limits;
  bool playground = true;  // GET / and its files; --no-playground turns them off
  bool help = false;
};

// Reads argv[2..] (argv[1] is "serve"). False with `why` set on a usage error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* why);

extern const char* const kServeHelp;

}  // namespace norvisk::serve
