// `norvisk run`: a script of graph object calls from a file or standard input.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/graph_calls.h"
#include "cli/graph_calls_com.h"
#include "cli/script.h"

namespace norvisk::cli {
namespace {

// The script from the file `script`, or from standard input (`fromStdin`), whole, so that lines
// are views into one buffer; false, after one line on stderr saying why, when it cannot be read.
bool ReadScript(const char* script, bool fromStdin, std::string* text) {
  if (fromStdin) {
    if (ReadAll(stdin, text)) return true;
    Fail(std::string("cannot read the script from standard input: ") + std::strerror(errno));
    return false;
  }
  std::FILE* file = std::fopen(script, "rb");
  bool read = file && ReadAll(file, text);
  int error = errno;
  if (file) std::fclose(file);
  if (!read) Fail(std::string(script) + ": cannot read the script: " + std::strerror(error));
  return read;
}

}  // namespace

int RunCommand(int argc, char** argv) {
  const char* script = nullptr;
  bool trace = false;
  bool com = false;
  bool options = true;
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options && arg == "--") {
      // What follows is the SCRIPT, even where it begins with "-".
      options = false;
    } else if (!options || arg.size() < 2 || arg[0] != '-') {
      if (script) return Usage("run takes one SCRIPT");
      script = argv[i];
    } else if (arg == "--trace") {
      trace = true;
    } else if (arg == "--com") {
      com = true;
    } else {
      return Usage("unknown option " + std::string(arg));
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
      return Fail(why);
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
    Fail(std::string(name) + ":" + std::to_string(error.line) + ": " + error.why);
    return kUsage;
  }
  if (!traced) return Fail(std::string("cannot write the trace: ") + std::strerror(errno));
  return kWritten;
}

}  // namespace norvisk::cli
