#include "MonitorApp/chat/ui/RecipientPopUp.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

#include "MonitorApp/chat/ui/RecipientName.h"

namespace quenbril {

namespace {

/// The opened list's rows: each asks for its name's width, but never more than the list has,
/// so that a name wider than the list (at most the screen's width) is elided in its middle where
/// the list would otherwise cut its end.
class ListRowDelegate : public QStyledItemDelegate {
  public:
    explicit ListRowDelegate(QAbstractItemView* list) : QStyledItemDelegate(list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize hint = QStyledItemDelegate::sizeHint(option, index);
        hint.setWidth(std::min(hint.width(), list_->viewport()->width()));
        return hint;
    }

  private:
    QAbstractItemView* list_;
};

}  // namespace

RecipientPopUp::RecipientPopUp(QWidget* parent) : QComboBox(parent) {
    // Measured again whenever users come or go: measured once, when the pop-up was first shown
    // (before any user was listed), it cut every longer name to its first characters.
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // Rows measured and drawn with the same margins, unlike the style's menu items.
    setItemDelegate(new ListRowDelegate(view()));
    view()->setTextElideMode(Qt::ElideMiddle);
}

QSize RecipientPopUp::sizeHint() const {
    QSize hint = QComboBox::sizeHint();
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QSize widest(RecipientName::widest(fontMetrics()), hint.height());
    hint.setWidth(
        std::min(hint.width(),
                 style()->sizeFromContents(QStyle::CT_ComboBox, &option, widest, this).width()));
    return hint;
}

QSize RecipientPopUp::minimumSizeHint() const { return sizeHint(); }

QString RecipientPopUp::shownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // The style draws the label a pixel in from each side of its field.
    return RecipientName::fitted(currentText(), fontMetrics(), field.width() - 2);
}

bool RecipientPopUp::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        if (shownText() != currentText()) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), currentText(), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QComboBox::event(event);
}

void RecipientPopUp::paintEvent(QPaintEvent*) {
    // As QComboBox draws itself, with the label fitted to its field.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace quenbril
