#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "foundation/Value.h"

namespace quenbril {

/// One of the server role's four remote-client slots: the stations assigned to it, where its
/// mix is streamed, its own copy of the strips (so each slot solos its own channels) and the
/// ring of stereo blocks the audio engine mixes into and drains.
///
/// The address sets and the strips belong to the main thread. An audio thread may read
/// `isFree()`, `audioOutput()` and the ring at any time: the first two are atomic and the ring
/// lives as long as the slot.
class RemoteClient {
  public:
    using Controllers = std::vector<std::unique_ptr<ChannelStripController>>;

    static constexpr int kBlockSize = 128;
    static constexpr int kBlocks = 6;

    RemoteClient();
    /// A slot whose strips are copies (without views) of `controllers`.
    explicit RemoteClient(const Controllers& controllers);
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    /// True while no station is assigned to the slot.
    bool isFree() const { return !busy_.load(std::memory_order_acquire); }
    /// The device output channel of the slot's mix, -1 for none.
    int32_t audioOutput() const { return audioOutput_.load(std::memory_order_relaxed); }
    void setAudioOutput(int32_t v) { audioOutput_.store(v, std::memory_order_relaxed); }

    const std::set<std::string>& ipAddresses() const { return ipAddresses_; }
    void addIPAddress(const std::string& address);
    /// False when the slot did not hold the address.
    bool removeIPAddress(const std::string& address);
    std::set<std::string>& streamTo() { return streamTo_; }
    const std::set<std::string>& streamTo() const { return streamTo_; }

    Controllers& channelStripControllers() { return controllers_; }
    const Controllers& channelStripControllers() const { return controllers_; }
    BlockRingBuffer& blockRing() { return blockRing_; }

    /// Replaces the slot's strips by copies (without views) of `controllers`.
    void updateWithControllers(const Controllers& controllers);
    /// Every strip of the slot switched off.
    void switchOffChannels();

    /// The stored form: {"audioOutput": integer, "controllers": [strip dictionaries]}.
    Dictionary propertyDic() const;
    /// Reads the stored form. Without "audioOutput", or with a strip entry that cannot be read,
    /// the slot is left without strips and the answer is false.
    bool initFromPropertyDic(const Dictionary& dictionary);

    /// Positions of the soloed and hard-soloed strips, in order.
    std::vector<int32_t> hardSoloedChannels() const;
    /// Positions of the active strips, in order.
    std::vector<int32_t> activeChannels() const;

  private:
    std::atomic<int32_t> audioOutput_{-1};
    std::atomic<bool> busy_{false};
    std::set<std::string> ipAddresses_;
    std::set<std::string> streamTo_;
    Controllers controllers_;
    BlockRingBuffer blockRing_{kBlockSize, kBlocks};
};

}  // namespace quenbril
