// COM apartments. Objects of the stand-in are free-threaded, so an apartment here only records
// that a thread has entered COM and in which model, for the results Windows gives.
#include <atomic>

#include "com_internal.h"

namespace {

struct ThreadApartment {
    unsigned entries = 0;  // successful CoInitializeEx calls not yet matched by CoUninitialize
    bool multithreaded = false;
};
thread_local ThreadApartment tApartment;

// Threads that hold the multithreaded apartment open.
std::atomic<int> gMultithreadedThreads{0};

}  // namespace

namespace zntr::platform::detail {

bool IsThreadInApartment() {
    return tApartment.entries > 0 || gMultithreadedThreads.load() > 0;
}

}  // namespace zntr::platform::detail

// The first call of a thread enters an apartment (S_OK); a further call in the same model only
// counts (S_FALSE, and still needs its CoUninitialize); a call in the other model is refused with
// RPC_E_CHANGED_MODE, which needs no CoUninitialize.
extern "C" HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved != nullptr) {
        return E_INVALIDARG;
    }
    const bool multithreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
    if (tApartment.entries > 0) {
        if (tApartment.multithreaded != multithreaded) {
            return RPC_E_CHANGED_MODE;
        }
        ++tApartment.entries;
        return S_FALSE;
    }
    tApartment.entries = 1;
    tApartment.multithreaded = multithreaded;
    if (multithreaded) {
        gMultithreadedThreads.fetch_add(1);
    }
    return S_OK;
}

// The last matching call leaves the apartment; a call on a thread outside COM does nothing.
extern "C" void CoUninitialize(void) {
    if (tApartment.entries == 0) {
        return;
    }
    if (--tApartment.entries == 0 && tApartment.multithreaded) {
        gMultithreadedThreads.fetch_sub(1);
    }
}
