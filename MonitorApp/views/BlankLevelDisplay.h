#pragma once

#include <QWidget>

#include "MonitorApp/channelstrips/ui/LevelDisplay.h"
#include "MonitorApp/views/LevelDisplayInput.h"
#include "MonitorApp/views/PanelLevelMap.h"

namespace quenbril {

/// The panel display where nothing can be drawn (no OpenGL): a widget that paints nothing, so
/// the strips show through, and takes the display's keys; its renderer keeps what the strip
/// manager tells it.
class BlankLevelDisplay : public QWidget, public LevelDisplay {
  public:
    explicit BlankLevelDisplay(const LevelDisplayServices& services);

    QWidget& view() override { return *this; }
    PanelRenderer& renderer() override { return map_; }
    void start(int framesPerSecond) override { framesPerSecond_ = framesPerSecond; }

    const PanelLevelMap& levelMap() const { return map_; }
    int framesPerSecond() const { return framesPerSecond_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    LevelDisplayInput input_;
    PanelLevelMap map_;
    int framesPerSecond_ = 0;
};

}  // namespace quenbril
