// Redirects this program's calls of an imported function: the slot of the program's import
// address table that the loader filled with the function's address is overwritten, so every call
// the program's own code makes through it goes to the replacement. The tests link the driver code
// into the program, so this reaches the driver's calls too; calls made inside system DLLs are
// untouched.
#pragma once

namespace zntr::platform::windows {

// Puts replacement into every slot of the program's imports named function (from any DLL) and
// returns the address that the first such slot held; nullptr when the program imports no such
// function (nothing is changed then).
void* PatchProgramImport(const char* function, void* replacement);

}  // namespace zntr::platform::windows
