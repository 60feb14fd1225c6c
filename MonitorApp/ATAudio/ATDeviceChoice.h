#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioDevice.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// Decides for one unit, an output or a capture, where each of its opens goes (the first, a
/// retry, a move back): which device, on which of its channels, at which rate.
///
/// The device: the unit's own one (set, or awaited, by UID) while the host lists it with channels
/// in the unit's direction, else the host's default, which stands in for it, said by name, until
/// the own one is back. The channels: the user's pick, kept whatever device plays, on every
/// device that has them; a device with fewer gets its first channels, said in the log, and the
/// pick is taken again on the next device that has them. The rate: the unit's, else the device's
/// own where it refuses the unit's (the unit converts). Main thread.
class ATDeviceChoice {
  public:
    enum class Direction { Input, Output };
    /// The channels a capture takes from a device its host lists without its inputs.
    static constexpr int kUncountedInputs = 2;
    /// Opens and starts the unit's stream on `device`: client channel j goes to or comes from
    /// device channel `channels[j]` (-1: none). On failure the unit's previous stream is left as
    /// it was, playing where it played.
    using OpenOn =
        std::function<bool(const ATAudioDevice& device, const std::vector<int>& channels)>;

    /// `unitName` heads the log lines ("Audio output"), `verb` says where the unit is ("playing
    /// on").
    ATDeviceChoice(std::string unitName, std::string verb, Direction direction,
                   AudioBackend& backend);

    /// Makes `device` the unit's own; it is no stand-in.
    void makeOwn(const ATAudioDevice& device);
    /// The own device is `uid`, not there yet (none: the default becomes it once it plays).
    void await(std::optional<std::string> uid);
    const std::optional<std::string>& ownUID() const { return ownUID_; }
    /// The unit plays on a stand-in for its own device.
    bool onStandIn() const { return standIn_; }
    /// The own device is listed, with channels in the unit's direction.
    bool ownListed() const;

    /// The channels in the unit's direction of `device`: for a capture, a device a host lists
    /// without its inputs has the count it had as `previous`, else kUncountedInputs.
    int64_t channelsOf(const ATAudioDevice& device,
                       const std::optional<ATAudioDevice>& previous = std::nullopt) const;
    /// The user's pick: client channel j on device channel `channels[j]`. A pair's second channel
    /// may lie past a device's last (its left then plays alone).
    void pick(std::vector<int> channels, bool pair);
    const std::vector<int>& picked() const { return picked_; }
    /// The pick as a device of `count` channels takes it: the pick where it fits, else the
    /// device's first channels (said in the log when `say`).
    std::vector<int> fitted(int64_t count, const std::string& deviceName, bool say = true) const;

    /// The own device while listed (none picked: the default), else the default standing in,
    /// tried in that order until one opens; the log says when the unit leaves or comes back to
    /// its own. `current` is the device the unit plays on now, if any.
    bool reopen(const std::optional<ATAudioDevice>& current, const OpenOn& openOn);

    /// Opens a stream at the unit's rate, else, where the device refuses it, at `deviceRate`.
    std::unique_ptr<AudioStream> open(AudioStreamParameters parameters, double deviceRate,
                                      AudioStreamClient& client, std::string& error) const;

  private:
    std::optional<ATAudioDevice> defaultDevice() const;
    bool tryOn(ATAudioDevice device, bool standIn, const std::optional<ATAudioDevice>& current,
               const OpenOn& openOn);

    std::string unitName_;
    std::string verb_;
    Direction direction_;
    AudioBackend* backend_;
    std::optional<std::string> ownUID_;
    std::string ownName_;
    bool standIn_ = false;
    // Until the user picks: the first client channel on the device's first.
    std::vector<int> picked_{0, -1};
    bool pair_ = false;
};

}  // namespace quenbril
