#include "MonitorApp/chat/ui/single_window/ChatRecipientControl.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>
#include <algorithm>

#include "MonitorApp/chat/ui/RecipientName.h"

namespace quenbril {

ChatRecipientControl::ChatRecipientControl(QWidget* parent)
    : QWidget(parent), layout_(new QHBoxLayout(this)), group_(new QButtonGroup(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    group_->setExclusive(true);
}

void ChatRecipientControl::setLabels(const std::vector<std::string>& labels) {
    const std::optional<std::string> selected = selectedLabel();
    for (QAbstractButton* button : group_->buttons()) {
        group_->removeButton(button);
        delete button;
    }
    for (size_t i = 0; i < labels.size(); ++i) {
        auto* segment = new QToolButton(this);
        const QString label = QString::fromStdString(labels[i]);
        const QString shown = RecipientName::shown(label, segment->fontMetrics());
        // A user's name shows as it is: an ampersand is no keyboard shortcut.
        segment->setText(QString(shown).replace('&', QStringLiteral("&&")));
        if (shown != label) segment->setToolTip(label);
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group_->addButton(segment, static_cast<int>(i));
        layout_->addWidget(segment, 1);
    }
    labels_ = labels;
    // By its label: the same position may now name another user.
    const auto kept =
        selected ? std::find(labels_.begin(), labels_.end(), *selected) : labels_.end();
    setSelectedSegment(kept != labels_.end() ? static_cast<int>(kept - labels_.begin()) : 0);
}

int ChatRecipientControl::segmentCount() const {
    return static_cast<int>(group_->buttons().size());
}

int ChatRecipientControl::selectedSegment() const { return group_->checkedId(); }

void ChatRecipientControl::setSelectedSegment(int segment) {
    if (QAbstractButton* button = group_->button(segment)) button->setChecked(true);
}

std::optional<std::string> ChatRecipientControl::selectedLabel() const {
    const int selected = selectedSegment();
    if (selected < 0 || selected >= static_cast<int>(labels_.size())) return std::nullopt;
    return labels_[static_cast<size_t>(selected)];
}

}  // namespace quenbril
