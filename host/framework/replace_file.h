// Writes a file whole so that a process that dies mid-write leaves the previous file intact:
// the text goes to "<file>.tmp", which is flushed to disk and then renamed over the file. The
// folder is made when missing. One implementation per system (replace_file_posix.cpp,
// replace_file_windows.cpp).
#pragma once

#include <filesystem>
#include <string>

#include "standin/winerror.h"

namespace zntr::host {

// S_OK, or the Win32 error of the step that failed as an HRESULT (the temporary file is
// removed then).
HRESULT ReplaceFile(const std::filesystem::path& path, const std::string& text);

}  // namespace zntr::host
