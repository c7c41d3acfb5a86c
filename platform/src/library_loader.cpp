// DisableThreadLibraryCalls over the dynamic loader: a module handle is valid when the loader
// has an object mapped at that address.
#include <dlfcn.h>

#include <mutex>
#include <set>

#include "standin/errhandlingapi.h"
#include "standin/libloaderapi.h"
#include "standin/loader_control.h"
#include "standin/winerror.h"

namespace {

struct LoaderState {
    std::mutex mutex;
    std::set<HMODULE> threadCallsDisabled;
};

LoaderState& State() {
    static LoaderState state;
    return state;
}

}  // namespace

extern "C" BOOL DisableThreadLibraryCalls(HMODULE hLibModule) {
    Dl_info info;
    if (hLibModule == nullptr || dladdr(reinterpret_cast<const void*>(hLibModule), &info) == 0 ||
        info.dli_fbase != reinterpret_cast<void*>(hLibModule)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    LoaderState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.threadCallsDisabled.insert(hLibModule);
    return TRUE;
}

namespace zntr::platform {

bool ThreadLibraryCallsDisabled(HMODULE module) {
    LoaderState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.threadCallsDisabled.count(module) != 0;
}

void ForgetModule(HMODULE module) {
    LoaderState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.threadCallsDisabled.erase(module);
}

}  // namespace zntr::platform
