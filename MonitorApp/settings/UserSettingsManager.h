#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

class UserDefaults;

/// The program's settings. Part of them is stored in the user defaults as the one dictionary
/// "UserSettings" (read once at start, written by `saveSettings`); the rest lasts for the run.
/// It also produces and applies the general and chat-button parts of the settings file.
///
/// Settings change on the main thread. `actAsClient` and `streamingMode` may be read from
/// audio threads; the strings may be read from any thread.
class UserSettingsManager {
  public:
    /// The user-defaults key of the stored record.
    static constexpr const char* kUserSettingsKey = "UserSettings";
    /// Bounds kept on load, import and set.
    static constexpr float kMaxLongClickDuration = 5.0f;
    static constexpr int kMaxChatMacroCount = 8;
    static constexpr int kMinLongRingBufLen = 128;

    static UserSettingsManager& sharedInstance();
    /// Tests: drops the shared instance; the next one made loads the stored record again (a
    /// restart).
    static void resetSharedInstance();

    /// The defaults, then the record stored in `defaults` applied over them; `saveSettings`
    /// writes it back there.
    explicit UserSettingsManager(UserDefaults& defaults);

    /// Writes the stored record (replacing the previous one) and synchronises the store.
    /// False, with a log line, when the store could not be written.
    bool saveSettings() const;
    /// The exportable general settings (21 entries).
    Dictionary getSettings() const;
    /// Applies exported general settings; stores nothing until the next `saveSettings`.
    /// Values of the wrong kind count as missing.
    void setSettings(const Dictionary& settings);
    /// The user-default keys of quick message `n`: its text ("CB <n>") and its MIDI trigger
    /// ("CB MIDI <n>").
    static std::string chatButtonKey(int n) { return "CB " + std::to_string(n); }
    static std::string chatButtonMidiKey(int n) { return "CB MIDI " + std::to_string(n); }
    /// The chat-button entries of the user defaults ("CB 1".."CB 7", "CB MIDI 1".."CB MIDI 7",
    /// "chatSettings"), each when present.
    static Dictionary getChatSettings();
    /// Writes the entries of an exported chat-button dictionary into the user defaults: only
    /// the keys `getChatSettings` exports, each only with the kind it has there (a text, a
    /// MIDI trigger array, a dictionary). False when a write failed.
    static bool setChatSettings(const Dictionary& settings);

    int showImages() const { return showImages_; }
    void setShowImages(int v) { showImages_ = v; }
    /// YES for the remote role, NO for the server role.
    bool actAsClient() const { return actAsClient_.load(std::memory_order_relaxed); }
    void setActAsClient(bool v) { actAsClient_.store(v, std::memory_order_relaxed); }
    bool soloOn() const { return soloOn_; }
    void setSoloOn(bool v) { soloOn_ = v; }
    bool debugTextOn() const { return debugTextOn_; }
    void setDebugTextOn(bool v) { debugTextOn_ = v; }
    bool isLocked() const { return isLocked_; }
    void setIsLocked(bool v) { isLocked_ = v; }
    bool disableAllWarnings() const { return disableAllWarnings_; }
    void setDisableAllWarnings(bool v) { disableAllWarnings_ = v; }
    bool rfRecover() const { return rfRecover_; }
    void setRfRecover(bool v) { rfRecover_ = v; }
    bool chatFlash() const { return chatFlash_; }
    void setChatFlash(bool v) { chatFlash_ = v; }
    /// 0 strip name, 1 role name, 2 performer name, 3 receiver name.
    int titleShows() const { return titleShows_; }
    void setTitleShows(int v) { titleShows_ = v; }
    bool flipChannelStrip() const { return flipChannelStrip_; }
    void setFlipChannelStrip(bool v) { flipChannelStrip_ = v; }
    int chatMacroCount() const { return chatMacroCount_; }
    /// Kept within 0..8 (there are eight quick-message slots).
    void setChatMacroCount(int v);
    int channelStripBorder() const { return channelStripBorder_; }
    void setChannelStripBorder(int v) { channelStripBorder_ = v; }
    int warningSensitivity() const { return warningSensitivity_; }
    void setWarningSensitivity(int v) { warningSensitivity_ = v; }
    int lowSensitivity() const { return lowSensitivity_; }
    void setLowSensitivity(int v) { lowSensitivity_ = v; }
    int rfThreshold() const { return rfThreshold_; }
    void setRfThreshold(int v) { rfThreshold_ = v; }
    int batThreshold() const { return batThreshold_; }
    void setBatThreshold(int v) { batThreshold_ = v; }
    int batTimeThreshold() const { return batTimeThreshold_; }
    void setBatTimeThreshold(int v) { batTimeThreshold_ = v; }
    int midiChannel() const { return midiChannel_; }
    void setMidiChannel(int v) { midiChannel_ = v; }
    int midiCommand() const { return midiCommand_; }
    void setMidiCommand(int v) { midiCommand_ = v; }
    std::string chatUsername() const;
    void setChatUsername(std::string v);
    int chatMode() const { return chatMode_; }
    void setChatMode(int v) { chatMode_ = v; }
    /// The server identifier: the word of the service type "_<identifier>._tcp.".
    std::string qbIdentifier() const;
    void setQbIdentifier(std::string v);
    std::string chatIdentifier() const;
    void setChatIdentifier(std::string v);
    bool micCheckMode() const { return micCheckMode_; }
    void setMicCheckMode(bool v) { micCheckMode_ = v; }
    bool hardMuting() const { return hardMuting_; }
    void setHardMuting(bool v) { hardMuting_ = v; }
    int currentAct() const { return currentAct_; }
    void setCurrentAct(int v) { currentAct_ = v; }
    bool showRFA() const { return showRFA_; }
    void setShowRFA(bool v) { showRFA_ = v; }
    bool showRFB() const { return showRFB_; }
    void setShowRFB(bool v) { showRFB_ = v; }
    bool showRFC() const { return showRFC_; }
    void setShowRFC(bool v) { showRFC_ = v; }
    bool showRFD() const { return showRFD_; }
    void setShowRFD(bool v) { showRFD_ = v; }
    bool showAudio() const { return showAudio_; }
    void setShowAudio(bool v) { showAudio_ = v; }
    bool showQuality() const { return showQuality_; }
    void setShowQuality(bool v) { showQuality_ = v; }
    bool showBatteryAlerts() const { return showBatteryAlerts_; }
    void setShowBatteryAlerts(bool v) { showBatteryAlerts_ = v; }
    bool showSCPAlerts() const { return showSCPAlerts_; }
    void setShowSCPAlerts(bool v) { showSCPAlerts_ = v; }
    bool showRFAlerts() const { return showRFAlerts_; }
    void setShowRFAlerts(bool v) { showRFAlerts_ = v; }
    bool notebookMode() const { return notebookMode_; }
    void setNotebookMode(bool v) { notebookMode_ = v; }
    /// 0 selection, 1 selection zoom, 2 zoom.
    int selectedTool() const { return selectedTool_; }
    void setSelectedTool(int v) { selectedTool_ = v; }
    int chatFontSize() const { return chatFontSize_; }
    void setChatFontSize(int v) { chatFontSize_ = v; }
    int chatButtonSize() const { return chatButtonSize_; }
    void setChatButtonSize(int v) { chatButtonSize_ = v; }
    std::string chatReceiver() const;
    void setChatReceiver(std::string v);
    /// Absolute time (seconds since 2001) of the last MIDI learn.
    double macroLastUpdated() const { return macroLastUpdated_; }
    void setMacroLastUpdated(double v) { macroLastUpdated_ = v; }
    bool clientsEnabled() const { return clientsEnabled_; }
    void setClientsEnabled(bool v) { clientsEnabled_ = v; }
    int prevSoloIndex() const { return prevSoloIndex_; }
    void setPrevSoloIndex(int v) { prevSoloIndex_ = v; }
    /// Columns of every level history; at least 128.
    int longRingBufLen() const { return longRingBufLen_; }
    void setLongRingBufLen(int v);
    /// 1 streams stereo in the server role.
    int streamingMode() const { return streamingMode_.load(std::memory_order_relaxed); }
    void setStreamingMode(int v) { streamingMode_.store(v, std::memory_order_relaxed); }
    /// Strips per row; at least 1.
    int columns() const { return columns_; }
    void setColumns(int v);
    int flashTimeout() const { return flashTimeout_; }
    void setFlashTimeout(int v) { flashTimeout_ = v; }
    /// Seconds a press must last to count as a long click; kept within 0..5 (not a number
    /// gives the default 0.75).
    double longClickDuration() const { return longClickDuration_; }
    void setLongClickDuration(float v);
    float masterVersion() const { return masterVersion_; }
    void setMasterVersion(float v) { masterVersion_ = v; }

  private:
    Dictionary storedRecord() const;
    void applyStoredRecord(const Dictionary& record);

    UserDefaults& defaults_;
    mutable std::mutex stringMutex_;

    int showImages_ = 15;
    std::atomic<bool> actAsClient_{false};
    bool soloOn_ = true;
    bool debugTextOn_ = false;
    bool isLocked_ = false;
    bool disableAllWarnings_ = false;
    bool rfRecover_ = true;
    bool chatFlash_ = false;
    int titleShows_ = 0;
    bool flipChannelStrip_ = false;
    int chatMacroCount_ = 8;
    int channelStripBorder_ = 2;
    int warningSensitivity_ = 0;
    int lowSensitivity_ = 0;
    int rfThreshold_ = 50;
    int batThreshold_ = 30;
    int batTimeThreshold_ = 90;
    int midiChannel_ = 15;
    int midiCommand_ = 176;
    std::string chatUsername_;
    int chatMode_ = 0;
    std::string qbIdentifier_ = "quenbril";
    std::string chatIdentifier_ = "quenbril_chat";
    bool micCheckMode_ = false;
    bool hardMuting_ = false;
    int currentAct_ = 0;
    bool showRFA_ = true;
    bool showRFB_ = true;
    bool showRFC_ = true;
    bool showRFD_ = true;
    bool showAudio_ = true;
    bool showQuality_ = true;
    bool showBatteryAlerts_ = true;
    bool showSCPAlerts_ = true;
    bool showRFAlerts_ = true;
    bool notebookMode_ = false;
    int selectedTool_ = 0;
    int chatFontSize_ = 0;
    int chatButtonSize_ = 0;
    std::string chatReceiver_ = "All";
    double macroLastUpdated_ = 0.0;
    bool clientsEnabled_ = true;
    int prevSoloIndex_ = -1;
    int longRingBufLen_ = 3000;
    std::atomic<int> streamingMode_{0};
    int columns_ = 8;
    int flashTimeout_ = 0;
    float longClickDuration_ = 0.75f;
    float masterVersion_ = 1.0f;
};

}  // namespace quenbril
