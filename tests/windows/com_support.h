// What the component's client tests share: the registered copy of the module, COM apartments,
// references and strings, folders for written files, picture headers, child processes.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "norvisk_h.h"
#include "com_refs.h"

namespace norvisk_win_test {

using norvisk_com::Bstr;
using norvisk_com::Create;
using norvisk_com::DispatchArgs;
using norvisk_com::Ref;

namespace fs = std::filesystem;

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

inline std::string Hex(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

// The folder of the running test program.
inline std::wstring ExeFolder() {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// The copy of Norvisk.dll that the tests' fixture registered with regsvr32 (module\ beside the
// test programs), as its full path: what %MODULE% stands for in the registry.
inline std::wstring ModuleFolder() { return ExeFolder() + L"\\module"; }
inline std::wstring ModulePath() { return ModuleFolder() + L"\\Norvisk.dll"; }

// A Linux path of the build as Wine's Z: drive shows it.
inline std::wstring DosPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

// A single-threaded apartment for the test's thread.
class Apartment {
 public:
  Apartment() : status_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    EXPECT_EQ(status_, S_OK) << "CoInitializeEx";
  }
  ~Apartment() {
    if (SUCCEEDED(status_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  HRESULT status_;
};

// A folder of the running test's own for the files it has written (tests run in parallel),
// removed with the object.
class OutputFolder {
 public:
  OutputFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("norvisk-win-") + info->test_suite_name() + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~OutputFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  const fs::path& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }
  // The names of the files in the folder, sorted.
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(path_))
      names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::uint32_t Le(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

inline std::uint32_t Be(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// The headers of a bitmap file (BITMAPFILEHEADER and BITMAPINFOHEADER).
struct BmpHeader {
  std::uint32_t fileSize = 0, bitsOffset = 0, infoSize = 0;
  std::int32_t width = 0, height = 0;
  std::uint16_t planes = 0, bitCount = 0;
  std::uint32_t compression = 0;
};

inline ::testing::AssertionResult ReadBmpHeader(const std::string& bytes, BmpHeader* h) {
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0)
    return ::testing::AssertionFailure() << "not a bitmap file (" << bytes.size() << " bytes)";
  h->fileSize = Le(bytes, 2, 4);
  h->bitsOffset = Le(bytes, 10, 4);
  h->infoSize = Le(bytes, 14, 4);
  h->width = static_cast<std::int32_t>(Le(bytes, 18, 4));
  h->height = static_cast<std::int32_t>(Le(bytes, 22, 4));
  h->planes = static_cast<std::uint16_t>(Le(bytes, 26, 2));
  h->bitCount = static_cast<std::uint16_t>(Le(bytes, 28, 2));
  h->compression = Le(bytes, 30, 4);
  return ::testing::AssertionSuccess();
}

// A 24-bit bottom-up bitmap of the given size with nothing between its headers and its rows,
// and exactly as long as its header says.
inline ::testing::AssertionResult IsBmp(const fs::path& path, int width, int height) {
  std::string bytes = ReadBytes(path);
  BmpHeader h;
  if (auto read = ReadBmpHeader(bytes, &h); !read) return read << " " << path.string();
  std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  std::uint32_t size = 54 + rowBytes * static_cast<std::uint32_t>(height);
  if (h.width != width || h.height != height || h.bitCount != 24 || h.planes != 1 ||
      h.compression != BI_RGB || h.infoSize != 40 || h.bitsOffset != 54 || h.fileSize != size ||
      bytes.size() != size)
    return ::testing::AssertionFailure()
           << path.string() << ": " << h.width << " x " << h.height << ", " << h.bitCount
           << " bpp, " << h.planes << " planes, compression " << h.compression << ", header "
           << h.infoSize << ", bits at " << h.bitsOffset << ", size " << h.fileSize
           << " in the header and " << bytes.size() << " on disk; wanted " << width << " x "
           << height << " 24 bpp, " << size << " bytes";
  return ::testing::AssertionSuccess();
}

// A baseline JPEG (SOI, ..., SOF0, ..., EOI) of the given size with three 8-bit components.
inline ::testing::AssertionResult IsJpeg(const fs::path& path, int width, int height) {
  std::string b = ReadBytes(path);
  if (b.size() < 4 || Be(b, 0, 2) != 0xFFD8 || Be(b, b.size() - 2, 2) != 0xFFD9)
    return ::testing::AssertionFailure()
           << path.string() << ": no SOI ... EOI (" << b.size() << " bytes)";
  for (std::size_t at = 2; at + 4 <= b.size();) {
    if (static_cast<unsigned char>(b[at]) != 0xFF)
      return ::testing::AssertionFailure() << path.string() << ": no marker at " << at;
    unsigned marker = static_cast<unsigned char>(b[at + 1]);
    std::uint32_t length = Be(b, at + 2, 2);
    if (marker == 0xC0) {
      if (at + 10 > b.size()) break;
      std::uint32_t precision = Be(b, at + 4, 1), h = Be(b, at + 5, 2), w = Be(b, at + 7, 2),
                    components = Be(b, at + 9, 1);
      if (precision != 8 || h != static_cast<std::uint32_t>(height) ||
          w != static_cast<std::uint32_t>(width) || components != 3)
        return ::testing::AssertionFailure()
               << path.string() << ": SOF0 " << w << " x " << h << ", " << components
               << " components, " << precision << " bits";
      return ::testing::AssertionSuccess();
    }
    if (marker == 0xDA ||
        (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC))
      return ::testing::AssertionFailure()
             << path.string() << ": marker " << marker << " before any SOF0";
    at += 2 + length;
  }
  return ::testing::AssertionFailure() << path.string() << ": no SOF0";
}

// Runs a program with a command line, waits for it and gives its exit code (~0u when it could
// not be started).
inline DWORD RunProcess(const std::wstring& commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return ~0u;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = ~0u;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

inline std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The module loaded into this process as a client's LoadLibrary would, with its exports.
class LoadedModule {
 public:
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  using PlainFn = HRESULT(WINAPI*)();

  LoadedModule() : module_(LoadLibraryW(ModulePath().c_str())) {
    EXPECT_NE(module_, nullptr) << "LoadLibrary " << Utf8(ModulePath()) << ": " << GetLastError();
    if (!module_) return;
    getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow = reinterpret_cast<PlainFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    registerServer = reinterpret_cast<PlainFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    unregisterServer = reinterpret_cast<PlainFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
    EXPECT_TRUE(getClassObject && canUnloadNow && registerServer && unregisterServer)
        << "an entry point is not exported";
  }
  ~LoadedModule() {
    if (module_) FreeLibrary(module_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool ok() const {
    return module_ && getClassObject && canUnloadNow && registerServer && unregisterServer;
  }

  GetClassObjectFn getClassObject = nullptr;
  PlainFn canUnloadNow = nullptr;
  PlainFn registerServer = nullptr;
  PlainFn unregisterServer = nullptr;

 private:
  HMODULE module_;
};

}  // namespace norvisk_win_test
