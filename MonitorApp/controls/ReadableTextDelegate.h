#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace quenbril {

/// Draws a view's cells as the standard delegate does, with each cell's text colour made to
/// read on the background the view lies on (contrast 4.5:1 at least); the colours the model
/// gives keep their hue.
class ReadableTextDelegate : public QStyledItemDelegate {
  public:
    ReadableTextDelegate(const QColor& background, QObject* parent);

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    QColor background_;
};

}  // namespace quenbril
