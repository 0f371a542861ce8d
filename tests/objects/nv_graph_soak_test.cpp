// NVGraph objects made, filled, drawn, saved, replaced and destroyed 100,000 times in one
// process: nothing stays behind. Graphs and canvases alive go back to none, and the resident
// memory after the run is that after the first 1,000 cycles, within a small margin (what a leak
// of even a few bytes a cycle would exceed). Release builds only: the sanitizers' own memory
// would hide what is measured, and their speed would make the run too long.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "graph/graph.h"
#include "objects/nv_graph.h"
#include "raster/canvas.h"

namespace norvisk {
namespace {

constexpr int kCycles = 100000;
constexpr int kSettled = 1000;
constexpr long kMarginBytes = 1 << 20;

long ResidentBytes() {
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(f);
  return resident * sysconf(_SC_PAGESIZE);
}

// One cycle: a bar graph filled call by call and saved as a bitmap, replaced by an XY graph saved
// as a JPEG, the object destroyed. The graphs are made small after their creation, so that the
// run measures the objects' life rather than the pixels.
bool Cycle(int i, const std::string& bmp, const std::string& jpg) {
  NVGraph graph;
  bool ok = graph.CreateBarGraph() == S_OK;
  ok = ok && graph.SetWidth(48 + i % 16) == S_OK && graph.SetHeight(40) == S_OK;
  ok = ok && graph.AddBarLegend("a") == S_OK && graph.AddBarLegend("b") == S_OK;
  for (int bar = 0; ok && bar < 3; ++bar)
    ok = graph.AddBarBar(bar == 1 ? "caf\xC3\xA9" : "x") == S_OK &&
         graph.AddBarValue(i % 7) == S_OK && graph.AddBarValue(bar + 1) == S_OK;
  ok = ok && graph.SaveToFile(bmp) == S_OK;
  ok = ok && graph.CreateXYGraph() == S_OK && graph.SetWidth(40) == S_OK &&
       graph.SetHeight(32 + i % 8) == S_OK;
  for (int point = 0; ok && point < 4; ++point) ok = graph.AddXYValue("p", point * (i % 5)) == S_OK;
  return ok && graph.SaveToFile(jpg) == S_OK;
}

// The files go to memory where the system has a memory file system: rewriting a file on disk
// 200,000 times waits for the disk, which is not what is measured.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        "norvisk-soak-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const char* name) const { return (path_ / name).string(); }
  bool made() const { return !path_.empty(); }

 private:
  std::filesystem::path path_;
};

TEST(NVGraphSoak, AHundredThousandObjectsLeaveNothingBehind) {
  ScratchDir folder;
  ASSERT_TRUE(folder.made());
  const std::string bmp = folder.File("soak.bmp"), jpg = folder.File("soak.jpg");
  long settled = 0;
  int failed = 0;
  for (int i = 0; i < kCycles; ++i) {
    if (!Cycle(i, bmp, jpg)) ++failed;
    if (i + 1 == kSettled) {
      settled = ResidentBytes();
      // The files are written every cycle: a cycle that wrote none would show here.
      ASSERT_GT(std::filesystem::file_size(bmp), 54u);
      ASSERT_GT(std::filesystem::file_size(jpg), 100u);
      std::filesystem::remove(bmp);
      std::filesystem::remove(jpg);
    }
  }
  const long after = ResidentBytes();
  EXPECT_EQ(failed, 0);
  EXPECT_TRUE(std::filesystem::exists(bmp) && std::filesystem::exists(jpg));
  EXPECT_EQ(Graph::LiveCount(), 0);
  EXPECT_EQ(Canvas::LiveCount(), 0);
  ASSERT_GT(settled, 0);
  EXPECT_LE(after, settled + kMarginBytes)
      << "resident after " << kSettled << " cycles: " << settled << " bytes, after " << kCycles
      << ": " << after;
}

}  // namespace
}  // namespace norvisk
