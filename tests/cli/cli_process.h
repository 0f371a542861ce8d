// Running the norvisk command as a process, and a fresh folder for each test's files.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace norvisk_cli_test {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

inline std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Runs the command through the shell with stdout and stderr kept apart; `input` (if any) is
// standard input, else /dev/null. `redirections` come last and so win: "<folder" to read a
// folder, ">/dev/full" or ">&-" for an output that fails. `cwd`: the folder it runs in.
inline Result Norvisk(const std::string& args, const std::string& input = "",
                      const std::string& redirections = "", const std::string& cwd = "") {
  fs::path dir = fs::temp_directory_path() / ("norvisk-cli-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string command = std::string("'") + NORVISK_BINARY + "' " + args + " >'" +
                        (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
  if (!input.empty()) {
    WriteFile(dir / "in", input);
    command += " <'" + (dir / "in").string() + "'";
  } else {
    command += " </dev/null";
  }
  command += " " + redirections;
  if (!cwd.empty()) command = "cd '" + cwd + "' && " + command;
  int raw = std::system(command.c_str());
  return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
}

inline long Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// Size of a BMP file of a 24-bit picture.
inline std::uintmax_t BmpBytes(int width, int height) {
  return 54u + static_cast<std::uintmax_t>((width * 3 + 3) / 4 * 4) * height;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("norvisk-cli-out-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  fs::path dir;
};

}  // namespace norvisk_cli_test
