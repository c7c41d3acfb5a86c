// The sensor messages and the class extension's handling of them. The input is one sensor
// message, or several one after the other (a new one starts at each "ZSNM" after the first
// byte). Seeds: tests/data/wire/sensor.
//
// The whole input is decoded as a request and as an answer: what decodes must encode to the very
// same bytes (one encoding per message). Then each message is a device I/O control request of
// one of two client files, as the framework hands it to a class extension initialised with a fake
// sensor driver (the real framework objects around it): message i comes from file i % 2, through
// the read-only control code when i % 3 is 2 (else read-write), with an output buffer of 4096, 16,
// 64 or no bytes by i % 4; a state change and a data event are posted after each. A local client
// is a trust boundary: a malformed or hostile message gets an error, never a crash, a hang or a
// leak.
//
// Beyond that, it checks:
// - only a wait for an event stays pending; a successful completion carries an answer that
//   decodes (or the header of one that did not fit);
// - the driver's client and subscriber counts stay within the files there are, and come back to
//   zero when both files are cleaned up;
// - after Uninitialize every request has been completed, none twice.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "class_extension_session.h"
#include "fuzz_check.h"
#include "sensor_message.h"

namespace {

namespace message = zntr::sensor_message;
using Bytes = std::span<const std::uint8_t>;

void CheckCanonical(Bytes input) {
    message::Request request;
    if (message::DecodeRequest(input, &request) == S_OK) {
        const auto again = message::EncodeRequest(request);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), input.begin(), input.end()),
                   "a request encodes to itself");
    }
    message::Answer answer;
    if (message::DecodeAnswer(input, &answer) == S_OK) {
        const auto again =
            answer.status == message::kStatusBufferTooSmall
                ? message::EncodeBufferTooSmall(answer.command, answer.neededBodyBytes)
                : message::EncodeAnswer(answer);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), input.begin(), input.end()),
                   "an answer encodes to itself");
    }
}

bool IsWait(Bytes bytes) {
    message::Request request;
    return message::DecodeRequest(bytes, &request) == S_OK &&
           request.command == message::Command::kWaitForEvent;
}

void CheckCompletion(const zntr::test::SentRequest& sent, Bytes bytes) {
    if (!sent.Completed()) {
        FUZZ_CHECK(IsWait(bytes), "only a wait stays pending");
        return;
    }
    const std::vector<std::uint8_t> answer = sent.Data();
    if (FAILED(sent.Status())) {
        return;
    }
    message::Answer decoded;
    FUZZ_CHECK(message::DecodeAnswer(answer, &decoded) == S_OK, "an answer decodes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        zntr::fuzz::DropDebugOutput();
        return CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK;
    }();
    FUZZ_CHECK(once, "COM initialised");
    const Bytes input(data, size);
    CheckCanonical(input);

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
        for (std::size_t j = 0; j < sent.size(); ++j) {
            CheckCompletion(*sent[j], messages[j]);
        }
        const int clients = session.Driver().Clients();
        FUZZ_CHECK(clients >= 0 && clients <= 2, "clients within the files");
        FUZZ_CHECK(session.Driver().Subscribers() >= 0 && session.Driver().Subscribers() <= clients,
                   "subscribers within the clients");
    }
    for (const auto& file : files) {
        session.Extension().CleanupFile(file.Get());
    }
    FUZZ_CHECK(session.Driver().Clients() == 0 && session.Driver().Subscribers() == 0,
               "cleanup takes every file off the driver");
    session.Extension().Uninitialize();
    for (const auto& request : sent) {
        FUZZ_CHECK(request->Completed(), "every request completed in the end");
    }
    FUZZ_CHECK(session.HostErrors().empty(), "no request completed twice");
    return 0;
}
