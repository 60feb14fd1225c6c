// The program's command line, run as the user runs it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
};

/// Runs quenbril with `arguments`, standard error joined to the output; no display is needed.
ProgramRun run(const std::string& arguments) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY " QUENBRIL_PATH " " + arguments + " 2>&1";
    ProgramRun result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
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

}  // namespace
