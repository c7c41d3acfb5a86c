// A plain model of the circular byte buffer's rules, written from their statement and not from
// the driver's code: byte by byte, index by index, with strings for the line splitting. The
// buffer's fuzz target runs both side by side and compares every result, output and index.
//
// The rules:
// - Storage is 3072 bytes, zero-filled when allocated; allocating or releasing sets both indices
//   to 0. Without storage every operation refuses (0).
// - A write of count bytes is refused when count exceeds the size or when the new write index,
//   (write + count) mod size, equals the read index; otherwise its bytes go in at the write index,
//   continuing at 0, over unread bytes if they are there.
// - A read is refused when the buffer is empty (read index equals write index); otherwise it
//   takes the smaller of count and the unread bytes and moves the read index past them.
// - Taking lines is refused when the buffer is empty or there is no output; otherwise it looks at
//   a window of the smallest of 1024, the output size less one, and the unread bytes, as text
//   (it ends at a zero byte). Split at line feeds, a run of them being one separator, it examines
//   at most four pieces; a piece with no line feed behind it ends the call and stays. Pieces
//   that begin with "$" go to the output, each followed by "\n"; the others are skipped but
//   count. The output is cleared first; the read index moves by the output's length.
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
        const std::uint32_t window = std::min({1024u, outputSize - 1, Unread()});
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
