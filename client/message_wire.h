// The primitives of the sensor message format: little-endian integers, GUIDs, property keys,
// UTF-16 text, values and the collections built of them. The writer appends; the reader takes
// from the front of a span and, at the first thing that does not fit or does not hold together,
// fails for good (every later read fails too), so that a decoder can read a whole message and
// look at the outcome once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sensor_message.h"

namespace zntr::sensor_message::wire {

class Writer {
  public:
    void U16(std::uint16_t value);
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void Guid(const GUID& guid);
    void Key(const PROPERTYKEY& key);
    // UTF-16LE, after a count of code units.
    void Text(const std::wstring& text);
    void Value(const sensor_message::Value& value);
    void Keys(const std::vector<PROPERTYKEY>& keys);
    void Values(const ValueList& values);
    void ValueLists(const std::vector<ValueList>& lists);
    void Guids(const std::vector<GUID>& guids);

    // False once something could not be written (text the format cannot carry, a collection
    // over the limits); the bytes are then of no use.
    bool Ok() const { return ok_; }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

  private:
    void Count(std::size_t count, std::uint32_t limit);

    std::vector<std::uint8_t> bytes_;
    bool ok_ = true;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint16_t U16();
    std::uint32_t U32();
    std::uint64_t U64();
    GUID Guid();
    PROPERTYKEY Key();
    std::wstring Text();
    sensor_message::Value Value();
    std::vector<PROPERTYKEY> Keys();
    ValueList Values();
    std::vector<ValueList> ValueLists();
    std::vector<GUID> Guids();

    bool Failed() const { return failed_; }
    // Whether every byte was read and nothing failed.
    bool Finished() const { return !failed_ && position_ == bytes_.size(); }
    std::size_t Remaining() const { return failed_ ? 0 : bytes_.size() - position_; }
    void Fail() { failed_ = true; }

  private:
    // The next n bytes, or null (and failed) when fewer are left.
    const std::uint8_t* Take(std::size_t n);
    // A count that is within the limit and whose elements, each at least minimumBytes long, can
    // all be in the bytes that are left; 0 and failed otherwise.
    std::uint32_t Count(std::uint32_t limit, std::size_t minimumBytes);

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace zntr::sensor_message::wire
