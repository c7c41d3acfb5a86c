#include "decode_input.h"

#include <cstdlib>
#include <memory>
#include <string_view>

namespace zntr::tools {

bool ForEachDecodePiece(std::FILE* input, const std::function<void(const char* text)>& handle) {
    char* raw = nullptr;
    size_t capacity = 0;
    ssize_t length = 0;
    // getline() terminates the piece, so a NUL inside it ends the text the handler sees.
    while ((length = getline(&raw, &capacity, input)) > 0) {
        std::string_view body(raw, static_cast<size_t>(length));
        if (body.back() == '\n') {
            body.remove_suffix(1);
        }
        if (body == "Dummy" || body == "Dummy\r") {
            handle("Dummy");
        } else {
            handle(raw);
        }
    }
    std::free(raw);
    return std::ferror(input) == 0;
}

}  // namespace zntr::tools
