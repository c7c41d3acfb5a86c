// MultiByteToWideChar and WideCharToMultiByte with the thread's ANSI code page, Windows-1252.
#include <gtest/gtest.h>

#include <string>

#include "standin/errhandlingapi.h"
#include "standin/stringapiset.h"
#include "standin/winerror.h"
#include "wine_quirks.h"

namespace {

TEST(CodePageTest, EveryByteConvertsAndConvertsBack) {
    for (int byte = 1; byte < 256; ++byte) {
        const char in = static_cast<char>(byte);
        wchar_t wide = 0;
        ASSERT_EQ(MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, &in, 1, &wide, 1), 1);
        char out = 0;
        BOOL usedDefault = TRUE;
        ASSERT_EQ(WideCharToMultiByte(CP_THREAD_ACP, 0, &wide, 1, &out, 1, nullptr, &usedDefault),
                  1);
        EXPECT_EQ(out, in) << "byte " << byte;
        EXPECT_FALSE(usedDefault);
    }
}

TEST(CodePageTest, Windows1252MapsTheHighControlRange) {
    const struct {
        unsigned char byte;
        wchar_t wide;
    } cases[] = {{0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x9F, 0x0178},
                 {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0x24, L'$'},   {0x7F, 0x007F}};
    for (const auto& c : cases) {
        const char in = static_cast<char>(c.byte);
        wchar_t wide = 0;
        MultiByteToWideChar(CP_ACP, 0, &in, 1, &wide, 1);
        EXPECT_EQ(wide, c.wide) << std::hex << int(c.byte);
    }
}

TEST(CodePageTest, LengthMinusOneIncludesTheTerminator) {
    wchar_t wide[8] = {L'x', L'x', L'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "", -1, wide, 8), 1);
    EXPECT_EQ(wide[0], L'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "$GP", -1, nullptr, 0), 4)
        << "a size query counts the terminator";
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "$GP", -1, wide, 8), 4);
    EXPECT_EQ(std::wstring(wide), L"$GP");
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "abc", 2, wide, 8), 2)
        << "a positive length converts exactly that many bytes";
}

TEST(CodePageTest, InvalidCallsFailWithTheirLastError) {
    wchar_t wide[4];
    char narrow[4];
    struct Case {
        int result;
        DWORD error;
        const char* legend;
        bool wineTakesIt = false;  // Wine converts where Windows refuses
    };
    SetLastError(0);
    const Case cases[] = {
        {MultiByteToWideChar(CP_THREAD_ACP, 0, "abc", 0, wide, 4), ERROR_INVALID_PARAMETER,
         "zero source length"},
        {MultiByteToWideChar(CP_THREAD_ACP, 0, nullptr, -1, wide, 4), ERROR_INVALID_PARAMETER,
         "null source"},
        {MultiByteToWideChar(CP_THREAD_ACP, 0, "abc", -1, nullptr, 4), ERROR_INVALID_PARAMETER,
         "null buffer with a size"},
        {MultiByteToWideChar(CP_THREAD_ACP, 0, "abcdef", -1, wide, 4), ERROR_INSUFFICIENT_BUFFER,
         "buffer too small"},
        {MultiByteToWideChar(CP_THREAD_ACP, 0x100, "abc", -1, wide, 4), ERROR_INVALID_FLAGS,
         "unknown flag"},
        {WideCharToMultiByte(CP_THREAD_ACP, 0, L"abcdef", -1, narrow, 4, nullptr, nullptr),
         ERROR_INSUFFICIENT_BUFFER, "narrow buffer too small"},
        {WideCharToMultiByte(CP_THREAD_ACP, WC_ERR_INVALID_CHARS, L"a", -1, narrow, 4, nullptr,
                             nullptr),
         ERROR_INVALID_FLAGS, "WC_ERR_INVALID_CHARS is for UTF-8 only", true},
    };
    for (const Case& c : cases) {
        if (c.wineTakesIt && zntr::test::RunningUnderWine()) {
            continue;
        }
        EXPECT_EQ(c.result, 0) << c.legend;
    }
    // Each failing call replaced the last error; check them one at a time.
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "abc", 0, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "abcdef", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0x100, "abc", -1, wide, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(CodePageTest, UnmappableCharactersBecomeTheDefaultCharacter) {
    char narrow[4] = {};
    BOOL usedDefault = FALSE;
    EXPECT_EQ(
        WideCharToMultiByte(CP_THREAD_ACP, 0, L"a\u4E2Db", 3, narrow, 4, nullptr, &usedDefault), 3);
    EXPECT_EQ(std::string(narrow, 3), "a?b");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(WideCharToMultiByte(CP_THREAD_ACP, 0, L"\u4E2D", 1, narrow, 4, "#", nullptr), 1);
    EXPECT_EQ(narrow[0], '#');
}

}  // namespace

namespace {

std::wstring FromUtf8(const std::string& text, DWORD flags = 0) {
    const int count =
        MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    if (count > 0) {
        MultiByteToWideChar(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                            count);
    }
    return wide;
}

std::string ToUtf8(const std::wstring& wide, DWORD flags = 0) {
    const int count = WideCharToMultiByte(
        CP_UTF8, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(count), '\0');
    if (count > 0) {
        WideCharToMultiByte(CP_UTF8, flags, wide.data(), static_cast<int>(wide.size()), text.data(),
                            count, nullptr, nullptr);
    }
    return text;
}

TEST(Utf8CodePageTest, ConvertsBothWaysAndReplacesInvalidInput) {
    EXPECT_EQ(FromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), L"caf\u00E9 \u20AC \U0001F600")
        << "one WCHAR per character, also beyond the Basic Multilingual Plane";
    EXPECT_EQ(ToUtf8(L"caf\u00E9 \u20AC \U0001F600"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    // Wine replaces an encoded surrogate or a character beyond U+10FFFF with one U+FFFD fewer:
    // it takes the lead byte and the first continuation byte as one misfit.
    const struct {
        std::string text;
        std::wstring expected;
        const char* legend;
        bool wineDiffers = false;
    } invalid[] = {
        {"a\x80z", L"a\uFFFDz", "stray continuation byte"},
        {"\xC0\xAF", L"\uFFFD\uFFFD", "overlong form: each byte replaced"},
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD", "an encoded surrogate", true},
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD", "beyond U+10FFFF", true},
        {"\xE2\x82z", L"\uFFFDz", "cut short: one replacement, the next byte kept"},
    };
    for (const auto& c : invalid) {
        if (!c.wineDiffers || !zntr::test::RunningUnderWine()) {
            EXPECT_EQ(FromUtf8(c.text), c.expected) << c.legend;
        }
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.text.data(),
                                      static_cast<int>(c.text.size()), nullptr, 0),
                  0)
            << c.legend;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

TEST(Utf8CodePageTest, SurrogatesAndDefaultCharactersFollowWindows) {
    const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(ToUtf8(pair), "\xF0\x9F\x98\x80") << "a UTF-16 pair becomes its character";
    const std::wstring lone = {L'a', static_cast<wchar_t>(0xDC00), L'b'};
    EXPECT_EQ(ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b")
        << "a lone surrogate becomes U+FFFD";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 3, nullptr, 0,
                                  nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    BOOL used = FALSE;
    char out[8];
    // Wine ignores, for UTF-8, the default-character flag and the best-fit flag that Windows
    // refuses.
    if (!zntr::test::RunningUnderWine()) {
        EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, out, 8, nullptr, &used), 0)
            << "UTF-8 takes no default character";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(
            WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"a", 1, out, 8, nullptr, nullptr),
            0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    }
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", 1, out, 2, nullptr, nullptr), 0)
        << "three bytes do not fit in two";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
