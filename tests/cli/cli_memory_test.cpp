// The command short of memory: under a limit on its address space (ulimit -v), from one that
// barely lets it start up to one that lets it finish, every run either writes the whole file
// (status 0, nothing on stderr) or writes no file at all and says why in one line (status 1).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_process.h"

namespace {

using namespace norvisk_cli_test;

constexpr long kStepKiB = 1024;
constexpr int kMostSteps = 120;

// Runs the command with its address space limited to `kib` KiB.
Result Limited(long kib, const std::string& args, const fs::path& dir) {
  const std::string command =
      "ulimit -v " + std::to_string(kib) + " && exec '" NORVISK_BINARY "' " + args + " >'" +
      (dir / "out").string() + "' 2>'" + (dir / "err").string() + "' </dev/null";
  int raw = std::system(command.c_str());
  return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
}

class CliMemory : public Cli {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than any limit leaves";
#endif
    Cli::SetUp();
    fs::create_directories(dir / "io");
    // The smallest limit, in steps, under which the command starts at all.
    for (start_ = kStepKiB; start_ < kStepKiB * 256; start_ += kStepKiB)
      if (Limited(start_, "--version", dir / "io").status == 0) break;
  }

  // Sweeps the limit upward from the first that lets the command start, until a run writes its
  // file; checks every run on the way.
  void Sweep(const std::string& kind, const std::string& name, const std::string& size,
             bool whole(const std::string&)) {
    const std::string out = Path(name);
    int refused = 0, written = 0;
    for (int step = 0; step < kMostSteps && written == 0; ++step) {
      const long kib = start_ + step * kStepKiB;
      Result r = Limited(kib, kind + " '" + out + "' '(a;b;c)(x;1;2;3)(y;4;5;6)(z;7;8;9)' " + size,
                         dir / "io");
      SCOPED_TRACE("limit " + std::to_string(kib) + " KiB: status " + std::to_string(r.status) +
                   ", " + r.err);
      if (r.status == 0) {
        ++written;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(fs::exists(out) && whole(Slurp(out)));
      } else {
        ++refused;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Lines(r.err), 1);
        EXPECT_EQ(r.err.rfind("norvisk: ", 0), 0u);
        EXPECT_FALSE(fs::exists(out)) << "a file was left behind";
        fs::remove(out);
      }
      if (::testing::Test::HasFailure()) return;
    }
    EXPECT_EQ(written, 1) << "no limit up to " << kMostSteps << " steps let the chart be written";
    EXPECT_GT(refused, 3) << "the sweep must cover runs that ran out of memory";
  }

  long start_ = 0;
};

bool WholeJpeg(const std::string& f) {
  return f.size() > 4 && f.compare(0, 2, "\xFF\xD8") == 0 &&
         f.compare(f.size() - 2, 2, "\xFF\xD9") == 0;
}

TEST_F(CliMemory, BarJpegIsWholeOrNotThere) {
  Sweep("bar", "big.jpg", "--width 3000 --height 2000", WholeJpeg);
}

TEST_F(CliMemory, XyBitmapIsWholeOrNotThere) {
  Sweep("xy", "big.bmp", "--width 2000 --height 2500",
        [](const std::string& f) { return f.size() == BmpBytes(2000, 2500); });
}

}  // namespace
