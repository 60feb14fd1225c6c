#pragma once

namespace quenbril {

class ChannelStripManager;
class ChatColorManager;
class ColorHelper;
class LTCManager;
class NotebookManager;
class NotificationCenter;
class PELAudioEngine;
class PlaybackManager;
class ShortTimeClock;
class SnapshotManager;
class UserDefaults;
class UserSettingsManager;

/// The services the remote's parts are given when they are made, so that they do not reach for
/// the shared instances themselves. The composition makes one from the shared instances
/// (sharedRemoteContext); test fixtures make their own. Only references: the services outlive
/// whatever is made with the context. The chat store and the player list are reached through
/// their class operations, as they are defined.
struct RemoteContext {
    PELAudioEngine& engine;
    ChannelStripManager& strips;
    SnapshotManager& snapshots;
    UserSettingsManager& settings;
    UserDefaults& defaults;
    ColorHelper& colors;
    ChatColorManager& chatColors;
    NotebookManager& notebook;
    PlaybackManager& playback;
    LTCManager& timecode;
    NotificationCenter& notifications;
    const ShortTimeClock& clock;
};

}  // namespace quenbril
