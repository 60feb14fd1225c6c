// quenbril-jack-store-locker --private-shm-ok [--bound SECONDS]: leaves the JACK library's
// metadata store (/dev/shm/jack_db-<uid>) locked, as a client killed inside jack_client_open
// does, so that every later jack_client_open of this user waits for ever. A test helper, not
// installed.
//
// The store keeps process-shared pthread mutexes in its region files (/dev/shm/jack_db-<uid>/
// __db.*), and every open takes some of them. One child opens a client once, which makes the
// store; a second opens again and kills itself (SIGKILL) the moment it holds one of those
// mutexes, which stays held for good; a third then opens once: an open that has not returned
// within the bound shows the store locked, and that child is killed. No server is needed: each
// open fails after its visit to the store. The outcome goes to standard error in one line.
// Exit status: 0 locked; 1 not locked; 2 refused or bad arguments; 3 a process could not be made.
//
// It must only run where /dev/shm is a tmpfs of the caller's own (a mount namespace of its own,
// as `unshare -m --propagation private` + `mount -t tmpfs tmpfs /dev/shm` make): the caller says
// so with --private-shm-ok, and the program also checks it: an ancestor process must be in another
// mount namespace, whose /dev/shm is another file system than this one's. Otherwise it refuses.

#include <dlfcn.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/ProcessEnd.h"

using quenbril::test::describeWaitStatus;
using quenbril::test::killAndReap;
using quenbril::test::reapedWithin;

namespace {

constexpr const char* kProgram = "quenbril-jack-store-locker";
// The region files of the store, as /proc/self/maps names them.
constexpr const char* kStoreFiles = "/jack_db-";

struct Options {
    bool privateShmOk = false;
    double bound = 3.0;
};

// Set in the child that is to die holding one of the store's mutexes, just before its open.
std::atomic<bool> dieHoldingAStoreMutex{false};

using MutexLock = int (*)(pthread_mutex_t*);
// Constant-initialised, never a function-local static: a static's guard may itself lock a mutex.
std::atomic<MutexLock> realMutexLock{nullptr};

/// True when `address` lies in a mapping of the store's region files. Plain system calls and a
/// buffer on the stack: this runs inside pthread_mutex_lock.
bool inStoreRegion(const void* address) {
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto at = reinterpret_cast<uintptr_t>(address);
    char buffer[16384];
    size_t held = 0;
    bool found = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer + held, sizeof buffer - 1 - held);
        if (n <= 0) break;
        held += static_cast<size_t>(n);
        buffer[held] = 0;
        // Whole lines only; a partial last line waits for the next read.
        char* line = buffer;
        for (char* end; (end = std::strchr(line, '\n')) != nullptr; line = end + 1) {
            *end = 0;
            unsigned long low = 0, high = 0;
            if (std::strstr(line, kStoreFiles) && std::sscanf(line, "%lx-%lx", &low, &high) == 2 &&
                at >= low && at < high) {
                found = true;
            }
        }
        held = static_cast<size_t>(buffer + held - line);
        std::memmove(buffer, line, held);
        if (found || held == sizeof buffer - 1) break;
    }
    ::close(fd);
    return found;
}

}  // namespace

// Every pthread_mutex_lock of the process, libjack's store included, comes here first.
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    MutexLock real = realMutexLock.load(std::memory_order_acquire);
    if (!real) {
        real = reinterpret_cast<MutexLock>(::dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        realMutexLock.store(real, std::memory_order_release);
    }
    const int result = real(mutex);
    if (result == 0 && dieHoldingAStoreMutex.load(std::memory_order_relaxed) &&
        inStoreRegion(mutex)) {
        ::kill(::getpid(), SIGKILL);
    }
    return result;
}

namespace {

void quiet(const char*) {}

int usage(const char* problem) {
    if (problem) std::fprintf(stderr, "%s: %s\n", kProgram, problem);
    std::fprintf(stderr,
                 "usage: %s --private-shm-ok [--bound SECONDS]\n"
                 "Leaves the JACK metadata store in /dev/shm locked. Run it only where /dev/shm "
                 "is a tmpfs of your own mount namespace.\n",
                 kProgram);
    return 2;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--private-shm-ok") {
            options.privateShmOk = true;
        } else if (flag == "--bound" && i + 1 < argc) {
            options.bound = std::atof(argv[++i]);
            if (!(options.bound > 0 && options.bound < 600)) return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string mountNamespace(const std::string& pid) {
    char link[64] = {};
    if (::readlink(("/proc/" + pid + "/ns/mnt").c_str(), link, sizeof link - 1) <= 0) return "";
    return link;
}

/// The parent of `pid` from /proc/PID/stat, or 0.
pid_t parentOf(pid_t pid) {
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!file) return 0;
    char text[1024] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[n] = 0;
    // pid (comm) state ppid ...: the name may hold spaces and parentheses, the last ')' ends it.
    const char* end = std::strrchr(text, ')');
    int parent = 0;
    char state = 0;
    if (!end || std::sscanf(end + 1, " %c %d", &state, &parent) != 2) return 0;
    return parent;
}

/// Why /dev/shm is not to be used here, or empty. Besides the caller's word, this process must
/// be seen to be in a mount namespace other than one of its ancestors' (the shell or test that
/// made the namespace came from one), and its /dev/shm must be another file system than that
/// ancestor's. Where that cannot be seen it refuses: the flag alone is not enough.
std::string sharedMemoryRefusal(const Options& options) {
    if (!options.privateShmOk) {
        return "refusing to run without --private-shm-ok: it would lock the /dev/shm store that "
               "every JACK client of this user shares";
    }
    const std::string own = mountNamespace("self");
    struct stat mine {};
    if (own.empty() || ::stat("/dev/shm", &mine) != 0) {
        return "refusing to run: this process's mount namespace or /dev/shm cannot be read";
    }
    for (pid_t ancestor = ::getppid(); ancestor > 1; ancestor = parentOf(ancestor)) {
        const std::string id = std::to_string(ancestor);
        const std::string theirs = mountNamespace(id);
        if (theirs.empty()) break;
        if (theirs == own) continue;
        struct stat outside {};
        if (::stat(("/proc/" + id + "/root/dev/shm").c_str(), &outside) != 0) {
            return "refusing to run: the /dev/shm of process " + id +
                   ", in the mount namespace outside this one, cannot be read";
        }
        if (outside.st_dev == mine.st_dev) {
            return "refusing to run: /dev/shm is the same file system as outside this mount "
                   "namespace (mount a tmpfs on it first)";
        }
        return "";
    }
    return "refusing to run: no ancestor of this process is in another mount namespace, so "
           "/dev/shm may be the machine's (run it under `unshare -m --propagation private` "
           "with a tmpfs mounted on /dev/shm)";
}

/// A child that opens a client once and ends, quiet about the failed open; with `dieInside` it
/// is killed inside the open instead, holding one of the store's mutexes.
pid_t forkOpener(const char* name, bool dieInside) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(0);
    // Berkeley DB writes its own complaints there.
    if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(0);
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    dieHoldingAStoreMutex.store(dieInside);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
    if (client) jack_client_close(client);
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return usage("bad arguments");
    const std::string refusal = sharedMemoryRefusal(options);
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, refusal.c_str());
        return 2;
    }
    auto fail = [](const std::string& why, int code) {
        std::fprintf(stderr, "%s: %s\n", kProgram, why.c_str());
        return code;
    };
    int status = 0;

    // The store, made by an open that finishes.
    const pid_t maker = forkOpener("quenbril-store-maker", false);
    if (maker < 0) return fail(std::string("fork: ") + std::strerror(errno), 3);
    if (!reapedWithin(maker, options.bound, status, std::chrono::milliseconds(2))) {
        killAndReap(maker, status);
        return fail("not locked: the first open, which makes the store, did not return", 1);
    }

    // An open that dies holding one of its mutexes.
    const pid_t opener = forkOpener("quenbril-store-opener", true);
    if (opener < 0) return fail(std::string("fork: ") + std::strerror(errno), 3);
    if (!reapedWithin(opener, options.bound, status, std::chrono::milliseconds(2))) {
        killAndReap(opener, status);
        return fail("not locked: the open that was to die inside the store did not return", 1);
    }
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
        return fail("not locked: the open took none of the store's mutexes in " +
                        std::string(kStoreFiles) + "* (" + describeWaitStatus(status) + ")",
                    1);
    }

    // One open alone, as any client's next one would be.
    const pid_t probe = forkOpener("quenbril-store-probe", false);
    if (probe < 0) return fail(std::string("fork: ") + std::strerror(errno), 3);
    if (reapedWithin(probe, options.bound, status, std::chrono::milliseconds(2))) {
        return fail("not locked: an open after the one killed inside the store returned", 1);
    }
    killAndReap(probe, status);
    std::fprintf(stderr,
                 "%s: locked: an opener was killed holding a mutex of the store, and the next "
                 "open did not return within %g s\n",
                 kProgram, options.bound);
    return 0;
}
