// The module object: the module's instance handle and its lock count.
#pragma once

#include <windows.h>

namespace norvisk {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Objects alive and class objects held or locked keep the module loaded.
void LockModule();
void UnlockModule();
long ModuleLockCount();

}  // namespace norvisk
