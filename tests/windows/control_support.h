// What the control's tests share: a top-level window to put containers in, window pixels read
// in-process, the module's logo, captures written as bitmap files to look at, and the process's
// counts of GDI objects and windows.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace norvisk_win_test {

// Pixels of a window's client area (or of any device context), 0x00RRGGBB, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The pixels of `dc` from (0, 0), copied into a 32-bit DIB section.
inline Picture CaptureDC(HDC dc, int width, int height) {
  Picture picture;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(dc);
  if (section && memory && bits) {
    HGDIOBJ old = SelectObject(memory, section);
    if (BitBlt(memory, 0, 0, width, height, dc, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* words = static_cast<const std::uint32_t*>(bits);
      picture.width = width;
      picture.height = height;
      picture.pixels.assign(words, words + static_cast<std::size_t>(width) * height);
      for (auto& pixel : picture.pixels) pixel &= 0xFFFFFF;
    }
    SelectObject(memory, old);
  }
  if (memory) DeleteDC(memory);
  if (section) DeleteObject(section);
  return picture;
}

// What the window's client area shows now, read through its own device context.
inline Picture CaptureWindow(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  if (!dc) return {};
  Picture picture = CaptureDC(dc, client.right, client.bottom);
  ReleaseDC(window, dc);
  return picture;
}

// A COLORREF (0x00BBGGRR) as the captures hold it (0x00RRGGBB).
inline std::uint32_t Rgb(COLORREF color) {
  return (color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF);
}

// Bitmap resource `id` of `module` as 0x00RRGGBB pixels, top row first.
inline Picture ResourcePicture(HMODULE module, int id) {
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  Picture picture;
  if (!bitmap) return picture;
  BITMAP shape{};
  GetObjectW(bitmap, sizeof shape, &shape);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  picture = CaptureDC(memory, shape.bmWidth, shape.bmHeight);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return picture;
}

// A 24-bit bottom-up bitmap file of `picture`, to look at after the run.
inline bool WriteBmp(const std::wstring& path, const Picture& picture) {
  std::uint32_t rowBytes = (static_cast<std::uint32_t>(picture.width) * 3 + 3) & ~3u;
  std::uint32_t size = 54 + rowBytes * static_cast<std::uint32_t>(picture.height);
  std::vector<unsigned char> bytes(size, 0);
  auto put = [&](std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(picture.width), 4);
  put(22, static_cast<std::uint32_t>(picture.height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      put(54 + static_cast<std::size_t>(picture.height - 1 - y) * rowBytes + x * 3u,
          picture.At(x, y), 3);
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

// The rows of a 24-bit bitmap file as a picture; empty when it is not one.
inline Picture ReadBmp(const std::string& bytes) {
  Picture picture;
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return picture;
  auto get = [&](std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  int width = static_cast<int>(get(18, 4)), height = static_cast<int>(get(22, 4));
  std::uint32_t offset = get(10, 4), rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  if (get(28, 2) != 24 || width <= 0 || height <= 0 ||
      bytes.size() < offset + rowBytes * static_cast<std::size_t>(height))
    return picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.pixels[static_cast<std::size_t>(y) * width + x] =
          get(offset + static_cast<std::size_t>(height - 1 - y) * rowBytes + x * 3u, 3);
  return picture;
}

// Handles the messages waiting for this thread (a bounded number of them).
inline void PumpMessages() {
  MSG message;
  for (int i = 0; i < 10000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A visible top-level window without a frame at the screen's corner, for the containers.
class TopWindow {
 public:
  TopWindow(int width, int height) {
    static const wchar_t kClass[] = L"NorviskTestTop";
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClass;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, kClass, L"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                              height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    PumpMessages();
  }
  ~TopWindow() {
    if (window_) DestroyWindow(window_);
    PumpMessages();
  }
  TopWindow(const TopWindow&) = delete;
  TopWindow& operator=(const TopWindow&) = delete;
  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// GDI objects of this process, counted in the handle table the system shares with it (the
// process's own counter is not kept under Wine).
inline int GdiObjectCount() {
  DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted) return static_cast<int>(counted);
  struct Entry {
    std::uint64_t object;
    std::uint32_t owner;
    std::uint16_t unique;
    std::uint8_t type;
    std::uint8_t flags;
    std::uint64_t user;
  };
  static_assert(sizeof(Entry) == 24, "one entry of the 64-bit handle table");
  PROCESS_BASIC_INFORMATION basic{};
  if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic,
                                nullptr) != 0 ||
      !basic.PebBaseAddress)
    return -1;
  // The table's place in the process environment block of a 64-bit process.
  auto* table = *reinterpret_cast<const Entry* const*>(
      reinterpret_cast<const char*>(basic.PebBaseAddress) + 0xF8);
  if (!table) return -1;
  int count = 0;
  for (int i = 0; i < 0x10000; ++i)
    if (table[i].type) ++count;
  return count;
}

// Windows of this thread, child windows included.
inline int WindowCount() {
  int count = 0;
  auto child = [](HWND, LPARAM counter) -> BOOL {
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
  };
  struct Counter {
    int* count;
    WNDENUMPROC child;
  } counter{&count, child};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<Counter*>(data);
        ++*c->count;
        EnumChildWindows(window, c->child, reinterpret_cast<LPARAM>(c->count));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&counter));
  return count;
}

}  // namespace norvisk_win_test
