#include "decode_input.h"

#include <cstring>
#include <string>
#include <string_view>

namespace zntr::tools {

bool ForEachDecodePiece(std::FILE* input, const std::function<void(const char* text)>& handle) {
    std::string piece;
    // A piece's bytes are all kept (a NUL among them too); its c_str() ends at the first NUL.
    const auto pass = [&] {
        std::string_view body(piece);
        if (body.ends_with('\n')) {
            body.remove_suffix(1);
        }
        handle(body == "Dummy" || body == "Dummy\r" ? "Dummy" : piece.c_str());
        piece.clear();
    };
    char buffer[1 << 16];
    for (size_t read = 0; (read = std::fread(buffer, 1, sizeof(buffer), input)) > 0;) {
        const char* const end = buffer + read;
        for (const char* at = buffer; at < end;) {
            const auto* lineFeed =
                static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
            const char* const stop = lineFeed != nullptr ? lineFeed + 1 : end;
            piece.append(at, stop);
            at = stop;
            if (lineFeed != nullptr) {
                pass();
            }
        }
    }
    if (!piece.empty()) {
        pass();
    }
    return std::ferror(input) == 0;
}

}  // namespace zntr::tools
