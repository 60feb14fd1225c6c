#pragma once

namespace quenbril {

class ChannelStripManager;
class ColorHelper;
class LTCManager;
class NotebookManager;
class NotificationCenter;
class PELAudioEngine;
class PlaybackManager;
class PlayerManager;
class UserDefaults;
class UserSettingsManager;

/// The services the panel windows are made with, so that no window reaches for a shared
/// instance itself. The composition makes one; test fixtures make their own. Only references:
/// the services outlive every window made with them.
struct PanelServices {
    NotificationCenter& center;
    UserDefaults& defaults;
    UserSettingsManager& settings;
    ChannelStripManager& strips;
    PlayerManager& players;
    PlaybackManager& playback;
    NotebookManager& notebook;
    LTCManager& timecode;
    const ColorHelper& colors;
    PELAudioEngine& engine;
};

}  // namespace quenbril
