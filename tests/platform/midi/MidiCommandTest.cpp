#include <gtest/gtest.h>

#include <vector>

#include "platform/midi/MidiCommand.h"
#include "platform/midi/MidiEventQueue.h"
#include "platform/midi/RtMidiBackend.h"

namespace quenbril {
namespace {

std::optional<MidiCommand> parse(std::vector<uint8_t> bytes) {
    return MidiCommand::fromBytes(bytes.data(), bytes.size());
}

TEST(MidiCommand, KeepsChannelMessagesAndDropsRealTimeSysExAndRunningData) {
    EXPECT_EQ(parse({0x92, 60, 100}), (MidiCommand{0x92, 60, 100}));
    EXPECT_EQ(parse({0x92, 60, 0}), (MidiCommand{0x92, 60, 0})) << "velocity 0 stays a note-on";
    EXPECT_EQ(parse({0xC3, 5}), (MidiCommand{0xC3, 5, 0})) << "one data byte gives byte2 0";
    EXPECT_FALSE(parse({0xF8}));
    EXPECT_FALSE(parse({0xFE}));
    EXPECT_FALSE(parse({0xF0, 0x7E, 0x7F, 0xF7}));
    EXPECT_FALSE(parse({60, 100})) << "no status byte";
    EXPECT_FALSE(parse({}));
}

TEST(MidiEventQueue, OverflowIsCountedNeverBlocksAndLaterMessagesGetThrough) {
    MidiEventQueue queue;
    for (uint32_t i = 0; i < MidiEventQueue::kCapacity + 10; ++i) {
        queue.push({i, MidiCommand{0x90, 1, 1}});
    }
    EXPECT_EQ(queue.droppedCount(), 10u);
    for (uint32_t i = 0; i < MidiEventQueue::kCapacity; ++i) {
        ASSERT_EQ(queue.pop()->source, i);
    }
    EXPECT_FALSE(queue.pop());
    EXPECT_TRUE(queue.push({7, MidiCommand{0x80, 1, 0}}));
    EXPECT_EQ(queue.pop()->source, 7u);
}

TEST(RtMidiBackend, PortNamesSplitIntoClientAndPort) {
    using D = MidiPortInfo::Direction;
    EXPECT_EQ(RtMidiBackend::parsePortName("Launchpad Mini:Launchpad Mini MIDI 1 20:0", D::Input,
                                           MidiBackend::Api::AlsaSequencer),
              (MidiPortInfo{"Launchpad Mini", "Launchpad Mini MIDI 1", D::Input}));
    EXPECT_EQ(RtMidiBackend::parsePortName("QB Pad:out", D::Output, MidiBackend::Api::Jack),
              (MidiPortInfo{"QB Pad", "out", D::Output}));
}

// JACK names our second and later clients "Quenbril-01" and so on.
TEST(RtMidiBackend, OurOwnClientsAreKnownUnderTheNamesJackGivesThem) {
    EXPECT_TRUE(RtMidiBackend::isOwnClient("Quenbril"));
    EXPECT_TRUE(RtMidiBackend::isOwnClient("Quenbril-03"));
    EXPECT_FALSE(RtMidiBackend::isOwnClient("Quenbril-"));
    EXPECT_FALSE(RtMidiBackend::isOwnClient("Quenbril-Pad"));
    EXPECT_FALSE(RtMidiBackend::isOwnClient("QB Pad"));
}

}  // namespace
}  // namespace quenbril
