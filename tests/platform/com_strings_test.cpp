// GUIDs as text, new GUIDs, task memory, counted strings and the shell's string copy, as
// Windows gives them.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "com_test_support.h"
#include "standin/oleauto.h"
#include "standin/shlwapi.h"
#include "wine_quirks.h"

namespace {

using zntr::platform::TaskMemory;

constexpr GUID kGuid = {
    0x0C15D503, 0xD017, 0x47CE, {0x90, 0x16, 0x7B, 0x3F, 0x97, 0x87, 0x21, 0xCC}};

TEST(GuidTextTest, StringFromCLSIDWritesTheBracedUpperCaseFormInTaskMemory) {
    TaskMemory<OLECHAR> text;
    ASSERT_EQ(StringFromCLSID(kGuid, text.put()), S_OK);
    EXPECT_EQ(std::wstring(text.get()), L"{0C15D503-D017-47CE-9016-7B3F978721CC}");
    EXPECT_EQ(std::wcslen(text.get()), 38u);
}

TEST(GuidTextTest, StringFromGUID2CountsTheNulAndNeedsRoomForIt) {
    wchar_t text[39];
    EXPECT_EQ(StringFromGUID2(kGuid, text, 39), 39);
    EXPECT_EQ(std::wstring(text), L"{0C15D503-D017-47CE-9016-7B3F978721CC}");
    EXPECT_EQ(StringFromGUID2(kGuid, text, 38), 0) << "no room for the NUL";
}

TEST(GuidTextTest, CLSIDFromStringReadsOnlyTheBracedForm) {
    struct Case {
        const char* legend;
        const wchar_t* text;
        HRESULT expected;
        GUID result;
    };
    const Case cases[] = {
        {"upper case", L"{0C15D503-D017-47CE-9016-7B3F978721CC}", S_OK, kGuid},
        {"lower case", L"{0c15d503-d017-47ce-9016-7b3f978721cc}", S_OK, kGuid},
        {"a null text is CLSID_NULL", nullptr, S_OK, CLSID_NULL},
        {"no braces (would be a ProgID)", L"0C15D503-D017-47CE-9016-7B3F978721CC", CO_E_CLASSSTRING,
         CLSID_NULL},
        {"a character after the brace", L"{0C15D503-D017-47CE-9016-7B3F978721CC}x",
         CO_E_CLASSSTRING, CLSID_NULL},
        {"a digit that is no hex digit", L"{0C15D503-D017-47CE-9016-7B3F978721CG}",
         CO_E_CLASSSTRING, CLSID_NULL},
        {"a dash out of place", L"{0C15D503D-017-47CE-9016-7B3F978721CC}", CO_E_CLASSSTRING,
         CLSID_NULL},
        {"too short", L"{0C15D503-D017-47CE-9016-7B3F978721C}", CO_E_CLASSSTRING, CLSID_NULL},
        {"empty", L"", CO_E_CLASSSTRING, CLSID_NULL},
    };
    for (const Case& c : cases) {
        GUID result = kGuid;
        EXPECT_EQ(CLSIDFromString(c.text, &result), c.expected) << c.legend;
        // Wine leaves in the result what it read before the misfit.
        if (c.expected == S_OK || !zntr::test::RunningUnderWine()) {
            EXPECT_TRUE(IsEqualGUID(result, c.result)) << c.legend;
        }
    }
    EXPECT_EQ(CLSIDFromString(L"{0C15D503-D017-47CE-9016-7B3F978721CC}", nullptr), E_INVALIDARG);
}

TEST(CoCreateGuidTest, MakesDistinctVersion4GuidsThatSurviveTheTextForm) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 1000; ++i) {
        GUID guid;
        ASSERT_EQ(CoCreateGuid(&guid), S_OK);
        EXPECT_EQ(guid.Data3 >> 12, 4) << "version 4";
        EXPECT_EQ(guid.Data4[0] & 0xC0, 0x80) << "RFC 4122 variant";
        TaskMemory<OLECHAR> text;
        ASSERT_EQ(StringFromCLSID(guid, text.put()), S_OK);
        GUID back;
        ASSERT_EQ(CLSIDFromString(text.get(), &back), S_OK);
        EXPECT_TRUE(IsEqualGUID(back, guid));
        seen.insert(text.get());
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

TEST(TaskMemoryTest, ZeroBytesIsAValidDistinctBlockAndFreeingNullDoesNothing) {
    void* first = CoTaskMemAlloc(0);
    void* second = CoTaskMemAlloc(0);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(first, second);
    CoTaskMemFree(first);
    CoTaskMemFree(second);
    CoTaskMemFree(nullptr);
}

TEST(CountedStringTest, TheLengthPrefixHoldsTheByteCountAndTheTextIsTerminated) {
    BSTR text = SysAllocString(L"Zntr");
    ASSERT_NE(text, nullptr);
    DWORD prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<BYTE*>(text) - sizeof(DWORD), sizeof(prefix));
    EXPECT_EQ(prefix, 4 * sizeof(OLECHAR));
    EXPECT_EQ(SysStringLen(text), 4u);
    EXPECT_EQ(SysStringByteLen(text), 4 * sizeof(OLECHAR));
    EXPECT_EQ(std::wstring(text), L"Zntr");
    SysFreeString(text);

    BSTR empty = SysAllocString(L"");
    ASSERT_NE(empty, nullptr) << "an empty text is a zero-length string, not null";
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);

    BSTR zeroed = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(SysStringLen(zeroed), 3u);
    EXPECT_EQ(zeroed[0], L'\0');
    EXPECT_EQ(zeroed[3], L'\0');
    SysFreeString(zeroed);
}

TEST(SHStrDupWTest, CopiesIntoTaskMemoryAndClearsTheResultWhenRefusing) {
    TaskMemory<WCHAR> copy;
    const wchar_t source[] = L"ZntrVComLocation";
    ASSERT_EQ(SHStrDupW(source, copy.put()), S_OK);
    EXPECT_NE(copy.get(), source);
    EXPECT_EQ(std::wstring(copy.get()), source);

    LPWSTR refused = reinterpret_cast<LPWSTR>(0x1234);
    const HRESULT hr = SHStrDupW(nullptr, &refused);
    // Wine's shlwapi.dll answers E_OUTOFMEMORY, where Windows' forwards to shcore.dll, which
    // refuses the null text as E_INVALIDARG (Wine's shcore.dll does too).
    if (!zntr::test::RunningUnderWine()) {
        EXPECT_EQ(hr, E_INVALIDARG);
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(refused, nullptr);
}

}  // namespace
