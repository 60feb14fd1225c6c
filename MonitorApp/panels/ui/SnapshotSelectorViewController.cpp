#include "MonitorApp/panels/ui/SnapshotSelectorViewController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

SnapshotSelectorViewController::SnapshotSelectorViewController(const PanelServices& services,
                                                               SnapshotManager& snapshots,
                                                               QWidget* parent)
    : LockableViewController(services.center, services.settings, parent),
      services_(services),
      snapshots_(snapshots) {
    setWindowTitle("Snapshots");
    buildView();
}

SnapshotSelectorViewController::~SnapshotSelectorViewController() = default;

std::shared_ptr<SnapshotSelectorViewController> SnapshotSelectorViewController::shownOrNew(
    std::weak_ptr<SnapshotSelectorViewController>& shown, const PanelServices& services,
    SnapshotManager& snapshots) {
    if (auto open = shown.lock(); open && open->isVisible()) return open;
    auto made = std::make_shared<SnapshotSelectorViewController>(services, snapshots);
    shown = made;
    return made;
}

void SnapshotSelectorViewController::buildView() {
    tableView_ = new QListWidget(this);
    // The user cannot move the highlight: clicks and keys change no selection, and only
    // selectSnapshot sets it.
    tableView_->setSelectionMode(QAbstractItemView::NoSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->setFocusPolicy(Qt::NoFocus);
    onTop_ = new QCheckBox("On top", this);
    connect(onTop_, &QCheckBox::toggled, this, [this] { onTopChanged(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    layout->addWidget(tableView_, 1);
    layout->addWidget(onTop_);
    resize(240, 300);
}

// ---- Life cycle ----

void SnapshotSelectorViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    viewLoaded_ = true;
}

void SnapshotSelectorViewController::viewWillAppear() {
    // The level first: a change of the window's flags may place it anew.
    updateWindowLevel();
    WindowFrameAutosave::restore(*this, kFrameName);
}

void SnapshotSelectorViewController::viewDidAppear() {
    appeared_ = true;
    snapshotsUpdated_ = services_.center.addObserver(
        kSnapshotsUpdatedNotification, [this](const Notification&) { updateSnapshots(); });
    // The list may have changed while the window was away.
    reloadData();
    selectSnapshot(snapshots_.selectedSnapshot());
}

void SnapshotSelectorViewController::viewDidDisappear() {
    if (appeared_) {
        WindowFrameAutosave::save(*this, kFrameName);
        appeared_ = false;
    }
    snapshotsUpdated_.reset();
    LockableViewController::viewDidDisappear();
}

void SnapshotSelectorViewController::show() { presentWindow(); }

void SnapshotSelectorViewController::closeEvent(QCloseEvent* event) {
    event->accept();
    viewDidDisappear();
}

// ---- The list ----

int SnapshotSelectorViewController::numberOfRowsInTableView() const {
    return static_cast<int>(snapshots_.snapshotNames().size());
}

std::string SnapshotSelectorViewController::rowText(int row) const {
    std::string title;
    const Array& names = snapshots_.snapshotNames();
    if (row >= 0 && static_cast<size_t>(row) < names.size()) {
        const Array* entry = names[static_cast<size_t>(row)].arrayValue();
        if (entry && !entry->empty()) {
            if (const std::string* text = entry->front().stringValue()) title = *text;
        }
    }
    return std::to_string(row + 1) + ": " + title;
}

void SnapshotSelectorViewController::reloadData() {
    const int kept = selectedRow();
    tableView_->clear();
    const int rows = numberOfRowsInTableView();
    for (int row = 0; row < rows; ++row) {
        // Titles come from other users: plain text.
        tableView_->addItem(QString::fromStdString(rowText(row)));
    }
    if (kept >= 0 && kept < rows) highlight(kept);
}

void SnapshotSelectorViewController::updateSnapshots() {
    reloadData();
    selectSnapshot(snapshots_.selectedSnapshot());
}

void SnapshotSelectorViewController::selectSnapshot(int32_t position) {
    // A position outside the list (the manager gives the row count when no entry matched)
    // leaves the highlight where it was.
    if (position < 0 || position >= numberOfRowsInTableView()) return;
    highlight(position);
}

void SnapshotSelectorViewController::highlight(int row) {
    QItemSelectionModel* selection = tableView_->selectionModel();
    const QModelIndex index = tableView_->model()->index(row, 0);
    selection->select(index, QItemSelectionModel::ClearAndSelect);
    tableView_->scrollTo(index);
}

int SnapshotSelectorViewController::selectedRow() const {
    const QModelIndexList rows = tableView_->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.front().row();
}

// ---- Window level ----

void SnapshotSelectorViewController::onTopChanged() {
    UserDefaults& defaults = services_.defaults;
    defaults.setBool(onTop_->isChecked(), kOnTopKey);
    if (!defaults.synchronize()) {
        log(LogLevel::Warning, "The snapshot window's level could not be stored");
    }
    updateWindowLevel();
}

void SnapshotSelectorViewController::updateWindowLevel() {
    const Value stored = services_.defaults.objectForKey(kOnTopKey);
    const bool onTop = stored.boolValue().value_or(false);
    {
        const QSignalBlocker quiet(onTop_);
        onTop_->setChecked(onTop);
    }
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    // Changing a window's flags takes it off screen.
    if (shown) QWidget::show();
}

}  // namespace quenbril
