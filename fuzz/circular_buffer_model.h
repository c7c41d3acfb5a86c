// The byte ring's rules, written from their statement and not from the driver's code, byte by
// byte: 3072 bytes, zero-filled when allocated, both indices 0 on allocation and release, every
// operation refused without storage. A write is refused over the capacity or when it would end on
// the read index; else it goes in at the write index, wrapping, over unread bytes if need be. A
// read is refused when empty, else takes the smaller of count and the unread bytes. Taking lines
// is refused when empty or without output; else it looks at the smallest of 1024, the output size
// less one and the unread bytes, as text (up to a zero byte), examines at most four pieces between
// line feeds (a run of them one separator; a piece without a line feed behind it ends the call,
// and is examined too when the window could not be larger, cut to leave room for its "\n" and the
// terminator), outputs those beginning with "$", each with "\n", and moves the read index by the
// output's length.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zntr::fuzz {

class CircularBufferModel {
  public:
    static constexpr std::uint32_t kSize = 3072;

    void Allocate() {
        hasStorage_ = true;
        bytes_.fill(0);
        read_ = 0;
        write_ = 0;
    }
    void Release() {
        hasStorage_ = false;
        read_ = 0;
        write_ = 0;
    }

    int Write(const std::vector<std::uint8_t>& source) {
        const std::uint32_t count = static_cast<std::uint32_t>(source.size());
        if (!hasStorage_ || count > kSize || (write_ + count) % kSize == read_) {
            return 0;
        }
        for (std::uint8_t byte : source) {
            bytes_[write_] = byte;
            write_ = (write_ + 1) % kSize;
        }
        return 1;
    }

    // The bytes taken go to *taken.
    int Read(std::uint32_t count, std::vector<std::uint8_t>* taken) {
        taken->clear();
        if (!hasStorage_ || read_ == write_) {
            return 0;
        }
        const std::uint32_t n = std::min(count, Unread());
        for (std::uint32_t i = 0; i < n; ++i) {
            taken->push_back(bytes_[read_]);
            read_ = (read_ + 1) % kSize;
        }
        return 1;
    }

    // *output is the caller's output buffer of outputSize bytes.
    int ReadLines(std::vector<char>* output) {
        const std::uint32_t outputSize = static_cast<std::uint32_t>(output->size());
        if (!hasStorage_ || read_ == write_ || outputSize == 0) {
            return 0;
        }
        const std::uint32_t largest = std::min(1024u, outputSize - 1);
        const std::uint32_t window = std::min(largest, Unread());
        std::string text;
        for (std::uint32_t i = 0; i < window && bytes_[(read_ + i) % kSize] != 0; ++i) {
            text.push_back(static_cast<char>(bytes_[(read_ + i) % kSize]));
        }
        std::string lines;
        std::size_t at = 0;
        for (int piece = 0; piece < 4; ++piece) {
            at = text.find_first_not_of('\n', at);
            if (at == std::string::npos) {
                break;
            }
            const std::size_t end = text.find('\n', at);
            if (end == std::string::npos) {
                if (window == largest && text[at] == '$') {
                    lines += text.substr(at, outputSize - 2 - lines.size()) + "\n";
                }
                break;
            }
            if (text[at] == '$') {
                lines += text.substr(at, end - at) + "\n";
            }
            at = end + 1;
        }
        std::fill(output->begin(), output->end(), '\0');
        std::copy(lines.begin(), lines.end(), output->begin());
        read_ = static_cast<std::uint32_t>((read_ + lines.size()) % kSize);
        return 1;
    }

    std::uint32_t Unread() const { return hasStorage_ ? (write_ + kSize - read_) % kSize : 0; }
    bool HasStorage() const { return hasStorage_; }
    std::uint32_t ReadIndex() const { return read_; }
    std::uint32_t WriteIndex() const { return write_; }
    const std::array<std::uint8_t, kSize>& Bytes() const { return bytes_; }

  private:
    bool hasStorage_ = false;
    std::array<std::uint8_t, kSize> bytes_{};
    std::uint32_t read_ = 0;
    std::uint32_t write_ = 0;
};

}  // namespace zntr::fuzz
