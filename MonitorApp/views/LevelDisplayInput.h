#pragma once

#include <cstdint>

class QString;

namespace quenbril {

class ChannelStripManager;
class ClickableMTKViewDelegate;
class ColorHelper;
class NotificationCenter;
class PlaybackManager;
class UserSettingsManager;

/// What the level displays' input reads and tells, and the theme they draw in, handed in when a
/// display is made. Everything named here outlives the displays.
struct LevelDisplayServices {
    UserSettingsManager& settings;
    ChannelStripManager& strips;
    PlaybackManager& playback;
    NotificationCenter& center;
    const ColorHelper& colors;
};

/// The keyboard and replay input of the level displays, apart from any widget so that the
/// drawn view and its blank stand-in answer keys alike.
class LevelDisplayInput {
  public:
    explicit LevelDisplayInput(const LevelDisplayServices& services) : services_(services) {}

    const LevelDisplayServices& services() const { return services_; }

    /// Handles a key press (a Qt key code and the event's text). True when the key was taken
    /// or dropped; false when it goes on to the widget's base class. While the settings are
    /// locked, arrow keys and the mic-check answers do nothing.
    bool keyDown(int key, const QString& text) const;
    /// The same without the mic-check answers: only the solo keys.
    bool soloKeyDown(int key, const QString& text) const;

    /// How far behind live a replay from `cursor` (0 the oldest column, 1 live) starts, in
    /// samples at 48 kHz, for histories of `longRingBufLen` columns at ten a second: the
    /// distance rounded down to a multiple of 4096 plus 8192, but never more than the history
    /// less 4096.
    static int32_t replayDelay(float cursor, int longRingBufLen);

    /// Whether a click may start a replay now (not while locked).
    bool mayStartReplay() const;
    /// A click at `fraction` of the width: the delegate's cursor moves there, the playback
    /// manager gets the delay and "PlaybackStarted" is posted.
    void startReplay(float fraction, ClickableMTKViewDelegate& delegate) const;
    /// A replay from `cursor`: the playback manager gets the delay and "PlaybackStarted" is
    /// posted (for a view that keeps its cursor itself).
    void startReplayAt(float cursor) const;
    /// Back to live: no delay, cursor 1.
    void stopReplay(ClickableMTKViewDelegate* delegate) const;

  private:
    void moveSolo(int key) const;

    LevelDisplayServices services_;
};

}  // namespace quenbril
