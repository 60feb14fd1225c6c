#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

class QHBoxLayout;
class QLayout;
class QPushButton;
class QTableView;
class QWidget;

namespace quenbril {

/// What the list windows (the player list, the receiver list, the strip editor, the mic check)
/// share: a table of whole rows, several of which may be selected; a bar of buttons, those that
/// act on the rows at the left and those that file or close the list at the right; and the
/// selected rows.
class ListWindow {
  public:
    /// A button of the bar: made into `*slot`, titled `title`, running `clicked`.
    struct Button {
        QPushButton** slot;
        const char* title;
        std::function<void()> clicked;
    };

    /// Rows are selected whole, several at a time; no row numbers; the last column takes the
    /// spare width. A read-only table edits nothing and draws no grid.
    static void setUpTable(QTableView* table, bool readOnly);
    /// The bar of `owner`'s buttons: `leading`, a stretch, then `trailing`.
    static QHBoxLayout* buttonBar(QWidget* owner, std::initializer_list<Button> leading,
                                  std::initializer_list<Button> trailing);
    /// Lays `owner` out: `top` (may be null), the table with all spare height, the button bar.
    /// `spacing` below 0: the style's.
    static void layOut(QWidget* owner, int margin, int spacing, QLayout* top, QWidget* table,
                       QLayout* buttons);
    /// The selected rows, in ascending order.
    static std::vector<int> selectedRows(const QTableView* table);
};

}  // namespace quenbril
