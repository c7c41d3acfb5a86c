// On Windows the commands print lines, never the panel: a Windows console takes ANSI escapes
// only when a program asks for them, and the programs built there are run under a test or a
// script, with their output piped.
#include "terminal_panel.h"

namespace zntr::tools {

bool IsTerminal(std::FILE*) {
    return false;
}

void TerminalPanel::Draw(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        std::fprintf(out_, "%s\n", line.c_str());
    }
    shown_ = lines.size();
}

}  // namespace zntr::tools
