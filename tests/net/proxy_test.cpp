// Downloads through a tunnel: an HTTP proxy's CONNECT and a SOCKS5 server, both small Python
// peers on loopback, in front of the replacement store.
#include "net/MyHttp.h"

#include "tests/net/StorePeer.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Base64(const std::string& s) {
    std::string out(s.size() * 4 / 3 + 8, '\0');
    CMyHttp::EncodeBase64(out.data(), reinterpret_cast<const unsigned char*>(s.data()),
                          static_cast<int>(s.size()));
    return out.c_str();
}

struct TunnelCase {
    const char* name;
    int type;              // 1 HTTP CONNECT, 2 SOCKS5
    const char* proxyUser; // credentials the proxy asks for; "" asks for none
    const char* proxyPass;
    const char* clientUser; // what the client is given
    const char* clientPass;
    const char* proxyArgs; // further arguments of the peer, separated by "|"
    bool ok;
    const char* logHas; // "%PORT%" stands for the store's port, "%AUTH%" for the Basic code
    const char* logLacks;
};

void PrintTo(const TunnelCase& c, std::ostream* os) {
    *os << c.name;
}

class Tunnels : public WithStore<::testing::TestWithParam<TunnelCase>> {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("tunnel_" + std::to_string(getpid()) + "_" +
                                             std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

TEST_P(Tunnels, PackageThroughTheProxy) {
    const TunnelCase& c = GetParam();
    fs::path log = m_dir / "proxy.log";
    std::vector<std::string> argv = {"python3", std::string(TEST_SOURCE_DIR) + "/proxy_peer.py",
                                     c.type == 1 ? "http" : "socks", "--log", log.string()};
    if (*c.proxyUser) {
        argv.insert(argv.end(), {"--user", c.proxyUser, "--password", c.proxyPass});
    }
    for (std::string rest = c.proxyArgs; !rest.empty();) {
        size_t sp = rest.find('|');
        argv.push_back(rest.substr(0, sp));
        rest = sp == std::string::npos ? std::string() : rest.substr(sp + 1);
    }
    PeerProcess proxy;
    ASSERT_TRUE(proxy.Start(argv));

    CProxyInfo info;
    info.nType = c.type;
    info.strHost = "127.0.0.1";
    info.nPort = proxy.Port();
    info.strUser = c.clientUser;
    info.strPassword = c.clientPass;
    CMyHttp http;
    http.SetProxy(info);
    fs::path file = m_dir / "m2.exe";
    int result = http.DownloadFile((Base() + "/packages/m2.exe").c_str(), nullptr, 0, "", WinPath(file));

    std::string seen = ReadFileBytes(log);
    std::string want = c.logHas;
    for (auto [key, value] : {std::pair<std::string, std::string>{"%PORT%", std::to_string(s_store->Port())},
                              {"%AUTH%", Base64(std::string(c.clientUser) + ":" + c.clientPass)}}) {
        for (size_t p; (p = want.find(key)) != std::string::npos;)
            want.replace(p, key.size(), value);
    }
    EXPECT_NE(std::string::npos, seen.find(want)) << seen;
    if (*c.logLacks) {
        EXPECT_EQ(std::string::npos, seen.find(c.logLacks)) << seen;
    }
    if (!c.ok) {
        EXPECT_EQ(MYHTTP_ERR_CONNECT, result);
        return;
    }
    ASSERT_EQ(MYHTTP_OK, result);
    std::string direct = RunCommand("curl -s '" + Base() + "/packages/m2.exe' | sha256sum").substr(0, 64);
    EXPECT_EQ(direct, RunCommand("sha256sum '" + file.string() + "'").substr(0, 64));
    // A text request goes through the same tunnel.
    CMyHttp text;
    text.SetProxy(info);
    CString body;
    EXPECT_EQ(MYHTTP_OK, text.GetUrl((Base() + "/touch/api/?vs=1&type=mag&pid=m2&source=").c_str(), nullptr,
                                     0, "", body));
    EXPECT_NE(-1, body.Find("<pid>m2</pid>"));
}

INSTANTIATE_TEST_SUITE_P(
    Proxies, Tunnels,
    ::testing::Values(
        TunnelCase{"ConnectOpen", 1, "", "", "", "", "", true, "CONNECT 127.0.0.1:%PORT% HTTP/1.0||",
                   "Proxy-Authorization"},
        TunnelCase{"ConnectWithBasic", 1, "al ice", "s:e&cr#t", "al ice", "s:e&cr#t", "", true,
                   "CONNECT 127.0.0.1:%PORT% HTTP/1.0|Proxy-Authorization: Basic %AUTH%||", ""},
        TunnelCase{"ConnectWrongPassword", 1, "u", "right", "u", "wrong", "", false,
                   "Proxy-Authorization: Basic %AUTH%", ""},
        TunnelCase{"ConnectCredentialsMissing", 1, "u", "p", "", "", "", false, "CONNECT 127.0.0.1:%PORT%",
                   "Proxy-Authorization"},
        // A user without a password is no credential at all.
        TunnelCase{"ConnectUserWithoutPassword", 1, "", "", "u", "", "", true,
                   "CONNECT 127.0.0.1:%PORT% HTTP/1.0||", "Proxy-Authorization"},
        TunnelCase{"ConnectHttp10Answer", 1, "", "", "", "", "--status-line|HTTP/1.0 200 OK", true,
                   "CONNECT 127.0.0.1:%PORT%", ""},
        TunnelCase{"ConnectRefused", 1, "", "", "", "", "--status-line|HTTP/1.1 403 Forbidden", false,
                   "CONNECT 127.0.0.1:%PORT%", ""},
        TunnelCase{"SocksOpen", 2, "", "", "", "", "", true,
                   "version=5 methods=0 connect=1 atyp=3 target=127.0.0.1:%PORT%", "user="},
        TunnelCase{"SocksWithPassword", 2, "al ice", "s:e&cr#t", "al ice", "s:e&cr#t", "", true,
                   "version=5 methods=0,2 sub=1 user=al ice password=s:e&cr#t connect=1 atyp=3 "
                   "target=127.0.0.1:%PORT%",
                   ""},
        TunnelCase{"SocksWrongPassword", 2, "u", "right", "u", "wrong", "", false,
                   "user=u password=wrong refused", "connect="},
        TunnelCase{"SocksPasswordMissing", 2, "u", "p", "", "", "", false, "version=5 methods=0 refused", ""},
        // Offered both, an open server chooses none and the tunnel stands without credentials.
        TunnelCase{"SocksOpenServerSkipsTheOfferedPassword", 2, "", "", "u", "p", "", true,
                   "version=5 methods=0,2 connect=1", "user="},
        // Every byte of a longer bound address is read, so none is taken for the reply's.
        TunnelCase{"SocksBoundAddressByName", 2, "", "", "", "", "--bound-type|3", true, "connect=1", ""},
        TunnelCase{"SocksBoundAddressIpv6", 2, "", "", "", "", "--bound-type|4", true, "connect=1", ""}));

TEST(TunnelsDown, AProxyThatIsNotThereFails) {
    CProxyInfo info;
    info.nType = 1;
    info.strHost = "127.0.0.1";
    info.nPort = PeerProcess::FreePort();
    CMyHttp http;
    http.SetProxy(info);
    CString body;
    EXPECT_EQ(MYHTTP_ERR_CONNECT, http.GetUrl("http://127.0.0.1:9/x", nullptr, 0, "", body));
    CProxyInfo unknown = info;
    unknown.nType = 3;
    CMyHttp other;
    other.SetProxy(unknown);
    EXPECT_EQ(MYHTTP_ERR_CONNECT, other.GetUrl("http://127.0.0.1:9/x", nullptr, 0, "", body));
}

} // namespace
