#pragma once

// A program started as a child process with a few extra environment variables, its standard
// error in a file and its standard output discarded, stopped by its process id (a stop signal,
// then a kill if it lingers) or killed at once; its wait status is kept once it has ended. It is
// killed when the thread that started it ends, so a test starts it on a thread that outlives it.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ProcessEnd.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> args,
                 std::vector<std::pair<std::string, std::string>> environment,
                 std::string logPath = "/dev/null") {
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Ends with the test, even one that crashed or a sanitizer stopped: a JACK server
            // left behind keeps one of the machine's few server slots.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) _exit(127);
            for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
            if (!std::freopen("/dev/null", "w", stdout) ||
                !std::freopen(logPath.c_str(), "w", stderr)) {
                _exit(127);
            }
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    /// True while the program runs (a program that ended is reaped here).
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = status;
            return false;
        }
        return true;
    }

    /// Waits up to `seconds` (of a plain build) for the program to end by itself; true when it
    /// has ended.
    bool endsWithin(double seconds) {
        if (pid_ <= 0) return true;
        if (!reapedWithin(pid_, scaledSeconds(seconds), status_)) return false;
        pid_ = -1;
        return true;
    }

    /// Asks the program to stop and waits for it, killing it after `seconds` (of a plain build: a
    /// sanitizer build's program takes longer to end). True when it ended without the kill.
    bool stop(double seconds = 5.0) {
        if (!running()) return true;
        ::kill(pid_, SIGTERM);
        if (endsWithin(seconds)) return true;
        kill();
        return false;
    }

    /// Ends the program at once, as a crash would, and waits for it.
    void kill() {
        if (pid_ <= 0) return;
        killAndReap(pid_, status_);
        pid_ = -1;
    }

    /// The program's wait status once it has ended and been reaped here; -1 until then.
    int status() const { return status_; }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace quenbril::test
