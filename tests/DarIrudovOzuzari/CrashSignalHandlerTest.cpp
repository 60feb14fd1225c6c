#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "DarIrudovOzuzari/CrashReportFolders.h"
#include "DarIrudovOzuzari/CrashSignalHandler.h"
#include "DarIrudovOzuzari/PendingCrashReports.h"
#include "DarIrudovOzuzari/ZICrashes.h"
#include "tests/DarIrudovOzuzari/TemporaryCacheTest.h"

namespace quenbril {
namespace {

using testing::ContainsRegex;
using testing::HasSubstr;
using testing::SizeIs;

constexpr int kNoSignal = 99;

// Writes to a page that allows no access: a real fault, which recurs when the handler returns.
void writeToForbiddenPage() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) _exit(kNoSignal + 1);
    *static_cast<volatile int*>(page) = 1;
}

// Far deeper than any stack reaches; it keeps the compiler from calling the recursion endless.
volatile int deepestFrame = 1 << 30;

// Recurses until the stack runs out: the handler can only run on the alternate stack.
int overflowStack(int depth) {
    if (depth >= deepestFrame) return 0;
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    // Used after the call, so that the call is no tail call the compiler could make a loop of.
    return overflowStack(depth + 1) + frame[0];
}

void exhaustTheStack() { overflowStack(0); }

void raiseSegv() { raise(SIGSEGV); }
void raiseBus() { raise(SIGBUS); }
void raiseFpe() { raise(SIGFPE); }
void raiseIll() { raise(SIGILL); }
void callAbort() { std::abort(); }

// Starts the crash service in a child process, as the application would, then crashes it by
// `crash`. Returns the child's wait status.
int statusOfCrashedChild(void (*crash)()) {
    pid_t child = fork();
    if (child == 0) {
        // No core file: the test wants the report, and dumping slows it down.
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        ZICrashes::startService();
        crash();
        _exit(kNoSignal);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

class CrashSignalHandlerTest : public TemporaryCacheTest {
  protected:
    // Crashes a child and checks it died by `signalNumber` and left one pending report.
    std::string crashAndReadReport(void (*crash)(), int signalNumber) {
        int status = statusOfCrashedChild(crash);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the child exited with " << WEXITSTATUS(status);
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), signalNumber);
        }
        std::vector<std::string> reports = PendingCrashReports::reportNames(pending_);
        EXPECT_THAT(reports, SizeIs(1));
        return reports.empty() ? "" : contentsOf(pending_ + "/" + reports.back());
    }
};

struct FatalSignal {
    const char* name;
    int number;
    void (*crash)();
};

// Test names print the signal, not the record's bytes.
void PrintTo(const FatalSignal& fatal, std::ostream* out) { *out << fatal.name; }

long realTimeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long>(now.tv_sec);
}

class CrashSignalHandlerSignalTest : public CrashSignalHandlerTest,
                                     public testing::WithParamInterface<FatalSignal> {};

TEST_P(CrashSignalHandlerSignalTest, TheChildDiesByItsSignalAndLeavesAReport) {
    const FatalSignal& fatal = GetParam();
    // The report reads CLOCK_REALTIME; time() reads the coarse clock, which can lag it by a tick
    // across a second's boundary, so the bounds are taken from the same clock as the report.
    long before = realTimeSeconds();
    std::string report = crashAndReadReport(fatal.crash, fatal.number);
    long after = realTimeSeconds();

    EXPECT_THAT(report, HasSubstr(std::string("Signal: ") + fatal.name + " (" +
                                  std::to_string(fatal.number) + ")\n"));
    EXPECT_THAT(report, HasSubstr("\nVersion: " QUENBRIL_VERSION "\n"));
    // At least one frame follows the backtrace's heading.
    EXPECT_THAT(report, ContainsRegex("\nBacktrace:\n[^\n]+\n"));
    std::string::size_type at = report.find("\nTime: ");
    ASSERT_NE(at, std::string::npos) << report;
    long seconds = std::strtol(report.c_str() + at + 7, nullptr, 10);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashSignalHandlerSignalTest,
                         testing::Values(FatalSignal{"SIGSEGV", SIGSEGV, raiseSegv},
                                         FatalSignal{"SIGSEGV", SIGSEGV, writeToForbiddenPage},
                                         FatalSignal{"SIGSEGV", SIGSEGV, exhaustTheStack},
                                         FatalSignal{"SIGABRT", SIGABRT, callAbort},
                                         FatalSignal{"SIGBUS", SIGBUS, raiseBus},
                                         FatalSignal{"SIGFPE", SIGFPE, raiseFpe},
                                         FatalSignal{"SIGILL", SIGILL, raiseIll}),
                         [](const testing::TestParamInfo<FatalSignal>& info) {
                             return std::string(info.param.name) + "_" + std::to_string(info.index);
                         });

TEST_F(CrashSignalHandlerTest, TheNextStartNamesTheReportOnceAndMovesIt) {
    std::string report = crashAndReadReport(raiseSegv, SIGSEGV);
    ASSERT_FALSE(report.empty());
    std::string name = PendingCrashReports::reportNames(pending_).at(0);
    EXPECT_THAT(name, testing::MatchesRegex("crash-[0-9]{12}-[0-9]+\\.txt"));

    testing::internal::CaptureStderr();
    PendingCrashReports::collect(CrashReportFolders::fromEnvironment());
    PendingCrashReports::collect(CrashReportFolders::fromEnvironment());
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(log.find(name), log.rfind(name)) << log;
    EXPECT_THAT(log, HasSubstr("An earlier run crashed; its report: " + reported_ + "/" + name));
    EXPECT_THAT(PendingCrashReports::reportNames(pending_), testing::IsEmpty());
    EXPECT_EQ(contentsOf(reported_ + "/" + name), report);
}

TEST_F(CrashSignalHandlerTest, AStartAfterACrashReportsItBeforeCatchingItsOwn) {
    ASSERT_TRUE(WIFSIGNALED(statusOfCrashedChild(raiseSegv)));
    std::string first = PendingCrashReports::reportNames(pending_).at(0);

    // The second run starts the service (which moves the first report) and crashes as well.
    ASSERT_TRUE(WIFSIGNALED(statusOfCrashedChild(callAbort)));

    EXPECT_THAT(PendingCrashReports::reportNames(reported_), testing::ElementsAre(first));
    std::vector<std::string> pending = PendingCrashReports::reportNames(pending_);
    ASSERT_THAT(pending, SizeIs(1));
    EXPECT_NE(pending[0], first);
    EXPECT_THAT(contentsOf(pending_ + "/" + pending[0]), HasSubstr("Signal: SIGABRT (6)"));
}

}  // namespace
}  // namespace quenbril
