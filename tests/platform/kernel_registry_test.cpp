#include "platform/kernel/Kernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\";
// The product title in GBK, and in UTF-8 as the autostart file is named.
const char kTitleGbk[] = "\xD4\xC6\xBE\xED\xCA\xE9\xC0\xC8-\xC4\xAB\xD6\xDB\xCF\xBBV4.0";
const char kTitleUtf8[] =
    "\xE4\xBA\x91\xE5\x8D\xB7\xE4\xB9\xA6\xE5\xBB\x8A-\xE5\xA2\xA8\xE8\x88\x9F\xE5\x8C\xA3V4.0";

// A private home: every folder the desktop and the store use lies under one temporary folder.
class KernelDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kernel_reg_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_root = tmpl;
        fs::create_directories(m_root + "/home");
        SetEnv("HOME", m_root + "/home");
        SetEnv("XDG_CONFIG_HOME", m_root + "/config");
        SetEnv("XDG_DATA_HOME", m_root + "/data");
        SetEnv("KESTRIN_REGISTRY_DIR", m_root + "/registry");
        SetEnv("KESTRIN_MIME_TYPES", std::nullopt);
    }
    void TearDown() override {
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    void SetEnv(const std::string& name, const std::optional<std::string>& value) {
        if (!m_saved.count(name)) {
            const char* old = std::getenv(name.c_str());
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    static std::string Get(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    // Writes a Run value the way the program sets its autostart.
    void SetRun(const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, kTitleGbk, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    std::string AutostartEntry() const { return m_root + "/config/autostart/" + kTitleUtf8 + ".desktop"; }
    static std::string Line(const std::string& text, const std::string& key) {
        size_t at = text.find("\n" + key + "=");
        if (at == std::string::npos)
            return "<none>";
        at += key.size() + 2;
        return text.substr(at, text.find('\n', at) - at);
    }

    std::string m_root;
    std::map<std::string, std::optional<std::string>> m_saved;
};

TEST_F(KernelDesktop, RunValueBecomesAutostartEntryWithQuotedProgram) {
    // The program lives in a folder with a blank, as "Program Files" would be.
    fs::create_directories(m_root + "/my apps");
    std::string exe = m_root + "/my apps/kestrin";
    std::ofstream(exe) << "#!/bin/sh\n";
    chmod(exe.c_str(), 0755);
    SetRun(AfxUnmapPath(exe) + " hide");

    std::string entry = Get(AutostartEntry());
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(Line(entry, "Type"), "Application");
    EXPECT_EQ(Line(entry, "Name"), kTitleUtf8);
    EXPECT_EQ(Line(entry, "Exec"), "\"" + exe + "\" \"hide\"");
    EXPECT_EQ(Line(entry, "Hidden"), "<none>");

    // The value itself reads back as written, terminator included.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_READ, &key), ERROR_SUCCESS);
    char buf[512];
    DWORD type = 0, size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key, kTitleGbk, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(buf), AfxUnmapPath(exe) + " hide");
    EXPECT_EQ(size, std::strlen(buf) + 1);
    RegCloseKey(key);
}

// A value name is the entry's Name=; a line break in it must not start a key of its own.
TEST_F(KernelDesktop, RunValueNameWithLineBreakStaysOneKey) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char value[] = "\\usr\\bin\\kestrin";
    ASSERT_EQ(RegSetValueExA(key, "Kestrin\nHidden=true", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string entry = Get(m_root + "/config/autostart/Kestrin\nHidden=true.desktop");
    ASSERT_FALSE(entry.empty());
    EXPECT_EQ(Line(entry, "Name"), "Kestrin\\nHidden=true");
    EXPECT_EQ(Line(entry, "Hidden"), "<none>");
}

TEST_F(KernelDesktop, HomeFolderIsHomeElseTheAccountsFolder) {
    passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string account = pw->pw_dir;
    struct Case {
        std::optional<std::string> home;
        std::string expected;
    };
    const Case cases[] = {{m_root + "/home", m_root + "/home"}, {"", account}, {std::nullopt, account}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home.value_or("<unset>"));
        SetEnv("HOME", c.home);
        EXPECT_EQ(AfxGetHomeFolder(), c.expected);
    }
    // The documents folder and the registry's folders follow it.
    SetEnv("HOME", m_root + "/home");
    SetEnv("XDG_CONFIG_HOME", std::nullopt);
    char path[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, path)));
    EXPECT_EQ(std::string(path), AfxUnmapPath(m_root + "/home"));
    SetRun("\\usr\\bin\\kestrin");
    EXPECT_TRUE(fs::exists(m_root + "/home/.config/autostart/" + kTitleUtf8 + ".desktop"));
}

// A relative value is not an XDG folder: the default under the home folder stands.
TEST_F(KernelDesktop, XdgFolderIsAnAbsoluteVariableElseUnderHome) {
    const std::string home = m_root + "/home";
    struct Case {
        std::optional<std::string> value;
        std::string expected;
    };
    const Case cases[] = {{m_root + "/cfg", m_root + "/cfg"},
                          {"relative/cfg", home + "/.config"},
                          {"", home + "/.config"},
                          {std::nullopt, home + "/.config"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.value_or("<unset>"));
        SetEnv("XDG_CONFIG_HOME", c.value);
        EXPECT_EQ(AfxGetXdgFolder("XDG_CONFIG_HOME", ".config"), c.expected);
    }
}

TEST_F(KernelDesktop, DisabledRunValueGivesEntryThatStartsNothing) {
    SetRun("\\usr\\bin\\kestrin");
    EXPECT_NE(Line(Get(AutostartEntry()), "Exec"), "<none>");
    SetRun(";disabled");
    std::string entry = Get(AutostartEntry());
    EXPECT_EQ(Line(entry, "Hidden"), "true");
    EXPECT_EQ(Line(entry, "Exec"), "true");
    EXPECT_EQ(entry.find("kestrin"), std::string::npos);
    // Deleting the value removes the entry.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, kTitleGbk), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_FALSE(fs::exists(AutostartEntry()));
}

TEST_F(KernelDesktop, ContentTypeOfExtensions) {
    std::ofstream(m_root + "/mime.types")
        << "# comment\napplication/x-kestrin-test\tkst  kst2\ntext/css css\n";
    SetEnv("KESTRIN_MIME_TYPES", m_root + "/mime.types");
    struct {
        const char* ext;
        const char* type;
    } cases[] = {
        {".css", "text/css"},
        {".CSS", "text/css"},
        {".html", "text/html"},
        {".htm", "text/html"},
        {".js", "application/javascript"},
        {".jpg", "image/jpeg"},
        {".png", "image/png"},
        {".gif", "image/gif"},
        {".xml", "text/xml"},
        {".swf", "application/x-shockwave-flash"},
        {".txt", "text/plain"},
        {".kst2", "application/x-kestrin-test"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.ext);
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, c.ext, 0, KEY_READ, &key), ERROR_SUCCESS);
        char buf[100];
        DWORD size = sizeof buf, type = 0;
        ASSERT_EQ(RegQueryValueExA(key, "Content Type", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(buf, c.type);
        EXPECT_EQ(size, std::strlen(c.type) + 1);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        // Too small a buffer tells the size needed.
        size = 3;
        EXPECT_EQ(
            RegQueryValueExA(key, "Content Type", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_MORE_DATA);
        EXPECT_EQ(size, std::strlen(c.type) + 1);
        RegCloseKey(key);
    }
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".nosuchext", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(KernelDesktop, SystemMimeDatabaseIsRead) {
    if (!fs::exists("/etc/mime.types"))
        GTEST_SKIP() << "no /etc/mime.types";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".pdf", 0, KEY_READ, &key), ERROR_SUCCESS);
    char buf[100];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key, "Content Type", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "application/pdf");
    RegCloseKey(key);
}

TEST_F(KernelDesktop, StoreKeepsValuesAcrossHandles) {
    HKEY key;
    DWORD disp = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrin", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrin\\", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    DWORD n = 42;
    ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&n), sizeof n),
              ERROR_SUCCESS);
    const char text[] = "line\n[x]=%y";
    ASSERT_EQ(RegSetValueExA(key, "Odd=Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\kestrin", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    DWORD out = 0, size = sizeof out, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "count", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(out, 42u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    char buf[64];
    size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Odd=Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, sizeof text);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(key, "Odd=Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, text);
    EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_TRUE(fs::exists(m_root + "/registry"));
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(KernelDesktop, ApplicationDataFolderIsCreatedWhenMissing) {
    LPITEMIDLIST pidl = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &pidl), S_OK);
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(pidl, path));
    ILFree(pidl);
    EXPECT_EQ(std::string(path), AfxUnmapPath(m_root + "/data"));
    EXPECT_TRUE(fs::is_directory(m_root + "/data"));
    char path2[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path2), S_OK);
    EXPECT_STREQ(path, path2);
}

TEST_F(KernelDesktop, DesktopFolderFromUserDirsOrNone) {
    char path[MAX_PATH] = "x";
    LPITEMIDLIST pidl = nullptr;
    // No desktop folder at all.
    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &pidl), E_FAIL);
    EXPECT_EQ(pidl, nullptr);
    EXPECT_FALSE(SHGetPathFromIDListA(pidl, path));
    EXPECT_STREQ(path, "");

    fs::create_directories(m_root + "/config");
    std::ofstream(m_root + "/config/user-dirs.dirs") << "# user dirs\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n";
    fs::create_directories(m_root + "/home/Bureau");
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_DESKTOP}) {
        ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, csidl, &pidl), S_OK);
        ASSERT_TRUE(SHGetPathFromIDListA(pidl, path));
        ILFree(pidl);
        EXPECT_EQ(std::string(path), AfxUnmapPath(m_root + "/home/Bureau"));
    }
}

} // namespace
