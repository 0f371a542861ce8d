// The creatable classes of the module, as their class factories make them.
#pragma once

#include <windows.h>

namespace norvisk {

HRESULT CreateNVGraphObject(IUnknown* outer, REFIID riid, void** object);
HRESULT CreateVGraphObject(IUnknown* outer, REFIID riid, void** object);

}  // namespace norvisk
