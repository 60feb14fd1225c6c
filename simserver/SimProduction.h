#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

/// One channel strip of the stand-in's production.
struct SimStrip {
    int64_t csID = 0;
    std::string name;
    std::string wirelessName;
    std::string playerName;
    std::string panel;
    int32_t audioInput = 0;
    bool enabled = true;
    /// The strip carries timecode (its wireless name is "LTC Timecode").
    bool timecode = false;
    /// Its group in the snapshot in force, 0 for none.
    int32_t groupIndex = 0;
};

struct SimPlayer {
    std::string name;
    std::string roleName;
    std::string comments;
    /// The name strips refer to: "name as role", or the name alone.
    std::string displayName() const;
};

/// A mic-check record of one strip.
struct SimMicCheck {
    bool checked = false;
    std::string user;
    double time = 0;  // seconds since 2001-01-01
};

/// The production the stand-in serves: its strips, performers, groups and snapshots, and the
/// state the remotes change (solo set, group buttons, hard mutes, mic checks, warnings). It
/// builds the messages that describe that state. Strip positions (the index of a strip's byte
/// in level frames) count the enabled strips only.
class SimProduction {
  public:
    static constexpr int kGroups = 8;
    static constexpr const char* kTimecodeWirelessName = "LTC Timecode";

    explicit SimProduction(int channels);
    SimProduction(const SimProduction&) = delete;
    SimProduction& operator=(const SimProduction&) = delete;

    const std::vector<SimStrip>& strips() const { return strips_; }
    /// The enabled strips, in list order.
    const std::vector<const SimStrip*>& enabledStrips() const { return enabled_; }
    const SimStrip* strip(int64_t csID) const;
    /// The position of an enabled strip; nothing for an unknown or disabled one.
    std::optional<size_t> positionOf(int64_t csID) const;
    const std::vector<SimPlayer>& players() const { return players_; }

    // State changed by the remotes' commands. A click makes a strip active, the strip listened
    // to; a long click solos it. A strip is in one set at most, and a click leaves a soloed
    // strip soloed.
    const std::vector<int64_t>& active() const { return active_; }
    const std::vector<int64_t>& soloed() const { return soloed_; }
    /// The strips heard: the active ones, then the soloed ones.
    std::vector<int64_t> listened() const;
    /// Makes the strip active, or off when it is active; false for an unknown strip.
    bool toggleActive(int64_t csID);
    /// Single solo: the strip becomes the only active one, or, when it is that already, none
    /// is; false for an unknown strip.
    bool activateSingle(int64_t csID);
    /// The strip becomes the only one soloed; false for an unknown strip.
    bool soloOnly(int64_t csID);
    /// The strips' names, comma-separated ("none" for no strip); an unknown id by its number.
    std::string namesOf(const std::vector<int64_t>& ids) const;
    /// No strip is active or soloed.
    void clearSolo() {
        active_.clear();
        soloed_.clear();
    }
    /// `group` 1 to 8; false when out of range.
    bool toggleGroup(int32_t group);
    bool setGroupHard(int32_t group);
    void clearGroups() { groupStates_.fill(0); }
    bool toggleHardMute(int64_t csID);
    /// Toggles the strip's mic-check record; nothing for an unknown strip.
    const SimMicCheck* toggleMicCheck(int64_t csID, const std::string& user, double now);
    /// Sets a warning code (1 SCP, 2 battery, 3 RF) on a strip; 0 clears it.
    void setWarning(int64_t csID, int32_t code);
    void clearWarnings() { warnings_.clear(); }
    /// The snapshots, in the server's order; their order indexes count from 0.
    static const std::vector<std::string>& snapshotTitles();
    /// The position of the active snapshot.
    size_t activeSnapshot() const { return activeSnapshot_; }
    /// Makes the next snapshot active, the first after the last. The group buttons that are
    /// on go off (hard ones stay), as every remote's go when it applies a snapshot.
    void nextSnapshot();

    // Messages.
    Dictionary clientNamesMessage() const;
    Dictionary masterVersionMessage() const;
    Dictionary channelsMessage() const;
    std::vector<Dictionary> newPlayerMessages() const;
    Dictionary groupColorsMessage() const;
    Dictionary groupStatesMessage() const;
    Dictionary snapshotNamesMessage() const;
    Dictionary snapshotMessage() const;
    Dictionary batteryThresholdMessage() const;
    Dictionary wirelessInfoMessage() const;
    Dictionary soloedChannelsMessage() const;
    Dictionary activeChannelsMessage() const;
    Dictionary hardMuteArrayMessage() const;
    Dictionary micCheckArrayMessage() const;
    Dictionary micCheckStateMessage(int64_t csID) const;
    Dictionary channelWarningsMessage() const;
    /// The live stream's block ("StreamData") of `count` samples from sample `first`: one
    /// strip listened to plays mono, several are spread over the two channels; none while no
    /// strip is listened to.
    std::optional<Dictionary> streamMessage(int64_t first, size_t count) const;

    /// The battery threshold announced to the remotes, in percent.
    static constexpr int32_t kBatteryThreshold = 20;
    static constexpr double kMasterVersion = 4.0;

  private:
    /// The performer who plays the strip's role, or "No player".
    std::string playerFor(const std::string& stripName) const;

    std::vector<SimStrip> strips_;
    std::vector<const SimStrip*> enabled_;
    std::vector<SimPlayer> players_;
    std::vector<int64_t> active_;
    std::vector<int64_t> soloed_;
    std::array<int32_t, kGroups> groupStates_{};
    std::map<int64_t, bool> hardMuted_;
    std::map<int64_t, SimMicCheck> micChecks_;
    std::map<int64_t, int32_t> warnings_;
    size_t activeSnapshot_ = 0;
};

}  // namespace quenbril
