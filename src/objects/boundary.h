// The exception boundary: where a call leaves our C++ code for a caller that is not ours (a COM
// client, a script host, the command's exit status), every exception becomes a status.
//
// Nothing of ours throws; the standard library reports memory running out with std::bad_alloc
// (and the few other library exceptions come from resources running out too), so whatever
// arrives here is reported as E_OUTOFMEMORY. Each COM method, module entry point and command
// call runs its body through Guarded; the code behind it needs no try blocks of its own, only
// to stay consistent when an allocation fails half-way (no graph object ever has a kind without
// a graph).
#pragma once

#include "objects/status.h"

namespace norvisk {

// Runs `call` (returning an HRESULT); E_OUTOFMEMORY when it throws.
template <class Call>
HRESULT Guarded(Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

// The same for calls that report failure by another value (a BOOL, a null handle, a count).
template <class Result, class Call>
Result GuardedOr(Result failure, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

}  // namespace norvisk
