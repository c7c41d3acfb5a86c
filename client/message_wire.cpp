#include "message_wire.h"

#include <cstring>
#include <type_traits>

#include "standin/propidl.h"

namespace zntr::sensor_message::wire {
namespace {

constexpr std::size_t kGuidBytes = 16;
constexpr std::size_t kKeyBytes = kGuidBytes + 4;
constexpr std::size_t kVarTypeBytes = 2;
constexpr std::uint16_t kVariantTrue = 0xFFFF;  // VARIANT_TRUE, -1 in a 16-bit word
constexpr VARTYPE kVtBytes = VT_VECTOR | VT_UI1;

bool IsSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

}  // namespace

void Writer::U16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Writer::U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value));
    U16(static_cast<std::uint16_t>(value >> 16));
}

void Writer::U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value));
    U32(static_cast<std::uint32_t>(value >> 32));
}

void Writer::Guid(const GUID& guid) {
    U32(guid.Data1);
    U16(guid.Data2);
    U16(guid.Data3);
    bytes_.insert(bytes_.end(), guid.Data4, guid.Data4 + 8);
}

void Writer::Key(const PROPERTYKEY& key) {
    Guid(key.fmtid);
    U32(key.pid);
}

void Writer::Count(std::size_t count, std::uint32_t limit) {
    if (count > limit) {
        ok_ = false;
    }
    U32(static_cast<std::uint32_t>(count));
}

// wchar_t holds code points here; the wire holds UTF-16, so a code point above the basic plane
// becomes a surrogate pair. Text with a NUL in it could not travel as an LPWSTR, and a lone
// surrogate is no character at all: both are refused.
void Writer::Text(const std::wstring& text) {
    std::vector<std::uint16_t> units;
    units.reserve(text.size());
    for (const wchar_t c : text) {
        const auto point = static_cast<std::uint32_t>(c);
        if (point == 0 || IsSurrogate(point) || point > 0x10FFFF) {
            ok_ = false;
            return;
        }
        if (point < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(point));
        } else {
            const std::uint32_t above = point - 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (above >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (above & 0x3FF)));
        }
    }
    Count(units.size(), kMaxStringUnits);
    for (const std::uint16_t unit : units) {
        U16(unit);
    }
}

void Writer::Value(const sensor_message::Value& value) {
    U16(VarTypeOf(value));
    std::visit(
        [this](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>) {
                std::uint64_t bits;
                std::memcpy(&bits, &v, sizeof(bits));
                U64(bits);
            } else if constexpr (std::is_same_v<T, float>) {
                std::uint32_t bits;
                std::memcpy(&bits, &v, sizeof(bits));
                U32(bits);
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                U32(static_cast<std::uint32_t>(v));
            } else if constexpr (std::is_same_v<T, std::uint32_t>) {
                U32(v);
            } else if constexpr (std::is_same_v<T, std::wstring>) {
                Text(v);
            } else if constexpr (std::is_same_v<T, GUID>) {
                Guid(v);
            } else if constexpr (std::is_same_v<T, FileTime>) {
                U64(v.ticks);
            } else if constexpr (std::is_same_v<T, sensor_message::Bytes>) {
                Count(v.size(), kMaxByteVector);
                bytes_.insert(bytes_.end(), v.begin(), v.end());
            } else if constexpr (std::is_same_v<T, ErrorCode>) {
                U32(static_cast<std::uint32_t>(v.code));
            } else if constexpr (std::is_same_v<T, bool>) {
                U16(v ? kVariantTrue : 0);
            }
        },
        value);
}

void Writer::Keys(const std::vector<PROPERTYKEY>& keys) {
    Count(keys.size(), kMaxCollectionCount);
    for (const PROPERTYKEY& key : keys) {
        Key(key);
    }
}

void Writer::Values(const ValueList& values) {
    Count(values.size(), kMaxCollectionCount);
    for (const KeyedValue& entry : values) {
        Key(entry.key);
        Value(entry.value);
    }
}

void Writer::ValueLists(const std::vector<ValueList>& lists) {
    Count(lists.size(), kMaxValueListCount);
    for (const ValueList& list : lists) {
        Values(list);
    }
}

void Writer::Guids(const std::vector<GUID>& guids) {
    Count(guids.size(), kMaxCollectionCount);
    for (const GUID& guid : guids) {
        Guid(guid);
    }
}

const std::uint8_t* Reader::Take(std::size_t n) {
    if (failed_ || bytes_.size() - position_ < n) {
        failed_ = true;
        return nullptr;
    }
    const std::uint8_t* p = bytes_.data() + position_;
    position_ += n;
    return p;
}

std::uint16_t Reader::U16() {
    const std::uint8_t* p = Take(2);
    return p == nullptr ? 0 : static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Reader::U32() {
    const std::uint32_t low = U16();
    const std::uint32_t high = U16();
    return low | (high << 16);
}

std::uint64_t Reader::U64() {
    const std::uint64_t low = U32();
    const std::uint64_t high = U32();
    return low | (high << 32);
}

GUID Reader::Guid() {
    GUID guid{};
    guid.Data1 = U32();
    guid.Data2 = U16();
    guid.Data3 = U16();
    if (const std::uint8_t* p = Take(8)) {
        std::memcpy(guid.Data4, p, 8);
    }
    return guid;
}

PROPERTYKEY Reader::Key() {
    PROPERTYKEY key{};
    key.fmtid = Guid();
    key.pid = U32();
    return key;
}

std::uint32_t Reader::Count(std::uint32_t limit, std::size_t minimumBytes) {
    const std::uint32_t count = U32();
    if (failed_ || count > limit || count > Remaining() / minimumBytes) {
        failed_ = true;
        return 0;
    }
    return count;
}

std::wstring Reader::Text() {
    const std::uint32_t count = Count(kMaxStringUnits, 2);
    std::wstring text;
    text.reserve(count);
    for (std::uint32_t i = 0; i < count && !failed_; ++i) {
        const std::uint32_t unit = U16();
        if (unit == 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) {
            failed_ = true;  // a NUL, or a low surrogate with no high one before it
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            const std::uint32_t low = ++i < count ? U16() : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                failed_ = true;
            } else {
                text.push_back(
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
            }
        } else {
            text.push_back(static_cast<wchar_t>(unit));
        }
    }
    return failed_ ? std::wstring() : text;
}

sensor_message::Value Reader::Value() {
    const VARTYPE vt = U16();
    if (failed_) {
        return {};
    }
    switch (vt) {
        case VT_EMPTY:
            return std::monostate{};
        case VT_R8: {
            const std::uint64_t bits = U64();
            double v;
            std::memcpy(&v, &bits, sizeof(v));
            return v;
        }
        case VT_R4: {
            const std::uint32_t bits = U32();
            float v;
            std::memcpy(&v, &bits, sizeof(v));
            return v;
        }
        case VT_I4:
            return static_cast<std::int32_t>(U32());
        case VT_UI4:
            return U32();
        case VT_LPWSTR:
            return Text();
        case VT_CLSID:
            return Guid();
        case VT_FILETIME:
            return FileTime{U64()};
        case kVtBytes: {
            const std::uint32_t count = Count(kMaxByteVector, 1);
            const std::uint8_t* p = Take(count);
            return p == nullptr ? sensor_message::Bytes() : sensor_message::Bytes(p, p + count);
        }
        case VT_ERROR:
            return ErrorCode{static_cast<HRESULT>(U32())};
        case VT_BOOL: {
            const std::uint16_t word = U16();
            if (word != 0 && word != kVariantTrue) {
                failed_ = true;
            }
            return word != 0;
        }
        default:
            failed_ = true;  // a type the format does not carry
            return {};
    }
}

std::vector<PROPERTYKEY> Reader::Keys() {
    const std::uint32_t count = Count(kMaxCollectionCount, kKeyBytes);
    std::vector<PROPERTYKEY> keys;
    keys.reserve(count);
    for (std::uint32_t i = 0; i < count && !failed_; ++i) {
        keys.push_back(Key());
    }
    return keys;
}

ValueList Reader::Values() {
    const std::uint32_t count = Count(kMaxCollectionCount, kKeyBytes + kVarTypeBytes);
    ValueList values;
    values.reserve(count);
    for (std::uint32_t i = 0; i < count && !failed_; ++i) {
        KeyedValue entry;
        entry.key = Key();
        entry.value = Value();
        values.push_back(std::move(entry));
    }
    return values;
}

std::vector<ValueList> Reader::ValueLists() {
    const std::uint32_t count = Count(kMaxValueListCount, 4);
    std::vector<ValueList> lists;
    lists.reserve(count);
    for (std::uint32_t i = 0; i < count && !failed_; ++i) {
        lists.push_back(Values());
    }
    return lists;
}

std::vector<GUID> Reader::Guids() {
    const std::uint32_t count = Count(kMaxCollectionCount, kGuidBytes);
    std::vector<GUID> guids;
    guids.reserve(count);
    for (std::uint32_t i = 0; i < count && !failed_; ++i) {
        guids.push_back(Guid());
    }
    return guids;
}

}  // namespace zntr::sensor_message::wire
