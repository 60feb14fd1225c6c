#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/channelstrips/ui/LevelDisplay.h"

class QScrollArea;

namespace quenbril {

/// The strip area of the main window: the scroll view's widget. It holds the two panel views,
/// A and B, of which only the document panel is shown, the strip views the manager places in
/// them and the level display. Its background is clear, so that what the scroll view draws
/// behind the strips shows through.
///
/// The strip views belong to their controllers: the area only parents them while they are
/// placed, and gives them back before it goes away.
class StripAreaWidget : public QWidget, public StripArea {
  public:
    /// Makes the level display; without one the area has none (and the manager no renderer).
    using LevelDisplayFactory = std::function<std::unique_ptr<LevelDisplay>()>;
    static void setLevelDisplayFactory(LevelDisplayFactory factory);
    static bool hasLevelDisplayFactory();

    /// The level display's redraw rate.
    static constexpr int kLevelFramesPerSecond = 10;

    /// Becomes the widget of `scrollView`, which owns it from then on.
    explicit StripAreaWidget(QScrollArea& scrollView);
    ~StripAreaWidget() override;

    Size scrollViewSize() const override;
    bool hasPanels() const override;
    void makePanels(const Rect& frame) override;
    void setDocumentPanel(int32_t panel) override;
    Rect panelFrame(int32_t panel) const override;
    void setPanelFrame(int32_t panel, const Rect& frame) override;
    void setContentFrame(const Rect& frame) override;
    void scrollToTop() override;
    void addStripView(ChannelStripView& view, int32_t panel, const Rect& frame) override;
    void removeStripView(ChannelStripView& view) override;
    PanelRenderer* makeLevelDisplay(const Rect& frame) override;
    void moveLevelDisplay(int32_t panel) override;
    void setLevelDisplayFrame(const Rect& frame) override;
    Size levelDrawableSize() const override;
    void focusLevelDisplay() override;
    /// While not live a dim cover over the strips says "NOT CONNECTED TO SERVER" and the level
    /// display draws no lines.
    void setLive(bool live) override;
    bool isLive() const { return live_; }
    /// The cover shown while not live; none before the first time.
    QWidget* notLiveCover() const { return notLiveCover_; }

    /// Scrolls so that the strip view's cell shows; nothing for a view the shown panel lacks.
    void scrollStripToVisible(const ChannelStripView& view);

    /// Panel 0 (A) or 1 (B); null until the panels are made.
    QWidget* panel(int32_t panel) const { return panels_[panel != 0 ? 1 : 0]; }
    int32_t documentPanel() const { return documentPanel_; }
    LevelDisplay* levelDisplay() const { return levelDisplay_.get(); }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    /// Keeps the not-live cover over the whole area, in front of the panels.
    void placeNotLiveCover();

    QScrollArea& scrollView_;
    std::array<QWidget*, 2> panels_{};
    int32_t documentPanel_ = 0;
    std::unique_ptr<LevelDisplay> levelDisplay_;
    bool live_ = true;
    QWidget* notLiveCover_ = nullptr;
};

}  // namespace quenbril
