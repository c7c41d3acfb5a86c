// The test control that makes calls of one method of the stand-in's collections fail.
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "com_internal.h"
#include "standin/com_control.h"

namespace zntr::platform {
namespace {

struct Armed {
    std::string method;
    HRESULT failure;
    unsigned successesLeft;
};

std::mutex gMutex;
std::optional<Armed> gArmed;  // guarded by gMutex
// Read without the lock first, so that the collections' calls cost nothing when no test arms one.
std::atomic<bool> gAnyArmed{false};

}  // namespace

ComMethodFailure::ComMethodFailure(std::string method, HRESULT failure, unsigned successesFirst) {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmed = Armed{std::move(method), failure, successesFirst};
    gAnyArmed.store(true);
}

ComMethodFailure::~ComMethodFailure() {
    std::lock_guard<std::mutex> lock(gMutex);
    gArmed.reset();
    gAnyArmed.store(false);
}

namespace detail {

HRESULT InjectedMethodFailure(const char* method) {
    if (!gAnyArmed.load()) {
        return S_OK;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gArmed || gArmed->method != method) {
        return S_OK;
    }
    if (gArmed->successesLeft > 0) {
        --gArmed->successesLeft;
        return S_OK;
    }
    return gArmed->failure;
}

}  // namespace detail
}  // namespace zntr::platform
