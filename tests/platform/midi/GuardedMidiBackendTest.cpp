#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/jack/JackClients.h"
#include "platform/midi/GuardedMidiBackend.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "platform/midi/MidiDeviceManager.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;
using test::Gate;

constexpr double kShort = 0.05;

// A MIDI system in memory whose listing or opening can be made to never return, counting the
// closes it is asked for.
class StallingMidi : public MemoryMidiBackend {
  public:
    explicit StallingMidi(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    std::optional<std::vector<MidiPortInfo>> listPorts() override {
        if (stall) gate_->pass();
        return MemoryMidiBackend::listPorts();
    }
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override {
        if (stallOpens) gate_->pass();
        return MemoryMidiBackend::openInput(port, std::move(callback));
    }
    void closeInput(const MidiPortInfo& port) override {
        closes.fetch_add(1);
        MemoryMidiBackend::closeInput(port);
    }
    std::atomic<bool> stall{false};
    std::atomic<bool> stallOpens{false};
    std::atomic<int> closes{0};

  private:
    std::shared_ptr<Gate> gate_;
};

// Makes the stalling system on the worker and tells the test which it is.
GuardedMidiBackend::Maker stallingMaker(std::shared_ptr<Gate> gate,
                                        std::atomic<StallingMidi*>& midi) {
    return [gate, &midi]() -> std::unique_ptr<MidiBackend> {
        auto made = std::make_unique<StallingMidi>(gate);
        midi = made.get();
        return made;
    };
}

// The stalling system under its guard, with one pad.
struct GuardedPad {
    GuardedPad() { midi.load()->addPort(pad); }

    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<StallingMidi*> midi{nullptr};
    GuardedMidiBackend guarded{MidiBackend::Api::Jack, "MIDI", "the JACK library does not answer",
                               stallingMaker(gate, midi), test::scaledSeconds(30)};
    const MidiPortInfo pad{"Launchpad", "in", MidiPortInfo::Direction::Input};
};

TEST(GuardedMidiBackend, WhileTheSystemIsStuckItReadsAsUnreachableAndAClosedPortDeliversNothing) {
    GuardedPad held;
    auto& [gate, midi, guarded, pad] = held;
    ASSERT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});

    std::atomic<int> received{0};
    ASSERT_TRUE(guarded.openInput(pad, [&](const uint8_t*, size_t) { received.fetch_add(1); }));
    midi.load()->send(pad, {0x90, 0x3C, 0x64});
    ASSERT_TRUE(eventually([&] { return received.load() == 1; }));

    // The port poller's listing overruns: the system reads as unreachable meanwhile.
    midi.load()->stall = true;
    std::thread poller([&] { EXPECT_TRUE(guarded.listPorts()); });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    guarded.setLimit(kShort);
    EXPECT_EQ(guarded.listPorts(), std::nullopt);
    EXPECT_TRUE(guarded.isStuck());
    EXPECT_FALSE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));

    // The close waits behind the listing: the port stays open there, but hands nothing on.
    guarded.closeInput(pad);
    midi.load()->send(pad, {0x90, 0x3D, 0x64});
    ASSERT_TRUE(eventually([&] { return midi.load()->isIdle(); }));
    EXPECT_EQ(received.load(), 1);
    EXPECT_TRUE(midi.load()->isOpen(pad));

    // Once it answers, the close runs before the next listing, and the port opens again.
    midi.load()->stall = false;
    gate->open();
    poller.join();
    guarded.setLimit(test::scaledSeconds(30));
    ASSERT_TRUE(eventually([&] { return !guarded.isStuck(); }));
    EXPECT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});
    EXPECT_FALSE(midi.load()->isOpen(pad));
    ASSERT_TRUE(guarded.openInput(pad, [&](const uint8_t*, size_t) { received.fetch_add(1); }));
    midi.load()->send(pad, {0x90, 0x3E, 0x64});
    EXPECT_TRUE(eventually([&] { return received.load() == 2; }));
}

TEST(GuardedMidiBackend, ALossFoundByAListingThatCameTooLateIsToldOnceWithALaterOne) {
    GuardedPad held;
    auto& [gate, midi, guarded, pad] = held;
    ASSERT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});
    ASSERT_TRUE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));

    // The pad is made again under its name while the poller's listing overruns: that listing
    // finds the loss after its caller gave up.
    midi.load()->loseConnection(pad);
    midi.load()->stall = true;
    guarded.setLimit(kShort);
    EXPECT_EQ(guarded.listPorts(), std::nullopt);
    EXPECT_TRUE(guarded.lostInputs().empty());

    midi.load()->stall = false;
    gate->open();
    guarded.setLimit(test::scaledSeconds(30));
    ASSERT_TRUE(eventually([&] { return guarded.listPorts().has_value(); }));
    EXPECT_EQ(guarded.lostInputs(), std::vector<MidiInputLoss>{{pad}});
    ASSERT_TRUE(guarded.listPorts().has_value());
    EXPECT_TRUE(guarded.lostInputs().empty());
}

// A worker held up by an open retried every few seconds must not gather a close for each refusal;
// the open that overran is closed once it ends, since nobody took it.
TEST(GuardedMidiBackend, OpensRefusedWhileStuckQueueNothingAndAnOpenThatOverranIsClosedOnce) {
    GuardedPad held;
    auto& [gate, midi, guarded, pad] = held;
    ASSERT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});

    midi.load()->stallOpens = true;
    guarded.setLimit(kShort);
    EXPECT_FALSE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    EXPECT_TRUE(guarded.isStuck());
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));
    }

    midi.load()->stallOpens = false;
    gate->open();
    guarded.setLimit(test::scaledSeconds(30));
    ASSERT_TRUE(eventually([&] { return !guarded.isStuck(); }));
    // Runs after whatever was queued.
    ASSERT_TRUE(guarded.listPorts().has_value());
    EXPECT_FALSE(midi.load()->isOpen(pad));
    EXPECT_EQ(midi.load()->closes.load(), 1);
    ASSERT_TRUE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));
    EXPECT_TRUE(midi.load()->isOpen(pad));
}

// A MIDI system whose end waits for the JACK clients' lock, as JACK MIDI's does.
class LockingMidi : public MemoryMidiBackend {
  public:
    explicit LockingMidi(std::atomic<std::thread::id>& endedOn) : endedOn_(endedOn) {}
    ~LockingMidi() override {
        auto held = JackClients::inUse();
        endedOn_.store(std::this_thread::get_id());
    }

  private:
    std::atomic<std::thread::id>& endedOn_;
};

TEST(GuardedMidiBackend, MadeWhileTheWorkerIsStuckItListsOnceItAnswersAndQuittingNeverWaits) {
    auto worker = std::make_shared<BoundedWorker>("JACK", "the JACK library does not answer",
                                                  test::scaledSeconds(30));
    auto gate = std::make_shared<Gate>();
    std::atomic<std::thread::id> endedOn;
    auto manager = std::make_unique<MidiDeviceManager>();
    manager->installBackend(std::make_unique<GuardedMidiBackend>(
                                MidiBackend::Api::Jack, worker,
                                [&endedOn] { return std::make_unique<LockingMidi>(endedOn); }),
                            kShort);
    ASSERT_TRUE(eventually([&] { return manager->backend()->listPorts().has_value(); }));

    // An audio open holds the opening lock and does not return. Every listing asked before this
    // one ends before it; every one after waits at most the short limit.
    worker->setLimit(kShort);
    worker->post([gate] {
        auto opening = JackClients::opening();
        gate->pass();
    });
    ASSERT_TRUE(eventually([&] { return gate->waiting() == 1; }));
    // Neither the poller nor the backend's end waits on it.
    std::atomic<bool> ended{false};
    std::thread quit([&] {
        manager.reset();
        ended = true;
    });
    EXPECT_TRUE(eventually([&] { return ended.load(); }));
    EXPECT_EQ(endedOn.load(), std::thread::id());

    // A guard made meanwhile is made, and lists, once the worker answers; the first one ends
    // on the worker.
    GuardedMidiBackend later(MidiBackend::Api::Jack, worker,
                             [] { return std::make_unique<MemoryMidiBackend>(); });
    EXPECT_EQ(later.listPorts(), std::nullopt);
    gate->open();
    worker->setLimit(test::scaledSeconds(30));
    ASSERT_TRUE(eventually([&] { return endedOn.load() != std::thread::id(); }));
    EXPECT_NE(endedOn.load(), quit.get_id());
    quit.join();
    EXPECT_TRUE(eventually([&] { return later.listPorts().has_value(); }));
}

}  // namespace
}  // namespace quenbril
