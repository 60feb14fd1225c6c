#include "MonitorApp/controls/ReadableTextDelegate.h"

#include "MonitorApp/controls/TextContrast.h"

namespace quenbril {

ReadableTextDelegate::ReadableTextDelegate(const QColor& background, QObject* parent)
    : QStyledItemDelegate(parent), background_(background) {}

void ReadableTextDelegate::initStyleOption(QStyleOptionViewItem* option,
                                           const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (QPalette::ColorRole role : {QPalette::Text, QPalette::HighlightedText}) {
            option->palette.setColor(group, role,
                                     readableOn(option->palette.color(group, role), background_));
        }
    }
}

}  // namespace quenbril
