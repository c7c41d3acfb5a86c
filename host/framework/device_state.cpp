#include "device_state.h"

#include <cstring>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "replace_file.h"
#include "standin/combaseapi.h"
#include "standin/shlwapi.h"
#include "standin/stringapiset.h"

namespace zntr::host {
namespace {

constexpr const char* kFormat = "zntr-device-state";
constexpr int kVersion = 1;

// Names and values are stored as UTF-8 in the file; the JSON reader has checked the text.
std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                            size, nullptr, nullptr);
    }
    return text;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            size);
    }
    return wide;
}

std::wstring UpperCase(const std::wstring& text) {
    std::wstring upper = text;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return upper;
}

}  // namespace

DeviceState::DeviceState(std::wstring deviceInstanceId, std::optional<std::filesystem::path> file)
    : deviceInstanceId_(std::move(deviceInstanceId)), file_(std::move(file)) {}

std::filesystem::path DeviceState::StateFile(const std::wstring& deviceInstanceId,
                                             const std::filesystem::path& stateFolder) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (const char c : ToUtf8(UpperCase(deviceInstanceId))) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' || byte == '_') {
            name.push_back(c);
        } else {
            name.push_back('%');
            name.push_back(kHex[byte >> 4]);
            name.push_back(kHex[byte & 0xF]);
        }
    }
    return stateFolder / (name + ".json");
}

HRESULT DeviceState::Open(const std::wstring& deviceInstanceId,
                          const std::filesystem::path& stateFolder,
                          std::shared_ptr<DeviceState>& state) {
    std::optional<std::filesystem::path> file;
    if (!stateFolder.empty()) {
        file = StateFile(deviceInstanceId, stateFolder);
    }
    std::shared_ptr<DeviceState> opened(new DeviceState(deviceInstanceId, std::move(file)));
    const HRESULT hr = opened->Load();
    if (SUCCEEDED(hr)) {
        state = std::move(opened);
    }
    return hr;
}

HRESULT DeviceState::Load() {
    if (!file_) {
        return S_OK;
    }
    std::ifstream input(*file_, std::ios::binary);
    if (!input) {
        // No file yet: a device seen for the first time.
        return std::filesystem::exists(*file_) ? HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) : S_OK;
    }
    std::stringstream text;
    text << input.rdbuf();
    try {
        const nlohmann::json document = nlohmann::json::parse(text.str());
        if (document.at("format") != kFormat || document.at("version") != kVersion) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        }
        for (const auto& [name, stored] : document.at("stores").at("").items()) {
            if (stored.at("type") != "VT_LPWSTR") {
                return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
            }
            Value value{FromUtf8(name), FromUtf8(stored.at("value").get<std::string>())};
            values_[UpperCase(value.name)] = std::move(value);
        }
    } catch (const nlohmann::json::exception&) {
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    return S_OK;
}

HRESULT DeviceState::Save() const {
    if (!file_) {
        return S_OK;
    }
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const auto& [key, value] : values_) {
        values[ToUtf8(value.name)] = {{"type", "VT_LPWSTR"}, {"value", ToUtf8(value.text)}};
    }
    nlohmann::ordered_json document;
    document["format"] = kFormat;
    document["version"] = kVersion;
    document["device"] = ToUtf8(deviceInstanceId_);
    document["stores"] = {{"", std::move(values)}};
    return ReplaceFile(*file_, document.dump(2) + "\n");
}

HRESULT DeviceState::GetValue(const std::wstring& name, PROPVARIANT& value) {
    PropVariantInit(&value);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = values_.find(UpperCase(name));
    if (it == values_.end()) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const HRESULT hr = SHStrDupW(it->second.text.c_str(), &value.pwszVal);
    if (SUCCEEDED(hr)) {
        value.vt = VT_LPWSTR;
    }
    return hr;
}

HRESULT DeviceState::SetValue(const std::wstring& name, const PROPVARIANT& value) {
    if (value.vt != VT_LPWSTR || value.pwszVal == nullptr) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const std::wstring key = UpperCase(name);
    const auto it = values_.find(key);
    std::optional<Value> previous;
    if (it != values_.end()) {
        previous = it->second;
    }
    values_[key] = Value{previous ? previous->name : name, value.pwszVal};
    const HRESULT hr = Save();
    if (FAILED(hr)) {
        if (previous) {
            values_[key] = std::move(*previous);
        } else {
            values_.erase(key);
        }
    }
    return hr;
}

}  // namespace zntr::host
