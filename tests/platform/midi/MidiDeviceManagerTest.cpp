// What the device manager says of the MIDI system itself as its polls find it there or not.

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "platform/midi/MidiDeviceManager.h"
#include "tests/support/TestTime.h"

namespace quenbril {
namespace {

class CountedMidi : public MemoryMidiBackend {
  public:
    std::optional<std::vector<MidiPortInfo>> listPorts() override {
        auto ports = MemoryMidiBackend::listPorts();
        polls.fetch_add(1);
        return ports;
    }
    std::atomic<int> polls{0};
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(MidiDeviceManager, ASystemMissingAtStartDidNotGoAwayAndItsArrivalIsSaidOnce) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    auto owned = std::make_unique<CountedMidi>();
    CountedMidi& midi = *owned;
    midi.setReachable(false);
    midi.addPort({"QB Pad", "out", MidiPortInfo::Direction::Input});
    MidiDeviceManager devices;
    const double wait = test::scaledSeconds(20);
    const auto devicesAre = [&](size_t count) {
        return loop.runUntil([&] { return devices.availableDevices().size() == count; }, wait);
    };

    testing::internal::CaptureStderr();
    devices.installBackend(std::move(owned), 0.01);
    // Once the second poll has run, the first one's answer is on the main loop.
    ASSERT_TRUE(loop.runUntil([&] { return midi.polls.load() >= 2; }, wait));
    loop.runPending();
    midi.setReachable(true);
    ASSERT_TRUE(devicesAre(1));
    midi.setReachable(false);
    ASSERT_TRUE(devicesAre(0));
    midi.setReachable(true);
    ASSERT_TRUE(devicesAre(1));
    const std::string log = testing::internal::GetCapturedStderr();
    devices.installBackend(nullptr);
    RunLoop::setMain(nullptr);

    const std::vector<std::string> wanted{
        "MIDI: the memory system is available now", "MIDI device added: QB Pad",
        "MIDI: the memory system went away; all 1 devices removed",
        "MIDI: the memory system is back", "MIDI device added: QB Pad"};
    const std::vector<std::string> lines = linesOf(log);
    ASSERT_EQ(lines.size(), wanted.size()) << log;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NE(lines[i].find(wanted[i]), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace quenbril
