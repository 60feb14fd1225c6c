#include "DarIrudovOzuzari/CrashSignalHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "DarIrudovOzuzari/CrashReportFolders.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kCaughtSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAlternateStackSize = 128 * 1024;
constexpr int kMaxFrames = 64;

// Prepared at install, read by the handler. Room is left after the folder for the file name.
char reportFolder[PATH_MAX - 64];
char versionText[128];
std::atomic<bool> handling{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may not take a lock");

// Appends to a fixed buffer without allocating; what does not fit is dropped.
class SignalSafeText {
  public:
    SignalSafeText(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    void append(const char* text) {
        while (*text && length_ + 1 < capacity_) buffer_[length_++] = *text++;
        buffer_[length_] = '\0';
    }

    /// `digits`: the least number of digits, padded with zeros.
    void appendNumber(unsigned long long value, int digits = 1) {
        char reversed[24];
        int count = 0;
        do {
            reversed[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < 24);
        while (count < digits && count < 24) reversed[count++] = '0';
        char text[25];
        for (int i = 0; i < count; ++i) text[i] = reversed[count - 1 - i];
        text[count] = '\0';
        append(text);
    }

    const char* text() const { return buffer_; }
    size_t length() const { return length_; }

  private:
    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

void writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void writeReport(int signalNumber) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long seconds = now.tv_sec > 0 ? static_cast<unsigned long long>(now.tv_sec) : 0;
    unsigned long long pid = static_cast<unsigned long long>(getpid());

    char path[PATH_MAX];
    SignalSafeText name(path, sizeof path);
    name.append(reportFolder);
    name.append("/");
    name.append(CrashReportFolders::kReportPrefix);
    name.appendNumber(seconds, 12);
    name.append("-");
    name.appendNumber(pid);
    name.append(CrashReportFolders::kReportSuffix);

    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;

    char buffer[1024];
    SignalSafeText header(buffer, sizeof buffer);
    const char* signalName = CrashSignalHandler::signalName(signalNumber);
    header.append("Quenbril crash report\nSignal: ");
    header.append(signalName ? signalName : "signal");
    header.append(" (");
    header.appendNumber(static_cast<unsigned long long>(signalNumber));
    header.append(")\nTime: ");
    header.appendNumber(seconds);
    header.append("\nVersion: ");
    header.append(versionText);
    header.append("\nProcess: ");
    header.appendNumber(pid);
    header.append("\nBacktrace:\n");
    writeAll(fd, header.text(), header.length());

    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    if (count > 0) backtrace_symbols_fd(frames, count, fd);
    close(fd);
}

void handleFatalSignal(int signalNumber, siginfo_t*, void*) {
    // A second fatal signal (another thread, or a fault while writing) writes nothing more.
    if (!handling.exchange(true)) {
        int savedErrno = errno;
        writeReport(signalNumber);
        errno = savedErrno;
    }
    // The signal is blocked while this runs: raised again, it arrives with the default action
    // as the handler returns. A fault that is not raised happens again on return, as well.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

bool setAlternateStack() {
    static void* stack = nullptr;
    if (!stack) {
        void* memory = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return false;
        stack = memory;
    }
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = kAlternateStackSize;
    return sigaltstack(&alternate, nullptr) == 0;
}

void copyText(char* target, size_t capacity, const std::string& text) {
    size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

}  // namespace

bool CrashSignalHandler::install(const std::string& folder, const std::string& version) {
    if (folder.empty() || folder.size() >= sizeof reportFolder) {
        log(LogLevel::Warning, "[DarIrudovOzuzari] Crash folder name empty or too long: '%s'",
            folder.c_str());
        return false;
    }
    copyText(reportFolder, sizeof reportFolder, folder);
    copyText(versionText, sizeof versionText, version);

    // backtrace() loads the unwinder (and allocates) on its first call: done now, not in the
    // handler.
    void* warm[2];
    backtrace(warm, 2);

    if (!setAlternateStack()) {
        log(LogLevel::Warning, "[DarIrudovOzuzari] No alternate signal stack: %s",
            std::strerror(errno));
    }
    struct sigaction action {};
    action.sa_sigaction = handleFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kCaughtSignals) {
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            log(LogLevel::Warning, "[DarIrudovOzuzari] Cannot catch %s: %s",
                signalName(signalNumber), std::strerror(errno));
            return false;
        }
    }
    return true;
}

const char* CrashSignalHandler::signalName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return nullptr;
    }
}

}  // namespace quenbril
