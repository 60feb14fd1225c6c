// The real quenbril program while the JACK library's shared store (/dev/shm/jack_db-<uid>) is
// locked, as a JACK client killed inside jack_client_open leaves it: from then on every
// jack_client_open of the user waits for ever, with or without a JACK server. The remote must still
// start, confirm to the stand-in and join its chat, draw its window, say once that the JACK library
// does not answer, and quit when told to, with a thread of it still waiting inside libjack.
//
// The test makes a mount namespace of its own with a tmpfs on /dev/shm (as root; elsewhere it
// skips), locks the store there with quenbril-jack-store-locker, and runs the stand-in and the
// remote in that namespace: the machine's store is never touched, and no JACK server is needed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/FileText.h"
#include "tests/support/ProcessEnd.h"
#include "tests/support/RemoteSettingsFolder.h"
#include "tests/support/ScreenPicture.h"
#include "tests/support/StripTitleColours.h"
#include "tests/support/TestTime.h"

using namespace quenbril;
using namespace quenbril::test;

namespace {

// A remote's manual address always uses this port, so the stand-in must have it.
constexpr uint16_t kManualPort = 57576;
// The client number stored in the remote's settings, which it sends the server as it confirms.
constexpr int kClientNumber = 3;
// What the remote logs, once, when a call into libjack has not returned within its bound.
constexpr const char* kNoAnswerLine = "the JACK library does not answer";
// Waits for the remote's window, the stand-in's lines and the remote's own line; each check passes
// as soon as what it wants is there. Generous for a loaded machine, stretched for a slower build.
constexpr double kPatience = 40.0;
// The locker waits on three opens, each within the bound below.
constexpr double kLockerPatience = 60.0;
// An open of a plain build takes about 4 ms without a server; one that has not returned in this
// long waits on the lock.
constexpr double kOpenBound = 3.0;
// The remote's own waits on libjack are bounded by about 3 s each: quitting may wait on a few.
constexpr double kQuitPatience = 15.0;
// The header is 1280 x 56 points, much of it covered by its buttons; this many pixels of its grey
// show that it is drawn (as in RemoteWindowTest).
constexpr int kHeaderGreyPixels = 10000;

int countOf(const std::string& text, const std::string& wanted) {
    int count = 0;
    for (size_t at = text.find(wanted); at != std::string::npos;
         at = text.find(wanted, at + wanted.size())) {
        ++count;
    }
    return count;
}

std::string errorText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

/// Moves this process (and the children it starts from now on) into a mount namespace of its
/// own with a fresh tmpfs on /dev/shm; why it could not, or empty. It must run while the process
/// has one thread. Nothing is mounted unless the mounts were first made private, so that nothing
/// reaches the machine's namespace.
std::string useOwnSharedMemory() {
    struct stat machine {};
    if (::stat("/dev/shm", &machine) != 0) return errorText("no /dev/shm");
    if (::unshare(CLONE_NEWNS) != 0) return errorText("unshare(CLONE_NEWNS) failed");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return errorText("making the namespace's mounts private failed");
    }
    if (::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
        return errorText("mounting a tmpfs on /dev/shm failed");
    }
    struct stat own {};
    if (::stat("/dev/shm", &own) != 0 || own.st_dev == machine.st_dev) {
        return "the tmpfs on /dev/shm does not show";
    }
    return "";
}

void quiet(const char*) {}

/// True when a plain jack_client_open in a child returns within `seconds` (of a plain build);
/// a child still waiting then is killed.
bool anOpenReturnsWithin(double seconds) {
    const pid_t pid = ::fork();
    if (pid < 0) return true;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (!std::freopen("/dev/null", "w", stderr)) _exit(0);
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        jack_status_t status{};
        jack_client_t* client = jack_client_open("quenbril-lock-check", JackNoStartServer, &status);
        if (client) jack_client_close(client);
        _exit(0);
    }
    int status = 0;
    if (reapedWithin(pid, scaledSeconds(seconds), status)) return true;
    killAndReap(pid, status);
    return false;
}

struct Mapping {
    uintptr_t begin = 0;
    uintptr_t end = 0;
    bool executable = false;
    std::string path;
};

std::vector<Mapping> mappingsOf(pid_t pid) {
    std::vector<Mapping> mappings;
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, path);
        const size_t dash = range.find('-');
        if (dash == std::string::npos || perms.size() < 3) continue;
        Mapping m;
        m.begin = std::stoull(range.substr(0, dash), nullptr, 16);
        m.end = std::stoull(range.substr(dash + 1), nullptr, 16);
        m.executable = perms[2] == 'x';
        m.path = path;
        mappings.push_back(m);
    }
    return mappings;
}

struct WaitingThread {
    pid_t tid = 0;
    std::string name;
};

/// The threads of `pid` that are blocked (in a system call, or waiting) with a return address into
/// a library whose path holds `library` on the live part of their stack: threads waiting inside
/// that library. Read from /proc (the test is the remote's parent and root).
std::vector<WaitingThread> threadsWaitingIn(pid_t pid, const std::string& library) {
    std::vector<WaitingThread> found;
    const std::vector<Mapping> mappings = mappingsOf(pid);
    std::vector<Mapping> text;
    for (const Mapping& m : mappings) {
        if (m.executable && m.path.find(library) != std::string::npos) text.push_back(m);
    }
    if (text.empty()) return found;
    const std::string process = "/proc/" + std::to_string(pid);
    const int memory = ::open((process + "/mem").c_str(), O_RDONLY);
    if (memory < 0) return found;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(process + "/task", error)) {
        // "NR ARG1..ARG6 SP PC" in a system call, "-1 SP PC" blocked outside one, "running".
        std::istringstream syscall(fileText(task.path().string() + "/syscall"));
        std::vector<std::string> words;
        for (std::string w; syscall >> w;) words.push_back(w);
        if (words.size() < 3 || words[0] == "running") continue;
        const uintptr_t sp = std::stoull(words[words.size() - 2], nullptr, 16);
        const Mapping* stack = nullptr;
        for (const Mapping& m : mappings) {
            if (sp >= m.begin && sp < m.end) stack = &m;
        }
        if (!stack) continue;
        // The live frames lie from the stack pointer up; 2 MiB of them is deep enough.
        const uintptr_t end = std::min<uintptr_t>(stack->end, sp + (2u << 20));
        std::vector<uintptr_t> words64((end - sp) / sizeof(uintptr_t));
        const ssize_t n = ::pread(memory, words64.data(), words64.size() * sizeof(uintptr_t),
                                  static_cast<off_t>(sp));
        if (n <= 0) continue;
        words64.resize(static_cast<size_t>(n) / sizeof(uintptr_t));
        bool inside = false;
        for (uintptr_t w : words64) {
            for (const Mapping& t : text) inside = inside || (w >= t.begin && w < t.end);
            if (inside) break;
        }
        if (!inside) continue;
        WaitingThread thread;
        thread.tid = static_cast<pid_t>(std::stoi(task.path().filename().string()));
        thread.name = fileText(task.path().string() + "/comm");
        if (!thread.name.empty() && thread.name.back() == '\n') thread.name.pop_back();
        found.push_back(thread);
    }
    ::close(memory);
    return found;
}

std::string describe(pid_t pid, const std::vector<WaitingThread>& threads) {
    if (threads.empty()) return "no thread of the remote waits inside libjack";
    std::string text = "threads of the remote waiting inside libjack:";
    for (const WaitingThread& t : threads) {
        text += " " + std::to_string(t.tid) + " (" + t.name + ")";
        if (t.tid == pid) text += " [the main thread]";
    }
    return text;
}

bool hasMainThread(pid_t pid, const std::vector<WaitingThread>& threads) {
    for (const WaitingThread& t : threads) {
        if (t.tid == pid) return true;
    }
    return false;
}

/// The screen once `wanted` holds for it, or the last one when the patience ran out.
template <typename Wanted>
QImage screenWhen(Wanted wanted) {
    return grabScreenWhen(QUENBRIL_SCREENGRAB_PATH, wanted, scaledSeconds(kPatience));
}

}  // namespace

TEST(RemoteLockedJackStore, StartsJoinsTheChatDrawsAndQuitsWhileTheJackLibraryDoesNotAnswer) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs it in xvfb-run)";
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: it locks the JACK store in a mount namespace of its own, with "
                        "a tmpfs on /dev/shm, never in the machine's";
    }
    // First, while the test has one thread: a mount namespace is per process.
    const std::string refused = useOwnSharedMemory();
    if (!refused.empty()) {
        GTEST_SKIP() << "no /dev/shm of its own, so no store to lock without touching the "
                        "machine's: "
                     << refused;
    }
    // No JACK server: none is named and none is started; every open goes to the store and then
    // finds no server.
    ::unsetenv("JACK_DEFAULT_SERVER");
    ::setenv("JACK_NO_START_SERVER", "1", 1);

    // 32 channels: the stand-in puts the first half in panel A, the panel the window shows.
    SimServerProcess server({"--port", std::to_string(kManualPort), "--channels", "32"});
    if (auto refusal = manualAddressRefusal(server); !refusal.empty()) GTEST_SKIP() << refusal;
    RemoteSettingsFolder settings(kClientNumber);
    ASSERT_FALSE(settings.path().empty());

    // The store, locked.
    const std::string lockerLog = settings.path() + "/store-locker.log";
    {
        ChildProcess locker({QUENBRIL_JACK_STORE_LOCKER_PATH, "--private-shm-ok", "--bound",
                             std::to_string(scaledSeconds(kOpenBound))},
                            {}, lockerLog);
        const bool ended = locker.endsWithin(kLockerPatience);
        if (!ended) locker.kill();
        ASSERT_TRUE(ended) << "the store locker had not ended after " << kLockerPatience
                           << " s: " << fileText(lockerLog);
        ASSERT_TRUE(WIFEXITED(locker.status()) && WEXITSTATUS(locker.status()) == 0)
            << "no locked store (" << describeWaitStatus(locker.status())
            << "): " << fileText(lockerLog);
    }
    const std::string figures = fileText(lockerLog);
    std::printf("%s", figures.c_str());
    std::fflush(stdout);  // before a fork copies what is buffered
    RecordProperty("store_locker", figures);
    ASSERT_FALSE(anOpenReturnsWithin(kOpenBound))
        << "a plain jack_client_open returned: the store is not locked. " << figures;

    const std::string remoteLog = settings.path() + "/remote.log";
    ChildProcess remote({QUENBRIL_PATH}, {{"XDG_CONFIG_HOME", settings.path()}}, remoteLog);
    const pid_t remotePid = remote.pid();

    // The window: panel A's 16 strips with the server's state, under the header.
    const std::vector<QColor> titles = stripTitleColours();
    const QImage screen =
        screenWhen([&](const QImage& s) { return cellsByTitleBars(s, titles).size() >= 16; });
    ASSERT_TRUE(remote.running()) << "the remote ended (" << describeWaitStatus(remote.status())
                                  << "): " << fileText(remoteLog);
    ASSERT_FALSE(screen.isNull()) << "no picture of the screen";
    const std::vector<QRect> cells = cellsByTitleBars(screen, titles);
    ASSERT_EQ(cells.size(), 16u) << "the remote drew no window with the server's strips within "
                                 << scaledSeconds(kPatience) << " s; "
                                 << describe(remotePid, threadsWaitingIn(remotePid, "libjack"))
                                 << ". The remote's log:\n"
                                 << fileText(remoteLog) << "The stand-in's log:\n"
                                 << server.log();
    const QRect window = windowFrame(screen);
    EXPECT_EQ(window.size(), QSize(1280, 800));
    const QRect header(window.left(), window.top(), window.width(),
                       cells.front().top() - window.top());
    EXPECT_GT(countColour(screen, toQColor(ColorHelper::vozodLightGray()), header),
              kHeaderGreyPixels);

    // Confirmed to the server (its client number) and registered to the chat.
    const std::string confirmed = "is client " + std::to_string(kClientNumber);
    EXPECT_TRUE(server.waitForLog(confirmed, kPatience)) << server.log();
    EXPECT_TRUE(server.waitForLog("joined the chat as", kPatience)) << server.log();
    // The remote says the JACK library does not answer.
    EXPECT_TRUE(eventually([&] { return countOf(fileText(remoteLog), kNoAnswerLine) > 0; },
                           scaledSeconds(kPatience)))
        << fileText(remoteLog);

    // A thread of the remote still waits inside libjack, not the main thread; the store is still
    // locked.
    const std::vector<WaitingThread> waiting = threadsWaitingIn(remotePid, "libjack");
    std::printf("%s\n", describe(remotePid, waiting).c_str());
    std::fflush(stdout);
    EXPECT_FALSE(waiting.empty()) << describe(remotePid, waiting);
    EXPECT_FALSE(hasMainThread(remotePid, waiting)) << describe(remotePid, waiting);
    EXPECT_FALSE(anOpenReturnsWithin(kOpenBound)) << "the store is no longer locked";

    // Told to quit, it ends by itself, soon and cleanly; a remote still there is killed.
    ASSERT_TRUE(remote.running()) << describeWaitStatus(remote.status()) << fileText(remoteLog);
    const bool quit = remote.stop(kQuitPatience);
    EXPECT_TRUE(quit) << "the remote had not ended " << scaledSeconds(kQuitPatience)
                      << " s after SIGTERM and was killed; " << describe(remotePid, waiting)
                      << ". Its log:\n"
                      << fileText(remoteLog);
    EXPECT_TRUE(WIFEXITED(remote.status()) && WEXITSTATUS(remote.status()) == 0)
        << describeWaitStatus(remote.status()) << ". Its log:\n"
        << fileText(remoteLog);
    // Said once, however many of its parts found libjack silent, with both likely causes and
    // what clears each: a stopped server, and the store left locked.
    const std::string log = fileText(remoteLog);
    EXPECT_EQ(countOf(log, kNoAnswerLine), 1) << log;
    EXPECT_EQ(countOf(log, "the JACK server may be stopped"), 1) << log;
    EXPECT_EQ(countOf(log, "once continued or restarted"), 1) << log;
    EXPECT_EQ(countOf(log, "store locked"), 1) << log;
    EXPECT_EQ(countOf(log, "removing /dev/shm/jack_db-<uid> while no JACK program runs"), 1) << log;
}
