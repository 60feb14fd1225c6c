#pragma once

class QWidget;

namespace quenbril {

class PanelRenderer;

/// The level display as the strip area holds it: the widget that lies in the shown panel and
/// the renderer the strip manager feeds. The strip area owns it and parents its widget.
class LevelDisplay {
  public:
    virtual ~LevelDisplay() = default;
    virtual QWidget& view() = 0;
    virtual PanelRenderer& renderer() = 0;
    /// Starts redrawing at the rate (frames per second), as the overall display, not a zoom
    /// window.
    virtual void start(int framesPerSecond) = 0;
    /// Whether the lines are drawn (the default); a display that draws none ignores it.
    virtual void setLinesShown(bool shown) { (void)shown; }
};

}  // namespace quenbril
