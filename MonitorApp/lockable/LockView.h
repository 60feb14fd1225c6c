#pragma once

#include <QWidget>

#include "foundation/RunLoopAnimation.h"

namespace quenbril {

/// The lock's cover: a dark, nearly opaque pane over its parent. Covering takes the parent's
/// input at once (the parent is disabled, so neither clicks nor keys reach anything inside it,
/// however they are sent) while the dark pane grows up from the bottom over 2.0 s; uncovering
/// removes the pane at once and gives the input back. While covering it follows the parent's
/// size. Main thread only; the growth runs on the main run loop's clock.
class LockView : public QWidget {
    Q_OBJECT

  public:
    /// Seconds the pane takes to grow over the parent.
    static constexpr double kAnimationDuration = 2.0;

    explicit LockView(QWidget* parent = nullptr);
    ~LockView() override;

    /// Covers the parent, in front of all its other children. Covering again keeps the one
    /// cover (in front) and lets a growth that runs go on.
    void cover();
    /// Removes the cover; the pane's size drops to nothing. Uncovering a parent that is not
    /// covered changes nothing else.
    void uncover();
    bool isCovering() const { return covering_; }
    /// The share of the parent's height the pane has grown to (0 to 1).
    double shownFraction() const { return shownFraction_; }
    /// The pane's colour (the theme's darker grey, nearly opaque).
    static QColor paneColor();

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setShownFraction(double fraction);

    bool covering_ = false;
    double shownFraction_ = 0;
    // The parent was enabled before the cover took its input.
    bool parentWasEnabled_ = true;
    RunLoopAnimation growth_;
};

}  // namespace quenbril
