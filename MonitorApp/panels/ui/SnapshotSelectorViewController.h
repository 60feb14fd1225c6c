#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

class QCheckBox;
class QListWidget;

namespace quenbril {

class SnapshotManager;

/// The snapshot selector: a small window that lists the server's snapshots, numbered from 1
/// ("1: Act 1"), and highlights the active one. It is a display: a click never moves the
/// highlight and nothing is sent to the server; only the snapshot manager's selection does.
/// It follows "SnapshotsUpdated" while it is shown. Main thread only.
class SnapshotSelectorViewController : public LockableViewController,
                                       public virtual SegueDestination {
  public:
    static constexpr const char* kSnapshotsUpdatedNotification = "SnapshotsUpdated";
    static constexpr const char* kOnTopKey = "snapshotsOnTop";
    static constexpr const char* kFrameName = "snapSelectorWindowAutoSave";

    /// Lists the names `snapshots` holds.
    SnapshotSelectorViewController(const PanelServices& services, SnapshotManager& snapshots,
                                   QWidget* parent = nullptr);
    ~SnapshotSelectorViewController() override;

    /// The window `shown` names when it is on screen, else a new one, which `shown` then names:
    /// one selector at a time.
    static std::shared_ptr<SnapshotSelectorViewController> shownOrNew(
        std::weak_ptr<SnapshotSelectorViewController>& shown, const PanelServices& services,
        SnapshotManager& snapshots);

    // ---- Life cycle ----
    void viewDidLoad() override;
    /// Restores the saved frame and the window level.
    void viewWillAppear() override;
    /// Follows "SnapshotsUpdated", reloads and highlights the active snapshot.
    void viewDidAppear() override;
    /// Saves the frame and stops following the snapshots and the lock.
    void viewDidDisappear() override;
    /// Shows the window (loading its view the first time); a window already shown is brought
    /// forward instead.
    void show() override;

    // ---- The list ----
    int numberOfRowsInTableView() const;
    /// "%ld: %@": the row counted from 1 and the snapshot's title (empty when the entry has
    /// none).
    std::string rowText(int row) const;
    /// Reloads the rows; the highlight stays on its row while that row exists.
    void reloadData();
    /// Observer of "SnapshotsUpdated".
    void updateSnapshots();
    /// Highlights exactly row `position` when it is a row; otherwise nothing changes.
    void selectSnapshot(int32_t position);
    /// The highlighted row; -1 for none.
    int selectedRow() const;

    // ---- Window level ----
    /// Stores the check button's state under "snapshotsOnTop" and applies it.
    void onTopChanged();
    /// On top, and the check button on, exactly when "snapshotsOnTop" is stored and true.
    void updateWindowLevel();

    // ---- Outlets ----
    QListWidget* tableView() const { return tableView_; }
    QCheckBox* onTop() const { return onTop_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    void highlight(int row);

    SnapshotManager& snapshots_;
    QListWidget* tableView_ = nullptr;
    QCheckBox* onTop_ = nullptr;
    bool viewLoaded_ = false;
    bool appeared_ = false;
    NotificationObserver snapshotsUpdated_;
};

}  // namespace quenbril
