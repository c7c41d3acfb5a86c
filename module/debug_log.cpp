#include "debug_log.h"

INT gEnableLog = 0;

namespace {

constexpr size_t kLogBufferSize = 1024;

// Appends text to a bounded, always terminated buffer; what does not fit is cut.
class cMessageWriter {
  public:
    cMessageWriter(char* buffer, size_t size) : mBuffer(buffer), mSize(size) { mBuffer[0] = '\0'; }

    void Append(const char* text, size_t length) {
        const size_t room = mSize - 1 - mLength;
        if (length > room) {
            length = room;
        }
        memcpy(mBuffer + mLength, text, length);
        mLength += length;
        mBuffer[mLength] = '\0';
    }
    void Append(const char* text) { Append(text, strlen(text)); }
    size_t Length() const { return mLength; }

  private:
    char* mBuffer;
    size_t mSize;
    size_t mLength = 0;
};

// One conversion directive, rebuilt without its length modifier so that the argument can
// be fetched with the Windows meaning of the modifier and formatted with one C call.
struct cConversion {
    char mPrefix[48] = "%";  // "%", flags, width, precision
    size_t mPrefixLength = 1;
    bool mValid = true;
    char mLength[4] = "";  // "", "hh", "h", "l", "ll", "L", "z", "j", "t", "w", "I", "I32", "I64"
    char mType = '\0';

    void AddToPrefix(char c) {
        if (mPrefixLength + 1 >= sizeof(mPrefix)) {
            mValid = false;
            return;
        }
        mPrefix[mPrefixLength++] = c;
        mPrefix[mPrefixLength] = '\0';
    }
    void AddNumber(int value) {
        char digits[16];
        snprintf(digits, sizeof(digits), "%d", value);
        for (const char* d = digits; *d != '\0'; ++d) {
            AddToPrefix(*d);
        }
    }
    bool LengthIs(const char* length) const { return strcmp(mLength, length) == 0; }
    bool WideText() const { return LengthIs("l") || LengthIs("w") || mType == 'S' || mType == 'C'; }
    // Windows is LLP64: "l" means 32 bits; 64-bit integers are "ll", "I64" (and "I", "z", "j",
    // "t" on a 64-bit target).
    bool Wide64() const {
        return LengthIs("ll") || LengthIs("I64") || LengthIs("I") || LengthIs("z") ||
               LengthIs("j") || LengthIs("t");
    }
};

// Reads the conversion that starts at p (just after the "%"), fetching any "*" width or
// precision from args. Returns the character after it.
const char* ParseConversion(const char* p, cConversion& conversion, va_list& args) {
    while (*p != '\0' && strchr("-+ #0", *p) != nullptr) {
        conversion.AddToPrefix(*p++);
    }
    if (*p == '*') {
        conversion.AddNumber(va_arg(args, int));
        ++p;
    } else {
        while (*p >= '0' && *p <= '9') {
            conversion.AddToPrefix(*p++);
        }
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            const int precision = va_arg(args, int);
            ++p;
            // A negative precision counts as none.
            if (precision >= 0) {
                conversion.AddToPrefix('.');
                conversion.AddNumber(precision);
            }
        } else {
            conversion.AddToPrefix('.');
            while (*p >= '0' && *p <= '9') {
                conversion.AddToPrefix(*p++);
            }
        }
    }
    static const char* const kLengths[] = {"I64", "I32", "hh", "ll", "h", "l",
                                           "L",   "z",   "j",  "t",  "w", "I"};
    for (const char* length : kLengths) {
        const size_t n = strlen(length);
        if (strncmp(p, length, n) == 0) {
            memcpy(conversion.mLength, length, n + 1);
            p += n;
            break;
        }
    }
    conversion.mType = *p;
    return *p != '\0' ? p + 1 : p;
}

// Formats one argument with the rebuilt directive plus the given length and type letters.
template <typename T>
void FormatArgument(cMessageWriter& writer, const cConversion& conversion,
                    const char* lengthAndType, T value) {
    char format[64];
    snprintf(format, sizeof(format), "%s%s", conversion.mPrefix, lengthAndType);
    char text[kLogBufferSize];
    const int written = snprintf(text, sizeof(text), format, value);
    if (written > 0) {
        writer.Append(text, strnlen(text, sizeof(text)));
    }
}

void FormatWideString(cMessageWriter& writer, const cConversion& conversion, const wchar_t* text) {
    if (text == nullptr) {
        FormatArgument(writer, conversion, "s", "(null)");
        return;
    }
    // Characters beyond what the buffer can show are never printed, so convert at most that many.
    char narrow[kLogBufferSize];
    const size_t length = std::min(wcslen(text), kLogBufferSize - 1);
    int converted = 0;
    if (length > 0) {
        converted = WideCharToMultiByte(CP_THREAD_ACP, 0, text, static_cast<int>(length), narrow,
                                        static_cast<int>(sizeof(narrow) - 1), nullptr, nullptr);
    }
    narrow[converted > 0 ? converted : 0] = '\0';
    FormatArgument(writer, conversion, "s", static_cast<const char*>(narrow));
}

void FormatConversion(cMessageWriter& writer, const cConversion& conversion, va_list& args) {
    switch (conversion.mType) {
        case 'd':
        case 'i':
            if (conversion.Wide64()) {
                FormatArgument(writer, conversion, "lld", va_arg(args, long long));
            } else if (conversion.LengthIs("hh")) {
                FormatArgument(writer, conversion, "d",
                               static_cast<signed char>(va_arg(args, int)));
            } else if (conversion.LengthIs("h")) {
                FormatArgument(writer, conversion, "d", static_cast<short>(va_arg(args, int)));
            } else {
                FormatArgument(writer, conversion, "d", va_arg(args, int));
            }
            return;
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            const char type[4] = {'l', 'l', conversion.mType, '\0'};
            if (conversion.Wide64()) {
                FormatArgument(writer, conversion, type, va_arg(args, unsigned long long));
            } else {
                unsigned value = va_arg(args, unsigned);
                if (conversion.LengthIs("hh")) {
                    value = static_cast<unsigned char>(value);
                } else if (conversion.LengthIs("h")) {
                    value = static_cast<unsigned short>(value);
                }
                FormatArgument(writer, conversion, type + 2, value);
            }
            return;
        }
        case 'c':
        case 'C':
            if (conversion.WideText()) {
                // A wide character reaches "..." promoted: Windows' 16-bit wint_t as an int.
                using PromotedWint = decltype(+wint_t{});
                const wchar_t wide[2] = {static_cast<wchar_t>(va_arg(args, PromotedWint)), L'\0'};
                char narrow = '?';
                WideCharToMultiByte(CP_THREAD_ACP, 0, wide, 1, &narrow, 1, nullptr, nullptr);
                FormatArgument(writer, conversion, "c", static_cast<int>(narrow));
            } else {
                FormatArgument(writer, conversion, "c", va_arg(args, int));
            }
            return;
        case 's':
        case 'S':
            if (conversion.WideText()) {
                FormatWideString(writer, conversion, va_arg(args, const wchar_t*));
            } else {
                const char* text = va_arg(args, const char*);
                FormatArgument(writer, conversion, "s", text != nullptr ? text : "(null)");
            }
            return;
        case 'p': {
            // Windows prints a pointer as 16 upper-case hexadecimal digits, with no "0x".
            char digits[24];
            snprintf(
                digits, sizeof(digits), "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
            FormatArgument(writer, conversion, "s", static_cast<const char*>(digits));
            return;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            const char type[3] = {conversion.mType, '\0'};
            if (conversion.LengthIs("L")) {
                const char longType[3] = {'L', conversion.mType, '\0'};
                FormatArgument(writer, conversion, longType, va_arg(args, long double));
            } else {
                FormatArgument(writer, conversion, type, va_arg(args, double));
            }
            return;
        }
        case 'n':
            // Writing through %n is disabled in the Windows C runtime; the pointer is consumed
            // and nothing is stored.
            (void)va_arg(args, void*);
            return;
        default:
            return;
    }
}

}  // namespace

size_t FormatDebugMessage(char* buffer, size_t size, const char* format, va_list args) {
    cMessageWriter writer(buffer, size);
    if (format == nullptr) {
        return 0;
    }
    va_list rest;
    va_copy(rest, args);
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            const char* next = strchr(p, '%');
            const size_t run = next != nullptr ? static_cast<size_t>(next - p) : strlen(p);
            writer.Append(p, run);
            p += run;
            continue;
        }
        if (p[1] == '%') {
            writer.Append("%", 1);
            p += 2;
            continue;
        }
        if (strncmp(p, "%!hresult!", 10) == 0) {
            char text[16];
            snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(va_arg(rest, HRESULT)));
            writer.Append(text);
            p += 10;
            continue;
        }
        if (strncmp(p, "%!bool!", 7) == 0) {
            writer.Append(va_arg(rest, BOOL) ? "TRUE" : "FALSE");
            p += 7;
            continue;
        }
        cConversion conversion;
        const char* end = ParseConversion(p + 1, conversion, rest);
        if (!conversion.mValid || strchr("diouxXcCsSpeEfFgGaAn", conversion.mType) == nullptr ||
            conversion.mType == '\0') {
            // Not a conversion this formatter knows: shown as written, no argument taken.
            writer.Append(p, static_cast<size_t>(end - p));
        } else {
            FormatConversion(writer, conversion, rest);
        }
        p = end;
    }
    va_end(rest);
    return writer.Length();
}

void DebugLog(const char* format, ...) {
    if (gEnableLog <= 0) {
        return;
    }
    char buffer[kLogBufferSize];
    memset(buffer, 0, sizeof(buffer));
    va_list args;
    va_start(args, format);
    FormatDebugMessage(buffer, sizeof(buffer), format, args);
    va_end(args);
    OutputDebugStringA(buffer);
}
