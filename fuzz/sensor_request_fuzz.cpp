// The sensor messages and the class extension's handling of them (a local client is a trust
// boundary: a hostile message gets an error, never a crash, a hang or a leak). The input is one
// sensor message or several (a new one starts at each "ZSNM" after the first byte); seeds:
// tests/data/wire/sensor. Decoded whole as a request and as an answer, what decodes encodes to
// the very same bytes and no message cut from it decodes. Then message i is a device I/O control
// request of client file i % 2 to a class extension with the fake sensor driver (on the real
// framework objects), read-only when i % 3 is 2, with an output buffer of 4096, 16, 64 or 0 bytes
// by i % 4, each followed by a posted state change and data event. Checked: only a wait for an
// event stays pending; a success carries an answer that decodes; the driver's client and
// subscriber counts stay within the files and return to zero once both are cleaned up; after
// Uninitialize every request has been completed, none twice.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "fake_sensor_driver.h"
#include "fuzz_check.h"
#include "sensor_message.h"

namespace {

namespace message = zntr::sensor_message;
using Bytes = std::span<const std::uint8_t>;

// What decodes encodes to the same bytes, and no cut of it decodes (inputs up to 1 KiB).
template <typename Decoded, typename Encode>
void CheckDecoding(Bytes input, HRESULT (*decode)(Bytes, Decoded*), Encode encode) {
    Decoded decoded;
    if (decode(input, &decoded) != S_OK) {
        return;
    }
    const std::vector<std::uint8_t> again = encode(decoded);
    FUZZ_CHECK(std::equal(again.begin(), again.end(), input.begin(), input.end()),
               "a message encodes to itself");
    for (std::size_t length = 0; input.size() <= 1024 && length < input.size(); ++length) {
        FUZZ_CHECK(FAILED(decode(input.first(length), &decoded)), "no cut message decodes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        return CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK;
    }();
    FUZZ_CHECK(once, "COM initialised");
    const Bytes input(data, size);
    CheckDecoding(input, message::DecodeRequest, message::EncodeRequest);
    CheckDecoding(input, message::DecodeAnswer, [](const message::Answer& answer) {
        return answer.status == message::kStatusBufferTooSmall
                   ? message::EncodeBufferTooSmall(answer.command, answer.neededBodyBytes)
                   : message::EncodeAnswer(answer);
    });

    std::vector<Bytes> messages;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < size;) {
        const std::size_t next = text.find("ZSNM", start + 1);
        const std::size_t end = next == std::string_view::npos ? size : next;
        messages.push_back(input.subspan(start, end - start));
        start = end;
    }

    zntr::test::ClassExtensionSession session;
    const std::array files = {session.NewFile("a"), session.NewFile("b")};
    constexpr std::array<std::size_t, 4> kOutputSizes = {4096, 16, 64, 0};
    std::vector<std::shared_ptr<zntr::test::SentRequest>> sent;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        sent.push_back(session.Send(
            files[i % 2].Get(), messages[i], kOutputSizes[i % 4],
            i % 3 == 2 ? IOCTL_WPD_MESSAGE_READ_ACCESS : IOCTL_WPD_MESSAGE_READWRITE_ACCESS));
        session.PostState(SENSOR_STATE_READY);
        session.PostData(static_cast<double>(i));
        const int clients = session.Driver().Clients();
        FUZZ_CHECK(clients >= 0 && clients <= 2 && session.Driver().Subscribers() >= 0 &&
                       session.Driver().Subscribers() <= clients,
                   "clients within the files, subscribers within the clients");
        message::Request request;
        FUZZ_CHECK(
            sent.back()->Completed() || (message::DecodeRequest(messages[i], &request) == S_OK &&
                                         request.command == message::Command::kWaitForEvent),
            "only a wait stays pending");
    }
    for (const auto& file : files) {
        session.Extension().CleanupFile(file.Get());
    }
    FUZZ_CHECK(session.Driver().Clients() == 0 && session.Driver().Subscribers() == 0,
               "cleanup takes every file off the driver");
    session.Extension().Uninitialize();
    for (const auto& request : sent) {
        const auto result = request->Result();
        message::Answer answer;
        FUZZ_CHECK(result.has_value(), "every request completed in the end");
        FUZZ_CHECK(FAILED(result->status) || message::DecodeAnswer(result->data, &answer) == S_OK,
                   "a completion carries no bytes or an answer that decodes");
    }
    FUZZ_CHECK(session.Driver().calls.Count("HostError") == 0, "no request completed twice");
    return 0;
}
