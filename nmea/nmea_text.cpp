#include "nmea_text.h"

#include <cstring>

std::wstring AnsiTextToWide(const char* text) {
    std::wstring wide;
    AnsiTextToWide(text, wide);
    return wide;
}

void AnsiTextToWide(const char* text, std::wstring& wide) {
    wide.clear();
    if (text == nullptr || *text == '\0') {
        return;
    }
    // ASCII, the usual text, is the same in every ANSI code page: widened byte by byte, in the
    // same pass that looks for any other byte.
    const size_t length = std::strlen(text);
    wide.resize(length);
    WCHAR* const out = wide.data();
    unsigned all = 0;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        all |= c;
        out[i] = c;
    }
    if (all < 0x80) {
        return;
    }
    wide.clear();
    const int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (count <= 1) {
        return;
    }
    // The count includes the terminating NUL, which lands in the string's own terminator.
    wide.resize(static_cast<size_t>(count - 1));
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), count) != count) {
        wide.clear();
    }
}
