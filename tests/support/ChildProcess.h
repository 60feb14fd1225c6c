#pragma once

// A program started as a child process with a few extra environment variables, its standard
// error in a file and its standard output discarded, stopped by its process id (a stop signal,
// then a kill if it lingers) or killed at once.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TestTime.h"

namespace quenbril::test {

class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> args,
                 std::vector<std::pair<std::string, std::string>> environment,
                 std::string logPath = "/dev/null") {
        pid_ = ::fork();
        if (pid_ == 0) {
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
            return false;
        }
        return true;
    }

    /// Asks the program to stop and waits for it, killing it after a few seconds (of a plain
    /// build: a sanitizer build's program takes longer to end).
    void stop() {
        if (!running()) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(5.0);
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill();
    }

    /// Ends the program at once, as a crash would, and waits for it.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace quenbril::test
