#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/controls/ListFilePanel.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/PlayerFile.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

class QObject;
class QPushButton;
class QTableView;

namespace quenbril {

class PlayerListTableModel;

/// The player list window: the cast of the player manager, one row per player by display
/// name. The operator adds, edits and removes players (several rows at once), appends the
/// players of a player file (".pla") and saves the list to one. Adding and editing open the
/// player editor through the segue "showPlayer".
///
/// The list is stored under "players" whenever the window closes, however it is closed, and
/// at quit, so that no edit is lost. Main thread only.
class PlayerListViewController : public LockableViewController, public virtual SegueDestination {
  public:
    static constexpr const char* kShowPlayerSegue = "showPlayer";
    /// Posted by the editor with the saved player; the list reloads.
    static constexpr const char* kPlayerUpdatedNotification = "playerUpdated";

    /// Opens the player editor for the player at `playerIndex` (-1: a new player) and answers
    /// its window, which the list keeps until `closed` is called. The editor calls `closed`
    /// once, when its window has closed; the list then reloads. Null: no editor is available.
    using EditorMaker = std::function<std::shared_ptr<SegueDestination>(
        int32_t playerIndex, std::function<void()> closed)>;

    /// The list shown is the shared player manager's.
    explicit PlayerListViewController(const PanelServices& services, QWidget* parent = nullptr);
    ~PlayerListViewController() override;

    // ---- Life cycle ----
    void viewDidLoad() override;
    /// Reloads the table and follows "playerUpdated" from now on.
    void viewDidAppear() override;
    /// Stops following every notification, the lock's included.
    void viewDidDisappear() override;
    /// Shows the window (loading its view the first time) and runs viewDidAppear; a window
    /// already shown is brought forward instead.
    void show() override;
    /// The application is quitting: the list is stored when this window was used in this run.
    void applicationWillTerminate();

    // ---- The table ----
    int numberOfRowsInTableView() const;
    void reloadData();
    /// The selected row the operator acted on last; -1 when none is selected.
    int32_t selectedRow() const;

    // ---- Actions ----
    void addClicked();
    void editClicked();
    void removeClicked();
    void loadClicked();
    void saveAsClicked();
    /// Closes the window, which stores the list.
    void closeClicked();

    // ---- Segues ----
    /// Opens the destination of `identifier` ("showPlayer" is the only one); `sender` is the
    /// control that asked, or null.
    void performSegue(const std::string& identifier, const QObject* sender);
    /// The player index the editor opens with: -1 (a new player) when the sender is the add
    /// button, else the selected row.
    int32_t prepareForSegue(const std::string& identifier, const QObject* sender) const;

    /// Stores the list under "players" and writes the defaults; an alert says so when that
    /// failed. False then.
    bool storePlayers();

    // ---- Seams ----
    void setAlertPresenter(AlertPresenter* presenter) { alerts_ = presenter; }
    void setFilePanel(FilePanel* panel) { files_.setFilePanel(panel); }
    void setEditorMaker(EditorMaker maker) { editorMaker_ = std::move(maker); }

    // ---- Outlets ----
    QTableView* tableView() const { return tableView_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* editButton() const { return editButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* loadButton() const { return loadButton_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* closeButton() const { return closeButton_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    void alert(const std::string& messageText, const std::string& informativeText = {});
    void editorClosed(const std::shared_ptr<const SegueDestination*>& editor);

    PlayerListTableModel* model_ = nullptr;
    QTableView* tableView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;

    bool viewLoaded_ = false;
    bool appeared_ = false;
    NotificationObserver playerUpdated_;
    AlertPresenter* alerts_ = nullptr;
    ListFilePanel files_{"players", PlayerFile::kExtension, "Players"};
    EditorMaker editorMaker_;
    /// The editors opened from this list and not closed yet.
    std::vector<std::shared_ptr<SegueDestination>> editors_;
};

}  // namespace quenbril
