#include "kernel_object.h"

#include <unordered_map>

namespace zntr::platform::detail {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    // Handle values are multiples of 4, as on Windows, and never reused, so that a handle used
    // after CloseHandle is refused instead of naming a new object.
    std::uintptr_t next = 0x100;
};

HandleTable& Table() {
    static HandleTable& table = *new HandleTable;  // never destroyed, as the wait lock
    return table;
}

}  // namespace

// Never destroyed: threads of the platform may still wait or notify while the process exits.
std::mutex& WaitLock() {
    static std::mutex& mutex = *new std::mutex;
    return mutex;
}

std::condition_variable& WaitCondition() {
    static std::condition_variable& condition = *new std::condition_variable;
    return condition;
}

void NotifyWaiters() {
    WaitCondition().notify_all();
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object;  // destroyed outside the table's lock
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end()) {
        return false;
    }
    object = std::move(found->second);
    table.objects.erase(found);
    return true;
}

}  // namespace zntr::platform::detail
