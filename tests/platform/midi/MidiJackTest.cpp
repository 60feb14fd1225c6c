// MIDI through the binary's dummy JACK server, and through the ALSA sequencer where it opens:
// controllers played by clients of the test are found by polling, connected, and their messages
// arrive as "MIDIEventReceived" on the main thread; they go and return, and so does the JACK
// server itself.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <set>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
#include "platform/jack/JackClients.h"
#include "platform/midi/MidiNotifications.h"
#include "platform/midi/RtMidiBackend.h"
#include "platform/midi/UndoneConnectionPacing.h"
#include "tests/MonitorApp/channelstrips/OwnStripServices.h"
#include "tests/support/AlsaMidiTestClient.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/JackDeathBehindThreads.h"
#include "tests/support/JackMidiTestClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"
#include "tests/support/ThreadCount.h"

namespace quenbril::test {
namespace {

/// Long enough for anything that is not a poll.
// Generous: a loaded machine polls late, and a passing test never waits this long.
constexpr double kWait = 15.0;

/// A backend, counting its polls so that a test can wait for polls to have happened, and holding
/// them (its losses too) while a test holds `gate`.
class CountedBackend : public MidiBackend {
  public:
    explicit CountedBackend(std::unique_ptr<MidiBackend> inner) : inner_(std::move(inner)) {}
    Api api() const override { return inner_->api(); }
    std::optional<std::vector<MidiPortInfo>> listPorts() override {
        std::lock_guard held(gate);
        auto ports = inner_->listPorts();
        polls_.fetch_add(1);
        return ports;
    }
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override {
        return inner_->openInput(port, std::move(callback));
    }
    void closeInput(const MidiPortInfo& port) override { inner_->closeInput(port); }
    std::vector<MidiInputLoss> lostInputs() override {
        std::lock_guard held(gate);
        return inner_->lostInputs();
    }
    int polls() const { return polls_.load(); }

    std::mutex gate;

  private:
    std::unique_ptr<MidiBackend> inner_;
    std::atomic<int> polls_{0};
};

/// A strip manager, the application's one MIDI input, over an RtMidi backend polled as the
/// application polls it: JACK MIDI on the binary's server, or the ALSA sequencer.
class MidiControllers : public ::testing::TestWithParam<MidiBackend::Api> {
  protected:
    void SetUp() override {
        if (GetParam() == MidiBackend::Api::Jack) {
            QUENBRIL_REQUIRE_JACK();
            // A server a failed test left dead comes back for the next.
            if (!JackServer::shared().running()) {
                ASSERT_TRUE(JackServer::shared().start());
            }
        } else if (!AlsaMidiTestClient::sequencerOpens()) {
            GTEST_SKIP() << "/dev/snd/seq does not open here";
        }
        RunLoop::setMain(&loop);
        auto owned = std::make_unique<CountedBackend>(std::make_unique<RtMidiBackend>(GetParam()));
        backend = owned.get();
        devices().installBackend(std::move(owned));
        own.emplace();
        manager = std::make_unique<ChannelStripManager>(own->services());
        observer = NotificationCenter::defaultCenter().addObserver(
            "MIDIEventReceived", [this](const Notification& n) {
                EXPECT_TRUE(loop.isCurrentThread());
                events.push_back(n.userInfo);
            });
    }
    void TearDown() override {
        if (!backend) return;
        observer.reset();
        manager.reset();
        own.reset();
        devices().installBackend(nullptr);
        RunLoop::setMain(nullptr);
    }
    static MidiDeviceManager& devices() { return MidiDeviceManager::sharedDeviceManager(); }

    /// A controller of the API under test.
    std::unique_ptr<MidiTestController> controller(const std::string& name, int outputs,
                                                   int inputs) const {
        if (GetParam() == MidiBackend::Api::Jack) {
            return std::make_unique<JackMidiTestClient>(name, outputs, inputs);
        }
        return std::make_unique<AlsaMidiTestClient>(name, outputs, inputs);
    }

    bool waitFor(const std::function<bool()>& done, double seconds = kWait) {
        return loop.runUntil(done, seconds);
    }
    bool hasDevice(const std::string& name) const {
        const auto& all = devices().availableDevices();
        return std::any_of(all.begin(), all.end(),
                           [&](const MidiDevice& d) { return d.displayName() == name; });
    }
    /// True when `name` is a device by the second poll from now: "within 2 s" of the 1.0 s poll,
    /// counted in polls, however late a loaded machine runs them.
    bool connectedWithinTwoPolls(const std::string& name) {
        const int from = backend->polls();
        (void)waitFor([&] { return hasDevice(name) || backend->polls() >= from + 3; });
        loop.runPending();
        return hasDevice(name);
    }
    /// Waits until the polls after this call have run twice, so that a change before it is seen.
    void waitTwoPolls() {
        const int from = backend->polls();
        ASSERT_TRUE(waitFor([&] { return backend->polls() >= from + 2; }));
        loop.runPending();
    }
    /// Plays a note-on on the pad until it arrives: the pad's port may be connected a moment
    /// after the device was announced.
    bool noteOnArrives(MidiTestController& pad, uint8_t note) {
        const Dictionary wanted{
            {"byte1", int{note}}, {"byte2", 100}, {"channel", 2}, {"command", 144}};
        events.clear();
        size_t sent = pad.written();
        return waitFor([&] {
            if (std::find(events.begin(), events.end(), wanted) != events.end()) return true;
            if (pad.written() == sent && pad.send(0, {0x92, note, 100})) ++sent;
            return false;
        });
    }

    ManualRunLoop loop;
    CountedBackend* backend = nullptr;
    std::optional<OwnStripServices> own;
    std::unique_ptr<ChannelStripManager> manager;
    NotificationObserver observer;
    std::vector<Dictionary> events;
};

/// The lines of `log` other than the strip manager's Launchpad look-ups and its echo of each
/// message received (a line and an empty one): a note sent again because the first had not been
/// taken in yet arrives too, and may come late.
std::vector<std::string> linesBesideLookupsAndEchoes(const std::string& log) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        const bool echo = line.empty() || line.find("Received: ") != std::string::npos;
        if (!echo && line.find("Launchpad") == std::string::npos) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

TEST_P(MidiControllers, APadIsConnectedWithinTwoPollsAndItsNoteOnArrives) {
    waitTwoPolls();
    auto pad = controller("QB Pad", 1, 0);
    ASSERT_TRUE(pad->isOpen());
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 60));
    // The application's own ports are not devices.
    waitTwoPolls();
    ASSERT_EQ(devices().availableDevices().size(), 1u);
    EXPECT_EQ(devices().availableDevices()[0].displayName(), "QB Pad");
}

TEST_P(MidiControllers, APadThatClosesIsRemovedAndOneThatReturnsIsConnectedAgain) {
    int removals = 0;
    auto removed = NotificationCenter::defaultCenter().addObserver(
        kMidiDeviceWasRemovedNotification, [&](const Notification&) { ++removals; });
    auto pad = controller("QB Pad", 1, 0);
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 61));
    pad.reset();
    ASSERT_TRUE(waitFor([&] { return !hasDevice("QB Pad"); }));
    EXPECT_EQ(removals, 1);
    pad = controller("QB Pad", 1, 0);
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 62));
}

TEST_P(MidiControllers, ALaunchpadWithTwoInputPortsGivesItsSecondAsTheEndpoint) {
    auto launchpad = controller("Launchpad Test", 1, 2);
    // A poll may catch the client between the registrations of its ports; the device then
    // changes once more.
    const auto bothDestinations = [] {
        for (const MidiDevice& d : devices().availableDevices()) {
            if (d.displayName() == "Launchpad Test" && !d.entities().empty() &&
                d.entities()[0].destinations.size() == 2) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor(bothDestinations));
    ASSERT_TRUE(manager->launchpadEndpoint().has_value());
    EXPECT_EQ(manager->launchpadEndpoint()->client, "Launchpad Test");
    EXPECT_EQ(manager->launchpadEndpoint()->port, "in_2");
}

INSTANTIATE_TEST_SUITE_P(Apis, MidiControllers,
                         ::testing::Values(MidiBackend::Api::Jack, MidiBackend::Api::AlsaSequencer),
                         [](const auto& info) {
                             return info.param == MidiBackend::Api::Jack ? "Jack" : "Alsa";
                         });

void printJackMessage(const char* text) { std::fprintf(stderr, "%s\n", text); }
void ignoreJackMessage(const char*) {}

/// The JACK backend alone: its server can die. libjack prints its complaints, as it does in the
/// application until the backend silences it.
class MidiJackServer : public MidiControllers {
  protected:
    void SetUp() override {
        jack_set_error_function(printJackMessage);
        jack_set_info_function(printJackMessage);
        MidiControllers::SetUp();
    }
    void TearDown() override {
        addedObserver.reset();
        MidiControllers::TearDown();
        jack_set_error_function(ignoreJackMessage);
        jack_set_info_function(ignoreJackMessage);
    }

    /// A pad connected and played; the devices added after it are counted in `added`.
    std::unique_ptr<JackMidiTestClient> playedPad(uint8_t note) {
        auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
        if (!connectedWithinTwoPolls("QB Pad") || !noteOnArrives(*pad, note)) return nullptr;
        addedObserver = NotificationCenter::defaultCenter().addObserver(
            kMidiDeviceWasAddedNotification, [this](const Notification&) { ++added; });
        return pad;
    }

    int added = 0;
    NotificationObserver addedObserver;
};

TEST_P(MidiJackServer, AServerThatDiesTakesEveryDeviceWithOneLineAndMidiReturnsWithIt) {
    auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    auto launchpad = std::make_unique<JackMidiTestClient>("Launchpad Test", 1, 2);
    ASSERT_TRUE(waitFor([&] { return hasDevice("QB Pad") && hasDevice("Launchpad Test"); }));
    ASSERT_TRUE(noteOnArrives(*pad, 63));

    testing::internal::CaptureStderr();
    JackServer::shared().kill();
    const bool removed = waitFor([&] { return devices().availableDevices().empty(); });
    // Polls of a server that is not there print nothing, neither ours nor libjack's.
    waitTwoPolls();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(removed);
    EXPECT_FALSE(manager->launchpadEndpoint());
    const auto lines = linesBesideLookupsAndEchoes(log);
    ASSERT_EQ(lines.size(), 1u) << log;
    EXPECT_NE(lines[0].find("MIDI: the JACK system went away; all 2 devices removed"),
              std::string::npos)
        << log;
    // Gone clients are left to libjack (see JackMidiTestClient).
    ASSERT_TRUE(waitFor([&] { return pad->serverGone() && launchpad->serverGone(); }));
    pad.reset();
    launchpad.reset();

    ASSERT_TRUE(JackServer::shared().start());
    pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 64));
}

// Its devices look the same on the new server, yet their ports there must be opened anew.
TEST_P(MidiJackServer, AServerThatReturnsBetweenTwoPollsStillTakesTheDevicesAndGivesThemBack) {
    auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 65));
    int removals = 0;
    auto removed = NotificationCenter::defaultCenter().addObserver(
        kMidiDeviceWasRemovedNotification, [&](const Notification&) { ++removals; });
    {
        std::unique_lock held(backend->gate);
        JackServer::shared().kill();
        ASSERT_TRUE(waitFor([&] { return pad->serverGone(); }));
        pad.reset();
        // Its first client (the server's probe) makes libjack delete the dead server's clients.
        ASSERT_TRUE(JackServer::shared().start());
        pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    }
    ASSERT_TRUE(waitFor([&] { return removals == 1; }));
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 66));
}

// Neither a sequencer nor a server at start: the machine's MIDI is JACK MIDI all the same, whose
// devices come with a server started later; that it came is said once, and nothing went away.
TEST_P(MidiJackServer, WithoutAServerAtStartTheSystemsMidiComesWithALaterOne) {
    devices().installBackend(nullptr);
    JackServer::shared().stop();
    testing::internal::CaptureStderr();
    auto owned = std::make_unique<CountedBackend>(makeSystemMidiBackend("/nonexistent/snd/seq"));
    backend = owned.get();
    devices().installBackend(std::move(owned));
    waitTwoPolls();
    const bool started = JackServer::shared().start();
    auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    const bool added = connectedWithinTwoPolls("QB Pad");
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(started);
    ASSERT_TRUE(added) << log;
    EXPECT_EQ(backend->api(), MidiBackend::Api::Jack);
    std::vector<std::string> said;
    for (const std::string& line : linesBesideLookupsAndEchoes(log)) {
        if (line.find("MIDI") != std::string::npos) said.push_back(line);
    }
    ASSERT_EQ(said.size(), 3u) << log;
    EXPECT_NE(said[0].find("JACK MIDI is used once a JACK server runs"), std::string::npos) << log;
    EXPECT_NE(said[1].find("MIDI: the JACK system is available now"), std::string::npos) << log;
    EXPECT_NE(said[2].find("MIDI device added: QB Pad"), std::string::npos) << log;
    ASSERT_TRUE(noteOnArrives(*pad, 67));
}

// A controller whose port goes and is made again under its name between two polls (one re-plugged
// quickly, a bridge that restarts) lists the same as before, yet JACK dropped our connection with
// the old port: it is connected again every time, with one line each, and its notes arrive. The
// system's JACK MIDI, on the shared JACK worker as the application has it.
TEST_P(MidiJackServer, APortMadeAgainBetweenTwoPollsIsConnectedAgainEveryTime) {
    devices().installBackend(nullptr);
    auto owned = std::make_unique<CountedBackend>(makeSystemMidiBackend("/nonexistent/snd/seq"));
    backend = owned.get();
    devices().installBackend(std::move(owned));
    auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    ASSERT_TRUE(connectedWithinTwoPolls("QB Pad"));
    ASSERT_TRUE(noteOnArrives(*pad, 70));
    constexpr int kRemakes = 5;
    int arrived = 0;
    testing::internal::CaptureStderr();
    for (int i = 0; i < kRemakes; ++i) {
        {
            std::unique_lock held(backend->gate);
            pad.reset();
            pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
        }
        if (pad->name() != "QB Pad" || !noteOnArrives(*pad, static_cast<uint8_t>(71 + i))) break;
        ++arrived;
    }
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(arrived, kRemakes) << log;
    size_t reconnected = 0;
    for (const std::string& line : linesBesideLookupsAndEchoes(log)) {
        EXPECT_EQ(line.find("MIDI device removed"), std::string::npos) << log;
        EXPECT_EQ(line.find("MIDI device added"), std::string::npos) << log;
        if (line.find("MIDI device reconnected: QB Pad") != std::string::npos) ++reconnected;
    }
    EXPECT_EQ(reconnected, size_t{kRemakes}) << log;
}

/// Undoes our connection to the pad's port as another program (a patchbay) would; false when it
/// has not exactly one connection.
bool undoTheConnection(JackMidiTestClient& pad) {
    auto held = JackClients::inUse();
    const std::string source = pad.name() + ":out_1";
    const char** connected = jack_port_get_all_connections(
        pad.client(), jack_port_by_name(pad.client(), source.c_str()));
    bool undone = false;
    if (connected && connected[0] && !connected[1]) {
        undone = jack_disconnect(pad.client(), source.c_str(), connected[0]) == 0;
    }
    if (connected) jack_free(connected);
    return undone;
}

// Another program (a patchbay) undoes our connection while the port stays: it is made again.
TEST_P(MidiJackServer, AConnectionAnotherProgramUndidIsMadeAgain) {
    auto pad = playedPad(80);
    ASSERT_TRUE(pad);
    testing::internal::CaptureStderr();
    const bool undone = undoTheConnection(*pad);
    // Until the server's graph changes, a note may still pass through the connection undone: the
    // one that shows it made again is played once the device came again.
    const bool madeAgain = undone && waitFor([&] { return added > 0; });
    const bool arrived = madeAgain && noteOnArrives(*pad, 81);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(undone);
    ASSERT_TRUE(madeAgain) << log;
    ASSERT_TRUE(arrived) << log;
    EXPECT_NE(log.find("MIDI device reconnected: QB Pad"), std::string::npos) << log;
}

// The connection undone again at once: JACK keeps the pad's client, so it is told from a pad
// made again, and the connection is made again after a wait, with one line.
TEST_P(MidiJackServer, AConnectionAnotherProgramKeepsUndoingIsMadeAgainAfterAWait) {
    auto pad = playedPad(82);
    ASSERT_TRUE(pad);
    ASSERT_TRUE(undoTheConnection(*pad));
    ASSERT_TRUE(waitFor([&] { return added == 1; }));
    ASSERT_TRUE(noteOnArrives(*pad, 83));

    const size_t timers = loop.timerCount();
    testing::internal::CaptureStderr();
    const bool undone = undoTheConnection(*pad);
    const bool waiting = undone && waitFor([&] { return loop.timerCount() > timers; });
    const int addedMeanwhile = added;
    loop.advance(UndoneConnectionPacing::kFirstWait);
    const bool arrived = waiting && noteOnArrives(*pad, 84);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(undone);
    ASSERT_TRUE(waiting) << log;
    EXPECT_EQ(addedMeanwhile, 1) << log;
    EXPECT_EQ(added, 2) << log;
    ASSERT_TRUE(arrived) << log;
    std::vector<std::string> said;
    for (const std::string& line : linesBesideLookupsAndEchoes(log)) {
        if (line.find("MIDI") != std::string::npos) said.push_back(line);
    }
    ASSERT_EQ(said.size(), 1u) << log;
    EXPECT_NE(said[0].find("another program keeps undoing the connection to QB Pad"),
              std::string::npos)
        << log;
}

INSTANTIATE_TEST_SUITE_P(Jack, MidiJackServer, ::testing::Values(MidiBackend::Api::Jack));

// The server dies while JACK's process thread is inside the port's callback, and the port is
// closed before the thread goes on: what the thread still reads must be there (AddressSanitizer
// reports it otherwise).
TEST(MidiJackPort, ClosedWhileItsDeadServersThreadIsInItsCallback) {
    QUENBRIL_REQUIRE_JACK();
    if (!JackServer::shared().running()) {
        ASSERT_TRUE(JackServer::shared().start());
    }
    RtMidiBackend backend(MidiBackend::Api::Jack);
    auto pad = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
    ASSERT_TRUE(pad->isOpen());
    const MidiPortInfo source{pad->name(), "out_1", MidiPortInfo::Direction::Input};
    ASSERT_TRUE(eventually([&] {
        const auto ports = backend.listPorts();
        return ports && std::find(ports->begin(), ports->end(), source) != ports->end();
    }));

    const int threadsBefore = threadCount();
    Gate held;
    std::atomic<int> finished{0};
    // Reads its own captures after the wait: they live in the port's record.
    ASSERT_TRUE(
        backend.openInput(source, [held = &held, finished = &finished](const uint8_t*, size_t) {
            held->pass();
            finished->fetch_add(1);
        }));
    size_t sent = 0;
    ASSERT_TRUE(eventually([&] {
        if (held.waiting() > 0) return true;
        if (pad->written() == sent && pad->send(0, {0x90, 60, 100})) ++sent;
        return false;
    }));

    JackServer::shared().kill();
    // The next open would mark the backend's watch gone first; so does this.
    { auto marking = JackClients::opening(); }
    backend.closeInput(source);
    held.open();
    EXPECT_TRUE(eventually([&] { return finished.load() > 0; }));
    // libjack frees a dead server's clients at the next open of the process, so their threads
    // must have ended first: the one just let go was still inside its cycle.
    EXPECT_TRUE(eventually([&] { return threadCount() <= threadsBefore; }))
        << threadCount() << " threads, " << threadsBefore << " before the port opened";

    ASSERT_TRUE(eventually([&] { return pad->serverGone(); }));
    pad.reset();
    ASSERT_TRUE(JackServer::shared().start());
}

// The server dies, another open of the process marks the watch's client gone before libjack's
// thread has told the watch, and the next poll lets the watch go: libjack's thread then tells it
// all the same, which must reach nothing freed (AddressSanitizer reports it otherwise).
TEST(MidiJackWatch, TheServersEndToldAfterTheWatchWasLetGoReachesNothingFreed) {
    QUENBRIL_REQUIRE_JACK();
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer puts off a signal that comes inside libjack's calls";
#endif
    if (!JackServer::shared().running()) {
        ASSERT_TRUE(JackServer::shared().start());
    }
    RtMidiBackend backend(MidiBackend::Api::Jack);
    const std::set<int> before = threadIds();
    ASSERT_TRUE(eventually([&] { return backend.listPorts().has_value(); }));
    const bool held = serverDiesBehindThreadsStartedSince(
        before, [&] { EXPECT_FALSE(backend.listPorts().has_value()); });
    if (!held) GTEST_SKIP() << "libjack's threads cannot be held here";
    ASSERT_TRUE(JackServer::shared().start());
}

}  // namespace
}  // namespace quenbril::test
