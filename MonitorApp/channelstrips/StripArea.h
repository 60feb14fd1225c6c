#pragma once

#include <cstdint>

#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {

class ChannelStripView;
class PanelRenderer;

/// The main window's strip area as the strip manager drives it: a vertical scroll view whose
/// document view is one of two panel views (A and B), the strip views inside them, and the
/// level display that lies in the shown panel. Frames are in top-left coordinates.
class StripArea {
  public:
    virtual ~StripArea() = default;

    /// The scroll view's size.
    virtual Size scrollViewSize() const = 0;

    /// True once the two panel views exist.
    virtual bool hasPanels() const = 0;
    /// Makes the two panel views with the frame, makes panel A the document view, and gives the
    /// scroll view a vertical scroller only.
    virtual void makePanels(const Rect& frame) = 0;
    /// Makes panel `panel` (0 A, 1 B) the scroll view's document view.
    virtual void setDocumentPanel(int32_t panel) = 0;
    virtual Rect panelFrame(int32_t panel) const = 0;
    virtual void setPanelFrame(int32_t panel, const Rect& frame) = 0;
    virtual void setContentFrame(const Rect& frame) = 0;
    /// Scrolls the document view to its top.
    virtual void scrollToTop() = 0;

    /// Puts a strip view into a panel view at the frame.
    virtual void addStripView(ChannelStripView& view, int32_t panel, const Rect& frame) = 0;
    /// Takes a strip view out of its panel view (nothing when it is in none).
    virtual void removeStripView(ChannelStripView& view) = 0;

    /// Makes the level display (not a zoom window, 10 frames per second, running) with its
    /// renderer, inside panel A at the frame. The area owns both.
    virtual PanelRenderer* makeLevelDisplay(const Rect& frame) = 0;
    /// Moves the level display into panel `panel`'s view.
    virtual void moveLevelDisplay(int32_t panel) = 0;
    virtual void setLevelDisplayFrame(const Rect& frame) = 0;
    virtual Size levelDrawableSize() const = 0;
    /// Makes the level display its window's keyboard focus.
    virtual void focusLevelDisplay() = 0;
    /// Whether the strips show the server's live state (the default). While not live the area
    /// says so over the strips and the level display draws no lines, so that nothing on it
    /// reads as a live signal. An area that shows nothing may ignore it.
    virtual void setLive(bool live) { (void)live; }
};

}  // namespace quenbril
