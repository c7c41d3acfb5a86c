// The circular byte buffer of both stream readers: the ring's refusals and wrap, reads that stop
// at the write index, and the line reader's four pieces per call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "circular_buffer.h"

namespace {

// A buffer with its 3072 zero bytes from the process heap, as its owners allocate it.
class Ring {
  public:
    Ring() {
        buffer_.mpData =
            static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, CIRCULAR_BUFFER_SIZE));
        buffer_.mSize = CIRCULAR_BUFFER_SIZE;
        buffer_.mReadIndex = 0;
        buffer_.mWriteIndex = 0;
    }
    ~Ring() { HeapFree(GetProcessHeap(), 0, buffer_.mpData); }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;

    CircularBuffer& get() { return buffer_; }
    void At(DWORD index) { buffer_.mReadIndex = buffer_.mWriteIndex = index; }
    int Write(const std::string& bytes) {
        return WriteToCircularBuffer(buffer_, reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(bytes.size()));
    }
    // One ReadLinesFromCircularBuffer call into a receive buffer of 1024 bytes.
    std::string Lines() {
        char output[1024];
        std::memset(output, 'Z', sizeof(output));
        if (!ReadLinesFromCircularBuffer(buffer_, output, sizeof(output))) {
            return "<nothing>";
        }
        return output;
    }

  private:
    CircularBuffer buffer_{};
};

TEST(CircularBufferTest, WritesAreTakenOrRefusedWhole) {
    struct Case {
        const char* legend;
        DWORD read;
        DWORD write;
        DWORD count;
        int taken;
        DWORD writeAfter;
    };
    const Case cases[] = {
        {"up to 1023 bytes into an empty buffer are always taken", 0, 0, 1023, 1, 1023},
        {"the same at any position", 2900, 2900, 1023, 1, 851},
        {"a write that would end on the read index is refused", 100, 50, 50, 0, 50},
        {"a full lap from empty ends on the read index too", 0, 0, 3072, 0, 0},
        {"one byte short of a lap is taken", 0, 0, 3071, 1, 3071},
        {"more than the capacity is refused", 0, 0, 3073, 0, 0},
        {"a write over unread bytes is not checked further", 100, 50, 60, 1, 110},
    };
    for (const Case& c : cases) {
        Ring ring;
        ring.get().mReadIndex = c.read;
        ring.get().mWriteIndex = c.write;
        const std::string bytes(c.count, 'x');
        EXPECT_EQ(ring.Write(bytes), c.taken) << c.legend;
        EXPECT_EQ(ring.get().mWriteIndex, c.writeAfter) << c.legend;
        EXPECT_EQ(ring.get().mReadIndex, c.read) << c.legend;
    }
    CircularBuffer missing{nullptr, 0, 0, 0};
    const BYTE byte = 1;
    EXPECT_EQ(WriteToCircularBuffer(missing, &byte, 1), 0) << "no storage";
}

TEST(CircularBufferTest, AWriteAcrossTheEndContinuesAtZeroAndReadsBackInOrder) {
    Ring ring;
    ring.At(3000);
    std::string bytes;
    for (int i = 0; i < 200; ++i) {
        bytes += static_cast<char>('A' + i % 26);
    }
    ASSERT_EQ(ring.Write(bytes), 1);
    EXPECT_EQ(ring.get().mWriteIndex, 128u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ring.get().mpData), 128), bytes.substr(72))
        << "the tail landed at index 0";
    EXPECT_EQ(GetCircularBufferUnreadCount(ring.get()), 200u);
    std::string back(200, '\0');
    ASSERT_EQ(ReadFromCircularBuffer(ring.get(), reinterpret_cast<BYTE*>(back.data()), 200), 1);
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(ring.get().mReadIndex, 128u);
}

TEST(CircularBufferTest, AReadTakesOnlyTheUnreadBytes) {
    Ring ring;
    ring.At(3070);
    ASSERT_EQ(ring.Write("0123456789"), 1);
    std::string out(100, '.');
    ASSERT_EQ(ReadFromCircularBuffer(ring.get(), reinterpret_cast<BYTE*>(out.data()), 100), 1);
    EXPECT_EQ(out.substr(0, 10), "0123456789");
    EXPECT_EQ(out.substr(10), std::string(90, '.')) << "nothing behind the write index is taken";
    EXPECT_EQ(ring.get().mReadIndex, ring.get().mWriteIndex);
    EXPECT_EQ(ReadFromCircularBuffer(ring.get(), reinterpret_cast<BYTE*>(out.data()), 100), 0)
        << "empty now";
    CircularBuffer missing{nullptr, 0, 0, 0};
    EXPECT_EQ(ReadFromCircularBuffer(missing, reinterpret_cast<BYTE*>(out.data()), 1), 0);
}

TEST(CircularBufferTest, LinesComeOutFourAtMostPerCall) {
    struct Case {
        const char* legend;
        DWORD start;                       // read and write index before the writes
        std::vector<std::string> writes;   // each one WriteToCircularBuffer
        std::vector<std::string> outputs;  // successive calls; "<nothing>" when it returns 0
    };
    const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
    const Case cases[] = {
        {"one sentence with CR LF comes out once, with its CR, and the buffer is empty",
         0,
         {gga + "\r\n"},
         {gga + "\r\n", "<nothing>"}},
        {"seven sentences: four, then three",
         0,
         {"$1\r\n$2\r\n$3\r\n$4\r\n$5\r\n$6\r\n$7\r\n"},
         {"$1\r\n$2\r\n$3\r\n$4\r\n", "$5\r\n$6\r\n$7\r\n", "<nothing>"}},
        {"a sentence split across two writes waits for its line feed and comes out whole",
         0,
         {"$GPGGA,1235", "19,4807.038*00\r\n"},
         {"$GPGGA,123519,4807.038*00\r\n", "<nothing>"}},
        {"lines crossing the end of the storage come out whole",
         3060,
         {"$GPVTG,054.7,T,034.4,M*00\r\n$GPRMC,1*00\r\n"},
         {"$GPVTG,054.7,T,034.4,M*00\r\n$GPRMC,1*00\r\n", "<nothing>"}},
        {"a run of line feeds is one separator; the index moves by the output's length only, "
         "so the last sentence comes again",
         0,
         {"\n\n$A\n\n\n$B\n"},
         {"$A\n$B\n", "$B\n", ""}},
        {"a piece not beginning with $ is dropped but counts among the four; the read index "
         "moves by the output's length, so the next call begins inside the examined text",
         0,
         {"junk\n$1\n$2\n$3\n$4\n"},
         {"$1\n$2\n$3\n", "$3\n$4\n", ""}},
    };
    for (const Case& c : cases) {
        Ring ring;
        ring.At(c.start);
        std::string outputs;
        for (const std::string& write : c.writes) {
            ASSERT_EQ(ring.Write(write), 1) << c.legend;
            if (&write != &c.writes.back()) {
                // Before the rest of the line arrives nothing is taken.
                EXPECT_EQ(ring.Lines(), "") << c.legend;
            }
        }
        for (const std::string& expected : c.outputs) {
            EXPECT_EQ(ring.Lines(), expected) << c.legend;
        }
    }
}

TEST(CircularBufferTest, TheLineWindowIsBoundedByTheOutputBuffer) {
    Ring ring;
    const std::string sentence = "$GPGSV,3,1,12," + std::string(240, '9') + "*00\r\n";
    std::string many;
    for (int i = 0; i < 8; ++i) {
        many += sentence;
    }
    ASSERT_EQ(ring.Write(many), 1);
    // Three whole sentences fit in the 1023-byte window; the fourth is cut off by the window's
    // end, so it waits.
    EXPECT_EQ(ring.Lines(), sentence + sentence + sentence);

    Ring longLine;
    ASSERT_EQ(longLine.Write("$" + std::string(1500, 'L') + "\n"), 1);
    EXPECT_EQ(longLine.Lines(), "") << "a line longer than the window never fits";
    EXPECT_EQ(longLine.get().mReadIndex, 0u);

    Ring small;
    ASSERT_EQ(small.Write("$A\n$B\n"), 1);
    char output[5];
    ASSERT_EQ(ReadLinesFromCircularBuffer(small.get(), output, sizeof(output)), 1);
    EXPECT_STREQ(output, "$A\n") << "the output's size bounds the window";
}

}  // namespace
