#pragma once

#include <QWidget>
#include <array>

#include "MonitorApp/channelstrips/PanelRenderer.h"
#include "MonitorApp/channelstrips/ui/LevelDisplay.h"

namespace quenbril {

/// A level display that draws nothing, the stand-in until the drawn one exists (and the one
/// to use where no OpenGL context can be made). It is its own renderer and keeps what the
/// strip manager tells it.
class PlaceholderLevelDisplay : public QWidget, public LevelDisplay, public PanelRenderer {
  public:
    PlaceholderLevelDisplay();

    QWidget& view() override { return *this; }
    PanelRenderer& renderer() override { return *this; }
    void start(int framesPerSecond) override { framesPerSecond_ = framesPerSecond; }

    void setPanelIndex(int32_t panelIndex) override { panelIndex_ = panelIndex; }
    std::array<int32_t, kMaxStrips>& panelMap() override { return panelMap_; }
    void setLevelCount(int32_t count) override { levelCount_ = count; }
    void drawableSizeWillChange(const Size& size) override { drawableSize_ = size; }

    int framesPerSecond() const { return framesPerSecond_; }
    int32_t panelIndex() const { return panelIndex_; }
    int32_t levelCount() const { return levelCount_; }
    Size drawableSize() const { return drawableSize_; }

  private:
    std::array<int32_t, kMaxStrips> panelMap_{};
    int framesPerSecond_ = 0;
    int32_t panelIndex_ = 0;
    int32_t levelCount_ = 0;
    Size drawableSize_;
};

}  // namespace quenbril
