// Files the benchmarks write, the yardstick for them (a file of a chart's size written alone), and
// the XY data they draw.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace norvisk_bench {

// A file of the benchmarks' own in the temporary folder, written over by every run.
inline std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("norvisk-bench-" + name)).string();
}

// The XY data string of `n` points the benchmarks draw: values 0-22 in a saw-tooth.
inline std::string XYPoints(int n) {
  std::string data;
  for (int i = 0; i < n; ++i)
    data += "(M" + std::to_string(i) + ";" + std::to_string((i * 37) % 23) + ")";
  return data;
}

// 40 KB, the size of the bar chart's JPEG file, written over the same name again and again as
// the JPEG writer writes it (fopen "wb", the bytes in one piece, fclose): the file system's
// share of a DrawBarGraph to a file, and under Wine its server's, which the library cannot
// make smaller.
inline void BM_WriteChartSizedFile(benchmark::State& state) {
  const std::string path = TempPath("chart-sized.bin");
  const std::vector<char> bytes(40 * 1024, 'Z');
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
      state.SkipWithError("the file could not be written");
      break;
    }
  }
}

}  // namespace norvisk_bench
