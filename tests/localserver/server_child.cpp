// The program's local server alone in a process of its own, for the tests that measure what the
// process holds or spends (descriptors, memory, processor time) without the test's own share.
//
//   localserver_child [--nofile N] [--spare N] [--idle-ms N] [--max-conn N] [--package PATH]
//
// --nofile sets the process's descriptor limit before anything starts; --spare opens that many
// descriptors on /dev/null, which SIGUSR1 closes again (a descriptor freed by something that is
// not a socket); --package loads an item package under "mag\88\". The first line printed is the
// port and the process id. The process ends when its standard input closes.
#include "contentserver/MyMemFile.h"
#include "contentserver/ServerHost.h"
#include "tests/support/PeerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int g_spare[64];
int g_nSpare = 0;

void CloseSpare(int) {
    for (int i = 0; i < g_nSpare; ++i)
        close(g_spare[i]);
    g_nSpare = 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* package = nullptr;
    int spare = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        long value = std::atol(argv[i + 1]);
        if (opt == "--nofile") {
            rlimit r{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
            if (setrlimit(RLIMIT_NOFILE, &r) != 0) {
                perror("setrlimit");
                return 2;
            }
        } else if (opt == "--spare") {
            spare = static_cast<int>(value);
        } else if (opt == "--idle-ms") {
            g_dwServerIdleTimeout = static_cast<DWORD>(value);
        } else if (opt == "--max-conn") {
            g_nServerMaxConnections = static_cast<int>(value);
        } else if (opt == "--package") {
            package = argv[i + 1];
        }
    }
    for (int i = 0; i < spare && g_nSpare < 64; ++i)
        g_spare[g_nSpare++] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    signal(SIGUSR1, &CloseSpare);
    // SIGPIPE keeps its default action here.
    if (package != nullptr && !g_MyMemFile.LoadPackage(package, MemFileWiden(MEMFILE_ROOT "mag\\88\\"))) {
        fprintf(stderr, "the package did not load\n");
        return 2;
    }
    g_nServerPort = PeerProcess::FreePort();
    if (!g_MyMemFile.StartServer()) {
        fprintf(stderr, "the server did not start\n");
        return 2;
    }
    printf("%d %d\n", g_nServerPort, static_cast<int>(getpid()));
    fflush(stdout);
    char buf[256];
    while (read(0, buf, sizeof buf) > 0) {
    }
    _exit(0);
}
