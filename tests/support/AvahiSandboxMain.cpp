// The main of the `net` test binaries. Started normally (by ctest), it makes an Avahi sandbox
// with scripts/avahi-sandbox.sh, runs this same binary with the same arguments inside it
// (nsenter into the sandbox's network and mount namespaces), stops the sandbox by its PIDs and
// returns the inner run's status. Where no sandbox can be made (not root, no avahi-daemon), the
// tests run here and skip, saying why.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/AvahiSandbox.h"

namespace {

volatile sig_atomic_t gStopRequested = 0;

void onStopSignal(int) { gStopRequested = 1; }

int runTestsHere(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

/// Runs the sandbox script with `action`; its standard output when it succeeded.
bool runScript(const std::string& action, const std::string& dir, std::string* output) {
    std::string command =
        std::string("'") + QUENBRIL_SANDBOX_SCRIPT + "' " + action + " '" + dir + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::array<char, 256> buffer{};
    std::string text;
    while (fgets(buffer.data(), buffer.size(), pipe)) text += buffer.data();
    int status = pclose(pipe);
    if (output) *output = text;
    return status == 0;
}

}  // namespace

bool quenbril::test::restartAvahiDaemon() {
    const char* dir = std::getenv(kAvahiSandboxDirVariable);
    return dir && runScript("restart-daemon", dir, nullptr);
}

int main(int argc, char** argv) {
    using quenbril::test::kAvahiSandboxMissingVariable;
    using quenbril::test::kAvahiSandboxVariable;

    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) listing = true;
    }
    if (listing || quenbril::test::inAvahiSandbox() || std::getenv(kAvahiSandboxMissingVariable)) {
        return runTestsHere(argc, argv);
    }

    char dirTemplate[] = "/tmp/quenbril-avahi-sandbox-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        setenv(kAvahiSandboxMissingVariable, "no temporary folder", 1);
        return runTestsHere(argc, argv);
    }
    const std::string dir = dirTemplate;
    std::string pid;
    if (!runScript("start", dir, &pid)) {
        std::filesystem::remove_all(dir);
        setenv(kAvahiSandboxMissingVariable,
               "scripts/avahi-sandbox.sh could not start one (needs root)", 1);
        return runTestsHere(argc, argv);
    }

    std::error_code error;
    std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    pid_t child = fork();
    if (child == 0) {
        setenv(kAvahiSandboxVariable, "1", 1);
        setenv(quenbril::test::kAvahiSandboxDirVariable, dir.c_str(), 1);
        std::vector<char*> args;
        std::string script = QUENBRIL_SANDBOX_SCRIPT;
        std::string execWord = "exec";
        args.push_back(script.data());
        args.push_back(execWord.data());
        args.push_back(const_cast<char*>(dir.c_str()));
        args.push_back(self.data());
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(script.c_str(), args.data());
        _exit(127);
    }

    int status = 0;
    bool killed = false;
    while (child > 0 && waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) break;
        if (gStopRequested && !killed) {
            kill(child, SIGTERM);
            killed = true;
        }
    }
    runScript("stop", dir, nullptr);
    std::filesystem::remove_all(dir, error);
    if (child < 0) return 1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
