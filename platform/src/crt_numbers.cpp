#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

#include <locale.h>

#include "standin/crt.h"

namespace {

// The six characters C's isspace accepts in the "C" locale.
constexpr bool IsCSpace(std::uint32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char>
constexpr std::uint32_t Code(Char c) {
    return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
}

template <typename Char>
const Char* SkipSpace(const Char* s) {
    while (IsCSpace(Code(*s))) {
        ++s;
    }
    return s;
}

// Value of c as a digit in bases up to 36, or 99 for a character that is no digit.
constexpr unsigned DigitValue(std::uint32_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

// The integer scan shared by atoi, atol, strtol, _wtoi and _wtol: [space][sign][0x]digits.
// Returns the value clamped to [min, max]; sets errno to ERANGE when it clamps. *end is where
// the scan stopped, or the start of the text when no digit was read.
template <typename Char>
std::int64_t ScanInteger(const Char* text, const Char** end, int base, std::int64_t min,
                         std::int64_t max) {
    const Char* p = SkipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // A "0x" prefix counts only when a hexadecimal digit follows it. Without one, base 16
    // converts nothing, and base 0 reads the "0" alone as an octal number.
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        if (DigitValue(Code(p[2])) < 16) {
            p += 2;
            base = 16;
        } else if (base == 16) {
            *end = text;
            return 0;
        }
    }
    if (base == 0) {
        base = (p[0] == '0') ? 8 : 10;
    }

    const std::uint64_t limit =
        negative ? static_cast<std::uint64_t>(-(min + 1)) + 1 : static_cast<std::uint64_t>(max);
    std::uint64_t value = 0;
    bool overflow = false;
    const Char* digits = p;
    for (unsigned d; (d = DigitValue(Code(*p))) < static_cast<unsigned>(base); ++p) {
        if (!overflow) {
            value = value * static_cast<unsigned>(base) + d;
            overflow = value > limit;
        }
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow) {
        errno = ERANGE;
        return negative ? min : max;
    }
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

template <typename Char>
std::int64_t ScanDecimal(const Char* text, std::int64_t min, std::int64_t max) {
    if (text == nullptr) {
        errno = EINVAL;
        return 0;
    }
    const Char* end = nullptr;
    return ScanInteger(text, &end, 10, min, max);
}

constexpr std::int64_t kLongMin = std::numeric_limits<LONG>::min();
constexpr std::int64_t kLongMax = std::numeric_limits<LONG>::max();
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// The complete grammar (hexadecimal, inf, nan, long mantissas, large exponents) through the C
// library's correctly rounded reader in the "C" locale. No character outside ASCII can belong to
// a number, so the text is narrowed up to the first such character.
double ReadDoubleSlow(const wchar_t* text) {
    std::string narrow;
    for (const wchar_t* p = text; *p != 0 && Code(*p) < 0x80; ++p) {
        narrow.push_back(static_cast<char>(*p));
    }
    return strtod_l(narrow.c_str(), nullptr, CLocale());
}

}  // namespace

// Decimal numbers of up to 15 significant digits with a power of ten within 10^22 are read
// exactly: the mantissa and the power are both exact doubles, so one multiplication or division
// rounds correctly, giving the same bits as a correctly rounded reader. Everything else goes to
// the full reader.
extern "C" double _wtof(const wchar_t* str) {
    if (str == nullptr) {
        errno = EINVAL;
        return 0.0;
    }
    const wchar_t* start = SkipSpace(str);
    const wchar_t* p = start;
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = (*p == L'-');
        ++p;
    }
    const bool startsWithDigit = (*p >= L'0' && *p <= L'9');
    const bool startsWithPoint = (*p == L'.' && p[1] >= L'0' && p[1] <= L'9');
    const bool hexadecimal = (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X'));
    if (!(startsWithDigit || startsWithPoint) || hexadecimal) {
        return ReadDoubleSlow(start);
    }

    std::uint64_t mantissa = 0;
    int significant = 0;
    int exponent = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (mantissa == 0 && *p == L'0') {
            continue;
        }
        if (++significant > 15) {
            return ReadDoubleSlow(start);
        }
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - L'0');
    }
    if (*p == L'.') {
        for (++p; *p >= L'0' && *p <= L'9'; ++p) {
            --exponent;
            if (mantissa == 0 && *p == L'0') {
                continue;
            }
            if (++significant > 15) {
                return ReadDoubleSlow(start);
            }
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - L'0');
        }
    }
    if (*p == L'e' || *p == L'E') {
        const wchar_t* q = p + 1;
        bool negativeExponent = false;
        if (*q == L'+' || *q == L'-') {
            negativeExponent = (*q == L'-');
            ++q;
        }
        if (*q >= L'0' && *q <= L'9') {
            int written = 0;
            for (; *q >= L'0' && *q <= L'9'; ++q) {
                if (written < 100000) {
                    written = written * 10 + (*q - L'0');
                }
            }
            exponent += negativeExponent ? -written : written;
        }
    }
    if (mantissa == 0) {
        return negative ? -0.0 : 0.0;
    }
    if (exponent < -22 || exponent > 22) {
        return ReadDoubleSlow(start);
    }
    double value = static_cast<double>(mantissa);
    value = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
    return negative ? -value : value;
}

extern "C" LONG _wtol(const wchar_t* str) {
    return static_cast<LONG>(ScanDecimal(str, kLongMin, kLongMax));
}

extern "C" int _wtoi(const wchar_t* str) {
    return static_cast<int>(ScanDecimal(str, kIntMin, kIntMax));
}

extern "C" int zntr_crt_atoi(const char* str) {
    return static_cast<int>(ScanDecimal(str, kIntMin, kIntMax));
}

extern "C" LONG zntr_crt_strtol(const char* str, char** endptr, int base) {
    if (str == nullptr || base < 0 || base == 1 || base > 36) {
        errno = EINVAL;
        if (endptr != nullptr) {
            *endptr = const_cast<char*>(str);
        }
        return 0;
    }
    const char* end = str;
    const std::int64_t value = ScanInteger(str, &end, base, kLongMin, kLongMax);
    if (endptr != nullptr) {
        *endptr = const_cast<char*>(end);
    }
    return static_cast<LONG>(value);
}
