#include <gtest/gtest.h>

#include <optional>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/ManualRunLoop.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "tests/MonitorApp/channelstrips/OwnStripServices.h"

namespace quenbril {
namespace {

using D = MidiPortInfo::Direction;

/// A strip manager over an in-memory MIDI system polled every 10 ms.
class MidiInput : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop);
        auto owned = std::make_unique<MemoryMidiBackend>();
        backend = owned.get();
        devices().installBackend(std::move(owned), 0.01);
        own.emplace();
        manager = std::make_unique<ChannelStripManager>(own->services());
        observer = NotificationCenter::defaultCenter().addObserver(
            "MIDIEventReceived", [this](const Notification& n) {
                EXPECT_TRUE(loop.isCurrentThread());
                events.push_back(n.userInfo);
            });
    }
    void TearDown() override {
        observer.reset();
        manager.reset();
        own.reset();
        devices().installBackend(nullptr);
        RunLoop::setMain(nullptr);
    }
    static MidiDeviceManager& devices() { return MidiDeviceManager::sharedDeviceManager(); }
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5.0); }

    ManualRunLoop loop;
    MemoryMidiBackend* backend = nullptr;
    std::optional<OwnStripServices> own;
    std::unique_ptr<ChannelStripManager> manager;
    NotificationObserver observer;
    std::vector<Dictionary> events;
};

TEST_F(MidiInput, ANoteOnOfAnotherThreadIsPostedOnTheMainThreadWithItsFourFields) {
    const MidiPortInfo pad{"QB Pad", "out", D::Input};
    backend->addPort(pad);
    ASSERT_TRUE(waitFor([&] { return backend->isOpen(pad); }));
    backend->send(pad, {0xFE});
    backend->send(pad, {0x92, 60, 100});
    backend->send(pad, {0xD5, 33});
    ASSERT_TRUE(waitFor([&] { return events.size() >= 2 && backend->isIdle(); }));
    loop.runPending();
    ASSERT_EQ(events.size(), 2u) << "active sensing is not posted";
    EXPECT_EQ(events[0],
              (Dictionary{{"byte1", 60}, {"byte2", 100}, {"channel", 2}, {"command", 144}}));
    EXPECT_EQ(events[1]["command"].intValue(), 0xD0);
    EXPECT_EQ(events[1]["byte2"].intValue(), 0) << "one data byte gives byte2 0";
}

TEST_F(MidiInput, ALaunchpadKeepsItsSecondDestinationUntilItIsRemoved) {
    EXPECT_FALSE(manager->launchpadEndpoint());
    backend->addPort({"Launchpad Mini", "in 1", D::Output});
    backend->addPort({"Launchpad Mini", "in 2", D::Output});
    backend->addPort({"Launchpad Mini", "out", D::Input});
    ASSERT_TRUE(waitFor([&] { return manager->launchpadEndpoint().has_value(); }));
    EXPECT_EQ(manager->launchpadEndpoint()->port, "in 2");
    backend->removeClient("Launchpad Mini");
    ASSERT_TRUE(waitFor([&] { return !manager->launchpadEndpoint(); }));
}

TEST_F(MidiInput, ADeviceWithoutSourcesIsRefusedAndStaysClosed) {
    const MidiPortInfo lights{"Lights", "in", D::Output};
    backend->addPort(lights);
    ASSERT_TRUE(waitFor([&] { return devices().availableDevices().size() == 1; }));
    EXPECT_EQ(manager->connectionManagerShouldConnectToNewlyAddedDevice(
                  *manager->connectionManager(), devices().availableDevices()[0]),
              0);
    EXPECT_EQ(manager->connectionManagerShouldConnectToNewlyAddedDevice(
                  *manager->connectionManager(), MidiDevice(MidiBackend::Api::Memory, "Bare", {})),
              0);
    EXPECT_FALSE(backend->isOpen(lights));
}

TEST(LaunchpadNumbering, StripsGoEightARowOnAGridSixteenWide) {
    EXPECT_EQ(ChannelStripManager::channelToLPChannel(9), 17);
    EXPECT_EQ(ChannelStripManager::lpChannelToChannel(17), 9);
    EXPECT_EQ(ChannelStripManager::channelToLPChannel(7), 7);
}

}  // namespace
}  // namespace quenbril
