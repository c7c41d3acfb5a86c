// How zntr decode cuts its input into the texts the line sink receives.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode_input.h"

namespace {

std::vector<std::string> Pieces(const std::string& input) {
    std::vector<std::string> pieces;
    std::FILE* file = fmemopen(const_cast<char*>(input.data()), input.size(), "rb");
    if (input.empty()) {
        file = std::tmpfile();
    }
    EXPECT_TRUE(zntr::tools::ForEachDecodePiece(
        file, [&](const char* text) { pieces.emplace_back(text); }));
    std::fclose(file);
    return pieces;
}

using Texts = std::vector<std::string>;

TEST(DecodeInputTest, SplitsAtLineFeedsKeepingThem) {
    EXPECT_EQ(Pieces("a\r\nb\n"), (Texts{"a\r\n", "b\n"}));
    EXPECT_EQ(Pieces("a\nb"), (Texts{"a\n", "b"})) << "a last piece without a line feed";
    EXPECT_EQ(Pieces("a\n\n"), (Texts{"a\n", "\n"})) << "an empty line is a piece";
    EXPECT_EQ(Pieces(""), Texts{}) << "no input, no piece";
}

TEST(DecodeInputTest, DummyLinesLoseTheirLineEnd) {
    EXPECT_EQ(Pieces("Dummy\nDummy\r\nDummy"), (Texts{"Dummy", "Dummy", "Dummy"}));
    EXPECT_EQ(Pieces("Dummy \n dummy\n"), (Texts{"Dummy \n", " dummy\n"})) << "only exact ones";
}

TEST(DecodeInputTest, ANulByteEndsTheText) {
    EXPECT_EQ(Pieces(std::string("$GP\0rest\nnext\n", 14)), (Texts{"$GP", "next\n"}));
}

}  // namespace
