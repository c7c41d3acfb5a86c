// The process's class table and object creation. Only in-process servers exist: the stand-in's
// own components, and class objects that the process registers (the framework host registers its
// components with CoRegisterClassObject). As on Windows, a registered class object is found
// before a class the system provides.
#include <mutex>
#include <utility>
#include <vector>

#include "com_internal.h"
#include "standin/com_control.h"

namespace zntr::platform::detail {
namespace {

struct PlatformClass {
    CLSID clsid;
    ClassCreator create;
};

struct RegisteredClass {
    DWORD cookie;
    CLSID clsid;
    IClassFactory* factory;  // one reference, released when the class is revoked
};

struct ClassTable {
    std::mutex mutex;
    std::vector<PlatformClass> platformClasses;
    std::vector<RegisteredClass> registered;
    DWORD nextCookie = 1;
};

// Function-local, so that components can register from their static initialisers whatever the
// order in which the library's files are initialised.
ClassTable& Table() {
    static ClassTable table;
    return table;
}

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}
ComCreationHook& Hook() {
    static ComCreationHook hook;
    return hook;
}

HRESULT RunCreationHook(REFCLSID rclsid, REFIID riid) {
    std::lock_guard<std::mutex> lock(HookMutex());
    return Hook() ? Hook()(rclsid, riid) : S_OK;
}

// The registered class object for the class, with a reference for the caller, or null.
IClassFactory* TakeRegisteredFactory(REFCLSID rclsid) {
    ClassTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (RegisteredClass& entry : table.registered) {
        if (IsEqualCLSID(entry.clsid, rclsid)) {
            entry.factory->AddRef();
            return entry.factory;
        }
    }
    return nullptr;
}

ClassCreator FindPlatformClass(REFCLSID rclsid) {
    ClassTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const PlatformClass& entry : table.platformClasses) {
        if (IsEqualCLSID(entry.clsid, rclsid)) {
            return entry.create;
        }
    }
    return nullptr;
}

}  // namespace

bool RegisterPlatformClass(REFCLSID rclsid, ClassCreator create) {
    ClassTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.platformClasses.push_back({rclsid, create});
    return true;
}

}  // namespace zntr::platform::detail

using namespace zntr::platform::detail;

extern "C" HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                    REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (!IsThreadInApartment()) {
        return CO_E_NOTINITIALIZED;
    }
    // No class is served out of process here, so a request that excludes in-process servers
    // finds the class unregistered, as it would on Windows for a class with no local server.
    if ((dwClsContext & CLSCTX_INPROC) == 0) {
        return REGDB_E_CLASSNOTREG;
    }
    const HRESULT hooked = RunCreationHook(rclsid, riid);
    if (FAILED(hooked)) {
        return hooked;
    }
    if (IClassFactory* factory = TakeRegisteredFactory(rclsid)) {
        const HRESULT hr = factory->CreateInstance(pUnkOuter, riid, ppv);
        factory->Release();
        return hr;
    }
    if (ClassCreator create = FindPlatformClass(rclsid)) {
        return create(pUnkOuter, riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}

// A class object registered for in-process, multiple use serves CoCreateInstance in this process,
// before the stand-in's own classes, as on Windows. The registrations no program makes (for a
// local server, single use, suspended) are refused with E_INVALIDARG.
extern "C" HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                         DWORD flags, LPDWORD lpdwRegister) {
    if (pUnk == nullptr || lpdwRegister == nullptr || dwClsContext != CLSCTX_INPROC_SERVER ||
        flags != REGCLS_MULTIPLEUSE) {
        return E_INVALIDARG;
    }
    *lpdwRegister = 0;
    if (!IsThreadInApartment()) {
        return CO_E_NOTINITIALIZED;
    }
    IClassFactory* factory = nullptr;
    const HRESULT hr = pUnk->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    ClassTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const DWORD cookie = table.nextCookie++;
    table.registered.push_back({cookie, rclsid, factory});
    *lpdwRegister = cookie;
    return S_OK;
}

extern "C" HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IClassFactory* factory = nullptr;
    {
        ClassTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        for (auto it = table.registered.begin(); it != table.registered.end(); ++it) {
            if (it->cookie == dwRegister) {
                factory = it->factory;
                table.registered.erase(it);
                break;
            }
        }
    }
    if (factory == nullptr) {
        return E_INVALIDARG;
    }
    // Released outside the table's lock: the release may destroy the factory, whose destructor
    // may come back into COM.
    factory->Release();
    return S_OK;
}

namespace zntr::platform {

struct ComCreationFailure::State {
    CLSID clsid;
    HRESULT failure;
    unsigned successesLeft;
    unsigned failed;
    ComCreationHook previous;  // consulted for every other class
};

// The state is read and changed only by the hook, under the hook lock.
ComCreationFailure::ComCreationFailure(REFCLSID rclsid, HRESULT failure, unsigned successesFirst)
    : state_(new State{rclsid, failure, successesFirst, 0, {}}) {
    State* state = state_;
    std::lock_guard<std::mutex> lock(HookMutex());
    state->previous = std::move(Hook());
    Hook() = [state](REFCLSID clsid, REFIID riid) -> HRESULT {
        if (!IsEqualCLSID(clsid, state->clsid)) {
            return state->previous ? state->previous(clsid, riid) : S_OK;
        }
        if (state->successesLeft > 0) {
            --state->successesLeft;
            return S_OK;
        }
        ++state->failed;
        return state->failure;
    };
}

ComCreationFailure::~ComCreationFailure() {
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        Hook() = std::move(state_->previous);
    }
    delete state_;
}

unsigned ComCreationFailure::Failed() const {
    std::lock_guard<std::mutex> lock(HookMutex());
    return state_->failed;
}

}  // namespace zntr::platform
