// Chunked bodies decoded the two ways the client decodes them: whole and in place, and fed in pieces
// as they arrive. Both must give one answer for one body, however it is cut.
#include "net/MyHttp.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ChunkedCase {
    const char* name;
    std::string body;
    int result; // decoded length, -1 for a refused body
    std::string decoded;
};

void PrintTo(const ChunkedCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kLongTrailer = "X-Checksum: " + std::string(1100, 't') + "\r\n";

const ChunkedCase kChunkedCases[] = {
    {"NoTrailer", "5\r\nHello\r\n0\r\n\r\n", 5, "Hello"},
    {"ShortTrailer", "5\r\nHello\r\n0\r\nX-T: 1\r\n\r\n", 5, "Hello"},
    // A trailer line longer than any size line may be: it is not part of the body.
    {"LongTrailer", "5\r\nHello\r\n0\r\n" + kLongTrailer + "\r\n", 5, "Hello"},
    {"LongTrailerNeverEnded", "3\r\nabc\r\n0\r\n" + kLongTrailer, 3, "abc"},
    {"LastChunkWithoutItsBlankLine", "3\r\nabc\r\n0\r\n", 3, "abc"},
    {"BytesAfterTheLastChunk", "3\r\nabc\r\n0\r\n\r\nHTTP/1.1 200 OK\r\n", 3, "abc"},
    {"LongSizeLine", "3;" + std::string(1100, 'e') + "\r\nabc\r\n0\r\n\r\n", -1, ""},
    {"CutInAChunk", "5\r\nHel", -1, ""},
    {"NoLastChunk", "5\r\nHello\r\n", -1, ""},
};

class Chunked : public ::testing::TestWithParam<ChunkedCase> {};

TEST_P(Chunked, InPlaceAndInPiecesAgree) {
    const ChunkedCase& c = GetParam();
    std::string buf = c.body;
    int n = CMyHttp::DecodeChunked(buf.data(), static_cast<int>(buf.size()));
    ASSERT_EQ(c.result, n);
    if (n >= 0) {
        EXPECT_EQ(c.decoded, buf.substr(0, static_cast<size_t>(n)));
    }

    for (size_t piece : {size_t(1), size_t(7), size_t(1000), c.body.size()}) {
        CChunkedDecoder dec;
        std::string out;
        bool ok = true;
        // As the download reads: pieces until the body says it is done.
        for (size_t at = 0; at < c.body.size() && ok && !dec.IsDone(); at += piece)
            ok = dec.Feed(c.body.data() + at, std::min(piece, c.body.size() - at), out);
        EXPECT_EQ(c.result >= 0, ok && dec.IsDone()) << "pieces of " << piece;
        if (c.result >= 0) {
            EXPECT_EQ(c.decoded, out) << "pieces of " << piece;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bodies, Chunked, ::testing::ValuesIn(kChunkedCases),
                         [](const ::testing::TestParamInfo<ChunkedCase>& info) { return info.param.name; });

} // namespace
