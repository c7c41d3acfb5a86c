// A block of lines redrawn in place on a terminal: each draw moves the cursor back up over the
// previous one and overwrites it line by line (ANSI cursor-up and erase-line). Only for output
// that IsTerminal says is a terminal; other output gets plain lines and never an escape code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zntr::tools {

// Whether `out` is a terminal that takes ANSI escapes (TERM=dumb does not).
bool IsTerminal(std::FILE* out);

class TerminalPanel {
  public:
    explicit TerminalPanel(std::FILE* out) : out_(out) {}

    // Replaces what the last draw showed. Lines are cut to the terminal's width, so that none
    // wraps and the cursor-up count stays right.
    void Draw(const std::vector<std::string>& lines);

  private:
    std::FILE* out_;
    std::size_t shown_ = 0;
};

}  // namespace zntr::tools
