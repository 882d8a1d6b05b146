// Answers to a resumed download that only a scripted peer gives: ranges that do not reach the end,
// that name no range or an empty one, and a range whose own bounds are the only length.
#include "net/MyHttp.h"

#include "RawPeer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>

namespace fs = std::filesystem;

namespace {

const std::string kWhole = "ABCDEFGHIJKL";

struct RangeAnswerCase {
    const char* name;
    std::string answer; // the reply to the ranged request; a request without Range gets the whole file
    size_t requests;
    std::string file;
};

void PrintTo(const RangeAnswerCase& c, std::ostream* os) {
    *os << c.name;
}

const RangeAnswerCase kRangeAnswerCases[] = {
    {"StopsShortOfTheEnd",
     "HTTP/1.1 206 Partial\r\nContent-Range: bytes 4-7/12\r\nContent-Length: 4\r\n\r\nEFGH", 2, kWhole},
    {"NoContentRange", "HTTP/1.1 206 Partial\r\nContent-Length: 8\r\n\r\nEFGHIJKL", 2, kWhole},
    {"EndBeforeStart", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 4-2/12\r\n\r\n", 2, kWhole},
    {"RangeLongerThanItsLength",
     "HTTP/1.1 206 Partial\r\nContent-Range: bytes 4-11/12\r\nContent-Length: 3\r\n\r\nEFGHIJKL", 2, kWhole},
    // Without a Content-Length the range's bounds say where the body ends.
    {"LengthOnlyFromTheRange", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 4-11/12\r\n\r\nEFGHIJKL", 1,
     kWhole},
};

class RangeAnswers : public ::testing::TestWithParam<RangeAnswerCase> {};

TEST_P(RangeAnswers, OnlyARangeToTheEndContinuesTheData) {
    const RangeAnswerCase& c = GetParam();
    RawPeer peer([&](RawPeer&, int fd, const std::string& request, int) {
        if (request.find("\r\nRange:") != std::string::npos)
            RawPeer::Write(fd, c.answer);
        else
            RawPeer::Write(fd, "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n" + kWhole);
    });
    fs::path file = fs::temp_directory_path() / ("range_" + std::to_string(getpid()) + "_" + c.name);
    std::ofstream(file, std::ios::binary) << kWhole.substr(0, 4);
    CMyHttp http;
    http.SetTimeout(10000);
    http.SetResumeOffset(4);
    EXPECT_EQ(MYHTTP_OK, http.DownloadFile(peer.Url("/p.exe").c_str(), nullptr, 0, "", WinPath(file)));
    EXPECT_EQ(c.requests, peer.Requests().size());
    EXPECT_EQ(c.file, ReadFileBytes(file));
    fs::remove(file);
}

INSTANTIATE_TEST_SUITE_P(Replies, RangeAnswers, ::testing::ValuesIn(kRangeAnswerCases),
                         [](const ::testing::TestParamInfo<RangeAnswerCase>& info) {
                             return info.param.name;
                         });

} // namespace
