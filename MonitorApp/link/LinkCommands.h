#pragma once

#include <algorithm>
#include <array>
#include <string_view>

namespace quenbril {

/// The names of the link's commands (the "Command" string of a message).
namespace LinkCommand {

// Sent by the server.
inline constexpr std::string_view kClientNames{"ClientNames"};
inline constexpr std::string_view kChatRemoveMessage{"ChatRemoveMessage"};  // both directions
inline constexpr std::string_view kChatClients{"ChatClients"};
inline constexpr std::string_view kBatteryThreshold{"BatteryThreshold"};
inline constexpr std::string_view kMarkerAdded{"MarkerAdded"};  // both directions
inline constexpr std::string_view kChatMessageHistory{"ChatMessageHistory"};
inline constexpr std::string_view kStreamData{"StreamData"};
inline constexpr std::string_view kGroupColors{"GroupColors"};
inline constexpr std::string_view kChatColors{"ChatColors"};
inline constexpr std::string_view kChatMessageFromServer{"ChatMessageFromServer"};
inline constexpr std::string_view kSCPOnChannel{"SCPOnChannel"};
inline constexpr std::string_view kChannelWarnings{"ChannelWarnings"};
inline constexpr std::string_view kBatteryData{"BatteryData"};
inline constexpr std::string_view kBatteryTimeData{"BatteryTimeData"};
inline constexpr std::string_view kAntennaData{"AntennaData"};
inline constexpr std::string_view kActiveChannels{"ActiveChannels"};
inline constexpr std::string_view kSoloedChannels{"SoloedChannels"};
inline constexpr std::string_view kAutoSoloedChannels{"AutoSoloedChannels"};
inline constexpr std::string_view kLTCSample{"LTCSample"};
inline constexpr std::string_view kNotebookEntries{"NotebookEntries"};
inline constexpr std::string_view kGroupStates{"GroupStates"};
inline constexpr std::string_view kClientsEnabled{"ClientsEnabled"};
inline constexpr std::string_view kChannels{"Channels"};
inline constexpr std::string_view kWirelessInfo{"WirelessInfo"};
inline constexpr std::string_view kMicCheckState{"MicCheckState"};
inline constexpr std::string_view kMicCheckArray{"MicCheckArray"};
inline constexpr std::string_view kHardMuteArray{"HardMuteArray"};
inline constexpr std::string_view kReceiverMuteArray{"ReceiverMuteArray"};
inline constexpr std::string_view kSnapshot{"Snapshot"};
inline constexpr std::string_view kSnapshotNames{"SnapshotNames"};
inline constexpr std::string_view kMasterVersion{"MasterVersion"};
inline constexpr std::string_view kInitialDataReady{"InitialDataReady"};
inline constexpr std::string_view kLevelData{"LevelData"};
inline constexpr std::string_view kRfLevelData{"RfLevelData"};
inline constexpr std::string_view kRfLevelDataA{"RfLevelDataA"};
inline constexpr std::string_view kRfLevelDataB{"RfLevelDataB"};
inline constexpr std::string_view kRfLevelDataC{"RfLevelDataC"};
inline constexpr std::string_view kRfLevelDataD{"RfLevelDataD"};
inline constexpr std::string_view kRfLevelDataDiv{"RfLevelDataDiv"};
inline constexpr std::string_view kQLData{"QLData"};
inline constexpr std::string_view kQualityLevelData{"QualityLevelData"};
inline constexpr std::string_view kNewPlayer{"NewPlayer"};
inline constexpr std::string_view kOpenedEditing{"OpenedEditing"};
inline constexpr std::string_view kClosedEditing{"ClosedEditing"};
inline constexpr std::string_view kLTC{"LTC"};

// Sent by the remote.
inline constexpr std::string_view kClientID{"ClientID"};
inline constexpr std::string_view kSoloOn{"SoloOn"};
inline constexpr std::string_view kRegisterToChat{"RegisterToChat"};
inline constexpr std::string_view kChatMessageFromClient{"ChatMessageFromClient"};
inline constexpr std::string_view kChannelClicked{"ChannelClicked"};
inline constexpr std::string_view kChannelLongClicked{"ChannelLongClicked"};
inline constexpr std::string_view kChannelCheckClicked{"ChannelCheckClicked"};
inline constexpr std::string_view kHardMuteClicked{"HardMuteClicked"};
inline constexpr std::string_view kGroupClicked{"GroupClicked"};
inline constexpr std::string_view kGroupLongClicked{"GroupLongClicked"};
inline constexpr std::string_view kResetWarnings{"ResetWarnings"};
inline constexpr std::string_view kClear{"Clear"};
inline constexpr std::string_view kHardClear{"HardClear"};
inline constexpr std::string_view kStartStream{"StartStream"};
inline constexpr std::string_view kStopStream{"StopStream"};
inline constexpr std::string_view kPlaybackStarted{"PlaybackStarted"};
inline constexpr std::string_view kPlaybackStopped{"PlaybackStopped"};
inline constexpr std::string_view kRemoteAddedNote{"RemoteAddedNote"};
inline constexpr std::string_view kRemoveTimelineEntry{"RemoveTimelineEntry"};
inline constexpr std::string_view kRemoveAllTimelineEntries{"RemoveAllTimelineEntries"};

/// Every command the remote understands, in the order its dispatcher tests them. The first
/// `kBothRolesCount` are handled in either role, the rest only by a remote.
inline constexpr std::array<std::string_view, 45> kServerToRemote{kClientNames,
                                                                  kChatRemoveMessage,
                                                                  kChatClients,
                                                                  kBatteryThreshold,
                                                                  kMarkerAdded,
                                                                  kChatMessageHistory,
                                                                  kStreamData,
                                                                  kGroupColors,
                                                                  kChatColors,
                                                                  kChatMessageFromServer,
                                                                  kSCPOnChannel,
                                                                  kChannelWarnings,
                                                                  kBatteryData,
                                                                  kBatteryTimeData,
                                                                  kAntennaData,
                                                                  kActiveChannels,
                                                                  kSoloedChannels,
                                                                  kAutoSoloedChannels,
                                                                  kLTCSample,
                                                                  kNotebookEntries,
                                                                  kGroupStates,
                                                                  kClientsEnabled,
                                                                  kChannels,
                                                                  kWirelessInfo,
                                                                  kMicCheckState,
                                                                  kMicCheckArray,
                                                                  kHardMuteArray,
                                                                  kReceiverMuteArray,
                                                                  kSnapshot,
                                                                  kSnapshotNames,
                                                                  kMasterVersion,
                                                                  kInitialDataReady,
                                                                  kLevelData,
                                                                  kRfLevelData,
                                                                  kRfLevelDataA,
                                                                  kRfLevelDataB,
                                                                  kRfLevelDataC,
                                                                  kRfLevelDataD,
                                                                  kRfLevelDataDiv,
                                                                  kQLData,
                                                                  kQualityLevelData,
                                                                  kNewPlayer,
                                                                  kOpenedEditing,
                                                                  kClosedEditing,
                                                                  kLTC};
inline constexpr size_t kBothRolesCount = 10;

/// Every command the remote sends.
inline constexpr std::array<std::string_view, 22> kRemoteToServer{kClientID,
                                                                  kSoloOn,
                                                                  kRegisterToChat,
                                                                  kChatMessageFromClient,
                                                                  kChatRemoveMessage,
                                                                  kChannelClicked,
                                                                  kChannelLongClicked,
                                                                  kChannelCheckClicked,
                                                                  kHardMuteClicked,
                                                                  kGroupClicked,
                                                                  kGroupLongClicked,
                                                                  kMarkerAdded,
                                                                  kResetWarnings,
                                                                  kClear,
                                                                  kHardClear,
                                                                  kStartStream,
                                                                  kStopStream,
                                                                  kPlaybackStarted,
                                                                  kPlaybackStopped,
                                                                  kRemoteAddedNote,
                                                                  kRemoveTimelineEntry,
                                                                  kRemoveAllTimelineEntries};

/// The server's messages that repeat a whole state, sent again whenever it changes: a newer
/// one makes an older one that has not gone out yet worthless, so a remote's queue keeps one.
/// (The battery and antenna lists are left out: the stand-in's first ones also carry the
/// timecode strips, which its later ones skip.)
inline constexpr std::array<std::string_view, 18> kWholeStates{
    kClientNames,        kChatClients,     kChatMessageHistory, kGroupColors,
    kChatColors,         kChannelWarnings, kActiveChannels,     kSoloedChannels,
    kAutoSoloedChannels, kNotebookEntries, kGroupStates,        kClientsEnabled,
    kChannels,           kWirelessInfo,    kMicCheckArray,      kHardMuteArray,
    kReceiverMuteArray,  kSnapshotNames};

/// True for a command of kWholeStates.
inline bool repeatsWholeState(std::string_view command) {
    return std::find(kWholeStates.begin(), kWholeStates.end(), command) != kWholeStates.end();
}

}  // namespace LinkCommand

/// Keys of link messages beside "Command" and keys of the records inside them.
namespace LinkKey {
inline constexpr std::string_view kCommand{"Command"};
inline constexpr std::string_view kValue{"Value"};
// Top-level keys of the commands that carry their fields beside "Command".
inline constexpr std::string_view kLeftValue{"LeftValue"};
inline constexpr std::string_view kRightValue{"RightValue"};
inline constexpr std::string_view kValues{"Values"};
inline constexpr std::string_view kNValue{"NValue"};
inline constexpr std::string_view kAct{"Act"};
inline constexpr std::string_view kCSID{"CSID"};
inline constexpr std::string_view kDelayInSamples{"DelayInSamples"};
inline constexpr std::string_view kNote{"Note"};
inline constexpr std::string_view kCsID{"csID"};
inline constexpr std::string_view kUsername{"Username"};
inline constexpr std::string_view kLTC{"LTC"};
inline constexpr std::string_view kTime{"Time"};
inline constexpr std::string_view kTeID{"teID"};
inline constexpr std::string_view kReceiveTime{"ReceiveTime"};
inline constexpr std::string_view kSendTime{"SendTime"};
inline constexpr std::string_view kFPS{"FPS"};
inline constexpr std::string_view kHours{"Hours"};
inline constexpr std::string_view kMinutes{"Minutes"};
inline constexpr std::string_view kSeconds{"Seconds"};
inline constexpr std::string_view kFrames{"Frames"};
}  // namespace LinkKey

}  // namespace quenbril
