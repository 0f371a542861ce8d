// The module object: instance handle and lock count, changed atomically.
#include "component/module_state.h"

#include <atomic>

namespace norvisk {

namespace {
HINSTANCE instance_handle = nullptr;
std::atomic<long> lock_count{0};
}  // namespace

HINSTANCE ModuleInstance() { return instance_handle; }
void SetModuleInstance(HINSTANCE instance) { instance_handle = instance; }
void LockModule() { lock_count.fetch_add(1); }
void UnlockModule() { lock_count.fetch_sub(1); }
long ModuleLockCount() { return lock_count.load(); }

}  // namespace norvisk
