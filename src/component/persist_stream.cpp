// Persistence through a stream: the extent only, in 12 little-endian bytes (the format's
// version 0x300, then the width and the height in HIMETRIC).
#include "component/v_graph_control.h"

#include <cstdint>

#include "base/byte_order.h"
#include "objects/boundary.h"

namespace norvisk {

namespace {

constexpr std::uint32_t kStreamVersion = 0x300;
constexpr ULONG kStreamBytes = 12;

// Exactly `size` bytes from the stream: its own failure, or E_FAIL when it ends first.
HRESULT read_exactly(IStream* stream, std::uint8_t* bytes, ULONG size) {
  ULONG read = 0;
  HRESULT hr = stream->Read(bytes, size, &read);
  if (FAILED(hr)) return hr;
  return read == size ? S_OK : E_FAIL;
}

}  // namespace

STDMETHODIMP VGraphControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_VGraph;
  return S_OK;
}

STDMETHODIMP VGraphControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

// A stream of a newer format, or one that ends early, changes nothing. What follows the 12
// bytes belongs to whoever wrote it there and is left unread.
STDMETHODIMP VGraphControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return Guarded([&] {
    std::uint8_t bytes[kStreamBytes];
    if (HRESULT hr = read_exactly(stream, bytes, 4); FAILED(hr)) return hr;
    if (LoadLe32(bytes) > kStreamVersion) return E_FAIL;
    if (HRESULT hr = read_exactly(stream, bytes + 4, 8); FAILED(hr)) return hr;
    extent_.cx = static_cast<LONG>(LoadLe32(bytes + 4));
    extent_.cy = static_cast<LONG>(LoadLe32(bytes + 8));
    dirty_ = false;
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return Guarded([&] {
    std::uint8_t bytes[kStreamBytes];
    StoreLe32(bytes, kStreamVersion);
    StoreLe32(bytes + 4, static_cast<std::uint32_t>(extent_.cx));
    StoreLe32(bytes + 8, static_cast<std::uint32_t>(extent_.cy));
    ULONG written = 0;
    HRESULT hr = stream->Write(bytes, kStreamBytes, &written);
    if (FAILED(hr)) return hr;
    if (written != kStreamBytes) return STG_E_MEDIUMFULL;
    if (clearDirty) dirty_ = false;
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = kStreamBytes;
  return S_OK;
}

// A fresh control keeps the extent of its dialog template.
STDMETHODIMP VGraphControl::InitNew() {
  dirty_ = false;
  return S_OK;
}

}  // namespace norvisk
