#include "platform/jack/JackNewsThreadPark.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace quenbril {
namespace {

// Real-time signals queue: each request reaches the thread.
int parkSignal() { return SIGRTMIN + 2; }

enum Answer : std::uint64_t { kNotYet = 0, kHeld = 1, kNotThisThread = 2 };

// The request being asked now, 0 for none: one asked before, arriving late, passes through.
std::atomic<std::uint64_t> asking{0};
// The latest answer: its request number times four, plus the answer.
std::atomic<std::uint64_t> answered{0};
std::atomic<long> declined{0};

// The code of the C library's read (not a sanitizer's stand-in for it), where a notification
// thread waits for news.
struct Range {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
};
Range readCode;

bool findReadCode() {
    void* libc = ::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!libc) return false;
    void* read = ::dlsym(libc, "read");
    Dl_info info{};
    void* entry = nullptr;
    if (!read || !::dladdr1(read, &info, &entry, RTLD_DL_SYMENT) || !entry) return false;
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    if (symbol->st_size == 0) {
        return false;
    }
    readCode.begin = reinterpret_cast<std::uintptr_t>(read);
    readCode.end = readCode.begin + symbol->st_size;
    return true;
}

#if defined(__x86_64__) || defined(__aarch64__)
constexpr bool kKnowsWhereInterrupted = true;
#else
constexpr bool kKnowsWhereInterrupted = false;
#endif

std::uintptr_t interruptedAt(const void* context) {
    const auto* machine = &static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(machine->gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(machine->pc);
#else
    (void)machine;
    return 0;
#endif
}

void answer(std::uint64_t request, Answer given) { answered.store(request * 4 + given); }

void onParkRequest(int, siginfo_t* info, void* context) {
    if (info->si_code != SI_QUEUE || info->si_pid != ::getpid()) return;
    const auto value = reinterpret_cast<std::uintptr_t>(info->si_value.sival_ptr);
    const auto request = static_cast<std::uint64_t>(value >> 32);
    const auto thread = static_cast<std::uint32_t>(value);
    if (request != asking.load()) return;
    if (JackThreadStarts::numberOfThisThread() != thread) {
        answer(request, kNotThisThread);
        return;
    }
    // A cancel put off (a call of ours that reads, on the thread) would never end the wait.
    int state = PTHREAD_CANCEL_ENABLE;
    ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    ::pthread_setcancelstate(state, nullptr);
    const std::uintptr_t at = interruptedAt(context);
    if (state == PTHREAD_CANCEL_DISABLE || at < readCode.begin || at >= readCode.end) {
        declined.fetch_add(1);
        answer(request, kNotYet);
        return;
    }
    answer(request, kHeld);
    // The close's cancel, asynchronous in libjack's threads, ends the thread here.
    for (;;) ::pause();
}

bool install() {
    static const bool installed = [] {
        if (!findReadCode()) return false;
        struct sigaction action {};
        action.sa_sigaction = &onParkRequest;
        // A notification thread asked while it waits elsewhere goes on as if never asked.
        action.sa_flags = SA_RESTART | SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return ::sigaction(parkSignal(), &action, nullptr) == 0;
    }();
    return installed;
}

std::uint64_t nextRequest() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

void sleepAMoment() {
    const timespec moment{0, 200000};
    ::nanosleep(&moment, nullptr);
}

}  // namespace

JackNewsThreadPark::Parked JackNewsThreadPark::park(const JackThreadStarts::Started& thread,
                                                    std::chrono::milliseconds bound) {
    if (thread.id == 0) return Parked::NotThere;
    if (!kKnowsWhereInterrupted || !install()) return Parked::NotReached;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    struct Asked {
        ~Asked() { asking.store(0); }
    } asked;
    for (;;) {
        std::uint64_t request = 0;
        while (request == 0) request = nextRequest() & 0xffffffffU;
        asking.store(request);
        siginfo_t info{};
        info.si_signo = parkSignal();
        info.si_code = SI_QUEUE;
        info.si_pid = ::getpid();
        info.si_uid = ::getuid();
        info.si_value.sival_ptr =
            reinterpret_cast<void*>(static_cast<std::uintptr_t>(request << 32 | thread.number));
        if (::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), thread.id, parkSignal(), &info) != 0) {
            return Parked::NotThere;
        }
        std::uint64_t got = 0;
        while ((got = answered.load()) / 4 != request) {
            if (std::chrono::steady_clock::now() >= deadline) return Parked::NotReached;
            sleepAMoment();
        }
        if (got % 4 == kHeld) return Parked::Yes;
        if (got % 4 == kNotThisThread) return Parked::NotThere;
        if (std::chrono::steady_clock::now() >= deadline) return Parked::NotReached;
        sleepAMoment();
    }
}

long JackNewsThreadPark::declinedForTesting() { return declined.load(); }

}  // namespace quenbril
