// zntr cat: opens the device as a file and copies its raw NMEA stream to standard output until
// Ctrl-C or --count sentences.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "commands.h"
#include "device_error.h"
#include "device_open.h"
#include "stop_signals.h"

namespace zntr::tools {
namespace {

using namespace std::chrono_literals;

// The driver's reads deliver at most 1024 bytes; a larger buffer costs nothing.
constexpr std::size_t kReadBytes = 4096;

struct CatOptions {
    std::string socket;
    unsigned long count = 0;
};

// Copies reads to standard output. Ends at the count's last line feed, when standard output
// goes (a closed pipe), or when a read fails: because the file was closed (`stopping`), or
// because the host went away, which it reports.
class RawCopy {
  public:
    RawCopy(client::DeviceFile& file, unsigned long count) : file_(file), count_(count) {}

    void Run() {
        unsigned long sentences = 0;
        for (;;) {
            const client::Completion read = file_.Read(kReadBytes);
            if (FAILED(read.status)) {
                if (!stopping_) {
                    std::fprintf(stderr, "zntr cat: the stream ended: %s\n",
                                 client::DescribeDeviceStatus(read.status).c_str());
                    failed_ = true;
                }
                break;
            }
            std::size_t length = read.data.size();
            bool reached = false;
            for (std::size_t i = 0; count_ != 0 && i < length; ++i) {
                if (read.data[i] == '\n' && ++sentences == count_) {
                    length = i + 1;
                    reached = true;
                }
            }
            // The first read completes with no data once the stream is asked for.
            if (length == 0) {
                continue;
            }
            if (std::fwrite(read.data.data(), 1, length, stdout) != length ||
                std::fflush(stdout) != 0 || reached) {
                break;
            }
        }
        done_ = true;
    }

    bool Done() const { return done_; }
    bool Failed() const { return failed_; }
    void Stopping() { stopping_ = true; }

  private:
    client::DeviceFile& file_;
    const unsigned long count_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
};

int RunCat(const CatOptions& options) {
    StopSignals stop;
    // A closed pipe (`zntr cat | head`) ends the copy through the failed write instead.
    ::signal(SIGPIPE, SIG_IGN);
    const auto file = OpenDevice("zntr cat", options.socket);
    if (!file) {
        return 1;
    }
    RawCopy copy(*file, options.count);
    std::thread reader([&copy] { copy.Run(); });
    while (!copy.Done() && !stop.Wait(100ms)) {
    }
    copy.Stopping();
    // Closing the file completes a read still waiting in the reader, and makes the host clean
    // the file up, which ends the driver's stream.
    file->Close();
    reader.join();
    return copy.Failed() ? 1 : 0;
}

}  // namespace

void AddCatCommand(CLI::App& app) {
    auto options = std::make_shared<CatOptions>();
    CLI::App* command = app.add_subcommand(
        "cat", "Open the device as a file and copy its raw NMEA stream to standard output");
    AddSocketOption(*command, options->socket);
    command->add_option("--count", options->count, "Stop after this many sentences (line feeds)")
        ->check(CLI::PositiveNumber);
    command->footer(
        "The first read starts the device's stream, which it asks the hotspot for; bytes come "
        "as the hotspot sends them. While it runs the device takes no other open (exit status 1 "
        "with a message, for this command or any other).\n\n"
        "Examples:\n"
        "  zntr cat\n"
        "  zntr cat --count 20 > drive.nmea\n"
        "  zntr cat | zntr decode --table");
    command->callback([options] { SetExitCode(RunCat(*options)); });
}

}  // namespace zntr::tools
