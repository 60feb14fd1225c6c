// A pad played by a libjack client on the binary's dummy JACK server drives the chat of a
// headless main window linked to the stand-in by manual address: its note-on fires the quick
// message whose MIDI it matches, a learnt control change fires its macro, and an event matching
// both sends both.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "MonitorApp/chat/ChatMacroManager.h"
#include "platform/midi/RtMidiBackend.h"
#include "tests/MonitorApp/mainwindow/ViewControllerTestEnvironment.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/support/JackMidiTestClient.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::JackMidiTestClient;
using test::JackServer;

// Time-outs only, generous for a loaded machine: a passing test never waits this long.
constexpr double kWait = 15.0;
/// How long closing the test's JACK clients may take (well under a second, as a rule), stretched
/// for a slower build.
const double kCloseBound = test::scaledSeconds(30.0);
const std::vector<uint8_t> kPadNoteOn{0x90, 60, 100};
const std::vector<uint8_t> kFaderUp{0xB0, 7, 127};

class MidiChatE2E : public ViewControllerTest {
  protected:
    void SetUp() override {
        ViewControllerTest::SetUp();
        QUENBRIL_REQUIRE_JACK();
        ASSERT_NE(server_.port(), 0) << server_.log();
        settings().setChatUsername("alice");
        defaults().setObject("Mic 3 check", UserSettingsManager::chatButtonKey(3));
        defaults().setObject(Array{0, 144, 60, 100}, UserSettingsManager::chatButtonMidiKey(3));
        ChatMacroManager::resetSharedInstance();
        ChatMacroManager::sharedInstance();
        MidiDeviceManager::sharedDeviceManager().installBackend(
            std::make_unique<RtMidiBackend>(MidiBackend::Api::Jack));
        ASSERT_TRUE(linkToStandIn(server_.port())) << server_.log();
        ASSERT_TRUE(registeredToChat()) << server_.log();

        pad_ = std::make_unique<JackMidiTestClient>("QB Pad", 1, 0);
        ASSERT_TRUE(pad_->isOpen());
        events_ = NotificationCenter::defaultCenter().addObserver(
            "MIDIEventReceived", [this](const Notification& n) {
                ++events;
                last_ = {n.userInfo["command"].intValue().value_or(0),
                         n.userInfo["byte1"].intValue().value_or(0),
                         n.userInfo["byte2"].intValue().value_or(0)};
            });
        ASSERT_TRUE(pumpUntil([] { return padConnected(); }, kWait));
        // Messages that match nothing, each sent once the one before was played, until one
        // arrives: the port's connection reaches the server's graph a cycle or so after the
        // device is announced, and what was played before is lost.
        ASSERT_TRUE(pumpUntil([&] {
            if (events == 0 && pad_->written() == written_ && pad_->send(0, probe(written_))) {
                ++written_;
            }
            return events > 0;
        }));
        // Every probe played after the first that arrived arrives too, maybe late on a loaded
        // machine: the test's events start after the last, or a learn would take a probe.
        ASSERT_TRUE(pumpUntil([&] {
            const std::vector<uint8_t> last = probe(written_ - 1);
            return pad_->written() == written_ &&
                   last_ == std::array<int64_t, 3>{0xB0, last[1], last[2]};
        })) << written_
            << " probes played, " << events << " arrived";
    }
    void TearDown() override {
        events_.reset();
        // Our ports close before the pad's client leaves: closing a port just after the client
        // it reads from went away can hang inside libjack. The close is bounded: once in some
        // hundreds of runs on a loaded machine it has stalled for minutes inside libjack, waiting
        // on the server.
        JackServer::shared().closeWithin(kCloseBound, [&] {
            MidiDeviceManager::sharedDeviceManager().installBackend(nullptr);
            pad_.reset();
        });
        unlinkFromStandIn();
        ChatMacroManager::resetSharedInstance();
        ViewControllerTest::TearDown();
    }

    /// The `n`th message that matches nothing: a control change no slot or macro knows.
    static std::vector<uint8_t> probe(size_t n) {
        return {0xB0, static_cast<uint8_t>(20 + n / 128 % 80), static_cast<uint8_t>(n % 128)};
    }
    static bool padConnected() {
        const auto& devices = MidiDeviceManager::sharedDeviceManager().availableDevices();
        return std::any_of(devices.begin(), devices.end(),
                           [](const MidiDevice& d) { return d.displayName() == "QB Pad"; });
    }
    bool pumpUntil(const std::function<bool()>& done, double seconds = kWait) {
        return loop_->runUntil(done, seconds);
    }
    void pump(double seconds) { loop_->runFor(seconds); }
    /// Plays one message on the pad and waits until the window has had it.
    bool play(const std::vector<uint8_t>& bytes) {
        const int before = events;
        return pad_->send(0, bytes) && pumpUntil([&] { return events > before; });
    }
    bool registeredToChat() {
        return pumpUntil([] {
            for (const ChatClient& c : ChatManager::sharedInstance().chatClients()) {
                if (c.chatName == "alice") return true;
            }
            return false;
        });
    }
    static size_t storedWithText(const std::string& text) {
        size_t n = 0;
        for (const auto& m : ChatManager::messages()) n += m->message() == text ? 1 : 0;
        return n;
    }
    /// The chat messages the stand-in took from remotes.
    size_t relayed() const {
        const std::string log = server_.log();
        size_t n = 0;
        for (size_t at = log.find("chat message to All"); at != std::string::npos;
             at = log.find("chat message to All", at + 1)) {
            ++n;
        }
        return n;
    }
    /// Waits for `text` to come back from the stand-in, then a little longer for a copy.
    ::testing::AssertionResult storedOnceAfterTheRelay(const std::string& text) {
        if (!pumpUntil([&] { return storedWithText(text) > 0; })) {
            return ::testing::AssertionFailure() << "\"" << text << "\" never came back";
        }
        pump(0.3);
        if (storedWithText(text) != 1) {
            return ::testing::AssertionFailure()
                   << "\"" << text << "\" stored " << storedWithText(text) << " times";
        }
        return ::testing::AssertionSuccess();
    }

    test::SimServerProcess server_;
    std::unique_ptr<JackMidiTestClient> pad_;
    NotificationObserver events_;
    int events = 0;
    /// The command and data bytes of the last event the window had.
    std::array<int64_t, 3> last_{};
    size_t written_ = 0;
};

TEST_F(MidiChatE2E, ThePadsNoteOnSendsTheQuickMessageOfItsSlot) {
    ASSERT_TRUE(play(kPadNoteOn));
    EXPECT_TRUE(storedOnceAfterTheRelay("Mic 3 check")) << server_.log();
    EXPECT_EQ(relayed(), 1u) << server_.log();
}

TEST_F(MidiChatE2E, ALearntControlChangeSendsItsMacro) {
    ChatMacroManager& macros = ChatMacroManager::sharedInstance();
    macros.learn("Fader up");
    ASSERT_TRUE(play(kFaderUp));
    ASSERT_FALSE(macros.learning());
    ASSERT_EQ(macros.macros().size(), 1u);
    pump(0.3);
    EXPECT_EQ(relayed(), 0u) << "a learn sends nothing";

    ASSERT_TRUE(play(kFaderUp));
    EXPECT_TRUE(storedOnceAfterTheRelay("Fader up")) << server_.log();
    EXPECT_EQ(relayed(), 1u) << server_.log();
}

TEST_F(MidiChatE2E, AnEventMatchingASlotAndAMacroSendsBoth) {
    ChatMacroManager& macros = ChatMacroManager::sharedInstance();
    // Learnt while the slot has no MIDI, so that the learning note sends nothing.
    defaults().removeObjectForKey(UserSettingsManager::chatButtonMidiKey(3));
    macros.learn("Pad macro");
    ASSERT_TRUE(play(kPadNoteOn));
    ASSERT_EQ(macros.macros().size(), 1u);
    defaults().setObject(Array{0, 144, 60, 100}, UserSettingsManager::chatButtonMidiKey(3));

    ASSERT_TRUE(play(kPadNoteOn));
    EXPECT_TRUE(storedOnceAfterTheRelay("Mic 3 check")) << server_.log();
    EXPECT_TRUE(storedOnceAfterTheRelay("Pad macro")) << server_.log();
    EXPECT_EQ(relayed(), 2u) << server_.log();
}

}  // namespace
}  // namespace quenbril
