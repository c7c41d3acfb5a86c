// zntr decode: runs an NMEA capture through the driver's decoding offline.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "commands.h"
#include "decode_fix.h"

namespace zntr::tools {
namespace {

int exitCode = 0;

struct DecodeOptions {
    std::string file;
    bool fix = false;
};

void RunDecode(const DecodeOptions& options) {
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
    if (RunDecodeFix(input, stdout) != 0) {
        std::fprintf(stderr, "zntr decode: error reading %s\n",
                     options.file.empty() ? "standard input" : options.file.c_str());
        SetExitCode(1);
    }
}

}  // namespace

void AddDecodeCommand(CLI::App& app) {
    auto options = std::make_shared<DecodeOptions>();
    CLI::App* decode = app.add_subcommand(
        "decode", "Run an NMEA capture through the driver's decoding and print what it made of it");
    decode->add_option("file", options->file, "NMEA capture to read (standard input when absent)");
    decode->add_flag("--fix", options->fix,
                     "Print the parser's whole fix record after each line, as JSON Lines");
    decode->footer(
        "Output of --fix, one JSON object per line of input:\n"
        "  {\"line\":N,\"code\":C,\"fix\":{...},\"log\":[...]}\n"
        "code is the sentence type (0 GGA, 1 VTG, 2 RMC, 3 GLL, 4 GSA, 5 GSV, 6 PQXFI,\n"
        "-1 nothing decoded); log holds the debug log messages the line produced.\n\n"
        "Examples:\n"
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
