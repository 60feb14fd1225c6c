// The real quenbril program started while no JACK server runs, against the stand-in: once a JACK
// server starts, the remote's sound comes out of the server's playback ports and a JACK MIDI
// controller on it is seen, with nothing restarted; a stop signal then ends it cleanly.
//
// The server is the binary's own (JackServerMain.cpp), named for it through JACK_DEFAULT_SERVER,
// which the remote inherits; the binary stops it before the remote starts. The remote gets an
// ALSA configuration of the test's own whose only device cannot open, so that a sound card of
// the machine is not chosen instead of the server that comes later.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/simserver/SimServerProcess.h"
#include "tests/support/AlsaMidiTestClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/FileText.h"
#include "tests/support/JackMidiTestClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ProcessEnd.h"
#include "tests/support/RemoteSettingsFolder.h"
#include "tests/support/TestTime.h"

using namespace quenbril::test;

namespace {

// A remote's manual address always uses this port, so the stand-in must have it.
constexpr uint16_t kManualPort = 57576;
// Stored as an earlier confirm stores it; the stand-in logs it when the remote confirms.
constexpr int kClientNumber = 3;
// Each wait passes as soon as what it wants is there: generous for a loaded machine.
constexpr double kPatience = 40.0;
constexpr double kQuitPatience = 15.0;

/// The remote's audio output ports and, for each, whether it feeds a playback port of the server.
bool outputsReachPlayback(const JackTestClient& looker, std::string& seen) {
    const std::vector<std::string> outputs = looker.ports("^quenbril[^:]*:out_");
    seen.clear();
    bool all = !outputs.empty();
    for (const std::string& output : outputs) {
        const std::vector<std::string> to = looker.connections(output);
        const bool playback = std::any_of(to.begin(), to.end(), [](const std::string& port) {
            return port.rfind("system:playback_", 0) == 0;
        });
        seen += " " + output + (playback ? " -> playback" : " (unconnected)");
        all = all && playback;
    }
    return all;
}

}  // namespace

TEST(RemoteJackLater, AServerStartedAfterTheRemoteGetsItsSoundAndItsMidiControllers) {
    QUENBRIL_REQUIRE_JACK();
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs it in xvfb-run)";
    JackServer& jack = JackServer::shared();
    jack.stop();

    SimServerProcess server({"--port", std::to_string(kManualPort), "--channels", "4"});
    if (auto refusal = manualAddressRefusal(server); !refusal.empty()) GTEST_SKIP() << refusal;
    RemoteSettingsFolder settings(kClientNumber);
    ASSERT_FALSE(settings.path().empty());
    const std::string alsaConfig = settings.path() + "/asound.conf";
    std::ofstream(alsaConfig) << "pcm.!default { type hw card \"QuenbrilNoCard\" }\n";
    const std::string remoteLog = settings.path() + "/remote.log";
    ChildProcess remote({QUENBRIL_PATH},
                        {{"XDG_CONFIG_HOME", settings.path()}, {"ALSA_CONFIG_PATH", alsaConfig}},
                        remoteLog);
    ASSERT_TRUE(server.waitForLog("is client " + std::to_string(kClientNumber), kPatience))
        << server.log() << "The remote's log:\n"
        << fileText(remoteLog);

    ASSERT_TRUE(jack.start());
    JackMidiTestClient pad("QB Pad", 1, 0);
    ASSERT_TRUE(pad.isOpen());
    JackTestClient looker("graph-look", 0, 0);
    ASSERT_TRUE(looker.isOpen());

    std::string outputs;
    EXPECT_TRUE(
        eventually([&] { return outputsReachPlayback(looker, outputs); }, scaledSeconds(kPatience)))
        << "the remote's outputs:" << (outputs.empty() ? " none" : outputs) << ". Its log:\n"
        << fileText(remoteLog);
    // One MIDI system at a time: where the ALSA sequencer opens, the remote takes it instead.
    if (AlsaMidiTestClient::sequencerOpens()) {
        std::printf("The ALSA sequencer opens here: the remote's MIDI is not JACK's\n");
    } else {
        EXPECT_TRUE(eventually(
            [&] {
                return fileText(remoteLog).find("MIDI device added: " + pad.name()) !=
                       std::string::npos;
            },
            scaledSeconds(kPatience)))
            << fileText(remoteLog);
    }

    EXPECT_TRUE(remote.stop(kQuitPatience)) << "killed after SIGTERM. Its log:\n"
                                            << fileText(remoteLog);
    EXPECT_TRUE(WIFEXITED(remote.status()) && WEXITSTATUS(remote.status()) == 0)
        << describeWaitStatus(remote.status()) << ". Its log:\n"
        << fileText(remoteLog);
}
