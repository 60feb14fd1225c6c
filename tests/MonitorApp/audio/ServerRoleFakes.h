#pragma once

#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/ServerRoleLinks.h"
#include "MonitorApp/audio/ServerRoleStrips.h"
#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"

namespace quenbril::test {

/// Strips as the channel-strip manager would hold them: strip k on input k, active, at 0 dB and
/// centred, analysis on.
class FakeStrips : public ServerRoleStrips {
  public:
    explicit FakeStrips(int count) { resize(count); }
    void resize(int count) {
        models.resize(static_cast<size_t>(count));
        states.resize(static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) {
            models[static_cast<size_t>(k)].setAudioInput(k);
            models[static_cast<size_t>(k)].setScpEnabled(true);
            states[static_cast<size_t>(k)].setChannelState(ChannelStripState::kActive);
        }
    }
    int stripCount() const override { return static_cast<int>(models.size()); }
    const ChannelStripModel& stripModel(int i) const override {
        return models[static_cast<size_t>(i)];
    }
    ChannelStripState& stripState(int i) override { return states[static_cast<size_t>(i)]; }
    void updateLevels(const uint8_t* levels) override {
        updates.emplace_back(levels, levels + 128);
    }
    ChannelStripModel& model(int i) { return models[static_cast<size_t>(i)]; }
    ChannelStripState& state(int i) { return states[static_cast<size_t>(i)]; }

    std::vector<ChannelStripModel> models;
    std::vector<ChannelStripState> states;
    std::vector<std::vector<uint8_t>> updates;
};

/// A client listener, four client slots and a receiver registry that record what the engine
/// sends.
class FakeLinks : public ServerRoleLinks {
  public:
    struct Slot {
        bool busy = false;
        std::unique_ptr<BlockRingBuffer> ring = std::make_unique<BlockRingBuffer>(128, 6);
        std::vector<std::string> streamTo;
        std::optional<int> output;
        std::vector<ClientStrip> strips;
    };
    FakeLinks() : slots(4) {}

    void sendDictionaryToEveryone(const Dictionary& message) override {
        toEveryone.push_back(message);
    }
    void sendStream(const Dictionary& message, const std::string& host) override {
        streams.emplace_back(host, message);
    }
    std::optional<std::string> streamHost() const override { return host; }
    int clientCount() const override { return static_cast<int>(slots.size()); }
    bool clientIsFree(int k) const override { return !slots[static_cast<size_t>(k)].busy; }
    BlockRingBuffer* clientBlockRing(int k) override {
        return slots[static_cast<size_t>(k)].ring.get();
    }
    std::vector<std::string> clientStreamTo(int k) const override {
        return slots[static_cast<size_t>(k)].streamTo;
    }
    std::optional<int> clientOutputInStream(int k) const override {
        return slots[static_cast<size_t>(k)].output;
    }
    std::vector<ClientStrip> clientStrips(int k) const override {
        return slots[static_cast<size_t>(k)].strips;
    }
    std::optional<Receiver> receiver(const std::string& name) const override {
        auto it = receivers.find(name);
        if (it == receivers.end()) return std::nullopt;
        return it->second;
    }

    /// The sent messages whose "Command" is `command`.
    std::vector<Dictionary> sent(const std::string& command) const {
        std::vector<Dictionary> found;
        for (const Dictionary& message : toEveryone) {
            const std::string* name = message["Command"].stringValue();
            if (name && *name == command) found.push_back(message);
        }
        return found;
    }

    std::vector<Slot> slots;
    std::optional<std::string> host;
    std::map<std::string, Receiver> receivers;
    std::vector<Dictionary> toEveryone;
    std::vector<std::pair<std::string, Dictionary>> streams;
};

/// `frames` samples of a sine of `frequency` Hz at 48 kHz with amplitude `amplitude`.
inline std::vector<float> sine(int frames, double frequency, double amplitude, int start = 0) {
    std::vector<float> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<size_t>(i)] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * frequency * (start + i) / 48000.0));
    }
    return samples;
}

}  // namespace quenbril::test
