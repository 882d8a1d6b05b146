// CMyHttp::DownloadFile against the replacement store: lengths, writes that fail, stops from
// another thread and progress reports.
#include "net/MyHttp.h"

#include "tests/net/StorePeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Fetch(const std::string& url) {
    return RunCommand("curl -s '" + url + "'");
}

class StoreDownload : public WithStore<> {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("filedl_" + std::to_string(getpid()) + "_" +
                                             std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        Fetch(Base() + "/_control/release?all=1");
        fs::remove_all(m_dir);
    }
    static CString Url(const std::string& pathAndQuery) { return CString((Base() + pathAndQuery).c_str()); }

    fs::path m_dir;
};

struct LengthCase {
    const char* name;
    const char* query;
    bool requireLength;
    int result;
    bool fileKept; // the earlier content of the file is untouched
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.name;
}

class Lengths : public StoreDownload, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(Lengths, ResultAndFile) {
    const LengthCase& c = GetParam();
    fs::path file = m_dir / "f.bin";
    std::ofstream(file) << "earlier";
    CMyHttp http;
    http.SetRequireLength(c.requireLength ? TRUE : FALSE);
    EXPECT_EQ(c.result, http.DownloadFile(Url(std::string("/blob?size=300000") + c.query), nullptr, 0, "",
                                          WinPath(file)));
    std::string got = ReadFileBytes(file);
    if (c.fileKept) {
        EXPECT_EQ("earlier", got);
    } else if (c.result == MYHTTP_OK) {
        std::string whole = Fetch(Base() + "/blob?size=300000");
        EXPECT_TRUE(whole.compare(0, got.size(), got) == 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Lengths,
    ::testing::Values(LengthCase{"WithLength", "", false, MYHTTP_OK, false},
                      LengthCase{"WithLengthRequired", "", true, MYHTTP_OK, false},
                      // The closed connection is the end when nothing else says where it is.
                      LengthCase{"NoLength", "&nolength=1", false, MYHTTP_OK, false},
                      LengthCase{"NoLengthRequired", "&nolength=1", true, MYHTTP_ERR_CONNECT, true},
                      LengthCase{"ChunkedRequired", "&chunked=1", true, MYHTTP_ERR_CONNECT, true},
                      LengthCase{"NoLengthCutRequired", "&nolength=1&cut=1000", true, MYHTTP_ERR_CONNECT,
                                 true},
                      // More announced than sent: the short body is a failure.
                      LengthCase{"LongerThanSent", "&badlength=100", false, MYHTTP_ERR_CONNECT, false},
                      // Less announced than sent: the length is wrong, so the bytes may not be the file.
                      LengthCase{"ShorterThanSent", "&badlength=-100", false, MYHTTP_ERR_CONNECT, false}));

struct PartialCase {
    const char* name;
    const char* query;
    int result;
    size_t kept; // the file afterwards holds the blob's first bytes, this many
};

void PrintTo(const PartialCase& c, std::ostream* os) {
    *os << c.name;
}

class PartialAnswers : public StoreDownload, public ::testing::WithParamInterface<PartialCase> {};

// 30000 good bytes on disk and a resume from there: only an answer that starts at the offset is
// appended; a whole file or a range from 0 replaces the data. A range from any other byte, or one
// whose length is not what it announces, cannot continue the data: the whole file is asked for.
TEST_P(PartialAnswers, AppendOnlyAtTheOffset) {
    const PartialCase& c = GetParam();
    std::string whole = Fetch(Base() + "/blob?size=100000");
    fs::path file = m_dir / "part.bin";
    std::ofstream(file, std::ios::binary) << whole.substr(0, 30000);
    CMyHttp http;
    http.SetResumeOffset(30000);
    EXPECT_EQ(c.result, http.DownloadFile(Url(std::string("/blob?size=100000") + c.query), nullptr, 0, "",
                                          WinPath(file)));
    EXPECT_TRUE(ReadFileBytes(file) == whole.substr(0, c.kept));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, PartialAnswers,
    ::testing::Values(PartialCase{"FromTheOffset", "", MYHTTP_OK, 100000},
                      PartialCase{"WholeFileWith200", "&norange=1", MYHTTP_OK, 100000},
                      PartialCase{"RangeFromZero", "&rangefrom=0", MYHTTP_OK, 100000},
                      PartialCase{"RangeFromElsewhere", "&rangefrom=20000", MYHTTP_OK, 100000},
                      PartialCase{"RangeBeyondTheOffset", "&rangefrom=40000", MYHTTP_OK, 100000},
                      // The whole file again, with the same wrong length: only the true bytes stay.
                      PartialCase{"LongerThanSent", "&badlength=100", MYHTTP_ERR_CONNECT, 100000},
                      PartialCase{"ShorterThanSent", "&badlength=-100", MYHTTP_ERR_CONNECT, 99900}));

TEST_F(StoreDownload, ShorterThanSentFailsAndKeepsOnlyTheAnnouncedBytes) {
    fs::path file = m_dir / "f.bin";
    CMyHttp http;
    ASSERT_EQ(MYHTTP_ERR_CONNECT,
              http.DownloadFile(Url("/blob?size=300000&badlength=-100"), nullptr, 0, "", WinPath(file)));
    EXPECT_TRUE(ReadFileBytes(file) == Fetch(Base() + "/blob?size=300000").substr(0, 299900));
}

TEST_F(StoreDownload, AWriteThatFailsFailsTheDownload) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    for (const char* query : {"", "&chunked=1", "&nolength=1"}) {
        CMyHttp http;
        EXPECT_EQ(MYHTTP_ERR_CONNECT, http.DownloadFile(Url(std::string("/blob?size=300000") + query),
                                                        nullptr, 0, "", "\\dev\\full"))
            << query;
    }
}

TEST_F(StoreDownload, AStopFromAnotherThreadEndsAHeldTransferAndKeepsWhatCame) {
    for (const char* query : {"", "&nolength=1", "&chunked=1"}) {
        fs::path file = m_dir / "held.bin";
        std::string gate = std::string("held") + std::to_string(reinterpret_cast<uintptr_t>(query));
        CMyHttp http;
        std::thread stopper([&] {
            // The first 64 KiB come, then the store holds the rest.
            for (int i = 0; i < 6000; ++i) {
                std::error_code ec;
                if (fs::file_size(file, ec) == 65536)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            http.Stop();
        });
        EXPECT_EQ(MYHTTP_ERR_CONNECT, http.DownloadFile(Url("/blob?size=300000&gate=" + gate + query),
                                                        nullptr, 0, "", WinPath(file)))
            << query;
        stopper.join();
        // What came stays for a later resume.
        EXPECT_EQ(65536u, fs::file_size(file)) << query;
        EXPECT_TRUE(Fetch(Base() + "/blob?size=300000").compare(0, 65536, ReadFileBytes(file)) == 0) << query;
        Fetch(Base() + "/_control/release?gate=" + gate);
        fs::remove(file);
    }
}

struct Report {
    LONGLONG done;
    LONGLONG total;
};
std::mutex s_reportLock;
std::vector<Report> s_reports;

int Record(void*, LONGLONG done, LONGLONG total) {
    std::lock_guard<std::mutex> guard(s_reportLock);
    s_reports.push_back({done, total});
    return 0;
}

TEST_F(StoreDownload, ProgressCountsIncludeTheResumeOffset) {
    // 205000 bytes, 5000 of them on disk; the rest comes in pieces 1.1 s apart, so reports come.
    std::string whole = Fetch(Base() + "/blob?size=205000");
    fs::path file = m_dir / "part.bin";
    std::ofstream(file, std::ios::binary) << whole.substr(0, 5000);
    s_reports.clear();
    CMyHttp http;
    http.SetResumeOffset(5000);
    http.SetProgressCallback(Record, nullptr);
    ASSERT_EQ(MYHTTP_OK,
              http.DownloadFile(Url("/blob?size=205000&slow=1100"), nullptr, 0, "", WinPath(file)));
    EXPECT_TRUE(ReadFileBytes(file) == whole);
    std::lock_guard<std::mutex> guard(s_reportLock);
    ASSERT_FALSE(s_reports.empty());
    for (const Report& r : s_reports) {
        EXPECT_EQ(205000, r.total);
        EXPECT_GT(r.done, 5000);
        EXPECT_LE(r.done, 205000);
    }
}

} // namespace
