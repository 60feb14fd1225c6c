#pragma once

namespace quenbril {

class ChannelStripManager;
class ColorHelper;
class NotificationCenter;
class PELAudioEngine;
class PlaybackManager;
class UserSettingsManager;

/// What the strip views and the panel display read and tell, handed in once by whoever
/// installs their factories. Everything named here outlives the views.
struct StripViewServices {
    UserSettingsManager& settings;
    NotificationCenter& center;
    ChannelStripManager& manager;
    PELAudioEngine& engine;
    PlaybackManager& playback;
    const ColorHelper& colors;
};

}  // namespace quenbril
