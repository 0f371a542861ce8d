// Bitmap resources on Windows: loaded from the module with LoadBitmapA, read back as 24-bit
// rows with GetDIBits, and kept for the life of the process.
#include <windows.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "raster/resource_image.h"

namespace norvisk {

namespace {

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bits;
};

bool decode(HMODULE module, int id, Decoded* out) {
  HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
  if (!bitmap) return false;
  BITMAP info{};
  bool ok = GetObjectA(bitmap, sizeof info, &info) != 0 && info.bmWidth > 0 && info.bmHeight > 0 &&
            SurfaceFits(info.bmWidth, info.bmHeight, 24);
  if (ok) {
    out->width = info.bmWidth;
    out->height = info.bmHeight;
    out->bits.resize(static_cast<std::size_t>(RowBytes(info.bmWidth, 24)) * info.bmHeight);
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    request.bmiHeader.biWidth = info.bmWidth;
    request.bmiHeader.biHeight = info.bmHeight;  // bottom-up, as a surface
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 24;
    request.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    ok = dc && GetDIBits(dc, bitmap, 0, static_cast<UINT>(info.bmHeight), out->bits.data(),
                         &request, DIB_RGB_COLORS) == info.bmHeight;
    if (dc) DeleteDC(dc);
  }
  DeleteObject(bitmap);
  return ok;
}

}  // namespace

bool LoadResourceImage(ModuleHandle module, int id, ResourceImage* out) {
  if (!out) return false;
  HMODULE handle = module ? static_cast<HMODULE>(module) : GetModuleHandleW(nullptr);
  // Objects of several apartments may ask at once; each bitmap is read once.
  static std::mutex lock;
  static std::map<std::pair<HMODULE, int>, Decoded> cache;
  std::lock_guard<std::mutex> guard(lock);
  auto key = std::make_pair(handle, id);
  auto found = cache.find(key);
  if (found == cache.end()) {
    Decoded decoded;
    if (!decode(handle, id, &decoded)) return false;
    found = cache.emplace(key, std::move(decoded)).first;
  }
  const Decoded& image = found->second;
  out->width = image.width;
  out->height = image.height;
  out->bitsPerPixel = 24;
  out->rowBytes = static_cast<int>(RowBytes(image.width, 24));
  out->bits = image.bits.data();
  return true;
}

}  // namespace norvisk
