#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/dispatch/DispatcherWindow.h"
#include "MonitorApp/dispatch/LevelFrameBuilder.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/dispatch/StreamBlockWriter.h"
#include "MonitorApp/link/LinkRecords.h"
#include "foundation/Value.h"

namespace quenbril {

class CharRingBuffer;

/// Turns every message of the server into calls on the part that owns its data: the strip
/// manager and its records, the engine's histories and stream ring, the chat, the notebook,
/// the snapshots and the settings, and, through the window interface, the status line, the
/// indicators and the windows the main window opened. It also files the chat messages that
/// arrive ("ChatMessageFromServer"). Main thread only.
///
/// One handler per command of the server-to-remote command table, found through the
/// command's index in that table. The commands after the chat's ("SCPOnChannel" on) are
/// handled only in the remote role.
class ServerMessageDispatcher {
  public:
    ServerMessageDispatcher(const RemoteContext& context, DispatcherWindow& window);
    ServerMessageDispatcher(const ServerMessageDispatcher&) = delete;
    ServerMessageDispatcher& operator=(const ServerMessageDispatcher&) = delete;

    /// Handles one message of the server. Throws LinkTypeError for a value of the wrong kind
    /// (the link drops the message); effects before the throw remain.
    void messageReceivedFromServer(const Value& message);
    /// Files a chat message (the user info of "ChatMessageFromServer") by the chat's receipt
    /// rule; a page for this user opens the page notifier.
    void chatMessageFromServer(const Dictionary& chatMessage);

    // ---- What the dispatcher keeps ----
    /// The client slot names, "Client 1" to "Client 4" until the server names them.
    const std::optional<std::vector<std::string>>& clientNames() const { return clientNames_; }
    /// The receiver behind each strip position ("WirelessInfo").
    const std::map<int64_t, WirelessInfoEntry>& wirelessInfo() const { return wirelessInfo_; }
    /// The scratch frames, the marker flag and the pending SCP flags.
    const LevelFrameBuilder& levelFrames() const { return levelFrames_; }
    LevelFrameBuilder& levelFrames() { return levelFrames_; }
    bool markerFlag() const { return levelFrames_.markerFlag(); }
    /// The last chat message as the notifier shows it ("<time>: <text>"), and its sender.
    const std::string& latestChatMessage() const { return latestChatMessage_; }
    const std::string& latestSender() const { return latestSender_; }

  private:
    using Handler = void (ServerMessageDispatcher::*)(const Dictionary& message);
    using HistoryRing = CharRingBuffer& (PELAudioEngine::*)();
    struct Routes;

    // ---- Both roles (the chat's in ServerMessageDispatcherChat.cpp) ----
    void handleClientNames(const Dictionary& message);
    void handleChatRemoveMessage(const Dictionary& message);
    void handleChatClients(const Dictionary& message);
    void handleBatteryThreshold(const Dictionary& message);
    void handleMarkerAdded(const Dictionary& message);
    void handleChatMessageHistory(const Dictionary& message);
    void handleStreamData(const Dictionary& message);
    void handleGroupColors(const Dictionary& message);
    void handleChatColors(const Dictionary& message);
    void handleChatMessageFromServer(const Dictionary& message);

    // ---- Strip data (ServerMessageDispatcherStrips.cpp) ----
    void handleSCPOnChannel(const Dictionary& message);
    void handleChannelWarnings(const Dictionary& message);
    void handleBatteryData(const Dictionary& message);
    void handleBatteryTimeData(const Dictionary& message);
    void handleAntennaData(const Dictionary& message);
    void handleActiveChannels(const Dictionary& message);
    void handleSoloedChannels(const Dictionary& message);
    void handleAutoSoloedChannels(const Dictionary& message);
    void handleLTCSample(const Dictionary& message);
    void handleGroupStates(const Dictionary& message);
    void handleChannels(const Dictionary& message);
    void handleWirelessInfo(const Dictionary& message);
    void handleMicCheckState(const Dictionary& message);
    void handleMicCheckArray(const Dictionary& message);
    void handleHardMuteArray(const Dictionary& message);
    void handleReceiverMuteArray(const Dictionary& message);
    void handleQualityLevelData(const Dictionary& message);
    void handleNewPlayer(const Dictionary& message);
    void handleLTC(const Dictionary& message);

    // ---- The rest of the remote role (ServerMessageDispatcher.cpp) ----
    void handleNotebookEntries(const Dictionary& message);
    void handleClientsEnabled(const Dictionary& message);
    void handleSnapshot(const Dictionary& message);
    void handleSnapshotNames(const Dictionary& message);
    void handleMasterVersion(const Dictionary& message);
    void handleInitialDataReady(const Dictionary& message);
    void handleLevelData(const Dictionary& message);
    template <HistoryRing ring>
    void handleHistoryFrame(const Dictionary& message);
    void handleOpenedEditing(const Dictionary& message);
    void handleClosedEditing(const Dictionary& message);

    // ---- Helpers ----
    /// The list position of the strip with that id, or -1.
    int32_t positionOf(int64_t csID) const;
    const WirelessInfoEntry* wirelessInfoAt(int32_t position) const;
    /// Shows a battery reading on the performer window when it shows that strip and no replay
    /// runs.
    void showBatteryText(int64_t csID, const PerformerBatteryText& text);
    void scrollToActiveStrips();
    void applyMicCheckRecord(const MicCheckRecord& record);
    void applyMuteFlags(const Dictionary& message, bool hard);

    RemoteContext context_;
    DispatcherWindow& window_;
    LevelFrameBuilder levelFrames_;
    StreamBlockWriter streamWriter_;
    std::optional<std::vector<std::string>> clientNames_;
    std::map<int64_t, WirelessInfoEntry> wirelessInfo_;
    std::string latestChatMessage_;
    std::string latestSender_;
};

}  // namespace quenbril
