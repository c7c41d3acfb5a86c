#include "nmea_text.h"

std::wstring AnsiTextToWide(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::wstring();
    }
    const int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (count <= 1) {
        return std::wstring();
    }
    // The count includes the terminating NUL, which lands in the string's own terminator.
    std::wstring wide(static_cast<size_t>(count - 1), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), count) != count) {
        return std::wstring();
    }
    return wide;
}
