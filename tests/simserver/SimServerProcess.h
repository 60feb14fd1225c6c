#pragma once

// Starts the real stand-in as a child process on a port the system picks, and stops it by its
// process id.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/Eventually.h"
#include "tests/support/FileText.h"
#include "tests/support/ProcessEnd.h"
#include "tests/support/TestTime.h"
#include "tests/support/ThreadCount.h"

namespace quenbril::test {

class SimServerProcess {
  public:
    /// `publish`: announce the service (the `net` tests); otherwise --no-publish. `program`:
    /// the stand-in to run (a benchmark may run another build's).
    explicit SimServerProcess(std::vector<std::string> args = {}, bool publish = false,
                              std::string program = QUENBRIL_SIMSERVER_PATH) {
        char dir[] = "/tmp/simserver-test-XXXXXX";
        if (!mkdtemp(dir)) return;
        logPath_ = std::string(dir) + "/stderr.log";
        args.insert(args.begin(), {program, "--port", "0"});
        if (!publish) args.push_back("--no-publish");
        pid_ = fork();
        if (pid_ == 0) {
            if (!std::freopen(logPath_.c_str(), "w", stderr)) _exit(127);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        // The port is on the first line the program prints, within 5 s of a plain build's
        // start: the limit only bounds a program that never starts.
        eventually(
            [&] {
                const std::string log = this->log();
                const auto at = log.find("listening on TCP port ");
                if (at != std::string::npos) port_ = std::atoi(log.c_str() + at + 22);
                return port_ != 0;
            },
            scaledSeconds(5.0));
    }
    ~SimServerProcess() {
        stop();
        if (!logPath_.empty()) {
            std::remove(logPath_.c_str());
            ::rmdir(logPath_.substr(0, logPath_.rfind('/')).c_str());
        }
    }
    /// Holds the program where it is (SIGSTOP): a server that hangs. The kernel still takes
    /// connections to its port, and nothing answers them.
    void pause() {
        if (pid_ > 0) kill(pid_, SIGSTOP);
    }
    /// Lets a paused program go on (SIGCONT).
    void resume() {
        if (pid_ > 0) kill(pid_, SIGCONT);
    }
    /// Ends the program (the server goes away); its log stays readable.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            kill(pid_, SIGCONT);  // a paused program takes its signal once it goes on
            int status = 0;
            // A program that has not ended 3 s (a plain build's) after its signal hangs.
            if (!reapedWithin(pid_, scaledSeconds(3.0), status)) {
                killAndReap(pid_, status);
            }
            pid_ = -1;
        }
    }
    SimServerProcess(const SimServerProcess&) = delete;
    SimServerProcess& operator=(const SimServerProcess&) = delete;

    uint16_t port() const { return port_; }

    /// The threads the program has now; 0 when it is not running.
    int threads() const { return threadCount(std::to_string(pid_)); }

    /// What the program printed on stderr so far.
    std::string log() const { return fileText(logPath_); }

    /// True once the program has printed `text` on stderr, within `seconds` of a plain build: a
    /// line about one connection comes when its own queue gets to it, in no order with the others.
    bool waitForLog(std::string_view text, double seconds = 20.0) const {
        return eventually([&] { return log().find(text) != std::string::npos; },
                          scaledSeconds(seconds));
    }

  private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string logPath_;
};

/// Why a remote cannot reach `server` by its manual address, which always uses port 57576;
/// empty when it can.
inline std::string manualAddressRefusal(const SimServerProcess& server) {
    constexpr uint16_t kManualAddressPort = 57576;
    if (server.port() == kManualAddressPort) return {};
    return "port " + std::to_string(kManualAddressPort) +
           " is taken, and a remote's manual address reaches no other: " + server.log();
}

}  // namespace quenbril::test
