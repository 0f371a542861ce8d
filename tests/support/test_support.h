// Test support: a private folder per test, and drawing targets for CopyTo and DrawToDC.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "raster/canvas.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#if defined(_WIN32)
#include <windows.h>
#undef DrawText
#undef TextOut
#undef CreateFont
#undef GetObject
#endif

namespace norvisk_test {

// A folder of the running test's own, removed with the object. Named by the test and the
// process: tests run in parallel, and so do the builds of other checkouts.
class TestDir {
 public:
  TestDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
#if defined(_WIN32)
    const unsigned long process = GetCurrentProcessId();
#else
    const unsigned long process = static_cast<unsigned long>(getpid());
#endif
    std::string name = std::string("norvisk-") + info->test_suite_name() + "-" + info->name() +
                       "-" + std::to_string(process);
    for (char& c : name)
      if (c == '/' || c == '\\') c = '_';
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TestDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// 24-bit pixels that the platform's back end can copy into: a pixel buffer for the software
// back end, a memory device context with a DIB section for GDI. Starts filled with `fill`.
class TargetSurface {
 public:
  TargetSurface(int width, int height, std::uint8_t fill = 0x11) : width_(width), height_(height) {
#if defined(_WIN32)
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    dc_ = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    top_ = static_cast<std::uint8_t*>(bits);
    stride_ = static_cast<std::ptrdiff_t>(norvisk::RowBytes(width, 24));
    std::fill(top_, top_ + stride_ * height, fill);
#else
    memory_.assign(static_cast<std::size_t>(width) * height * 3, fill);
    top_ = memory_.data();
    stride_ = width * 3;
    target_ = norvisk::PixelRows{top_, width, height, stride_};
#endif
  }
  ~TargetSurface() {
#if defined(_WIN32)
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
#endif
  }
  TargetSurface(const TargetSurface&) = delete;
  TargetSurface& operator=(const TargetSurface&) = delete;

  norvisk::DeviceContext target() {
#if defined(_WIN32)
    return dc_;
#else
    return &target_;
#endif
  }
  norvisk::Color At(int x, int y) {
#if defined(_WIN32)
    GdiFlush();
#endif
    const std::uint8_t* p = top_ + y * stride_ + 3 * x;
    return norvisk::MakeColor(p[2], p[1], p[0]);
  }
  std::vector<norvisk::Color> Pixels() {
    std::vector<norvisk::Color> out;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) out.push_back(At(x, y));
    return out;
  }

 private:
  int width_;
  int height_;
  std::uint8_t* top_ = nullptr;
  std::ptrdiff_t stride_ = 0;
#if defined(_WIN32)
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
#else
  std::vector<std::uint8_t> memory_;
  norvisk::PixelRows target_;
#endif
};

}  // namespace norvisk_test
