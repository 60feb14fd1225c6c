#pragma once

#include <cstdint>
#include <vector>

namespace quenbril {

class BlockRingBuffer;
class ChannelStripModel;
class ChannelStripState;

/// How one strip enters a mix: its gain and its pan law, worked out on the main thread.
struct StripMix {
    bool on = false;
    /// 10^(gain / 20).
    float gain = 0.0f;
    /// The gain times the pan law's left and right factors.
    float left = 0.0f;
    float right = 0.0f;
    /// The record's pan as stored, before it was clamped to -100..100.
    int32_t pan = 0;

    /// A strip that is not off mixes at its record's gain, with a = 1 - |pan| / 100 on the side
    /// away from the pan (pan clamped to -100..100).
    static StripMix of(const ChannelStripModel& model, const ChannelStripState& state);
    bool operator==(const StripMix&) const = default;
};

/// One busy remote-client slot as the audio threads see it.
struct ClientMix {
    BlockRingBuffer* ring = nullptr;
    /// Its strips in capture-channel order: entry k mixes capture channel k.
    std::vector<StripMix> strips;
    /// Heard on this machine's outputs (it streams to no host).
    bool local = false;
    /// The first output channel of its local pair, -1 for none.
    int output = -1;
    bool operator==(const ClientMix&) const = default;
};

/// What the capture and output callbacks read of the strips and clients: made whole on the main
/// thread, never changed once published.
struct MixSnapshot {
    /// One per strip (at most 128): the capture delivers one channel per strip.
    std::vector<StripMix> strips;
    /// The busy slots only.
    std::vector<ClientMix> clients;
    bool operator==(const MixSnapshot&) const = default;
};

}  // namespace quenbril
