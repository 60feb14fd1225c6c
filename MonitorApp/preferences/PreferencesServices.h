#pragma once

namespace quenbril {

class ChannelStripManager;
class ColorHelper;
class UserSettingsManager;

/// What the preferences window's panes change and refresh: the user settings, the theme's
/// colours and the strips that show both. Handed in by whoever opens the window; the services
/// outlive it.
struct PreferencesServices {
    UserSettingsManager& settings;
    ColorHelper& colors;
    ChannelStripManager& strips;
};

}  // namespace quenbril
