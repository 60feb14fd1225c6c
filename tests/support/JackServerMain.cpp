// The main of the `jack` test binaries: starts the binary's own dummy JACK server, points every
// client of the process at it, runs the tests and stops the server by its process id. Without
// jackd the tests run and skip, saying why.

#include <execinfo.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/jack/JackClients.h"
#include "tests/support/FileText.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"

#ifdef QUENBRIL_JACK_TEST_QT
#include <QApplication>
#endif

namespace quenbril::test {

namespace {

constexpr const char* kJackd = "/usr/bin/jackd";

bool serverAnswers(const std::string& name) {
    // The probe lives under the opening lock: no other open frees it meanwhile.
    auto opening = JackClients::opening();
    jack_status_t status{};
    jack_client_t* client = jack_client_open(
        "quenbril-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
        name.c_str());
    if (!client) return false;
    jack_client_close(client);
    return true;
}

void quiet(const char*) {}

// jackd keeps a machine-wide registry of at most eight servers in /dev/shm, and a server that
// ends by SIGKILL (as the tests' dying server does) stays in it under its unique name: binaries
// run side by side, and runs before, would soon fill it. Where the process may, it gets a /dev/shm
// of its own, which its server and clients share and which goes with it.
void useOwnSharedMemory() {
    if (::unshare(CLONE_NEWNS) != 0) return;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    ::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
}

// A crash prints the stack before the process ends, so that a rare one seen only in a CI log
// can be placed (addr2line over the offsets).
void printStackAndDie(int signal) {
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

JackServer::JackServer()
    : name_("quenbril-" + std::to_string(::getpid())), logPath_("/tmp/" + name_ + "-jackd.log") {}

JackServer::~JackServer() { ::unlink(logPath_.c_str()); }

JackServer& JackServer::shared() {
    static JackServer server;
    return server;
}

bool JackServer::start(int rate, int playbackPorts, bool verbose) {
    if (running()) stop();
    if (::access(kJackd, X_OK) != 0) return false;
    // Synchronous (-S): each period waits until every client has finished the one before.
    // Without it a client woken late on a loaded machine misses its period and JACK starts the
    // next one anyway: a sending client's port then clears the buffer that a reading client (the
    // remote's MIDI input) had not read yet, and the event in it is lost.
    std::vector<std::string> arguments{kJackd, "-r", "-S", "-t", "10000", "-n", name_};
    if (verbose) arguments.push_back("-v");
    arguments.insert(arguments.end(), {"-d", "dummy", "-r", std::to_string(rate), "-p", "128", "-C",
                                       "8", "-P", std::to_string(playbackPorts)});
    process_ = std::make_unique<ChildProcess>(
        arguments, std::vector<std::pair<std::string, std::string>>{}, logPath_);
    rate_ = rate;
    playbackPorts_ = playbackPorts;
    const auto deadline = std::chrono::steady_clock::now() + scaledDuration(10.0);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!process_->running()) {
            const int status = process_->status();
            process_.reset();
            reportFailedStart("ended (" + describeWaitStatus(status) + ")");
            return false;
        }
        if (serverAnswers(name_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    reportFailedStart("did not answer within its time");
    return false;
}

void JackServer::reportFailedStart(const std::string& why) const {
    std::fprintf(stderr, "jackd %s; what it said:\n%s", why.c_str(), log().c_str());
}

std::string JackServer::log() const { return fileText(logPath_); }

void JackServer::stop() { process_.reset(); }

void JackServer::kill() {
    if (process_) process_->kill();
    process_.reset();
}

bool JackServer::signal(int signal) {
    const pid_t pid = this->pid();
    return pid > 0 && ::kill(pid, signal) == 0;
}

bool JackServer::stopWithin(double seconds) {
    const pid_t pid = this->pid();
    if (!signal(SIGSTOP)) return false;
    // The parent is told once every thread of the child has stopped.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOHANG) == 0 &&
            info.si_pid == pid) {
            return info.si_code == CLD_STOPPED;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool JackServer::closeWithin(double seconds, const std::function<void()>& close) {
    std::mutex lock;
    std::condition_variable closed;
    bool done = false;
    bool killed = false;
    const pid_t pid = process_ ? process_->pid() : -1;
    std::thread watchdog([&] {
        std::unique_lock held(lock);
        if (closed.wait_for(held, std::chrono::duration<double>(seconds), [&] { return done; })) {
            return;
        }
        killed = true;
        std::fprintf(stderr,
                     "Closing JACK clients took over %g s: the server is killed to end it\n",
                     seconds);
        // Only the signal here: the process is reaped on the closing thread.
        if (pid > 0) ::kill(pid, SIGKILL);
    });
    close();
    {
        std::lock_guard held(lock);
        done = true;
    }
    closed.notify_one();
    watchdog.join();
    if (killed) {
        kill();
        start(rate_, playbackPorts_);
    } else if (pid > 0) {
        // A close that ended by itself (libjack gives up on a server it holds gone) may leave a
        // server the caller stopped: it goes on, so that the next test does not wait on it.
        ::kill(pid, SIGCONT);
    }
    return killed;
}

}  // namespace quenbril::test

int main(int argc, char** argv) {
    using quenbril::test::JackServer;
    ::signal(SIGSEGV, quenbril::test::printStackAndDie);
    ::signal(SIGABRT, quenbril::test::printStackAndDie);
    // First, while the process has one thread: a mount namespace is per process.
    quenbril::test::useOwnSharedMemory();
    testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
    }
    jack_set_error_function(quenbril::test::quiet);
    jack_set_info_function(quenbril::test::quiet);
    JackServer& server = JackServer::shared();
    // Clients of this process (the audio backend, the test clients) use this server and never start
    // one.
    setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    if (!listing && !server.start()) {
        setenv(quenbril::test::kJackMissingVariable, "jackd could not start here", 1);
    }
#ifdef QUENBRIL_JACK_TEST_QT
    // The widget tests of the audio path: one application on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    const int result = RUN_ALL_TESTS();
    server.stop();
    return result;
}
