#include "platform/kernel/ProgramImage.h"

#include "platform/kernel/FileSys.h"

#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

#if defined(__x86_64__)
constexpr unsigned kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr unsigned kMachine = EM_386;
#elif defined(__arm__)
constexpr unsigned kMachine = EM_ARM;
#else
#error "the machine this program runs on has no ELF machine number here"
#endif

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif

#if UINTPTR_MAX > 0xFFFFFFFFu
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif

bool IsElfProgram(const unsigned char* head, size_t n, unsigned long long size) {
    if (n < sizeof(Ehdr))
        return false;
    Ehdr e;
    std::memcpy(&e, head, sizeof e);
    if (std::memcmp(e.e_ident, ELFMAG, SELFMAG) != 0 || e.e_ident[EI_CLASS] != kClass ||
        e.e_ident[EI_DATA] != kData || e.e_ident[EI_VERSION] != EV_CURRENT)
        return false;
    if ((e.e_type != ET_EXEC && e.e_type != ET_DYN) || e.e_machine != kMachine || e.e_version != EV_CURRENT)
        return false;
    if (e.e_phnum == 0 || e.e_phentsize != sizeof(Phdr))
        return false;
    return static_cast<unsigned long long>(e.e_phoff) +
               static_cast<unsigned long long>(e.e_phnum) * sizeof(Phdr) <=
           size;
}

// "#!" then the interpreter's absolute path, up to the first blank or the line's end.
bool IsScript(const unsigned char* head, size_t n) {
    if (n < 3 || head[0] != '#' || head[1] != '!')
        return false;
    std::string line(reinterpret_cast<const char*>(head) + 2, n - 2);
    line = line.substr(0, line.find('\n'));
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return false;
    std::string interpreter = line.substr(start, line.find_first_of(" \t\r", start) - start);
    struct stat st;
    return !interpreter.empty() && interpreter[0] == '/' && stat(interpreter.c_str(), &st) == 0 &&
           S_ISREG(st.st_mode) && access(interpreter.c_str(), X_OK) == 0;
}

} // namespace

BOOL AfxIsProgramImage(LPCSTR pszPath) {
    std::string path;
    struct stat st;
    if (pszPath == nullptr || !AfxMapPath(pszPath, path) || stat(path.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return FALSE;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return FALSE;
    // The kernel reads at most this much of a "#!" line; an ELF header is shorter.
    unsigned char head[256];
    size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return IsElfProgram(head, n, static_cast<unsigned long long>(st.st_size)) || IsScript(head, n) ? TRUE
                                                                                                   : FALSE;
}

BOOL AfxCanRunProgram(LPCSTR pszPath) {
    std::string path;
    return AfxIsProgramImage(pszPath) && AfxMapPath(pszPath, path) && access(path.c_str(), X_OK) == 0 ? TRUE
                                                                                                      : FALSE;
}

BOOL AfxMakeExecutable(LPCSTR pszPath) {
    std::string path;
    return pszPath != nullptr && AfxMapPath(pszPath, path) && chmod(path.c_str(), 0755) == 0 ? TRUE : FALSE;
}
