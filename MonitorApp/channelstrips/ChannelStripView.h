#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

class ChannelStripController;
class ChannelStripState;
struct SMPTETimecode;

/// What the strip model asks of one strip view (128 x 128 points). The widget layer implements
/// it; the model never sees a widget. Calls arrive on the main thread.
class ChannelStripView {
  public:
    virtual ~ChannelStripView() = default;

    /// The controller that owns the view, told once, when the controller made it: the view's
    /// input reaches its strip without searching the strip list.
    virtual void setController(ChannelStripController* controller) { (void)controller; }

    /// Redraws border, mute pictures, mic-check colours and warning look from the state.
    virtual void updateAppearance(const ChannelStripState& state) = 0;
    /// Rebuilds layout and pictures from the current user settings.
    virtual void redraw() = 0;
    /// Shows the warning background of a warning code: 0 none, 1 SCP, 2 battery, 3 RF. (A
    /// warning code, not the strip's solo state.)
    virtual void setChannelState(int32_t warningCode) = 0;
    /// -2 hides the battery meter and text, -1 shows "?", 0 and above show "%d%%" unless a
    /// battery-time text was set since the battery was last hidden.
    virtual void setBatteryPower(int32_t value) = 0;
    /// Shows a battery-time text and the battery meter.
    virtual void setBatteryString(const std::string& text) = 0;
    virtual bool timeAdded() const = 0;
    /// The letters of the active antennas, "A" to "D"; empty shows none.
    virtual void setAntennaData(const std::string& antennas) = 0;
    virtual void setTimecode(const SMPTETimecode& timecode) = 0;
    /// -1 shows "No timecode", any other value "Lost %d s ago".
    virtual void setTimecodeNotFound(int32_t seconds) = 0;
    virtual void setPendingQuality(int32_t quality) = 0;
    virtual int32_t pendingQuality() const = 0;
    virtual void setQuality(int32_t quality) = 0;
    virtual void setTitle(const std::string& title) = 0;
    /// The title as the strip shows it.
    virtual std::string getTitle() const = 0;
    /// Zero-based input channel.
    virtual void setInputChannel(int32_t input) = 0;
    virtual void setAlternativeInputText(const std::string& text) = 0;
    /// The performer picture as TIFF data; none removes it.
    virtual void setImage(const Bytes* tiff) = 0;
    /// The colour of the strip's group; none clears the title bar and writes the title white.
    virtual void setChannelColor(const std::optional<Color>& color) = 0;
    /// Hides the wireless data (battery, antennas).
    virtual void removeWireless() = 0;
    /// The timecode parameter line ("25 fps   -12.0 dB").
    virtual std::string tcParamText() const = 0;
    virtual void setTcParamText(const std::string& text) = 0;
    /// The battery text as shown ("45%", "?", a battery time, or empty).
    virtual std::string batText() const = 0;
};

}  // namespace quenbril
