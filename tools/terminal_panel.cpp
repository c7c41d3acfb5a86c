#include "terminal_panel.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zntr::tools {
namespace {

std::size_t TerminalWidth(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
        return size.ws_col;
    }
    return 80;
}

// The line cut to `width` columns, counting a UTF-8 sequence as one column.
std::string Cut(const std::string& line, std::size_t width) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if ((byte & 0xC0) != 0x80 && ++columns > width) {
            return line.substr(0, i);
        }
    }
    return line;
}

}  // namespace

bool IsTerminal(std::FILE* out) {
    const char* term = std::getenv("TERM");
    return ::isatty(::fileno(out)) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

void TerminalPanel::Draw(const std::vector<std::string>& lines) {
    std::string text;
    if (shown_ > 0) {
        text += "\x1b[" + std::to_string(shown_) + "A";
    }
    // One column short of the width: writing the last column leaves some terminals' cursor in
    // a pending-wrap state that the erase would not expect.
    const std::size_t width = TerminalWidth(out_) - 1;
    for (const std::string& line : lines) {
        text += "\r\x1b[2K" + Cut(line, width) + "\n";
    }
    // A shorter panel than before: blank the lines left over, then come back up.
    for (std::size_t i = lines.size(); i < shown_; ++i) {
        text += "\r\x1b[2K\n";
    }
    if (shown_ > lines.size()) {
        text += "\x1b[" + std::to_string(shown_ - lines.size()) + "A";
    }
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    shown_ = lines.size();
}

}  // namespace zntr::tools
