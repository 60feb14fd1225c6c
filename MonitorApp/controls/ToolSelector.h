#pragma once

#include <QWidget>
#include <array>

#include "MonitorApp/controls/ControlImage.h"

namespace quenbril {

class UserSettingsManager;

/// The pointer-tool selector: one image in three parts, one per tool (0 selection, 1 selection
/// zoom, 2 zoom). A click in the left third selects tool 0, in the right third tool 2, and
/// anywhere between, both boundaries included, tool 1. The selected tool is the user setting
/// `selectedTool`. While inactive (the interface is locked) it takes no clicks.
/// Main thread only.
class ToolSelector : public QWidget {
  public:
    /// Selects tool 0 and is active.
    explicit ToolSelector(UserSettingsManager& settings, QWidget* parent = nullptr);

    /// Stores `tool` as the selected tool; the image follows only for tools 0 to 2.
    void selectTool(int32_t tool);
    /// The tool whose image is shown, or -1 while none is.
    int shownTool() const { return shownTool_; }
    bool isActive() const { return isActive_; }
    void setIsActive(bool active) { isActive_ = active; }
    /// The tool a click at `x` (from the left edge) selects.
    static int toolAt(float x, float width);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    UserSettingsManager& settings_;
    std::array<ControlImage, 3> images_;
    int shownTool_ = -1;
    bool isActive_ = true;
};

}  // namespace quenbril
