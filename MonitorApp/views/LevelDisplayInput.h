#pragma once

#include <cstdint>

class QString;

namespace quenbril {

class ClickableMTKViewDelegate;

/// The keyboard and replay input of the level displays, apart from any widget so that the
/// drawn view and its blank stand-in answer keys alike.
class LevelDisplayInput {
  public:
    /// Handles a key press (a Qt key code and the event's text). True when the key was taken
    /// or dropped; false when it goes on to the widget's base class. While the settings are
    /// locked, arrow keys and the mic-check answers do nothing.
    static bool keyDown(int key, const QString& text);
    /// The same without the mic-check answers: only the solo keys.
    static bool soloKeyDown(int key, const QString& text);

    /// How far behind live a replay from `cursor` (0 the oldest column, 1 live) starts, in
    /// samples at 48 kHz, for histories of `longRingBufLen` columns at ten a second: the
    /// distance rounded down to a multiple of 4096 plus 8192, but never more than the history
    /// less 4096.
    static int32_t replayDelay(float cursor, int longRingBufLen);

    /// Whether a click may start a replay now (not while locked).
    static bool mayStartReplay();
    /// A click at `fraction` of the width: the delegate's cursor moves there, the playback
    /// manager gets the delay and "PlaybackStarted" is posted.
    static void startReplay(float fraction, ClickableMTKViewDelegate& delegate);
    /// A replay from `cursor`: the playback manager gets the delay and "PlaybackStarted" is
    /// posted (for a view that keeps its cursor itself).
    static void startReplayAt(float cursor);
    /// Back to live: no delay, cursor 1.
    static void stopReplay(ClickableMTKViewDelegate* delegate);
};

}  // namespace quenbril
