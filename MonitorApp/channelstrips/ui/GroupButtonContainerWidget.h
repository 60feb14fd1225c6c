#pragma once

#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "MonitorApp/channelstrips/GroupButtonView.h"

namespace quenbril {

/// The header's group view: the row the eight group buttons lie in. The buttons are its
/// children, laid out across its whole width whenever it changes size: the header's labels
/// beside it (the red mode label among them) take room from the row, never from a button.
class GroupButtonContainerWidget : public QWidget, public GroupButtonContainer {
  public:
    /// Makes a group button as a child of `parent` (state 0) and answers it; the button is a
    /// widget, owned by its parent. Without a factory the row stays empty.
    using ButtonFactory = std::function<GroupButtonView*(QWidget& parent, const std::string& text,
                                                         const std::optional<Color>& color,
                                                         const Rect& frame, int32_t groupNumber)>;
    static void setButtonFactory(ButtonFactory factory);
    static bool hasButtonFactory();

    explicit GroupButtonContainerWidget(QWidget* parent = nullptr);

    Size size() const override;
    GroupButtonView* makeGroupButton(const std::string& text, const std::optional<Color>& color,
                                     const Rect& frame, int32_t groupNumber) override;

    QSize sizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    /// The buttons made, each with its slot in the row (its group number less one).
    std::vector<std::pair<int, GroupButtonView*>> buttons_;
};

}  // namespace quenbril
