// The registry's read functions over the .reg file in force (registry_control.h).
//
// An opened key is a snapshot: the file is read when the key is opened, and the key's values as
// they were then are what RegQueryValueExA reads until the key is closed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "reg_file.h"
#include "standin/registry_control.h"
#include "standin/stringapiset.h"
#include "standin/winreg.h"

namespace zntr::platform::detail {
namespace {

struct OpenKey {
    std::wstring path;  // folded full path
    std::map<std::wstring, RegistryValue> values;
};

struct RegistryState {
    std::mutex mutex;
    // The program's choice: unset means ZNTR_REGISTRY; set to std::nullopt means no file.
    std::optional<std::optional<std::string>> choice;
    std::unordered_map<ULONG_PTR, std::shared_ptr<const OpenKey>> keys;
    // Handles of opened keys count up from here, far below the predefined keys' values.
    ULONG_PTR nextHandle = 0x1000;
};

RegistryState& State() {
    static RegistryState state;
    return state;
}

struct PredefinedKey {
    HKEY handle;
    const wchar_t* name;
};
const PredefinedKey kPredefinedKeys[] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},   {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
};

// Reports a file that does not parse once per file and reason, so that it is seen but not
// repeated at every open.
void WarnAboutFile(const std::string& path, const std::string& reason) {
    static std::mutex mutex;
    static std::set<std::pair<std::string, std::string>> warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (warned.emplace(path, reason).second) {
        std::fprintf(stderr, "error: registry file %s: %s; the registry is empty\n", path.c_str(),
                     reason.c_str());
    }
}

// The file the next open reads; std::nullopt when the registry is empty.
std::optional<std::string> RegistryFileInForce() {
    {
        RegistryState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.choice) {
            return *state.choice;
        }
    }
    const char* environment = std::getenv("ZNTR_REGISTRY");
    if (environment == nullptr || *environment == '\0') {
        return std::nullopt;
    }
    return std::string(environment);
}

// The registry in force now: the file's content, or an empty registry.
RegistryContent LoadRegistry() {
    const std::optional<std::string> path = RegistryFileInForce();
    if (!path) {
        return {};
    }
    std::ifstream file(*path, std::ios::binary);
    std::ostringstream bytes;
    if (!file || !(bytes << file.rdbuf())) {
        return {};
    }
    std::string reason;
    std::optional<RegistryContent> content = ParseRegFile(bytes.str(), &reason);
    if (!content) {
        WarnAboutFile(*path, reason);
        return {};
    }
    return std::move(*content);
}

// The folded path a handle stands for; false for a handle that is neither a predefined key nor
// an open one.
bool PathOf(HKEY hKey, std::wstring* path) {
    for (const PredefinedKey& key : kPredefinedKeys) {
        if (key.handle == hKey) {
            *path = key.name;
            return true;
        }
    }
    RegistryState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.keys.find(reinterpret_cast<ULONG_PTR>(hKey));
    if (found == state.keys.end()) {
        return false;
    }
    *path = found->second->path;
    return true;
}

std::wstring Widen(LPCSTR text) {
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.pop_back();  // the terminator
    return wide;
}

// The bytes RegQueryValueExA hands out: text types converted from UTF-16LE to the ANSI code page,
// their NULs included; other types as stored.
std::vector<BYTE> AnsiData(const RegistryValue& value) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ && value.type != REG_MULTI_SZ) {
        return value.data;
    }
    std::wstring text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const unsigned unit = value.data[i] | (static_cast<unsigned>(value.data[i + 1]) << 8);
        text.push_back(static_cast<wchar_t>(unit));
    }
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::vector<BYTE> ansi(static_cast<size_t>(length));
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, reinterpret_cast<LPSTR>(ansi.data()), length,
                        nullptr, nullptr);
    return ansi;
}

}  // namespace
}  // namespace zntr::platform::detail

namespace zntr::platform {

void UseEnvironmentRegistryFile() {
    detail::RegistryState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.choice.reset();
}

ScopedRegistryFile::ScopedRegistryFile(std::optional<std::string> path) {
    detail::RegistryState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    hadChoice_ = state.choice.has_value();
    if (hadChoice_) {
        previous_ = *state.choice;
    }
    state.choice = std::move(path);
}

ScopedRegistryFile::~ScopedRegistryFile() {
    detail::RegistryState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (hadChoice_) {
        state.choice = std::move(previous_);
    } else {
        state.choice.reset();
    }
}

}  // namespace zntr::platform

using zntr::platform::detail::FoldRegistryName;
using zntr::platform::detail::OpenKey;
using zntr::platform::detail::RegistryContent;

// The sub-key is a path of names separated by backslashes, relative to hKey; one trailing
// backslash is allowed, as Windows allows it. Null or "" opens hKey itself again. The access
// asked for is not checked: the stand-in's registry cannot be written anyway.
extern "C" LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/,
                                 REGSAM /*samDesired*/, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    std::wstring path;
    if (!zntr::platform::detail::PathOf(hKey, &path)) {
        return ERROR_INVALID_HANDLE;
    }
    std::wstring subKey = zntr::platform::detail::Widen(lpSubKey);
    if (!subKey.empty() && subKey.back() == L'\\') {
        subKey.pop_back();
    }
    if (!subKey.empty()) {
        path += L"\\" + FoldRegistryName(subKey);
    }

    const RegistryContent content = zntr::platform::detail::LoadRegistry();
    auto key = std::make_shared<OpenKey>();
    key->path = path;
    const auto found = content.keys.find(path);
    if (found != content.keys.end()) {
        key->values = found->second.values;
    } else if (path.find(L'\\') != std::wstring::npos) {
        // The predefined roots always exist; any key below them only when the file has it.
        return ERROR_FILE_NOT_FOUND;
    }

    zntr::platform::detail::RegistryState& state = zntr::platform::detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const ULONG_PTR handle = state.nextHandle;
    state.nextHandle += 4;
    state.keys.emplace(handle, std::move(key));
    *phkResult = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

// With lpData null the size is reported and ERROR_SUCCESS returned; a buffer that is too small
// gets ERROR_MORE_DATA with the size needed and is left as it was. Null or "" names the key's
// default value (@ in a .reg file).
extern "C" LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                    LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<const OpenKey> key;
    {
        zntr::platform::detail::RegistryState& state = zntr::platform::detail::State();
        std::lock_guard<std::mutex> lock(state.mutex);
        const auto found = state.keys.find(reinterpret_cast<ULONG_PTR>(hKey));
        if (found != state.keys.end()) {
            key = found->second;
        }
    }
    if (!key) {
        // A predefined root has no values in a .reg file's registry.
        std::wstring rootPath;
        return zntr::platform::detail::PathOf(hKey, &rootPath) ? ERROR_FILE_NOT_FOUND
                                                               : ERROR_INVALID_HANDLE;
    }
    const auto value =
        key->values.find(FoldRegistryName(zntr::platform::detail::Widen(lpValueName)));
    if (value == key->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::vector<BYTE> data = zntr::platform::detail::AnsiData(value->second);
    if (lpType != nullptr) {
        *lpType = value->second.type;
    }
    if (lpcbData == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD size = static_cast<DWORD>(data.size());
    if (lpData != nullptr && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData != nullptr && size > 0) {
        std::memcpy(lpData, data.data(), size);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

// Closing a predefined key succeeds and changes nothing; closing a key twice fails.
extern "C" LSTATUS RegCloseKey(HKEY hKey) {
    for (const auto& key : zntr::platform::detail::kPredefinedKeys) {
        if (key.handle == hKey) {
            return ERROR_SUCCESS;
        }
    }
    zntr::platform::detail::RegistryState& state = zntr::platform::detail::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.keys.erase(reinterpret_cast<ULONG_PTR>(hKey)) == 1 ? ERROR_SUCCESS
                                                                    : ERROR_INVALID_HANDLE;
}
