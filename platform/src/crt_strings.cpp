// strtok as the UCRT has it: the standard rules (a run of delimiters is one separator, no empty
// token is ever returned, the delimiter after a token is overwritten with NUL), with the
// position kept in a thread-local variable.
#include <cstring>

#include "standin/crt_strings.h"

namespace {

thread_local char* tNextToken = nullptr;

}  // namespace

extern "C" char* zntr_crt_strtok(char* str, const char* delim) {
    char* cursor = str != nullptr ? str : tNextToken;
    if (cursor == nullptr) {
        return nullptr;
    }
    cursor += std::strspn(cursor, delim);
    if (*cursor == '\0') {
        tNextToken = nullptr;
        return nullptr;
    }
    char* const token = cursor;
    cursor += std::strcspn(cursor, delim);
    if (*cursor != '\0') {
        *cursor = '\0';
        ++cursor;
    }
    tNextToken = cursor;
    return token;
}
