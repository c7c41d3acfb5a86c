// Conformance of the registry stand-in over a .reg file of the test's own: the Windows behaviour
// of RegOpenKeyExA, RegQueryValueExA and RegCloseKey, and the .reg format as regedit writes it.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "loopback_tools.h"
#include "standin/errhandlingapi.h"
#include "standin/registry_control.h"
#include "standin/winreg.h"

namespace {

using zntr::platform::ScopedRegistryFile;
using zntr::test::TempFolder;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// regedit's export: UTF-16LE with a byte-order mark. The test texts are ASCII.
std::string Utf16(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (const char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

class RegistryTest : public ::testing::Test {
  protected:
    void Use(const std::string& bytes) {
        scoped_.reset();
        scoped_.emplace(folder_.Write("test.reg", bytes));
    }
    void TearDown() override {
        scoped_.reset();
        EXPECT_EQ(zntr::platform::CountOpenRegistryKeys(), 0u) << "a key was left open";
    }

    // The value's type and bytes, read through an opened key; the status when it fails.
    struct Read {
        LSTATUS status = ERROR_SUCCESS;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    Read ReadValue(const char* key, const char* name) {
        Read result;
        HKEY hKey = nullptr;
        result.status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &hKey);
        if (result.status != ERROR_SUCCESS) {
            return result;
        }
        DWORD size = 0;
        result.status = RegQueryValueExA(hKey, name, nullptr, &result.type, nullptr, &size);
        if (result.status == ERROR_SUCCESS) {
            result.data.resize(size);
            result.status =
                RegQueryValueExA(hKey, name, nullptr, &result.type, result.data.data(), &size);
        }
        RegCloseKey(hKey);
        return result;
    }
    DWORD ReadDword(const char* key, const char* name) {
        const Read read = ReadValue(key, name);
        DWORD value = 0;
        EXPECT_EQ(read.status, ERROR_SUCCESS) << name;
        EXPECT_EQ(read.type, REG_DWORD) << name;
        if (read.data.size() == sizeof(value)) {
            std::memcpy(&value, read.data.data(), sizeof(value));
        }
        return value;
    }

    TempFolder folder_;
    std::optional<ScopedRegistryFile> scoped_;
};

TEST_F(RegistryTest, WithoutAFileTheRegistryIsEmpty) {
    struct Row {
        const char* legend;
        std::optional<std::string> path;
    };
    const Row rows[] = {
        {"no file chosen", std::nullopt},
        {"a file that does not exist", std::string("/nonexistent/settings.reg")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ScopedRegistryFile scoped(row.path);
        HKEY hKey = reinterpret_cast<HKEY>(this);
        SetLastError(12345);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &hKey),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(hKey, nullptr);
        // The error is returned, not set as the thread's last error.
        EXPECT_EQ(GetLastError(), 12345u);
    }
}

TEST_F(RegistryTest, TheEnvironmentNamesTheFileUnlessTheProgramChooses) {
    const std::string path =
        folder_.Write("environment.reg",
                      std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\FromEnvironment]\r\n");
    ASSERT_EQ(setenv("ZNTR_REGISTRY", path.c_str(), 1), 0);
    zntr::platform::UseEnvironmentRegistryFile();
    EXPECT_EQ(zntr::platform::CurrentRegistryFile(), path);
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\FromEnvironment", 0, KEY_READ, &hKey),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    {
        ScopedRegistryFile none(std::nullopt);
        EXPECT_EQ(
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\FromEnvironment", 0, KEY_READ, &hKey),
            ERROR_FILE_NOT_FOUND);
    }
    ASSERT_EQ(unsetenv("ZNTR_REGISTRY"), 0);
    EXPECT_EQ(zntr::platform::CurrentRegistryFile(), std::nullopt);
}

// Keys: names compare without regard to case, one trailing backslash is taken, parents of a
// section's key exist, and an opened key opens its sub-keys.
TEST_F(RegistryTest, KeysAreFoundAsWindowsFindsThem) {
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zentrova\\ZADOdizEzud]\r\n" +
        "\"EnableLog\"=dword:00000001\r\n");
    struct Row {
        const char* legend;
        const char* subKey;
        LSTATUS expected;
    };
    const Row rows[] = {
        {"the key as written", "SOFTWARE\\Zentrova\\ZADOdizEzud", ERROR_SUCCESS},
        {"with a trailing backslash", "SOFTWARE\\Zentrova\\ZADOdizEzud\\", ERROR_SUCCESS},
        {"in another case", "software\\ZENTROVA\\zadodizezud", ERROR_SUCCESS},
        {"a parent the section creates", "SOFTWARE\\Zentrova", ERROR_SUCCESS},
        {"a missing key", "SOFTWARE\\Zentrova\\Other", ERROR_FILE_NOT_FOUND},
        {"a longer path", "SOFTWARE\\Zentrova\\ZADOdizEzud\\Deeper", ERROR_FILE_NOT_FOUND},
        {"the root itself", "", ERROR_SUCCESS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        HKEY hKey = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.subKey, 0, KEY_READ, &hKey), row.expected);
        EXPECT_EQ(hKey != nullptr, row.expected == ERROR_SUCCESS);
        if (hKey != nullptr) {
            EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
        }
    }
    // The same key under another root is another key.
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Zentrova", 0, KEY_READ, &hKey),
              ERROR_FILE_NOT_FOUND);

    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zentrova", 0, KEY_READ, &parent),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, "ZADOdizEzud", 0, KEY_READ, &child), ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(RegQueryValueExA(child, "EnableLog", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=dword:00000001\r\n");
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "A", 0, KEY_READ, &hKey),
              ERROR_INVALID_HANDLE);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    DWORD reserved = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(
        RegQueryValueExA(hKey, "V", &reserved, nullptr, reinterpret_cast<LPBYTE>(&value), &size),
        ERROR_INVALID_PARAMETER)
        << "the reserved pointer must be null";
    EXPECT_EQ(
        RegQueryValueExA(hKey, "V", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), nullptr),
        ERROR_INVALID_PARAMETER)
        << "data without a size";
    EXPECT_EQ(RegQueryValueExA(hKey, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_EQ(RegQueryValueExA(hKey, "V", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "a predefined key";
}

// A buffer that is too small gets ERROR_MORE_DATA with the size needed, and no data at all gets
// the size with ERROR_SUCCESS.
TEST_F(RegistryTest, TheSizeIsReportedAndASmallBufferGetsMoreData) {
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n" +
        "\"Count\"=dword:0000002a\r\n\"Text\"=\"hello\"\r\n");
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(hKey, "Count", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);

    BYTE small[2] = {0xEE, 0xEE};
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueExA(hKey, "Count", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);

    // The A function hands text out in the ANSI code page, its terminator counted.
    char text[16];
    size = sizeof(text);
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    EXPECT_STREQ(text, "hello");
    size = 5;
    EXPECT_EQ(RegQueryValueExA(hKey, "Text", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegCloseKey(hKey), ERROR_SUCCESS);
}

// An opened key keeps what the file said when it was opened; the next open reads the file again.
TEST_F(RegistryTest, AnOpenedKeyIsASnapshotAndEachOpenReadsTheFileAgain) {
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=dword:00000001\r\n");
    HKEY before = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\A", 0, KEY_READ, &before),
              ERROR_SUCCESS);
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=dword:00000002\r\n");
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(
        RegQueryValueExA(before, "V", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(ReadDword("SOFTWARE\\A", "V"), 2u);
    EXPECT_EQ(RegCloseKey(before), ERROR_SUCCESS);
}

// The value forms of the format, each with the type and bytes it gives.
TEST_F(RegistryTest, ValueFormsGiveTheirTypesAndBytes) {
    Use(std::string(kHeader) + "; a comment line\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Forms]\r\n" + "\"Number\"=dword:DEADbeef\r\n" +
        "\"Text\"=\"say \\\"hi\\\" \\\\ there\"\r\n" + "@=\"the default\"\r\n" +
        "\"Bytes\"=hex:01,02,ff\r\n" + "\"Empty\"=hex:\r\n" +
        "\"Quad\"=hex(b):01,00,00,00,00,00,00,80\r\n" +
        "\"Long\"=hex:00,01,02,03,\\\r\n  04,05\r\n" +
        "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n" +
        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n");
    struct Row {
        const char* legend;
        const char* name;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    const std::vector<Row> rows = {
        {"dword, hex digits of either case", "Number", REG_DWORD, {0xEF, 0xBE, 0xAD, 0xDE}},
        {"text with escapes, terminator counted",
         "Text",
         REG_SZ,
         {'s', 'a', 'y', ' ', '"', 'h', 'i', '"', ' ', '\\', ' ', 't', 'h', 'e', 'r', 'e', 0}},
        {"the default value, @",
         "",
         REG_SZ,
         {'t', 'h', 'e', ' ', 'd', 'e', 'f', 'a', 'u', 'l', 't', 0}},
        {"binary", "Bytes", REG_BINARY, {0x01, 0x02, 0xFF}},
        {"empty binary", "Empty", REG_BINARY, {}},
        {"hex(b) is a 64-bit number", "Quad", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80}},
        {"a hex list continued on the next line", "Long", REG_BINARY, {0, 1, 2, 3, 4, 5}},
        {"hex(2) UTF-16LE text, in ANSI for the A function",
         "Expand",
         REG_EXPAND_SZ,
         {'%', 'A', '%', 0}},
        {"hex(7) UTF-16LE list, in ANSI for the A function",
         "Multi",
         REG_MULTI_SZ,
         {'a', 0, 'b', 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const Read read = ReadValue("SOFTWARE\\Forms", row.name);
        EXPECT_EQ(read.status, ERROR_SUCCESS);
        EXPECT_EQ(read.type, row.type);
        EXPECT_EQ(read.data, row.bytes);
    }
}

// Sections and deletions apply in order, as an import does.
TEST_F(RegistryTest, DeletionsApplyInTheOrderOfTheFile) {
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\r\n" +
        "\"Gone\"=dword:00000001\r\n\"Stays\"=dword:00000002\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Drop\\Child]\r\n\"V\"=dword:00000003\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\r\n\"Gone\"=-\r\n" +
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Drop]\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\r\n\"V\"=dword:00000004\r\n" +
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\r\n" +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\r\n\"W\"=dword:00000005\r\n");
    EXPECT_EQ(ReadValue("SOFTWARE\\Keep", "Gone").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadDword("SOFTWARE\\Keep", "Stays"), 2u);
    EXPECT_EQ(ReadValue("SOFTWARE\\Drop", "V").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadValue("SOFTWARE\\Drop\\Child", "V").status, ERROR_FILE_NOT_FOUND)
        << "a deleted key goes with its sub-keys";
    EXPECT_EQ(ReadValue("SOFTWARE\\Back", "V").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadDword("SOFTWARE\\Back", "W"), 5u) << "created again after its deletion";
}

// Both headers and both encodings; a file that does not parse is an empty registry.
TEST_F(RegistryTest, HeadersEncodingsAndFilesThatDoNotParse) {
    const std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=dword:00000007\r\n";
    struct Row {
        const char* legend;
        std::string file;
        bool parses;
    };
    const std::vector<Row> rows = {
        {"version 5.00, plain text", kHeader + body, true},
        {"version 5.00, UTF-16LE with a byte-order mark", Utf16(kHeader + body), true},
        {"REGEDIT4", "REGEDIT4\r\n\r\n" + body, true},
        {"line feeds without carriage returns",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n"
         "\"V\"=dword:00000007\n",
         true},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + std::string(kHeader) + body, true},
        {"no header", body, false},
        {"a dword of seven digits",
         kHeader + std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n") + "\"V\"=dword:0000007\r\n",
         false},
        {"a dword with 0x",
         kHeader + std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n") +
             "\"V\"=dword:0x000007\r\n",
         false},
        {"an unknown root", kHeader + std::string("[HKEY_NOWHERE\\SOFTWARE\\A]\r\n"), false},
        {"a value before any key", kHeader + std::string("\"V\"=dword:00000007\r\n"), false},
        {"an unterminated text",
         kHeader + std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n") + "\"V\"=\"open\r\n",
         false},
        {"a section without its bracket",
         kHeader + std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\r\n"), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Use(row.file);
        const Read read = ReadValue("SOFTWARE\\A", "V");
        if (row.parses) {
            EXPECT_EQ(read.status, ERROR_SUCCESS);
            EXPECT_EQ(read.data, (std::vector<BYTE>{7, 0, 0, 0}));
        } else {
            EXPECT_EQ(read.status, ERROR_FILE_NOT_FOUND);
        }
    }
}

}  // namespace
