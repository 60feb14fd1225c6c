#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MonitorApp/serverrole/RemoteClient.h"

namespace quenbril {

class UserDefaults;

/// The server role's four remote-client slots and the output channels their mixes go to. A
/// station's address lives in at most one slot.
///
/// Slots are made once and never replaced, so an audio thread may hold on to `client(i)` and
/// read its `isFree()`, ring and the output positions (atomics) while the main thread assigns
/// stations. `generation()` grows with every change of a slot, for readers that keep a snapshot.
class RemoteClientManager {
  public:
    static constexpr int kSlots = 4;
    /// Stored setting: the engine's own output channel, then one per slot.
    static constexpr const char* kAudioOutputsKey = "AudioOutputs";

    /// The one instance, made on first use with no stored outputs; a server role's composition
    /// makes its own from the audio engine and its defaults.
    static RemoteClientManager& sharedInstance();

    /// Reads "AudioOutputs": an output channel c is taken when c + 1 is below
    /// `outputChannels`; the engine's own one goes to `setEngineOutputChannel`.
    RemoteClientManager(int outputChannels, const std::function<void(int)>& setEngineOutputChannel,
                        const UserDefaults& defaults);
    /// Four free slots, no outputs.
    RemoteClientManager();
    RemoteClientManager(const RemoteClientManager&) = delete;
    RemoteClientManager& operator=(const RemoteClientManager&) = delete;

    RemoteClient& client(int slot) { return *clients_[static_cast<size_t>(slot)]; }
    const RemoteClient& client(int slot) const { return *clients_[static_cast<size_t>(slot)]; }
    /// Per slot, the first of its two channels in the engine's output stream, or -1.
    int32_t clientOutputInStream(int slot) const {
        return outputsInStream_[static_cast<size_t>(slot)].load(std::memory_order_relaxed);
    }
    std::array<int32_t, kSlots> clientOutputsInStream() const;
    uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

    /// Moves `address` into `slot` (0..3), out of any other slot; the strips of every slot it
    /// leaves or joins are switched off. False for a slot outside 0..3.
    bool addClient(const std::string& address, int slot);
    /// The slot holding `address`, or null.
    RemoteClient* clientWithIP(const std::string& address);
    /// Adds (removes) `address` to the stream set of its slot; nothing when no slot holds it.
    void startStreamTo(const std::string& address);
    void stopStreamTo(const std::string& address);
    /// Takes `address` out of its slot; false when no slot holds it.
    bool removeClient(const std::string& address);
    /// Every slot gets copies of the strip core's current strips.
    void updateWithCurrentControllers();
    /// The engine's pair takes stream channels 0 and 1; each slot with an output the next pair.
    void updateOutputChannelMap();

  private:
    void changed() { generation_.fetch_add(1, std::memory_order_acq_rel); }

    std::array<std::unique_ptr<RemoteClient>, kSlots> clients_;
    std::array<std::atomic<int32_t>, kSlots> outputsInStream_{};
    std::atomic<uint64_t> generation_{0};
};

}  // namespace quenbril
