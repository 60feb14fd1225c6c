#include "platform/jack/JackNewsThreadPark.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/jack/JackServerPresence.h"

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
std::atomic<long> held{0};

// ThreadSanitizer holds a signal back while the thread is inside its stand-in for read, so a
// thread waiting for news never answers there.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUENBRIL_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(QUENBRIL_THREAD_SANITIZER)
constexpr bool kParkable = false;
#elif defined(__x86_64__) || defined(__aarch64__)
constexpr bool kParkable = true;
#else
constexpr bool kParkable = false;
#endif

// The C library's code (not a sanitizer's stand-in for read), where a notification thread
// waits for news: the system call may be made in read itself or in a helper of the library.
struct Range {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
};
Range libraryCode;

int findSegmentHolding(dl_phdr_info* object, size_t, void* given) {
    const auto address = reinterpret_cast<std::uintptr_t>(given);
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = object->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
        const std::uintptr_t begin = object->dlpi_addr + segment.p_vaddr;
        if (address >= begin && address < begin + segment.p_memsz) {
            libraryCode = {begin, begin + segment.p_memsz};
            return 1;
        }
    }
    return 0;
}

bool findLibraryCode() {
    void* libc = ::dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    void* read = libc ? ::dlsym(libc, "read") : nullptr;
    return read && ::dl_iterate_phdr(&findSegmentHolding, read) == 1;
}

// Whether the thread was interrupted blocked in the read system call on a socket, made in the C
// library: libjack's wait for news (a read of a file or pipe may be made under a lock). For a
// call it restarts, the kernel has put the call's number and arguments back and the program
// counter on the system call instruction.
bool waitingForNews(const void* context) {
    const auto& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    const auto at = static_cast<std::uintptr_t>(machine.gregs[REG_RIP]);
    const auto number = static_cast<long>(machine.gregs[REG_RAX]);
    const auto descriptor = static_cast<long>(machine.gregs[REG_RDI]);
    constexpr unsigned char kSystemCall[] = {0x0f, 0x05};
#elif defined(__aarch64__)
    const auto at = static_cast<std::uintptr_t>(machine.pc);
    const auto number = static_cast<long>(machine.regs[8]);
    const auto descriptor = static_cast<long>(machine.regs[0]);
    constexpr unsigned char kSystemCall[] = {0x01, 0x00, 0x00, 0xd4};  // svc #0
#else
    const std::uintptr_t at = 0;
    const long number = -1;
    const long descriptor = -1;
    constexpr unsigned char kSystemCall[] = {0};
#endif
    if (number != SYS_read || at < libraryCode.begin || at + sizeof kSystemCall > libraryCode.end) {
        return false;
    }
    const auto* code = reinterpret_cast<const unsigned char*>(at);
    for (std::size_t i = 0; i < sizeof kSystemCall; ++i) {
        if (code[i] != kSystemCall[i]) return false;
    }
    struct stat file {};
    return descriptor >= 0 && ::fstat(static_cast<int>(descriptor), &file) == 0 &&
           S_ISSOCK(file.st_mode);
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
    if (state == PTHREAD_CANCEL_DISABLE || !waitingForNews(context)) {
        declined.fetch_add(1);
        answer(request, kNotYet);
        return;
    }
    held.fetch_add(1);
    answer(request, kHeld);
    // The close's cancel, asynchronous in libjack's threads, ends the thread here.
    for (;;) ::pause();
}

bool ours(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == &onParkRequest;
}

bool install() {
    static const bool installed = [] {
        // Only for libjack's own threads (JACK 2), and never in place of a handler of another.
        struct sigaction before {};
        if (!JackServerPresence::libraryIsJack2() || !findLibraryCode() ||
            ::sigaction(parkSignal(), nullptr, &before) != 0 || before.sa_handler != SIG_DFL) {
            return false;
        }
        struct sigaction action {};
        action.sa_sigaction = &onParkRequest;
        // A notification thread asked while it waits elsewhere goes on as if never asked.
        action.sa_flags = SA_RESTART | SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return ::sigaction(parkSignal(), &action, nullptr) == 0;
    }();
    // A handler another put in its place since: the signal is not ours to send (reset to its
    // default, it would end the process).
    struct sigaction now {};
    return installed && ::sigaction(parkSignal(), nullptr, &now) == 0 && ours(now);
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

bool JackNewsThreadPark::possible() { return kParkable && install(); }

JackNewsThreadPark::Parked JackNewsThreadPark::park(const JackThreadStarts::Started& thread,
                                                    std::chrono::milliseconds bound) {
    if (thread.id == 0) return Parked::NotThere;
    if (!possible()) return Parked::NotReached;
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
            // A thread that ends holds its signals back: one asked on its way out never answers.
            if (::syscall(SYS_tgkill, ::getpid(), thread.id, 0) != 0) return Parked::NotThere;
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

long JackNewsThreadPark::heldForTesting() { return held.load(); }

}  // namespace quenbril
