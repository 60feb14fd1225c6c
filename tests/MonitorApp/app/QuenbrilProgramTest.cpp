// The program's command line, run as the user runs it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/PropertyList.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/ProcessEnd.h"
#include "tests/support/TestTime.h"

namespace {

using ProgramRun = quenbril::test::CommandOutput;

/// Runs quenbril with `arguments`, standard error joined to the output; no display is needed.
ProgramRun run(const std::string& arguments) {
    return quenbril::test::runCommand("env -u DISPLAY -u WAYLAND_DISPLAY " QUENBRIL_PATH " " +
                                      arguments + " 2>&1");
}

TEST(QuenbrilProgram, VersionPrintsTheProjectVersion) {
    ProgramRun r = run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "quenbril " QUENBRIL_VERSION "\n");
}

TEST(QuenbrilProgram, HelpPrintsTheUsage) {
    for (const char* flag : {"--help", "-h"}) {
        ProgramRun r = run(flag);
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.out.rfind("Usage: quenbril [--help | --version]\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("--version"), std::string::npos);
    }
}

TEST(QuenbrilProgram, AnUnknownOptionPrintsTheUsageAndFails) {
    for (const char* args : {"--verbose", "-platform offscreen", "show.qcf", "--help extra"}) {
        ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find("quenbril: unknown option"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Usage: quenbril"), std::string::npos) << r.out;
    }
}

/// A stop signal from the session ends the run as Quit does: the window's frame and the
/// "Settings" record are saved.
TEST(QuenbrilProgram, AStopSignalSavesTheWindowsStateBeforeTheProgramEnds) {
    std::string folder = "/tmp/quenbril-program-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    std::filesystem::create_directories(folder + "/Quenbril");
    // A manual address, so that no discovery is needed.
    std::ofstream(folder + "/Quenbril/Quenbril.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>useManualIP</key><integer>1</integer>"
           "<key>manualIP</key><string>127.0.0.1</string></dict></plist>\n";

    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(err[1], STDERR_FILENO);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        ::execl(QUENBRIL_PATH, QUENBRIL_PATH, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(err[1]);

    // The window has appeared once the connection dialog starts connecting, within seconds of a
    // plain build's start.
    std::string output;
    bool started = false;
    const auto deadline = std::chrono::steady_clock::now() + quenbril::test::scaledDuration(20.0);
    while (!started && std::chrono::steady_clock::now() < deadline) {
        pollfd p{err[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        ssize_t n = ::read(err[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
        started = output.find("Connecting to manual address") != std::string::npos;
    }
    ::kill(pid, SIGTERM);
    // Bounded: a program stuck as it ends (inside a sound library, say) fails the test instead of
    // holding it.
    int status = 0;
    const bool ended =
        quenbril::test::reapedWithin(pid, quenbril::test::scaledSeconds(20.0), status);
    if (!ended) quenbril::test::killAndReap(pid, status);
    ::close(err[0]);
    ASSERT_TRUE(started) << output;
    ASSERT_TRUE(ended) << "the program did not end after the stop signal";
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    auto stored = quenbril::PropertyList::readFile(folder + "/Quenbril/Quenbril.plist");
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(stored);
    const quenbril::Dictionary* root = stored->dictionaryValue();
    ASSERT_NE(root, nullptr);
    EXPECT_NE((*root)["Settings"].dictionaryValue(), nullptr);
    EXPECT_NE((*root)["mainWindowAutoSave2"].stringValue(), nullptr);
}

}  // namespace
