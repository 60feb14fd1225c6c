#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quenbril {

class GridViewDelegate;
class Snapshot;

/// Edits one snapshot: which strips belong to which of the eight groups, the group names, the
/// title and the two data bytes of its MIDI trigger. Unfolded it draws one 15-point cell per
/// strip (columns, in list order) and named group (rows); a dark cell puts the column's strip in
/// the row's group. Folded it is a one-line header: "+", the index button, the title and the
/// MIDI bytes.
///
/// The grid's own coordinates (`mouseDown`, `mouseMoved`) have their origin at the lower left:
/// row r spans y 15r to 15r + 15 and shows group 8 - r, so group 8 is at the bottom. A row
/// exists only for a group the snapshot names. The snapshot and the delegate belong to the
/// editor that made the grid. Main thread only.
class GridView : public QWidget {
  public:
    static constexpr int kCell = 15;
    static constexpr int kFirstColumnX = 50;
    static constexpr int kGroups = 8;
    static constexpr int kHeaderHeight = 20;
    static constexpr int kExpandedWidth = 400;
    static constexpr int kExpandedHeight = 140;
    static constexpr int kMidiB1Tag = 123;
    static constexpr int kMidiB2Tag = 124;
    /// A group name field's tag is this plus its row.
    static constexpr int kGroupNameTag = 1000000;
    /// Group names are cut to this many characters while they are typed.
    static constexpr int kGroupNameLength = 6;

    /// The ids of the strips, one per column, in list order.
    using StripIDs = std::function<std::vector<int64_t>()>;

    /// A folded grid over `snapshot` at `frame`; the columns follow `stripIDs` (the strip list).
    GridView(const QRect& frame, const std::shared_ptr<Snapshot>& snapshot,
             GridViewDelegate* delegate, StripIDs stripIDs, QWidget* parent = nullptr);
    ~GridView() override;

    /// Unfolds: 400 by 140, the cells, the group name fields and the header.
    void expand();
    /// Folds to the header, 20 high.
    void collapse();
    bool collapsed() const { return collapsed_; }

    // ---- Actions ----
    /// Unfolds when the button shows "+", else folds; then tells the delegate.
    void expCol(QAbstractButton* button);
    /// Marks the grid: its border turns 3 wide, or back to 1.
    void indexClicked();
    /// The index button shows the delegate's index of the snapshot.
    void updateIndex();
    /// A click at `point` (grid coordinates) toggles the cell under it, when there is one and
    /// the delegate allows edits: a cell turned dark appends that strip's setting for the
    /// row's group, a cell turned clear removes the first such setting.
    void mouseDown(QPointF point);
    /// The hover label shows the name of the group under `point` (grid coordinates).
    void mouseMoved(QPointF point);
    /// A group name being typed is cut to its first six characters.
    void controlTextDidChange(QLineEdit* field);
    /// Applies a finished edit when the delegate allows edits: the MIDI bytes, a group name (to
    /// its own group; Return moves on to the next name field) or the title (Return tells the
    /// delegate). A refused edit shows the snapshot's value again.
    void controlTextDidEndEditing(QLineEdit* field, bool returnKey);
    /// For a grid of buttons tagged 1000c + k: turns off the other buttons of column c and gives
    /// the setting at position c group 8 - k, or none when the sender is off.
    void clicked(QAbstractButton* sender);
    /// Gives the keyboard focus to the title field, on the main queue.
    void focusToText();

    // ---- Accessors ----
    GridViewDelegate* delegate() const { return delegate_; }
    void setDelegate(GridViewDelegate* delegate) { delegate_ = delegate; }
    std::shared_ptr<Snapshot> snapshotData() const { return snapshot_.lock(); }
    void setSnapshotData(const std::shared_ptr<Snapshot>& snapshot) { snapshot_ = snapshot; }
    /// The number of group names when last unfolded.
    int32_t rows() const { return rows_; }
    int borderWidth() const { return border_; }

    /// Whether the cell of `column` and `row` is dark; none when no such cell is drawn.
    std::optional<bool> cellIsDark(int column, int row) const;
    /// The cell's rectangle in widget coordinates (origin top left).
    QRect cellRect(int column, int row) const;
    /// Widget coordinates of a grid point, and back.
    QPointF toGridPoint(QPointF widgetPoint) const;
    QPointF toWidgetPoint(QPointF gridPoint) const;

    // ---- Outlets ----
    const std::vector<QPointer<QLineEdit>>& groupViews() const { return groupViews_; }
    /// The text field tagged `tag`: a group name field, a MIDI field; null when none.
    QLineEdit* fieldWithTag(int tag) const;
    QLineEdit* titleField() const { return titleField_; }
    QPushButton* indexButton() const { return indexButton_; }
    QPushButton* expandButton() const { return expandButton_; }
    QLabel* helperView() const { return helperView_; }

    static int tagOf(const QObject* object);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    struct Cell {
        int column;
        int row;
        bool dark;
    };

    void removeSubviews();
    void buildHeader(int top);
    QLineEdit* makeField(const QRect& frame, int tag, const QString& text);
    int rightEdge() const;
    std::vector<int64_t> stripIDs() const;
    Cell* cellAt(int column, int row);
    void revert(QLineEdit* field) const;
    void focusLater(QLineEdit* field);

    std::weak_ptr<Snapshot> snapshot_;
    GridViewDelegate* delegate_ = nullptr;
    StripIDs stripIDs_;
    bool collapsed_ = true;
    int32_t rows_ = 0;
    int border_ = 1;
    std::vector<Cell> cells_;
    std::vector<QPointer<QLineEdit>> groupViews_;
    QPointer<QLineEdit> titleField_;
    QPointer<QLineEdit> midiB1Field_;
    QPointer<QLineEdit> midiB2Field_;
    QPointer<QPushButton> indexButton_;
    QPointer<QPushButton> expandButton_;
    QPointer<QLabel> helperView_;
    /// The field whose Return key ended the editing that is finishing now.
    QLineEdit* returnPressed_ = nullptr;
};

}  // namespace quenbril
