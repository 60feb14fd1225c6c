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

}  // namespace quenbril
