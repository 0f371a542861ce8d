// `norvisk run`: a script of graph object calls from a file or standard input.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/cli.h"
#include "cli/graph_calls.h"
#include "cli/graph_calls_com.h"
#include "cli/script.h"

namespace norvisk::cli {
namespace {

// The whole stream at once, so lines are views into one buffer.
bool ReadAll(std::FILE* file, std::string* text) {
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  return !std::ferror(file);
}

// The script from the file `script`, or from standard input (`fromStdin`); false, after one
// line on stderr saying why, when it cannot be read.
bool ReadScript(const char* script, bool fromStdin, std::string* text) {
  if (fromStdin) {
    if (ReadAll(stdin, text)) return true;
    std::cerr << "norvisk: cannot read the script from standard input: " << std::strerror(errno)
              << "\n";
    return false;
  }
  std::FILE* file = std::fopen(script, "rb");
  bool read = file && ReadAll(file, text);
  int error = errno;
  if (file) std::fclose(file);
  if (!read)
    std::cerr << "norvisk: " << script << ": cannot read the script: " << std::strerror(error)
              << "\n";
  return read;
}

}  // namespace

int RunCommand(int argc, char** argv) {
  const char* script = nullptr;
  bool trace = false;
  bool com = false;
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--trace") {
      trace = true;
    } else if (arg == "--com") {
      com = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + std::string(arg));
    } else if (script) {
      return Usage("run takes one SCRIPT");
    } else {
      script = argv[i];
    }
  }
  // With --com the calls go to the registered class instead of this process's NVGraph. It is
  // made before the script is read: a build without COM refuses the option outright.
  std::unique_ptr<GraphCalls> target;
  if (com) {
    std::string why;
    target = MakeComGraphCalls(&why);
    if (!target) {
      if (!kComBuild) return Usage(why);
      std::cerr << "norvisk: " << why << "\n";
      return kNotWritten;
    }
  }

  bool fromStdin = script == nullptr || std::strcmp(script, "-") == 0;
  const char* name = fromStdin ? "<stdin>" : script;
  std::string text;
  if (!ReadScript(script, fromStdin, &text)) return kNotWritten;

  if (!target) target = MakeNVGraphCalls();
  ScriptError error;
  bool ran = RunScript(text, *target, trace ? stdout : nullptr, &error);
  bool traced = std::fflush(stdout) == 0;
  if (!ran) {
    std::cerr << "norvisk: " << name << ":" << error.line << ": " << error.why << "\n";
    return kUsage;
  }
  if (!traced) {
    std::cerr << "norvisk: cannot write the trace: " << std::strerror(errno) << "\n";
    return kNotWritten;
  }
  return kWritten;
}

}  // namespace norvisk::cli
