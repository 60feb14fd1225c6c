#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "foundation/ManualRunLoop.h"
#include "foundation/NotificationCenter.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "platform/midi/MidiConnectionManager.h"
#include "platform/midi/MidiNotifications.h"
#include "platform/midi/UndoneConnectionPacing.h"

namespace quenbril {
namespace {

using D = MidiPortInfo::Direction;

struct Delegate : MidiConnectionManagerDelegate {
    std::vector<std::string> asked;
    std::vector<std::vector<MidiCommand>> disconnected;
    int64_t connectionManagerShouldConnectToNewlyAddedDevice(MidiConnectionManager&,
                                                             const MidiDevice& device) override {
        asked.push_back(device.displayName());
        return device.entities().empty() || device.entities()[0].sources.empty() ? 0 : 1;
    }
    void connectionManagerDeviceWasDisconnected(MidiConnectionManager&, const MidiDevice&,
                                                const std::vector<MidiCommand>& hanging) override {
        disconnected.push_back(hanging);
    }
};

class MidiConnections : public ::testing::Test {
  protected:
    void SetUp() override {
        RunLoop::setMain(&loop);
        auto owned = std::make_unique<MemoryMidiBackend>();
        backend = owned.get();
        backend->addPort(pad);
        devices.installBackend(std::move(owned), 0.01);
        connections = std::make_unique<MidiConnectionManager>(
            "Test", &delegate,
            [this](const MidiEndpoint&, const std::vector<MidiCommand>& commands) {
                EXPECT_TRUE(loop.isCurrentThread());
                received.insert(received.end(), commands.begin(), commands.end());
            },
            devices);
        ASSERT_TRUE(waitFor([&] { return backend->isOpen(pad); }));
    }
    void TearDown() override {
        connections.reset();
        devices.installBackend(nullptr);
        RunLoop::setMain(nullptr);
    }
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5.0); }
    // The pad loses its connection while opens are refused, as by a worker held up; true once
    // the manager has taken in the loss.
    bool loseThePadWhileOpensAreRefused() {
        const size_t lost = delegate.disconnected.size() + 1;
        backend->setOpensRefused(true);
        backend->loseConnection(pad);
        return waitFor([&] { return delegate.disconnected.size() == lost; });
    }
    bool deliver(std::vector<uint8_t> bytes, size_t expected) {
        backend->send(pad, std::move(bytes));
        return waitFor([&] { return received.size() >= expected && backend->isIdle(); });
    }

    ManualRunLoop loop;
    MidiDeviceManager devices;
    MemoryMidiBackend* backend = nullptr;
    Delegate delegate;
    std::unique_ptr<MidiConnectionManager> connections;
    std::vector<MidiCommand> received;
    MidiPortInfo pad{"QB Pad", "out", D::Input};
};

TEST_F(MidiConnections, MessagesOfAnotherThreadArriveOnTheMainThreadFiltered) {
    EXPECT_EQ(delegate.asked, std::vector<std::string>{"QB Pad"});
    backend->send(pad, {0xF8});
    backend->send(pad, {0xF0, 1, 0xF7});
    ASSERT_TRUE(deliver({0x92, 60, 100}, 1));
    ASSERT_TRUE(deliver({0xC1, 9}, 2));
    loop.runPending();
    EXPECT_EQ(received, (std::vector<MidiCommand>{{0x92, 60, 100}, {0xC1, 9, 0}}));
}

TEST_F(MidiConnections, ADeviceWithoutSourcesStaysClosedAndAReturningDeviceIsConnectedAgain) {
    const MidiPortInfo lightsOnly{"Lights", "in", D::Output};
    backend->addPort(lightsOnly);
    ASSERT_TRUE(waitFor([&] { return devices.availableDevices().size() == 2; }));
    EXPECT_EQ(delegate.asked.back(), "Lights");

    int removals = 0;
    auto observer = NotificationCenter::defaultCenter().addObserver(
        kMidiDeviceWasRemovedNotification, [&](const Notification&) { ++removals; });
    backend->removeClient("QB Pad");
    ASSERT_TRUE(waitFor([&] { return !backend->isOpen(pad); }));
    loop.runPending();
    EXPECT_EQ(removals, 1);
    backend->addPort(pad);
    ASSERT_TRUE(waitFor([&] { return backend->isOpen(pad); }));
    ASSERT_TRUE(deliver({0x90, 1, 2}, 1));
}

TEST_F(MidiConnections, RemovalReportsTheNoteOnsLeftHanging) {
    ASSERT_TRUE(deliver({0x90, 60, 100}, 1));
    ASSERT_TRUE(deliver({0x90, 62, 100}, 2));
    ASSERT_TRUE(deliver({0x80, 60, 0}, 3));
    ASSERT_TRUE(deliver({0x91, 64, 100}, 4));
    ASSERT_TRUE(deliver({0x91, 64, 0}, 5));
    backend->removeClient("QB Pad");
    ASSERT_TRUE(waitFor([&] { return !delegate.disconnected.empty(); }));
    EXPECT_EQ(delegate.disconnected[0], (std::vector<MidiCommand>{{0x90, 62, 100}}));
}

TEST_F(MidiConnections, ASystemThatGoesAwayRemovesEveryDeviceWithOneLineAndTheyReturnWithIt) {
    backend->addPort({"Lights", "in", D::Output});
    ASSERT_TRUE(waitFor([&] { return devices.availableDevices().size() == 2; }));
    testing::internal::CaptureStderr();
    backend->setReachable(false);
    ASSERT_TRUE(waitFor([&] { return devices.availableDevices().empty(); }));
    // Later polls find it still gone and say nothing more.
    loop.runFor(0.1);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("all 2 devices removed"), std::string::npos) << log;
    EXPECT_FALSE(backend->isOpen(pad));
    backend->setReachable(true);
    ASSERT_TRUE(waitFor([&] { return backend->isOpen(pad); }));
}

// The port lists as before, yet our connection to it went: it was made again under its name
// between two polls, or another program undid the connection.
TEST_F(MidiConnections, ASourceThatLostItsConnectionIsConnectedAgainWithOneLine) {
    ASSERT_TRUE(deliver({0x90, 60, 100}, 1));
    testing::internal::CaptureStderr();
    backend->loseConnection(pad);
    const bool reconnected = waitFor([&] { return delegate.disconnected.size() == 1; });
    // Later polls find it connected and say nothing more.
    loop.runFor(0.1);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(reconnected) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("MIDI device reconnected: QB Pad"), std::string::npos) << log;
    // Its note-off may have gone with the connection.
    EXPECT_EQ(delegate.disconnected[0], (std::vector<MidiCommand>{{0x90, 60, 100}}));
    EXPECT_EQ(delegate.asked, (std::vector<std::string>{"QB Pad", "QB Pad"}));
    ASSERT_TRUE(deliver({0x80, 60, 0}, 2));
}

// A patchbay that undoes our connection each time it is made: the first undo is made again at
// once, each that follows before the connection held a while after a wait that doubles up to a
// minute, with one line for the whole row. A connection that held, or a re-plug, starts afresh.
TEST_F(MidiConnections, AConnectionAnotherProgramKeepsUndoingIsMadeAgainAfterGrowingWaits) {
    const size_t timers = loop.timerCount();
    testing::internal::CaptureStderr();
    backend->undoConnection(pad);
    const bool atOnce = waitFor([&] { return delegate.disconnected.size() == 1; });
    std::vector<double> waits;
    for (int i = 0; atOnce && i < 7; ++i) {
        const size_t made = delegate.disconnected.size();
        backend->undoConnection(pad);
        if (!waitFor([&] { return loop.timerCount() > timers; })) break;
        double waited = 0;
        for (; delegate.disconnected.size() == made && waited < 100; waited += 1) loop.advance(1);
        waits.push_back(waited);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(atOnce) << log;
    EXPECT_EQ(waits, (std::vector<double>{2, 4, 8, 16, 32, 60, 60})) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find("MIDI device reconnected: QB Pad"), std::string::npos) << log;
    EXPECT_NE(log.find("another program keeps undoing the connection to QB Pad"), std::string::npos)
        << log;
    ASSERT_TRUE(backend->isOpen(pad));
    ASSERT_TRUE(deliver({0x90, 62, 100}, 1));

    loop.advance(UndoneConnectionPacing::kHeld);
    size_t made = delegate.disconnected.size();
    backend->undoConnection(pad);
    ASSERT_TRUE(waitFor([&] { return delegate.disconnected.size() == made + 1; }));
    backend->undoConnection(pad);
    ASSERT_TRUE(waitFor([&] { return loop.timerCount() > timers; }));
    backend->removeClient("QB Pad");
    backend->addPort(pad);
    ASSERT_TRUE(waitFor([&] { return delegate.disconnected.size() == made + 2; }));
    EXPECT_EQ(loop.timerCount(), timers);
    made = delegate.disconnected.size();
    backend->undoConnection(pad);
    ASSERT_TRUE(waitFor([&] { return delegate.disconnected.size() == made + 1; }));
    ASSERT_TRUE(deliver({0x90, 63, 100}, 2));
}

// A reconnect whose open is refused (the worker held up) leaves the device listed: the source
// is tried again until it opens.
TEST_F(MidiConnections, ASourceWhoseOpenIsRefusedIsTriedAgainWhileItsDeviceIsListed) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loseThePadWhileOpensAreRefused());
    loop.advance(3 * MidiConnectionManager::kRetryInterval);
    EXPECT_FALSE(backend->isOpen(pad));
    backend->setOpensRefused(false);
    loop.advance(MidiConnectionManager::kRetryInterval);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(backend->isOpen(pad)) << log;
    EXPECT_NE(log.find("MIDI: cannot open QB Pad:out; trying again every 2 s"), std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3)
        << "reconnected, refused, opened: " << log;
    ASSERT_TRUE(deliver({0x90, 61, 100}, 1));
}

// A refused source whose device goes and comes again is tried as the new device's only.
TEST_F(MidiConnections, ARefusedSourceWhoseDeviceCameBackIsOpenedOnce) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loseThePadWhileOpensAreRefused());
    backend->removeClient("QB Pad");
    ASSERT_TRUE(waitFor([&] { return devices.availableDevices().empty(); }));
    backend->addPort(pad);
    ASSERT_TRUE(waitFor([&] { return devices.availableDevices().size() == 1; }));
    backend->setOpensRefused(false);
    loop.advance(2 * MidiConnectionManager::kRetryInterval);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(backend->isOpen(pad)) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6)
        << "reconnected, refused, removed, added, refused, opened once: " << log;
}

// What a pending retry refers to may go first: it must not try then.
TEST_F(MidiConnections, APendingRetryEndsWithTheManagerOrTheBackend) {
    ASSERT_TRUE(loseThePadWhileOpensAreRefused());
    connections.reset();
    backend->setOpensRefused(false);
    loop.advance(2 * MidiConnectionManager::kRetryInterval);
    EXPECT_FALSE(backend->isOpen(pad));

    connections = std::make_unique<MidiConnectionManager>("Again", &delegate, nullptr, devices);
    EXPECT_TRUE(backend->isOpen(pad));
    ASSERT_TRUE(loseThePadWhileOpensAreRefused());
    devices.installBackend(nullptr);
    backend = nullptr;
    loop.advance(2 * MidiConnectionManager::kRetryInterval);
    EXPECT_TRUE(devices.availableDevices().empty());
}

TEST_F(MidiConnections, ABurstBeyondTheQueueIsCountedAndLaterMessagesStillArrive) {
    // The main loop does not run while the burst comes in, so the queue fills.
    for (int i = 0; i < 1100; ++i) {
        backend->send(pad, {0x90, static_cast<uint8_t>(i % 128), 1});
    }
    while (!backend->isIdle()) std::this_thread::yield();
    EXPECT_EQ(connections->droppedEvents(), 1100u - MidiEventQueue::kCapacity);
    ASSERT_TRUE(waitFor([&] { return received.size() == MidiEventQueue::kCapacity; }));
    ASSERT_TRUE(deliver({0xB0, 7, 127}, MidiEventQueue::kCapacity + 1));
    EXPECT_EQ(received.back(), (MidiCommand{0xB0, 7, 127}));
}

}  // namespace
}  // namespace quenbril
