// Status codes of the graph objects' methods: the platform's HRESULT values.
#pragma once

#include <cstdint>

#if defined(_WIN32)
typedef long HRESULT;  // as the platform's headers declare it, without all of <windows.h>
#include <winerror.h>
#else
using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
#endif
