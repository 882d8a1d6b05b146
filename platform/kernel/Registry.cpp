#include "platform/kernel/Registry.h"
#include "platform/kernel/CodePage.h"
#include "platform/kernel/DesktopEntry.h"
#include "platform/kernel/FileSys.h"
#include "platform/kernel/ShellFolders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

enum Hive { kClassesRoot = 0, kCurrentUser = 1, kLocalMachine = 2, kUsers = 3 };
const char* const kHiveFile[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                 "HKEY_USERS"};

struct KeyObj {
    static constexpr uint32_t kMagic = 0x5245474B; // "REGK"
    uint32_t magic = kMagic;
    int hive;
    std::string path; // without leading or trailing "\"
};

struct Value {
    DWORD type = REG_NONE;
    std::string data;
};

// A hive as stored: keys by their path as first written, each with its values in order.
struct Store {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, Value>>>> keys;
};

std::mutex& RegLock() {
    static std::mutex m;
    return m;
}

std::set<KeyObj*>& LiveKeys() {
    static std::set<KeyObj*> s;
    return s;
}

// "" when the user has no home folder: the store is then missing rather than in a folder that
// every user may write.
std::string ConfigHome() {
    return AfxGetXdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string StoreDir() {
    const char* r = std::getenv("KESTRIN_REGISTRY_DIR");
    if (r && *r)
        return r;
    std::string config = ConfigHome();
    return config.empty() ? "" : config + "/kestrin/registry";
}

bool MakeDirs(const std::string& dir) {
    std::string cur;
    size_t i = 0;
    while (i <= dir.size()) {
        size_t slash = dir.find('/', i);
        if (slash == std::string::npos)
            slash = dir.size();
        cur = dir.substr(0, slash);
        if (!cur.empty())
            mkdir(cur.c_str(), 0777);
        i = slash + 1;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteWhole(const std::string& path, const std::string& data) {
    std::string tmp = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f)
            return false;
        f.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!f.flush())
            return false;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

// Text escaping of the store file: "%XX" for "%", brackets, "=", and control bytes.
std::string Escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '%' || c == '[' || c == ']' || c == '=') {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            out += b;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

Store LoadStore(int hive) {
    Store st;
    if (StoreDir().empty())
        return st;
    std::ifstream f(StoreDir() + "/" + kHiveFile[hive] + ".reg", std::ios::binary);
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            st.keys.push_back({Unescape(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        size_t eq = line.find('=');
        size_t colon = eq == std::string::npos ? eq : line.find(':', eq);
        if (st.keys.empty() || colon == std::string::npos)
            continue;
        Value v;
        v.type = static_cast<DWORD>(std::strtoul(line.substr(eq + 1, colon - eq - 1).c_str(), nullptr, 10));
        v.data = Unescape(line.substr(colon + 1));
        st.keys.back().second.push_back({Unescape(line.substr(0, eq)), v});
    }
    return st;
}

bool SaveStore(int hive, const Store& st) {
    if (!MakeDirs(StoreDir()))
        return false;
    std::string out = "; registry store: [key], then name=type:data per value\n";
    for (auto& k : st.keys) {
        out += "[" + Escape(k.first) + "]\n";
        for (auto& v : k.second)
            out += Escape(v.first) + "=" + std::to_string(v.second.type) + ":" + Escape(v.second.data) + "\n";
    }
    return WriteWhole(StoreDir() + "/" + kHiveFile[hive] + ".reg", out);
}

std::string NormalizeSubKey(const char* sub) {
    std::string s = sub ? sub : "";
    // Fold separators and drop leading and trailing ones, stepping over double-byte characters
    // so that a trail byte 0x5C is never taken for one.
    std::string out;
    bool pendingSep = false;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            pendingSep = !out.empty();
            continue;
        }
        if (pendingSep)
            out += '\\';
        pendingSep = false;
        out += s[i];
        if (IsDBCSLeadByte(c) && i + 1 < s.size())
            out += s[++i];
    }
    return out;
}

bool PathEquals(const std::string& a, const std::string& b) {
    return AfxEqualNoCaseAnsi(a.c_str(), b.c_str());
}

// True when a is b or lies above it.
bool IsAncestorOrSelf(const std::string& a, const std::string& b) {
    if (a.empty())
        return true;
    if (a.size() > b.size())
        return false;
    if (!PathEquals(a, b.substr(0, a.size())))
        return false;
    return a.size() == b.size() || b[a.size()] == '\\';
}

bool IsRunKey(int hive, const std::string& path) {
    return (hive == kLocalMachine || hive == kCurrentUser) && PathEquals(path, kRunKey);
}

// ".ext" under HKEY_CLASSES_ROOT.
bool IsExtensionKey(int hive, const std::string& path) {
    return hive == kClassesRoot && path.size() > 1 && path[0] == '.' && path.find('\\') == std::string::npos;
}

// The types the program's server answers with, whatever the system's database says (which may
// lack "wasm", without which a browser refuses to compile a module as it streams in).
const char* BuiltInContentType(const std::string& ext) {
    static const std::map<std::string, const char*> table = {
        {"htm", "text/html"},  {"html", "text/html"},
        {"css", "text/css"},   {"js", "application/javascript"},
        {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"},
        {"png", "image/png"},  {"gif", "image/gif"},
        {"xml", "text/xml"},   {"swf", "application/x-shockwave-flash"},
        {"txt", "text/plain"}, {"wasm", "application/wasm"},
    };
    auto it = table.find(ext);
    return it == table.end() ? nullptr : it->second;
}

std::string MimeTypesFile() {
    const char* m = std::getenv("KESTRIN_MIME_TYPES");
    return m && *m ? m : "/etc/mime.types";
}

bool SystemContentType(const std::string& ext, std::string& type) {
    std::ifstream f(MimeTypesFile());
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream ls(line);
        std::string mime, e;
        ls >> mime;
        while (ls >> e) {
            if (AfxAsciiLower(e) == ext) {
                type = mime;
                return true;
            }
        }
    }
    return false;
}

bool ContentTypeFor(const std::string& dotExt, std::string& type) {
    std::string ext = AfxAsciiLower(dotExt.substr(1));
    if (const char* t = BuiltInContentType(ext)) {
        type = t;
        return true;
    }
    return SystemContentType(ext, type);
}

// --- Autostart entries -------------------------------------------------------------------

std::string AutostartDir() {
    std::string config = ConfigHome();
    return config.empty() ? "" : config + "/autostart";
}

std::string AutostartFile(const std::string& ansiName) {
    std::string name = AfxAnsiToUtf8(ansiName);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return AutostartDir() + "/" + name + ".desktop";
}

bool StartsNothing(const std::string& v) {
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t'))
        ++i;
    return i >= v.size() || v[i] == ';';
}

// Splits a Run value into the program and its arguments: a quoted program, else the longest
// run of words that names an existing file, else the first word.
void SplitCommand(const std::string& v, std::string& program, std::string& args) {
    std::string s = v;
    size_t b = s.find_first_not_of(" \t");
    s = b == std::string::npos ? "" : s.substr(b);
    if (!s.empty() && s[0] == '"') {
        size_t close = s.find('"', 1);
        program = s.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        args = close == std::string::npos ? "" : s.substr(close + 1);
    } else {
        size_t best = std::string::npos;
        for (size_t sp = s.find(' ');; sp = s.find(' ', sp + 1)) {
            std::string cand = s.substr(0, sp);
            std::string linux;
            struct stat st;
            if (AfxMapPath(cand.c_str(), linux) && stat(linux.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
                best = sp;
            if (sp == std::string::npos)
                break;
        }
        if (best == std::string::npos)
            best = s.find(' ');
        program = s.substr(0, best);
        args = best == std::string::npos ? "" : s.substr(best);
    }
    size_t a = args.find_first_not_of(" \t");
    args = a == std::string::npos ? "" : args.substr(a);
}

bool WriteAutostart(const std::string& name, const std::string& value) {
    std::string entry = "[Desktop Entry]\nType=Application\n";
    entry += "Name=" + AfxDesktopValue(AfxAnsiToUtf8(name)) + "\n";
    if (StartsNothing(value)) {
        entry += "Exec=true\nHidden=true\nX-GNOME-Autostart-enabled=false\n";
    } else {
        std::string program, args;
        SplitCommand(value, program, args);
        std::string linux;
        if (!AfxMapPath(program.c_str(), linux))
            linux = AfxAnsiToUtf8(program);
        std::string exec = AfxDesktopExecQuote(linux);
        std::istringstream as(AfxAnsiToUtf8(args));
        std::string word;
        while (as >> word)
            exec += " " + AfxDesktopExecQuote(word);
        entry += "Exec=" + exec + "\nX-GNOME-Autostart-enabled=true\n";
    }
    if (!MakeDirs(AutostartDir()))
        return false;
    return WriteWhole(AutostartFile(name), entry);
}

// --- Handles -----------------------------------------------------------------------------

int PredefinedHive(HKEY h) {
    auto v = reinterpret_cast<ULONG_PTR>(h);
    if (v >= 0x80000000u && v <= 0x80000003u)
        return static_cast<int>(v - 0x80000000u);
    return -1;
}

// The hive and path of a handle; false for a handle that is not open. Call with the lock held.
bool Resolve(HKEY h, const char* sub, int& hive, std::string& path) {
    std::string base;
    int pre = PredefinedHive(h);
    if (pre >= 0) {
        hive = pre;
    } else {
        auto* k = reinterpret_cast<KeyObj*>(h);
        if (!LiveKeys().count(k))
            return false;
        hive = k->hive;
        base = k->path;
    }
    std::string s = NormalizeSubKey(sub);
    path = base.empty() ? s : (s.empty() ? base : base + "\\" + s);
    return true;
}

bool KeyExists(int hive, const std::string& path, const Store& st) {
    if (path.empty())
        return true;
    if ((hive == kLocalMachine || hive == kCurrentUser) && IsAncestorOrSelf(path, kRunKey))
        return true;
    if (IsExtensionKey(hive, path)) {
        std::string t;
        if (ContentTypeFor(path, t))
            return true;
    }
    for (auto& k : st.keys)
        if (IsAncestorOrSelf(path, k.first))
            return true;
    return false;
}

HKEY NewHandle(int hive, const std::string& path) {
    auto* k = new KeyObj;
    k->hive = hive;
    k->path = path;
    LiveKeys().insert(k);
    return reinterpret_cast<HKEY>(k);
}

std::vector<std::pair<std::string, Value>>* FindKey(Store& st, const std::string& path) {
    for (auto& k : st.keys)
        if (PathEquals(k.first, path))
            return &k.second;
    return nullptr;
}

} // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, void* lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)samDesired;
    (void)lpSecurityAttributes;
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(RegLock());
    int hive;
    std::string path;
    if (!Resolve(hKey, lpSubKey, hive, path))
        return ERROR_INVALID_HANDLE;
    Store st = LoadStore(hive);
    bool existed = KeyExists(hive, path, st);
    if (!existed || (!path.empty() && !FindKey(st, path))) {
        st.keys.push_back({path, {}});
        if (!SaveStore(hive, st))
            return ERROR_ACCESS_DENIED;
    }
    if (lpdwDisposition)
        *lpdwDisposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *phkResult = NewHandle(hive, path);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, phkResult, nullptr);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    (void)ulOptions;
    (void)samDesired;
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::lock_guard<std::mutex> lock(RegLock());
    int hive;
    std::string path;
    if (!Resolve(hKey, lpSubKey, hive, path))
        return ERROR_INVALID_HANDLE;
    if (!KeyExists(hive, path, LoadStore(hive)))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(hive, path);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return RegOpenKeyExA(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    (void)Reserved;
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(RegLock());
    int hive;
    std::string path;
    if (!Resolve(hKey, nullptr, hive, path))
        return ERROR_INVALID_HANDLE;
    std::string name = lpValueName ? lpValueName : "";
    Value v;
    v.type = dwType;
    v.data.assign(reinterpret_cast<const char*>(lpData), cbData);
    if (IsRunKey(hive, path)) {
        std::string text = v.data.substr(0, v.data.find('\0'));
        if (dwType != REG_SZ && dwType != REG_EXPAND_SZ)
            text = ";";
        if (!WriteAutostart(name, text))
            return ERROR_ACCESS_DENIED;
    }
    Store st = LoadStore(hive);
    auto* vals = FindKey(st, path);
    if (!vals) {
        st.keys.push_back({path, {}});
        vals = &st.keys.back().second;
    }
    bool set = false;
    for (auto& nv : *vals)
        if (AfxEqualNoCaseAnsi(nv.first.c_str(), name.c_str())) {
            nv.second = v;
            set = true;
            break;
        }
    if (!set)
        vals->push_back({name, v});
    return SaveStore(hive, st) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    (void)lpReserved;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    Value v;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(RegLock());
        int hive;
        std::string path;
        if (!Resolve(hKey, nullptr, hive, path))
            return ERROR_INVALID_HANDLE;
        std::string name = lpValueName ? lpValueName : "";
        Store st = LoadStore(hive);
        if (auto* vals = FindKey(st, path))
            for (auto& nv : *vals)
                if (AfxEqualNoCaseAnsi(nv.first.c_str(), name.c_str())) {
                    v = nv.second;
                    found = true;
                    break;
                }
        std::string type;
        if (!found && IsExtensionKey(hive, path) && AfxEqualNoCaseAnsi(name.c_str(), "Content Type") &&
            ContentTypeFor(path, type)) {
            v.type = REG_SZ;
            v.data = type + '\0';
            found = true;
        }
    }
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = v.type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    DWORD need = static_cast<DWORD>(v.data.size());
    if (!lpData) {
        *lpcbData = need;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < need) {
        *lpcbData = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, v.data.data(), need);
    // A string stored without its terminator still reads back as one when there is room.
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && (need == 0 || v.data.back() != '\0') &&
        *lpcbData > need)
        lpData[need] = 0;
    *lpcbData = need;
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::lock_guard<std::mutex> lock(RegLock());
    int hive;
    std::string path;
    if (!Resolve(hKey, nullptr, hive, path))
        return ERROR_INVALID_HANDLE;
    std::string name = lpValueName ? lpValueName : "";
    Store st = LoadStore(hive);
    auto* vals = FindKey(st, path);
    bool found = false;
    if (vals)
        for (auto it = vals->begin(); it != vals->end(); ++it)
            if (AfxEqualNoCaseAnsi(it->first.c_str(), name.c_str())) {
                vals->erase(it);
                found = true;
                break;
            }
    if (IsRunKey(hive, path) && unlink(AutostartFile(name).c_str()) == 0)
        found = true;
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    return SaveStore(hive, st) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::lock_guard<std::mutex> lock(RegLock());
    int hive;
    std::string path;
    if (!Resolve(hKey, lpSubKey, hive, path))
        return ERROR_INVALID_HANDLE;
    if (path.empty())
        return ERROR_ACCESS_DENIED;
    Store st = LoadStore(hive);
    for (auto& k : st.keys)
        if (!PathEquals(k.first, path) && IsAncestorOrSelf(path, k.first))
            return ERROR_ACCESS_DENIED; // subkeys first, as Windows asks
    for (auto it = st.keys.begin(); it != st.keys.end(); ++it)
        if (PathEquals(it->first, path)) {
            st.keys.erase(it);
            return SaveStore(hive, st) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY hKey) {
    if (PredefinedHive(hKey) >= 0)
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(RegLock());
    auto* k = reinterpret_cast<KeyObj*>(hKey);
    if (!LiveKeys().erase(k))
        return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}
