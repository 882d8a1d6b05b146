// MD5 against the RFC 1321 suite and against coreutils md5sum.
#include "foundation/ZMD5.h"
#include "tests/foundation/FoundationTestUtil.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(ZMD5, Rfc1321Suite) {
    struct Case {
        const char* input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    ZMD5Ex md5; // one object for every digest: each call starts afresh
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(md5.GetMD5(c.input, false), c.digest);
        std::string upper = c.digest;
        for (char& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(md5.GetMD5(c.input, true), upper);
    }
}

TEST(ZMD5, ZeroBytesAreDigested) {
    ZMD5Ex md5;
    EXPECT_EQ(md5.GetMD5(std::string("\0", 1), false), "93b885adfe0da089cdf634904fd59f71");
    EXPECT_NE(md5.GetMD5(std::string("a\0b", 3), false), md5.GetMD5("a", false));
}

TEST(ZMD5, MatchesMd5sumForLengthsZeroTo200) {
    TempDir dir;
    std::mt19937 rng(1321);
    std::vector<std::string> inputs;
    std::string files;
    for (size_t len = 0; len <= 200; ++len) {
        inputs.push_back(ftest::RandomBytes(rng, len));
        const std::string file = dir.sub("m" + std::to_string(len));
        WriteFileBytes(file, inputs.back());
        files += " '" + file + "'";
    }
    // One md5sum run for all of them; its lines come in argument order.
    std::istringstream lines(RunCommand("md5sum" + files));
    ZMD5Ex md5;
    for (size_t len = 0; len <= 200; ++len) {
        SCOPED_TRACE(len);
        std::string digest, name;
        ASSERT_TRUE(static_cast<bool>(lines >> digest >> name));
        EXPECT_EQ(md5.GetMD5(inputs[len], false), digest);
    }
}

// Shows the padding that the last digest used.
class PaddingProbe : public ZMD5Ex {
public:
    uint32_t Padding() const { return m_nPadding; }
};

TEST(ZMD5, PaddingAtBlockBoundaries) {
    // 55 bytes pad to one block; 56, 63, 64 and 65 need a second one. md5sum gives the truth.
    struct Case {
        size_t length;
        uint32_t padding;
        size_t blocks;
    };
    const Case cases[] = {{0, 56, 1},  {55, 1, 1},  {56, 64, 2},  {63, 57, 2}, {64, 56, 2},
                          {65, 55, 2}, {119, 1, 2}, {120, 64, 3}, {128, 56, 3}};
    TempDir dir;
    PaddingProbe md5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string text(c.length, 'q');
        WriteFileBytes(dir.sub("b"), text);
        const std::string out = RunCommand("md5sum '" + dir.sub("b") + "'");
        EXPECT_EQ(md5.GetMD5(text, false), out.substr(0, 32));
        EXPECT_EQ(md5.Padding(), c.padding);
        EXPECT_EQ((c.length + md5.Padding() + 8) / 64, c.blocks);
        EXPECT_EQ((c.length + md5.Padding() + 8) % 64, 0u);
    }
}

} // namespace
