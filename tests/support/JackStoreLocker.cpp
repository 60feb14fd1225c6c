// quenbril-jack-store-locker --private-shm-ok [--openers N] [--rounds N] [--bound SECONDS]
// [--seed N]: leaves the JACK library's metadata store (/dev/shm/jack_db-<uid>) locked, as a
// client killed inside jack_client_open does, so that every later jack_client_open of this user
// waits for ever. A test helper, not installed.
//
// Each round forks openers that loop on jack_client_open(JackNoStartServer) (no server is
// reachable in a /dev/shm of one's own: each open fails, after nearly all of its 4 ms in the
// store), kills them with SIGKILL after a random 10-100 ms, and then lets one child open once:
// an open that has not returned within the bound means the store is locked, and the child is
// killed. The figures go to standard error in one line:
//   locked after R rounds, K openers killed, O opens, S s (seed X)
// Exit status: 0 locked; 1 not locked after the rounds allowed; 2 refused or bad arguments;
// 3 a process could not be made.
//
// It must only run where /dev/shm is a tmpfs of the caller's own (a mount namespace of its own,
// as `unshare -m --propagation private` + `mount -t tmpfs tmpfs /dev/shm` make): the caller says
// so with --private-shm-ok, and the program also checks it: an ancestor process must be in another
// mount namespace, whose /dev/shm is another file system than this one's. Otherwise it refuses.

#include <jack/jack.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ProcessEnd.h"

using quenbril::test::killAndReap;
using quenbril::test::reapedWithin;

namespace {

constexpr const char* kProgram = "quenbril-jack-store-locker";

struct Options {
    bool privateShmOk = false;
    int openers = 8;
    int rounds = 400;
    double bound = 3.0;
    unsigned long seed = 0;
    bool seeded = false;
};

void quiet(const char*) {}

int usage(const char* problem) {
    if (problem) std::fprintf(stderr, "%s: %s\n", kProgram, problem);
    std::fprintf(stderr,
                 "usage: %s --private-shm-ok [--openers N] [--rounds N] [--bound SECONDS] "
                 "[--seed N]\n"
                 "Leaves the JACK metadata store in /dev/shm locked. Run it only where /dev/shm "
                 "is a tmpfs of your own mount namespace.\n",
                 kProgram);
    return 2;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (flag == "--private-shm-ok") {
            options.privateShmOk = true;
        } else if (flag == "--openers" || flag == "--rounds") {
            const char* text = value();
            const int n = text ? std::atoi(text) : 0;
            if (n < 1 || n > 10000) return false;
            (flag == "--openers" ? options.openers : options.rounds) = n;
        } else if (flag == "--bound") {
            const char* text = value();
            options.bound = text ? std::atof(text) : 0;
            if (!(options.bound > 0 && options.bound < 600)) return false;
        } else if (flag == "--seed") {
            const char* text = value();
            if (!text) return false;
            options.seed = std::strtoul(text, nullptr, 10);
            options.seeded = true;
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

/// A child that dies with this process, quiet about the failed opens.
pid_t forkChild() {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(0);
        // Berkeley DB writes its own complaints (an opener killed mid-way leaves some) there.
        if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(0);
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
    }
    return pid;
}

void openOnce(const char* name) {
    jack_status_t status{};
    jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
    if (client) jack_client_close(client);
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
    if (!options.seeded) options.seed = std::random_device{}();
    std::mt19937 random(static_cast<std::mt19937::result_type>(options.seed));
    std::uniform_int_distribution<int> lifetimeMs(10, 100);

    // The opens the openers finished, counted across processes.
    auto* opens = static_cast<std::atomic<unsigned long>*>(
        ::mmap(nullptr, sizeof(std::atomic<unsigned long>), PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (opens == MAP_FAILED) {
        std::perror("mmap");
        return 3;
    }
    new (opens) std::atomic<unsigned long>(0);

    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    unsigned long killed = 0;
    for (int round = 1; round <= options.rounds; ++round) {
        std::vector<pid_t> openers;
        for (int i = 0; i < options.openers; ++i) {
            const pid_t pid = forkChild();
            if (pid < 0) {
                std::perror("fork");
                int status = 0;
                for (pid_t p : openers) killAndReap(p, status);
                return 3;
            }
            if (pid == 0) {
                for (;;) {
                    openOnce("quenbril-store-opener");
                    opens->fetch_add(1, std::memory_order_relaxed);
                }
            }
            openers.push_back(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(lifetimeMs(random)));
        for (pid_t pid : openers) ::kill(pid, SIGKILL);
        for (pid_t pid : openers) {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
        killed += openers.size();

        // One open alone, as any client's next one would be.
        const pid_t probe = forkChild();
        if (probe < 0) {
            std::perror("fork");
            return 3;
        }
        if (probe == 0) {
            openOnce("quenbril-store-probe");
            _exit(0);
        }
        int status = 0;
        if (!reapedWithin(probe, options.bound, status, std::chrono::milliseconds(2))) {
            killAndReap(probe, status);
            std::fprintf(stderr,
                         "%s: locked after %d rounds, %lu openers killed, %lu opens, %.1f s "
                         "(seed %lu): an open did not return within %g s\n",
                         kProgram, round, killed, opens->load(), seconds(), options.seed,
                         options.bound);
            return 0;
        }
    }
    std::fprintf(stderr,
                 "%s: not locked after %d rounds, %lu openers killed, %lu opens, %.1f s (seed "
                 "%lu)\n",
                 kProgram, options.rounds, killed, opens->load(), seconds(), options.seed);
    return 1;
}
