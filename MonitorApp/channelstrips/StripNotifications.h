#pragma once

namespace quenbril {

// Notifications the strip model posts or observes.
inline constexpr const char* kChatMessageNotification = "ChatMessage";
inline constexpr const char* kPreferencesChangedNotification = "PreferencesChanged";
inline constexpr const char* kGroupClickedNotification = "GroupClicked";
inline constexpr const char* kGroupLongClickedNotification = "GroupLongClicked";
inline constexpr const char* kCSClickedNotification = "CSClicked";
inline constexpr const char* kCSLongClickedNotification = "CSLongClicked";
// Posted by the level displays.
inline constexpr const char* kMicCheckKeyNotification = "MicCheckKey";
inline constexpr const char* kPlaybackStartedNotification = "PlaybackStarted";
/// After a "Channels" replaced the strips.
inline constexpr const char* kChannelStripsEditedNotification = "ChannelStripsEdited";

// Notifications the strip views post about presses on a strip.
inline constexpr const char* kCSDoubleClickedNotification = "CSDoubleClicked";
inline constexpr const char* kHardMuteClickedNotification = "HardMuteClicked";
inline constexpr const char* kChannelCheckClickedNotification = "ChannelCheckClicked";
inline constexpr const char* kChannelClickStartedNotification = "ChannelClickStarted";
inline constexpr const char* kChannelClickEndedNotification = "ChannelClickEnded";

}  // namespace quenbril
