// Another process that holds an exclusive advisory lock (flock) on a file until it is killed, as a
// running client holds its data folder's lock. The process does nothing else.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

class LockHolder {
public:
    // Starts the process and waits until it holds the lock on the file (a Linux path, made when
    // missing) or has failed to; Holds tells which.
    explicit LockHolder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // Only calls that are safe after a fork of a process with threads.
            int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            char c = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &c, 1);
            for (;;)
                pause();
        }
        char c = 0;
        m_holds = m_pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
        close(ready[0]);
        close(ready[1]);
    }
    ~LockHolder() { Kill(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool Holds() const { return m_holds; }
    // Ends the process as a crash or SIGKILL would, and waits for its end.
    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
        m_holds = false;
    }

private:
    pid_t m_pid = -1;
    bool m_holds = false;
};
