#pragma once

namespace quenbril {

/// Posted after a preference pane saved; the chat windows re-read their settings.
inline constexpr const char* kSettingsChangedNotification = "SettingsChanged";

}  // namespace quenbril
