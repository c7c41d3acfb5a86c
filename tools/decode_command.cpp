// zntr decode: runs an NMEA capture through the driver's decoding offline.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "commands.h"
#include "decode_fields.h"
#include "decode_fix.h"

namespace zntr::tools {
namespace {

int exitCode = 0;

struct DecodeOptions {
    std::string file;
    bool fix = false;
    bool changes = false;
    bool fields = false;
    bool table = false;
    std::string date;
};

void RunDecode(const DecodeOptions& options) {
    DecodeFieldsOptions fieldsOptions;
    fieldsOptions.table = options.table;
    if (!options.date.empty()) {
        fieldsOptions.date = ParseDecodeDate(options.date.c_str());
        if (!fieldsOptions.date) {
            std::fprintf(stderr, "zntr decode: --date wants a valid YYYY-MM-DD, got '%s'\n",
                         options.date.c_str());
            SetExitCode(2);
            return;
        }
    }
    std::FILE* input = stdin;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> opened(nullptr, std::fclose);
    if (!options.file.empty() && options.file != "-") {
        opened.reset(std::fopen(options.file.c_str(), "rb"));
        if (!opened) {
            std::fprintf(stderr, "zntr decode: cannot open %s: %s\n", options.file.c_str(),
                         std::strerror(errno));
            SetExitCode(1);
            return;
        }
        input = opened.get();
    }
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof(outputBuffer));
    const auto print = [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
    };
    const int status = options.fix ? RunDecodeFix(input, {options.changes}, print)
                                   : RunDecodeFields(input, fieldsOptions, print);
    std::fflush(stdout);
    if (status == 1) {
        std::fprintf(stderr, "zntr decode: error reading %s\n",
                     options.file.empty() ? "standard input" : options.file.c_str());
    }
    SetExitCode(status);
}

}  // namespace

void AddDecodeCommand(CLI::App& app) {
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* decode = app.add_subcommand(
        "decode", "Run an NMEA capture through the driver's decoding and print what it made of it");
    decode->add_option("file", options->file, "NMEA capture to read (standard input when absent)");
    CLI::Option* fix =
        decode->add_flag("--fix", options->fix,
                         "Print the parser's whole fix record after each line, as JSON Lines");
    CLI::Option* changes = decode->add_flag(
        "--changes", options->changes,
        "With --fix: only the members each line changed (all on the first line), satellites in "
        "view as [PRN, Elevation, Azimuth, SNR], numbers in their shortest form");
    changes->needs(fix);
    CLI::Option* fields = decode->add_flag(
        "--fields", options->fields,
        "Print the sensor's data fields, state and events after each line, as JSON Lines "
        "(the default)");
    CLI::Option* table = decode->add_flag(
        "--table", options->table,
        "Print a readable line for each event the sensor's client receives, instead of JSON");
    CLI::Option* date = decode->add_option(
        "--date", options->date,
        "UTC date (YYYY-MM-DD) of the readings' timestamps; today's date when absent, as in "
        "the driver");
    fix->excludes(fields)->excludes(table)->excludes(date);
    decode->footer(
        "Output of --fields, one JSON object per line of input:\n"
        "  {\"line\":N,\"state\":S,\"data_event\":B,\"state_event\":B,\"fields\":{...},"
        "\"log\":[...]}\n"
        "The capture goes line by line to the driver's line sink, feeding one initialised sensor\n"
        "with one subscribed client. state is the sensor state after the line (0 READY, 2 "
        "NO_DATA,\n"
        "3 INITIALIZING); data_event and state_event tell whether the line signalled the client's\n"
        "data or state event. fields holds the sixteen data fields by their published names, each\n"
        "{\"vt\":VT,\"value\":V}: null for VT_EMPTY, numbers for VT_R8 (%.17g), VT_R4 (%.9g of\n"
        "the float), VT_I4, VT_UI4 and VT_ERROR (unsigned), the FILETIME as one integer, a\n"
        "VT_VECTOR|VT_UI1 as lower-case hex. A line that is exactly \"Dummy\" is the receive "
        "loop's\n"
        "pass that turns the fix record's position into a reading.\n\n"
        "Output of --fix, one JSON object per line of input:\n"
        "  {\"line\":N,\"code\":C,\"fix\":{...},\"log\":[...]}\n"
        "code is the sentence type (0 GGA, 1 VTG, 2 RMC, 3 GLL, 4 GSA, 5 GSV, 6 PQXFI,\n"
        "-1 nothing decoded); log holds the debug log messages the line produced. With\n"
        "--changes, fix holds only what the line changed and is left out when nothing did, and\n"
        "log is left out when empty.\n\n"
        "Examples:\n"
        "  zntr decode --table data/sample-drive.nmea\n"
        "  zntr decode --date 2026-12-05 data/sample-drive.nmea\n"
        "  zntr decode --fix data/sample-drive.nmea\n"
        "  printf '$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\\r\\n' | zntr decode --fix");
    decode->callback([options] { RunDecode(*options); });
}

int ExitCode() {
    return exitCode;
}

void SetExitCode(int code) {
    exitCode = code;
}

}  // namespace zntr::tools
