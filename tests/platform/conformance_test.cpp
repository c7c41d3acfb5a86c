// The platform conformance rows, tests/data/platform/*.table, and the main of the platform test
// program (its C++ tests run after the rows). A row is "function | input | pins | wine | result
// | error": the call with the input must give the result and error. A row whose "wine" cell is
// not "-" is skipped under Wine; a row of a control of the stand-in, on Windows.
#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>

#include "com_text.h"
#include "standin/control.h"
#include "table_tests.h"
#if !defined(_WIN32)
#include "standin/device_database_control.h"
#include "standin/network_control.h"
#include "standin/registry_control.h"
#endif

namespace zntr::test {
namespace {

constexpr DWORD kUntouched = 0x0BADF00D;     // the last error before each call
std::map<std::string, std::string> gValues;  // name: value (names.table)
std::map<std::pair<std::string, std::uint64_t>, std::string> gNames;  // kind and value: name

std::uint64_t Number(const std::string& text) {
    const bool negative = text.rfind('-', 0) == 0, hex = text.find("0x") == (negative ? 1u : 0u);
    const char* first = text.data() + negative + (hex ? 2 : 0);
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(first, text.data() + text.size(), value, hex ? 16 : 10);
    if (first == text.data() + text.size() || error != std::errc() || *end != '\0') {
        throw std::invalid_argument("neither a name nor a number: " + text);
    }
    return negative ? 0 - value : value;
}

// A word of an input: a quoted text ("-" is a null one), or a bare word that names a value
// (names.table), writes a number, or is a plain word.
struct Word {
    std::string word;
    std::vector<std::uint32_t> units;
    bool quoted = false;

    bool IsNull() const { return !quoted && word == "-"; }
    std::string Bytes() const { return std::string(units.begin(), units.end()); }
    std::wstring Wide() const { return std::wstring(units.begin(), units.end()); }
    std::uint64_t Value() const { return Number(gValues.count(word) ? gValues[word] : word); }
    // Read with CLSIDFromString, whose own rows check it.
    GUID Guid() const {
        const std::string text = gValues.count(word) ? gValues[word] : word;
        GUID guid{};
        return CLSIDFromString(std::wstring(text.begin(), text.end()).c_str(), &guid) == S_OK
                   ? guid
                   : throw std::invalid_argument("no GUID: " + word);
    }
};

struct Input {
    std::string text;
    std::vector<Word> words;
    const Word& operator[](std::size_t i) const {
        return i < words.size() ? words[i] : throw std::invalid_argument("too few words: " + text);
    }
};

Input Parse(const std::string& text) {
    Input input{text, {}};
    for (std::string_view rest = text; !rest.empty();) {
        Word word;
        word.quoted = rest[0] == '"';
        if (word.quoted && !Unquote(rest, &word.units)) {
            throw std::invalid_argument("an unclosed quote in " + text);
        }
        word.word = word.quoted ? "" : std::string(rest.substr(0, rest.find(' ')));
        rest.remove_prefix(word.word.size());
        input.words.push_back(word);
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    }
    return input;
}

struct Outcome {
    std::string result;
    std::string error = "-";
};

std::string Hex(std::uint64_t value, int digits = 8) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%0*" PRIX64, digits, value);
    return text;
}

// A value's name of a kind in names.table, else the value in hexadecimal.
std::string Name(const std::string& kind, std::uint64_t value) {
    return gNames.count({kind, value}) ? gNames[{kind, value}] : Hex(value);
}

// The last error, or errno, if the call changed it.
std::string LastError() {
    return GetLastError() == kUntouched ? "-" : Name("error", GetLastError());
}

std::string Hresult(HRESULT hr) {
    return Name("hresult", static_cast<ULONG>(hr));
}

FILETIME FileTime(std::uint64_t ticks) {
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// A value: VT_LPWSTR "text", VT_CLSID {...}, VT_FILETIME n, or VT_VECTOR|VT_UI1 and its bytes
// (then the status is InitPropVariantFromBuffer's).
HRESULT MakeValue(const Input& in, PROPVARIANT* value) {
    PropVariantInit(value);
    const std::string& type = in[0].word;
    std::vector<BYTE> bytes;
    for (std::size_t i = 1; type == "VT_VECTOR|VT_UI1" && i < in.words.size(); ++i) {
        bytes.push_back(static_cast<BYTE>(std::stoul(in[i].word, nullptr, 16)));
    }
    if (type == "VT_VECTOR|VT_UI1") {
        return InitPropVariantFromBuffer(bytes.data(), static_cast<UINT>(bytes.size()), value);
    }
    value->vt = type == "VT_LPWSTR" ? VT_LPWSTR : type == "VT_CLSID" ? VT_CLSID : VT_FILETIME;
    if (value->vt == VT_LPWSTR) {
        return SHStrDupW(in[1].Wide().c_str(), &value->pwszVal);
    } else if (value->vt == VT_CLSID) {
        value->puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        *value->puuid = in[1].Guid();
    } else {
        value->filetime = FileTime(in[1].Value());
    }
    return S_OK;
}

#if !defined(_WIN32)
std::string DataFile(const Word& name) {
    return std::string(ZNTR_PLATFORM_DATA) + "/" + name.word;
}

// An interface's path and its device's friendly name, each read by the size query and the read
// the documentation gives, with the size that query asked for and its error.
std::string PathAndName(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD size = 0;
    SP_DEVINFO_DATA device{sizeof(device), {}, 0, 0};
    SetLastError(kUntouched);
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    const std::string query = " (" + std::to_string(size) + " bytes, " + LastError() + ")";
    std::vector<std::uint64_t> storage(size / 8 + 1);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device);
    std::string text = Quote(std::wstring_view(detail->DevicePath)) + query;
    DEVPROPTYPE type = 0;
    WCHAR name[64] = {};
    SetLastError(kUntouched);
    return text +
           (SetupDiGetDevicePropertyW(set, &device, &DEVPKEY_Device_FriendlyName, &type,
                                      reinterpret_cast<PBYTE>(name), sizeof(name), nullptr, 0)
                ? ", " + Name("devprop", type) + " " + Quote(std::wstring_view(name))
                : ", no name (" + LastError() + ")");
}
#endif

std::map<std::string, std::function<Outcome(const Input&)>> Calls() {
    std::map<std::string, std::function<Outcome(const Input&)>> calls;
    // The C runtime's readers; their error is errno.
    const auto reader = [](std::function<std::string(const Input&)> read) {
        return [read](const Input& in) {
            const std::string value = read(in);
            return Outcome{value, errno == 0 ? "-" : Name("errno", errno)};
        };
    };
    calls["_wtof"] = reader([](const Input& in) {
        char text[32];
        return std::string(text, std::to_chars(text, text + 32, _wtof(in[0].Wide().c_str())).ptr);
    });
    calls["_wtoi"] =
        reader([](const Input& in) { return std::to_string(_wtoi(in[0].Wide().c_str())); });
    calls["_wtol"] =
        reader([](const Input& in) { return std::to_string(_wtol(in[0].Wide().c_str())); });
    calls["atoi"] =
        reader([](const Input& in) { return std::to_string(atoi(in[0].Bytes().c_str())); });
    calls["strtol"] = reader([](const Input& in) {
        const std::string text = in[0].Bytes();
        char* end = nullptr;
        const long value = strtol(text.c_str(), &end, static_cast<int>(in[1].Value()));
        return std::to_string(value) + ", read " + std::to_string(end - text.c_str());
    });
    calls["strtok"] = [](const Input& in) {
        std::string text = in[0].Bytes(), tokens;
        const std::string delimiters = in[1].Bytes();
        for (char* token = strtok(text.data(), delimiters.c_str()); token != nullptr;
             token = strtok(nullptr, delimiters.c_str())) {
            tokens += (tokens.empty() ? "" : " ") + Quote(token);
        }
        return Outcome{tokens.empty() ? "none" : tokens};
    };
    calls["MultiByteToWideChar"] = [](const Input& in) {
        const std::string source = in[2].Bytes();
        const bool buffer = in[4].word.rfind("null/", 0) != 0;
        const int size = std::stoi(in[4].word.substr(buffer ? 0 : 5));
        std::vector<wchar_t> wide(static_cast<std::size_t>(size) + 1);
        const int count = MultiByteToWideChar(
            static_cast<UINT>(in[0].Value()), static_cast<DWORD>(in[1].Value()),
            in[2].IsNull() ? nullptr : source.data(), static_cast<int>(in[3].Value()),
            buffer && size > 0 ? wide.data() : nullptr, size);
        const std::wstring_view text(wide.data(), buffer && size > 0 && count > 0 ? count : 0);
        return Outcome{std::to_string(count) + (text.empty() ? "" : " " + Quote(text)),
                       count == 0 ? LastError() : "-"};
    };
    calls["WideCharToMultiByte"] = [](const Input& in) {
        const std::wstring source = in[2].Wide();
        const int size = static_cast<int>(in[4].Value());
        const std::string fallback = in[5].Bytes();
        std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
        BOOL used = 2;
        const int count = WideCharToMultiByte(
            static_cast<UINT>(in[0].Value()), static_cast<DWORD>(in[1].Value()), source.data(),
            static_cast<int>(in[3].Value()), size > 0 ? bytes.data() : nullptr, size,
            in[5].IsNull() ? nullptr : fallback.c_str(), in[6].word == "used" ? &used : nullptr);
        bytes.resize(size > 0 && count > 0 ? count : 0);
        return Outcome{std::to_string(count) + (bytes.empty() ? "" : " " + Quote(bytes)) +
                           (used == 2 ? ""
                            : used    ? ", used"
                                      : ", not used"),
                       count == 0 ? LastError() : "-"};
    };
    calls["SystemTimeToFileTime"] = [](const Input& in) {
        WORD f[8] = {};  // the members of a SYSTEMTIME, in their order
        std::sscanf((in[0].word + " " + in[1].word).c_str(), "%hu-%hu-%hu %hu:%hu:%hu.%hu", &f[0],
                    &f[1], &f[3], &f[4], &f[5], &f[6], &f[7]);
        f[2] = static_cast<WORD>(in.words.size() > 3 ? in[3].Value() : 0);
        SYSTEMTIME time;
        std::memcpy(&time, f, sizeof(time));
        FILETIME result = {123, 456};
        const BOOL done = SystemTimeToFileTime(&time, &result);
        const std::uint64_t ticks =
            (std::uint64_t{result.dwHighDateTime} << 32) | result.dwLowDateTime;
        return Outcome{done                            ? Hex(ticks, 16)
                       : ticks == (456ull << 32 | 123) ? "FALSE"
                                                       : "FALSE, written",
                       done ? "-" : LastError()};
    };
    calls["FileTimeToSystemTime"] = [](const Input& in) {
        const FILETIME time = FileTime(in[0].Value());
        SYSTEMTIME t{};
        const BOOL done = FileTimeToSystemTime(&time, &t);
        char text[64];
        std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u dow %u", t.wYear,
                      t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                      t.wDayOfWeek);
        return Outcome{done ? text : "FALSE", done ? "-" : LastError()};
    };
    calls["CLSIDFromString"] = [](const Input& in) {
        const std::wstring text = in[0].Wide();
        GUID guid = {0xAAAAAAAA, 0xAAAA, 0xAAAA, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}};
        const HRESULT hr = CLSIDFromString(in[0].IsNull() ? nullptr : text.c_str(), &guid);
        return Outcome{Hresult(hr) + ", " + GuidText(guid)};
    };
    calls["StringFromCLSID"] = [](const Input& in) {
        LPOLESTR text = nullptr;
        const HRESULT hr = StringFromCLSID(in[0].Guid(), &text);
        const std::string result = Hresult(hr) + ", " + Quote(std::wstring_view(text));
        CoTaskMemFree(text);
        return Outcome{result};
    };
    calls["PropVariantClear"] = [](const Input& in) {
        PROPVARIANT value, zero;
        MakeValue(in, &value);
        PropVariantInit(&zero);
        const HRESULT hr = PropVariantClear(&value);
        return Outcome{Hresult(hr) + (std::memcmp(&value, &zero, sizeof(value)) == 0
                                          ? ", zeroed"
                                          : ", not zeroed")};
    };
    // Whether the copy owns a string, GUID or bytes of its own (not the source's).
    calls["PropVariantCopy"] = [](const Input& in) {
        PROPVARIANT source, copy;
        MakeValue(in, &source);
        const HRESULT hr = PropVariantCopy(&copy, &source);
        const auto owned = [](const PROPVARIANT& v) {
            return v.vt == VT_LPWSTR  ? static_cast<void*>(v.pwszVal)
                   : v.vt == VT_CLSID ? static_cast<void*>(v.puuid)
                                      : static_cast<void*>(v.caub.pElems);
        };
        const std::string result = Hresult(hr) + ", " + PropVariantText(copy) +
                                   (copy.vt == VT_FILETIME         ? ""
                                    : owned(copy) == nullptr       ? ", nothing owned"
                                    : owned(copy) == owned(source) ? ", shared"
                                                                   : ", own copy");
        PropVariantClear(&copy);
        PropVariantClear(&source);
        return Outcome{result};
    };
    calls["InitPropVariantFromFileTime"] = [](const Input& in) {
        const FILETIME time = FileTime(in[0].Value());
        PROPVARIANT value;
        const HRESULT hr = InitPropVariantFromFileTime(&time, &value);
        return Outcome{Hresult(hr) + ", " + PropVariantText(value)};
    };
    calls["HRESULT_FROM_WIN32"] = [](const Input& in) {
        return Outcome{
            Hex(static_cast<ULONG>(HRESULT_FROM_WIN32(static_cast<ULONG>(in[0].Value()))))};
    };
    calls["SUCCEEDED"] = [](const Input& in) {
        return Outcome{SUCCEEDED(static_cast<HRESULT>(in[0].Value())) ? "TRUE" : "FALSE"};
    };
    // One call for each text ("-": a null one); what the debugger got.
    calls["OutputDebugStringA"] = [](const Input& in) {
        zntr::platform::DebugOutputCapture capture;
        for (const Word& text : in.words) {
            OutputDebugStringA(text.IsNull() ? nullptr : text.Bytes().c_str());
        }
        std::string messages;
        for (const std::string& message : capture.Take()) {
            messages += (messages.empty() ? "" : " ") + Quote(message);
        }
        return Outcome{messages.empty() ? "nothing" : messages};
    };
#if !defined(_WIN32)
    calls["RegQueryValueExA"] = [](const Input& in) {
        zntr::platform::ScopedRegistryFile file(
            in[0].word == "none" ? std::nullopt : std::optional(DataFile(in[0])));
        HKEY key = nullptr;
        LSTATUS status =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, in[1].Bytes().c_str(), 0, KEY_READ, &key);
        const bool query = in[3].word == "none";
        DWORD size = query ? 0 : static_cast<DWORD>(in[3].Value());
        std::vector<BYTE> data(size + 1, 0xEE);
        DWORD type = 0;
        if (status == 0) {
            status = RegQueryValueExA(key, in[2].Bytes().c_str(), nullptr, &type,
                                      query ? nullptr : data.data(), &size);
            RegCloseKey(key);
        }
        std::string result = Name("error", static_cast<ULONG>(status));
        if (status == 0 || status == ERROR_MORE_DATA) {
            result += ", " + Name("regtype", type) + ", " + std::to_string(size) + " bytes";
        }
        for (DWORD i = 0; status == 0 && !query && i < size; ++i) {
            result += " " + Hex(data[i], 2).substr(2);
        }
        return Outcome{result, LastError()};
    };
    // A set of a device database's interfaces (the file, the class or "-", the flags, the
    // enumerator or "-"), then the class listed and the cbSize its data gives.
    calls["SetupDiEnumDeviceInterfaces"] = [](const Input& in) {
        zntr::platform::ScopedDeviceDatabase database(DataFile(in[0]));
        const GUID setClass = in[1].IsNull() ? GUID_NULL : in[1].Guid(), listed = in[4].Guid();
        const std::wstring enumerator = in[3].Wide();
        const HDEVINFO set = SetupDiGetClassDevsW(in[1].IsNull() ? nullptr : &setClass,
                                                  in[3].IsNull() ? nullptr : enumerator.c_str(),
                                                  nullptr, static_cast<DWORD>(in[2].Value()));
        if (set == INVALID_HANDLE_VALUE) {
            return Outcome{"INVALID_HANDLE_VALUE", LastError()};
        }
        std::string paths;
        SP_DEVICE_INTERFACE_DATA data{sizeof(data), {}, 0, 0};
        data.cbSize = static_cast<DWORD>(in.words.size() > 5 ? in[5].Value() : sizeof(data));
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &listed, i, &data); ++i) {
            paths += (paths.empty() ? "" : "; ") + PathAndName(set, data) +
                     (data.Flags & SPINT_ACTIVE ? "" : ", inactive");
        }
        const Outcome outcome{paths.empty() ? "none" : paths, LastError()};
        SetupDiDestroyDeviceInfoList(set);
        return outcome;
    };
    // The map, the name, the service; how many names went to the system's resolver.
    calls["getaddrinfo"] = [](const Input& in) {
        zntr::platform::ScopedNetworkSettings map({in[0].Bytes(), false});
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        const std::string name = in[1].Bytes();
        PADDRINFOA found = nullptr;
        const auto lookups = zntr::platform::GetNetworkCounters().systemLookups;
        const int status = getaddrinfo(name.c_str(), in[2].Bytes().c_str(), nullptr, &found);
        std::string addresses;  // each entry's address and port, in order
        for (const ADDRINFOA* entry = found; entry != nullptr; entry = entry->ai_next) {
            char text[64] = "?";
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
            if (entry->ai_family == AF_INET) {
                const unsigned host = ntohl(v4->sin_addr.s_addr);
                std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", host >> 24, host >> 16 & 0xFF,
                              host >> 8 & 0xFF, host & 0xFF, unsigned{ntohs(v4->sin_port)});
            } else if (entry->ai_family == AF_INET6) {
                const auto* v6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
                static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0,
                                                            0, 0, 0, 0, 0, 0, 0, 1};
                const bool loopback = std::memcmp(&v6->sin6_addr, kLoopback, 16) == 0;
                std::snprintf(text, sizeof(text), "[%s]:%u", loopback ? "::1" : "IPv6",
                              unsigned{ntohs(v6->sin6_port)});
            }
            addresses += (addresses.empty() ? "" : " then ") + std::string(text);
        }
        const Outcome outcome{
            (status != 0 ? Name("error", status) : addresses) + ", " +
                std::to_string(zntr::platform::GetNetworkCounters().systemLookups - lookups) +
                " sent to the resolver",
            status == 0 ? "-" : LastError()};
        freeaddrinfo(found);
        WSACleanup();
        return outcome;
    };
#endif
    return calls;
}

std::vector<std::string> Check(const TableRow& row) {
    static auto calls = Calls();
    std::string skip;
#if defined(_WIN32)
    // Wine's ntdll exports its version; Windows' has no such function.
    skip = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") && row[3] != "-"
               ? "Wine differs: " + row[3]
           : calls.count(row[0]) ? ""
                                 : "a control of the stand-in, which Windows lacks";
#endif
    if (!skip.empty()) {
        [&] { GTEST_SKIP() << skip; }();
        return {row[4], row[5]};
    }
    try {
        const Input input = Parse(row[1]);
        SetLastError(kUntouched);
        errno = 0;
        const Outcome outcome =
            calls.count(row[0]) ? calls[row[0]](input) : throw std::invalid_argument("no call");
        return {outcome.result, outcome.error};
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what();
        return {};
    }
}

}  // namespace
}  // namespace zntr::test

int main(int argc, char** argv) {
    using namespace zntr::test;
    testing::InitGoogleTest(&argc, argv);
    const std::filesystem::path folder = ZNTR_PLATFORM_DATA;
    for (const TableRow& row : ReadTable(folder / "names.table").rows) {
        gValues[row[1]] = row[2];
        if (row[0] != "guid") {
            gNames.emplace(std::make_pair(row[0], Number(row[2])), row[1]);
        }
    }
    std::vector<std::filesystem::path> tables = FilesEndingIn(folder, ".table");
    std::erase(tables, folder / "names.table");
    RegisterTableRows("Conformance", tables, 4,
                      [](const Table&, const TableRow& row) { return Check(row); });
    return RUN_ALL_TESTS();
}
