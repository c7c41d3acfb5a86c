// What the stand-in's COM library shares between its own files. Internal to the platform library.
#pragma once

#include "standin/combaseapi.h"

namespace zntr::platform::detail {

// Creates an object of one of the stand-in's own classes and hands out the interface riid;
// fails with CLASS_E_NOAGGREGATION when asked to be aggregated, as none of them can be.
using ClassCreator = HRESULT (*)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

// Adds one of the stand-in's own classes to the class table. Each component registers itself
// from a static initialiser of its file; returns true so that it can initialise a constant.
bool RegisterPlatformClass(REFCLSID rclsid, ClassCreator create);

// Whether the calling thread may use COM: it entered an apartment, or some thread holds the
// process's multithreaded apartment open (then the caller is in the implicit MTA).
bool IsThreadInApartment();

// The status a test armed for this call of the named method (see ComMethodFailure), or S_OK.
HRESULT InjectedMethodFailure(const char* method);

}  // namespace zntr::platform::detail

// The first statement of a collection method a test may make fail.
#define ZNTR_RETURN_IF_INJECTED(method)                                                    \
    if (const HRESULT injected_ = ::zntr::platform::detail::InjectedMethodFailure(method); \
        FAILED(injected_))                                                                 \
    return injected_
