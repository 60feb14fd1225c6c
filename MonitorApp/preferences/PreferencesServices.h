#pragma once

namespace quenbril {

class ChannelStripManager;
class ColorHelper;
class NotificationCenter;
class UserDefaults;
class UserSettingsManager;

/// What the preferences window's panes change and refresh: the user settings, the theme's
/// colours, the strips that show both, the store they are written to and the notifications that
/// tell of them. Handed in by whoever opens the window; the services outlive it.
struct PreferencesServices {
    UserSettingsManager& settings;
    ColorHelper& colors;
    ChannelStripManager& strips;
    UserDefaults& defaults;
    NotificationCenter& center;
};

}  // namespace quenbril
