#include "MonitorApp/panels/ui/GridView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "MonitorApp/channelstrips/Snapshot.h"
#include "MonitorApp/controls/TextLengthLimit.h"
#include "MonitorApp/panels/ui/GridViewDelegate.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace {

constexpr const char* kTagProperty = "tag";
constexpr const char* kNoGroupName = "None";

/// The whole number a text starts with, as a number field reads it: leading blanks and a sign
/// allowed, anything after the digits ignored, 0 when there are none.
int32_t leadingInteger(const QString& text) {
    const std::string s = text.toStdString();
    const long value = std::strtol(s.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

GridView::GridView(const QRect& frame, const std::shared_ptr<Snapshot>& snapshot,
                   GridViewDelegate* delegate, StripIDs stripIDs, QWidget* parent)
    : QWidget(parent), snapshot_(snapshot), delegate_(delegate), stripIDs_(std::move(stripIDs)) {
    setGeometry(frame);
    collapse();
}

GridView::~GridView() = default;

// ---- Folding ----

void GridView::expand() {
    setMouseTracking(true);
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    const std::vector<std::string> names =
        snapshot ? snapshot->groupNames() : std::vector<std::string>{};
    rows_ = static_cast<int32_t>(names.size());
    setGeometry(x(), y(), kExpandedWidth, kExpandedHeight);
    removeSubviews();

    expandButton_ = new QPushButton("-", this);
    expandButton_->setGeometry(0, 0, 50, kHeaderHeight);
    expandButton_->show();
    QPushButton* button = expandButton_;
    connect(expandButton_, &QPushButton::clicked, this, [this, button] { expCol(button); });

    // One field per group the snapshot names, on that group's row; "None" names no group.
    groupViews_.clear();
    const int named = std::min<int>(static_cast<int>(names.size()) - 1, kGroups);
    for (int group = 1; group <= named; ++group) {
        const std::string& name = names[static_cast<size_t>(group)];
        if (name == kNoGroupName) continue;
        const int row = kGroups - group;
        QLineEdit* field = makeField(QRect(0, height() - kCell * row - kCell, 50, kCell),
                                     kGroupNameTag + row, QString::fromStdString(name));
        QFont font = field->font();
        font.setPointSizeF(10);
        field->setFont(font);
        field->setToolTip("Set group name");
        groupViews_.emplace_back(field);
    }

    // The cells: one per strip and named group, dark where a setting puts the strip in it.
    const std::vector<int64_t> ids = stripIDs();
    std::vector<std::pair<int, int>> assigned;
    if (snapshot) {
        for (const ChannelSettings& setting : snapshot->channelSettings()) {
            auto column = std::find(ids.begin(), ids.end(), setting.csID());
            if (column == ids.end()) continue;
            assigned.emplace_back(static_cast<int>(column - ids.begin()), setting.groupIndex());
        }
    }
    cells_.clear();
    for (int column = 0; column < static_cast<int>(ids.size()); ++column) {
        for (int group = 1; group <= named; ++group) {
            const bool dark = std::find(assigned.begin(), assigned.end(),
                                        std::pair(column, group)) != assigned.end();
            cells_.push_back(Cell{column, kGroups - group, dark});
        }
    }

    buildHeader(0);
    collapsed_ = false;
    helperView_ = new QLabel(this);
    helperView_->setTextFormat(Qt::PlainText);
    helperView_->setGeometry(0, height() - kHeaderHeight, 100, kHeaderHeight);
    helperView_->hide();
    update();
}

void GridView::collapse() {
    cells_.clear();
    setGeometry(x(), y(), width(), kHeaderHeight);
    removeSubviews();
    expandButton_ = new QPushButton("+", this);
    expandButton_->setGeometry(0, 0, 50, kHeaderHeight);
    expandButton_->show();
    QPushButton* button = expandButton_;
    connect(expandButton_, &QPushButton::clicked, this, [this, button] { expCol(button); });
    buildHeader(0);
    collapsed_ = true;
    update();
}

void GridView::removeSubviews() {
    returnPressed_ = nullptr;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        // A field that loses its focus by going must not finish an edit into the snapshot.
        child->disconnect(this);
        disconnect(child, nullptr, this, nullptr);
        child->hide();
        child->setParent(nullptr);
        // The sender of the click that folds the grid is still inside its handler.
        child->deleteLater();
    }
}

void GridView::buildHeader(int top) {
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    const int right = rightEdge();
    indexButton_ = new QPushButton(this);
    indexButton_->setGeometry(50, top, 40, kHeaderHeight);
    indexButton_->show();
    connect(indexButton_, &QPushButton::clicked, this, [this] { indexClicked(); });
    updateIndex();

    // With fewer than three strips the title would have no room left of the MIDI fields.
    const int titleWidth = std::max(right - 90, 60);
    titleField_ = makeField(QRect(90, top, titleWidth, kHeaderHeight), 0,
                            snapshot ? QString::fromStdString(snapshot->title()) : QString());
    QPalette palette = titleField_->palette();
    palette.setColor(QPalette::Base, Qt::yellow);
    palette.setColor(QPalette::Text, Qt::black);
    titleField_->setPalette(palette);
    const int midiX = 90 + titleWidth;
    midiB1Field_ = makeField(QRect(midiX, top, 25, kHeaderHeight), kMidiB1Tag,
                             QString::number(snapshot ? snapshot->midiB1() : 0));
    midiB2Field_ = makeField(QRect(midiX + 25, top, 25, kHeaderHeight), kMidiB2Tag,
                             QString::number(snapshot ? snapshot->midiB2() : 0));
}

QLineEdit* GridView::makeField(const QRect& frame, int tag, const QString& text) {
    auto* field = new QLineEdit(this);
    field->setGeometry(frame);
    field->setProperty(kTagProperty, tag);
    field->setText(text);
    field->setFrame(true);
    field->show();
    connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
    connect(field, &QLineEdit::returnPressed, this, [this, field] { returnPressed_ = field; });
    connect(field, &QLineEdit::editingFinished, this, [this, field] {
        // Return emits returnPressed first, then editingFinished.
        const bool returnKey = returnPressed_ == field;
        returnPressed_ = nullptr;
        controlTextDidEndEditing(field, returnKey);
    });
    return field;
}

int GridView::rightEdge() const {
    return kFirstColumnX + kCell * static_cast<int>(stripIDs().size());
}

std::vector<int64_t> GridView::stripIDs() const {
    if (!stripIDs_) return {};
    return stripIDs_();
}

// ---- Actions ----

void GridView::expCol(QAbstractButton* button) {
    if (button && button->text() == "+") {
        expand();
    } else {
        collapse();
    }
    if (delegate_) delegate_->updated(*this);
}

void GridView::indexClicked() {
    border_ = border_ == 1 ? 3 : 1;
    update();
}

void GridView::updateIndex() {
    if (!indexButton_) return;
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    const int32_t index = delegate_ && snapshot ? delegate_->indexOf(*snapshot) : 0;
    indexButton_->setText(QString::number(index));
}

void GridView::mouseDown(QPointF point) {
    if (!delegate_ || !delegate_->editOn()) return;
    // Only a drawn cell is hit: left of the first column, or above or below the rows, there is
    // none, even where the column arithmetic would still give column 0.
    if (point.x() < kFirstColumnX || point.y() < 0) return;
    const int column = static_cast<int>((point.x() - kFirstColumnX) / kCell);
    const int row = static_cast<int>(point.y() / kCell);
    Cell* cell = cellAt(column, row);
    if (!cell) return;
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    const std::vector<int64_t> ids = stripIDs();
    if (!snapshot || column >= static_cast<int>(ids.size())) return;
    const int64_t csID = ids[static_cast<size_t>(column)];
    const int32_t group = kGroups - row;
    cell->dark = !cell->dark;
    auto& settings = snapshot->channelSettings();
    if (cell->dark) {
        ChannelSettings added;
        added.setCsID(csID);
        added.setGroupIndex(group);
        settings.push_back(added);
    } else {
        auto found = std::find_if(settings.begin(), settings.end(), [&](const ChannelSettings& s) {
            return s.csID() == csID && s.groupIndex() == group;
        });
        if (found != settings.end()) settings.erase(found);
    }
    update(cellRect(column, row));
}

void GridView::mouseMoved(QPointF point) {
    if (!helperView_ || collapsed_) return;
    const int row = static_cast<int>(std::floor(point.y() / kCell));
    if (row < 0 || row >= kGroups || point.x() < kFirstColumnX) {
        helperView_->hide();
        return;
    }
    const QPointF origin = toWidgetPoint(QPointF(point.x() + 10, point.y() - 10));
    helperView_->move(static_cast<int>(origin.x()),
                      static_cast<int>(origin.y()) - helperView_->height());
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    const int group = kGroups - row;
    if (snapshot && group < static_cast<int>(snapshot->groupNames().size())) {
        const QString name =
            QString::fromStdString(snapshot->groupNames()[static_cast<size_t>(group)]);
        if (helperView_->text() != name) helperView_->setText(name);
    }
    helperView_->show();
    helperView_->raise();
}

void GridView::controlTextDidChange(QLineEdit* field) {
    if (!field || tagOf(field) < kGroupNameTag) return;
    const QString cut = limitToCodePoints(field->text(), kGroupNameLength);
    if (cut != field->text()) field->setText(cut);
}

void GridView::controlTextDidEndEditing(QLineEdit* field, bool returnKey) {
    if (!field) return;
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    if (!snapshot || !delegate_ || !delegate_->editOn()) {
        revert(field);
        return;
    }
    const int tag = tagOf(field);
    if (tag == kMidiB1Tag) {
        snapshot->setMidiB1(leadingInteger(field->text()));
    } else if (tag == kMidiB2Tag) {
        snapshot->setMidiB2(leadingInteger(field->text()));
    } else if (tag >= kGroupNameTag) {
        // The field's own row names its group; its place among the fields does not, since
        // groups named "None" have none.
        const int group = kGroups - (tag - kGroupNameTag);
        auto& names = snapshot->groupNames();
        if (group >= 1 && group < static_cast<int>(names.size())) {
            names[static_cast<size_t>(group)] = field->text().toStdString();
        }
        if (returnKey) {
            auto at = std::find(groupViews_.begin(), groupViews_.end(), field);
            if (at != groupViews_.end() && at + 1 != groupViews_.end()) focusLater(*(at + 1));
        }
    } else if (field == titleField_) {
        snapshot->setTitle(field->text().toStdString());
        if (returnKey && delegate_) delegate_->nameEdited(*this);
    }
}

void GridView::revert(QLineEdit* field) const {
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    if (!snapshot) return;
    const int tag = tagOf(field);
    if (tag == kMidiB1Tag) {
        field->setText(QString::number(snapshot->midiB1()));
    } else if (tag == kMidiB2Tag) {
        field->setText(QString::number(snapshot->midiB2()));
    } else if (tag >= kGroupNameTag) {
        const int group = kGroups - (tag - kGroupNameTag);
        if (group >= 1 && group < static_cast<int>(snapshot->groupNames().size())) {
            field->setText(
                QString::fromStdString(snapshot->groupNames()[static_cast<size_t>(group)]));
        }
    } else if (field == titleField_) {
        field->setText(QString::fromStdString(snapshot->title()));
    }
}

void GridView::clicked(QAbstractButton* sender) {
    if (!sender) return;
    const int tag = tagOf(sender);
    const int column = tag / 1000;
    const int k = tag % 1000;
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        const int other = tagOf(button);
        if (button != sender && other >= 0 && other / 1000 == column && other % 1000 != k) {
            button->setChecked(false);
        }
    }
    const std::shared_ptr<Snapshot> snapshot = snapshot_.lock();
    if (!snapshot) return;
    auto& settings = snapshot->channelSettings();
    // A column past the settings has no setting to change.
    if (column < 0 || column >= static_cast<int>(settings.size())) return;
    settings[static_cast<size_t>(column)].setGroupIndex(sender->isChecked() ? kGroups - k : 0);
}

void GridView::focusToText() { focusLater(titleField_); }

void GridView::focusLater(QLineEdit* field) {
    QPointer<QLineEdit> target(field);
    RunLoop::main().post([target] {
        if (target) target->setFocus(Qt::OtherFocusReason);
    });
}

// ---- Geometry and look ----

std::optional<bool> GridView::cellIsDark(int column, int row) const {
    for (const Cell& cell : cells_) {
        if (cell.column == column && cell.row == row) return cell.dark;
    }
    return std::nullopt;
}

GridView::Cell* GridView::cellAt(int column, int row) {
    for (Cell& cell : cells_) {
        if (cell.column == column && cell.row == row) return &cell;
    }
    return nullptr;
}

QRect GridView::cellRect(int column, int row) const {
    return QRect(kFirstColumnX + kCell * column, height() - kCell * row - kCell, kCell, kCell);
}

QPointF GridView::toGridPoint(QPointF widgetPoint) const {
    return QPointF(widgetPoint.x(), height() - widgetPoint.y());
}

QPointF GridView::toWidgetPoint(QPointF gridPoint) const {
    return QPointF(gridPoint.x(), height() - gridPoint.y());
}

QLineEdit* GridView::fieldWithTag(int tag) const {
    for (QLineEdit* field : findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
        if (tagOf(field) == tag && field != titleField_) return field;
    }
    return nullptr;
}

int GridView::tagOf(const QObject* object) {
    const QVariant tag = object ? object->property(kTagProperty) : QVariant();
    return tag.isValid() ? tag.toInt() : -1;
}

void GridView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QColor darkGrey = QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
    painter.setPen(QPen(Qt::black, 1));
    for (const Cell& cell : cells_) {
        const QRect r = cellRect(cell.column, cell.row);
        if (cell.dark) painter.fillRect(r, darkGrey);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
    }
    // The view's border, drawn inside its bounds.
    QPen border(Qt::black, border_);
    border.setJoinStyle(Qt::MiterJoin);
    painter.setPen(border);
    const qreal half = border_ / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

void GridView::mousePressEvent(QMouseEvent* event) {
    mouseDown(toGridPoint(event->position()));
    event->accept();
}

void GridView::mouseMoveEvent(QMouseEvent* event) {
    mouseMoved(toGridPoint(event->position()));
    QWidget::mouseMoveEvent(event);
}

}  // namespace quenbril
