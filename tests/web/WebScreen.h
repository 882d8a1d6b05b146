// What the engine tests share: a program window with a child window that a WebKit browser
// control covers, a view endpoint whose `window.external` methods the test writes as lambdas,
// pages written into a temporary folder, and waits that iterate the GLib main context.
#pragma once

#include "platform/web/WebBridge.h"
#include "platform/web/WebKitBrowser.h"
#include "tests/gtk/GtkScreen.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace webscreen {

using namespace std::chrono_literals;

using Args = std::vector<CString>;

// A view as the browser control sees it: trust by URL prefix, methods from a table.
class TestView : public afxweb::IBrowserEvents {
public:
    using Method = std::function<afxweb::ExternalResult(const Args&)>;

    std::vector<std::string> trustedPrefixes;
    std::map<std::string, Method> methods;
    std::vector<std::string> messages; // "MB_OK text" / "MB_OKCANCEL text"
    int confirmAnswer = IDOK;
    std::vector<std::string> errors;
    std::vector<std::string> refused;
    std::vector<std::string> completed;
    int processGone = 0;
    std::function<bool(const std::string&)> allowNavigation;

    bool IsTrustedUrl(const CString& url, bool) override {
        for (const auto& p : trustedPrefixes)
            if (url.str().compare(0, p.size(), p) == 0)
                return true;
        return false;
    }
    std::vector<CString> ExternalMethods() override {
        std::vector<CString> r;
        for (const auto& [name, fn] : methods)
            r.push_back(CString(name));
        return r;
    }
    afxweb::ExternalResult OnExternalCall(const CString& method, const Args& args) override {
        auto it = methods.find(method.str());
        return it == methods.end() ? afxweb::ExternalResult() : it->second(args);
    }
    int OnShowMessage(const CString& text, UINT type) override {
        messages.push_back(std::string(type == MB_OKCANCEL ? "MB_OKCANCEL " : "MB_OK ") + text.str());
        return type == MB_OKCANCEL ? confirmAnswer : IDOK;
    }
    bool OnBeforeNavigate(const CString& url) override {
        if (allowNavigation && !allowNavigation(url.str())) {
            refused.push_back(url.str());
            return false;
        }
        return true;
    }
    void OnNavigateError(const CString& url) override { errors.push_back(url.str()); }
    void OnDocumentComplete(const CString& url) override { completed.push_back(url.str()); }
    void OnProcessGone() override { ++processGone; }
};

// A web server on a loopback port of its own, for pages of another site: "/404..." answers 404,
// "/hang..." never answers, "/held..." answers once the test releases it, any other path the page
// set for it (or a plain page).
class PageServer {
public:
    PageServer() {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_fd, 16) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~PageServer() {
        m_stop = true;
        shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
        for (int c : m_held)
            close(c);
        for (const auto& h : m_gated)
            close(h.first);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::string Origin() const { return Url("/"); }
    // Set before the first request.
    std::map<std::string, std::string> pages;

    // How many "/held..." requests wait for their answer now.
    size_t Held() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_gated.size();
    }
    // Answers the held requests, and from now on answers "/held..." at once.
    void Release() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_released = true;
        for (const auto& [c, path] : m_gated)
            Answer(c, path);
        m_gated.clear();
    }

private:
    void Answer(int c, const std::string& path) {
        std::string status = path.rfind("/404", 0) == 0 ? "404 Not Found" : "200 OK";
        auto it = pages.find(path);
        std::string body = it != pages.end() ? it->second : "<html><body>page " + path + "</body></html>";
        std::string answer = "HTTP/1.1 " + status +
                             "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body;
        send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(c);
    }
    void Run() {
        while (!m_stop) {
            int c = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            std::string req;
            char buf[4096];
            while (req.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                req.append(buf, static_cast<size_t>(n));
            }
            size_t sp = req.find(' ');
            std::string path =
                sp == std::string::npos ? "" : req.substr(sp + 1, req.find(' ', sp + 1) - sp - 1);
            if (path.rfind("/hang", 0) == 0) {
                m_held.push_back(c);
                continue;
            }
            std::lock_guard<std::mutex> lock(m_lock);
            if (path.rfind("/held", 0) == 0 && !m_released)
                m_gated.emplace_back(c, path);
            else
                Answer(c, path);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<int> m_held;
    std::mutex m_lock; // guards m_gated and m_released
    std::vector<std::pair<int, std::string>> m_gated;
    bool m_released = false;
};

class WebTest : public gtkscreen::ScreenTest {
protected:
    void SetUp() override {
        gtkscreen::ScreenTest::SetUp();
        top = rec.Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 640, 480}, nullptr, 0, false);
        ASSERT_NE(top, nullptr);
    }
    void TearDown() override {
        browsers.clear();
        if (top)
            DestroyWindow(top);
        gtkscreen::ScreenTest::TearDown();
    }

    // A browser over a new child window of the test window, answering to view.
    afxweb::CWebKitBrowser* MakeBrowser(TestView& view, RECT r = RECT{10, 10, 630, 470}) {
        HWND child = rec.Make(WS_CHILD | WS_VISIBLE, r, top, 0, false);
        auto b = afxweb::CreateWebKitBrowser(child);
        if (!b)
            return nullptr;
        b->SetEvents(&view);
        browsers.push_back(std::move(b));
        return browsers.back().get();
    }

    // Writes a page (UTF-8 unless given otherwise) and returns its file URL.
    std::string Page(const std::string& name, const std::string& body) {
        WriteFile(dir.sub(name), body);
        return "file://" + dir.sub(name);
    }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string Prefix() const { return "file://" + dir.path() + "/"; }

    // Navigates and waits for the document to be complete.
    bool Load(afxweb::CWebKitBrowser* b, TestView& v, const std::string& url) {
        size_t before = v.completed.size();
        b->Navigate2(CString(url));
        return gtkscreen::Until([&] { return v.completed.size() > before && b->HasDocument(); }, 20s);
    }

    // Calls a page function; the result, or "<FALSE>".
    static std::string Call(afxweb::CWebKitBrowser* b, const char* fn, const Args& args = {}) {
        CString r;
        return b->InvokeScript(CString(fn), args, &r) ? r.str() : "<FALSE>";
    }

    TempDir dir{"kestrin_web_"};
    testwin::Recorder rec;
    HWND top = nullptr;
    std::vector<std::unique_ptr<afxweb::CWebKitBrowser>> browsers;
};

} // namespace webscreen
