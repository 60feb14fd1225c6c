#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/midi/GuardedMidiBackend.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "tests/support/Eventually.h"
#include "tests/support/Gate.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

using test::eventually;
using test::Gate;

constexpr double kShort = 0.05;

// A MIDI system in memory whose listing can be made to never return.
class StallingMidi : public MemoryMidiBackend {
  public:
    explicit StallingMidi(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    std::optional<std::vector<MidiPortInfo>> listPorts() override {
        if (stall) gate_->pass();
        return MemoryMidiBackend::listPorts();
    }
    std::atomic<bool> stall{false};

  private:
    std::shared_ptr<Gate> gate_;
};

TEST(GuardedMidiBackend, WhileTheSystemIsStuckItReadsAsUnreachableAndAClosedPortDeliversNothing) {
    auto gate = std::make_shared<Gate>();
    std::atomic<StallingMidi*> midi{nullptr};
    GuardedMidiBackend guarded(
        MidiBackend::Api::Jack, "MIDI", "the JACK library does not answer",
        [gate, &midi]() -> std::unique_ptr<MidiBackend> {
            auto made = std::make_unique<StallingMidi>(gate);
            midi = made.get();
            return made;
        },
        test::scaledSeconds(30));
    const MidiPortInfo pad{"Launchpad", "in", MidiPortInfo::Direction::Input};
    midi.load()->addPort(pad);
    ASSERT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});

    std::atomic<int> received{0};
    ASSERT_TRUE(guarded.openInput(pad, [&](const uint8_t*, size_t) { received.fetch_add(1); }));
    midi.load()->send(pad, {0x90, 0x3C, 0x64});
    ASSERT_TRUE(eventually([&] { return received.load() == 1; }));

    midi.load()->stall = true;
    guarded.setLimit(kShort);
    EXPECT_EQ(guarded.listPorts(), std::nullopt);
    EXPECT_TRUE(guarded.isStuck());
    EXPECT_FALSE(guarded.openInput(pad, [](const uint8_t*, size_t) {}));

    // The close cannot reach the system: the port stays open there, but hands nothing on.
    guarded.closeInput(pad);
    midi.load()->send(pad, {0x90, 0x3D, 0x64});
    ASSERT_TRUE(eventually([&] { return midi.load()->isIdle(); }));
    EXPECT_EQ(received.load(), 1);
    EXPECT_TRUE(midi.load()->isOpen(pad));

    // Once it answers, the kept close runs before the next listing.
    midi.load()->stall = false;
    gate->open();
    guarded.setLimit(test::scaledSeconds(30));
    ASSERT_TRUE(eventually([&] { return !guarded.isStuck(); }));
    EXPECT_EQ(guarded.listPorts(), std::vector<MidiPortInfo>{pad});
    EXPECT_FALSE(midi.load()->isOpen(pad));
}

}  // namespace
}  // namespace quenbril
