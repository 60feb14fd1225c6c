#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// The stored record of one channel strip: what the server sends in its channel list and what
/// the main window saves with its settings.
///
/// The strings may be absent: a strip dictionary without one of them (or with a value that is
/// not a string there) leaves it absent, and the strip shows nothing for it.
class ChannelStripModel {
  public:
    /// A new strip: "Channel strip", "No device", "No player", panel "A", a fresh random id.
    ChannelStripModel();
    /// A record read from a strip dictionary. Missing keys give absent strings, zero numbers,
    /// NO flags, except `channelEnabled` and `playerVisible`, which give YES.
    explicit ChannelStripModel(const Dictionary& dictionary);

    /// A fresh random strip id: an unsigned 32-bit number, never 0 (which names no strip).
    static int64_t randomStripID();

    /// The strip dictionary of the record, always all 13 keys (an absent string is written as
    /// the empty string).
    Dictionary property() const;

    bool scpEnabled() const { return scpEnabled_; }
    void setScpEnabled(bool v) { scpEnabled_ = v; }
    bool rfWarnEnabled() const { return rfWarnEnabled_; }
    void setRfWarnEnabled(bool v) { rfWarnEnabled_ = v; }
    bool channelEnabled() const { return channelEnabled_; }
    void setChannelEnabled(bool v) { channelEnabled_ = v; }
    bool audioHistory() const { return audioHistory_; }
    void setAudioHistory(bool v) { audioHistory_ = v; }
    bool playerVisible() const { return playerVisible_; }
    void setPlayerVisible(bool v) { playerVisible_ = v; }

    /// Zero-based input channel of the audio interface (users see it plus one).
    int32_t audioInput() const { return audioInput_; }
    void setAudioInput(int32_t v) { audioInput_ = v; }
    int32_t pan() const { return pan_; }
    void setPan(int32_t v) { pan_ = v; }
    int32_t gain() const { return gain_; }
    void setGain(int32_t v) { gain_ = v; }

    const std::optional<std::string>& name() const { return name_; }
    void setName(std::optional<std::string> v) { name_ = std::move(v); }
    const std::optional<std::string>& wirelessName() const { return wirelessName_; }
    void setWirelessName(std::optional<std::string> v) { wirelessName_ = std::move(v); }
    const std::optional<std::string>& playerName() const { return playerName_; }
    void setPlayerName(std::optional<std::string> v) { playerName_ = std::move(v); }
    /// "A" or "B"; any other text is kept as it is.
    const std::optional<std::string>& panel() const { return panel_; }
    void setPanel(std::optional<std::string> v) { panel_ = std::move(v); }

    int64_t csID() const { return csID_; }
    void setCsID(int64_t v) { csID_ = v; }

    bool operator==(const ChannelStripModel&) const = default;

  private:
    bool scpEnabled_ = false;
    bool rfWarnEnabled_ = false;
    bool channelEnabled_ = true;
    bool audioHistory_ = false;
    bool playerVisible_ = true;
    int32_t audioInput_ = 0;
    int32_t pan_ = 0;
    int32_t gain_ = 0;
    std::optional<std::string> name_;
    std::optional<std::string> wirelessName_;
    std::optional<std::string> playerName_;
    std::optional<std::string> panel_;
    int64_t csID_ = 0;
};

}  // namespace quenbril
