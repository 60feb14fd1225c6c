#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace quenbril {

class LinkSender;
class NotebookTableModel;
class TimelineEntry;

/// The notebook window, always above the other windows: every note of the shared notebook,
/// read from the notebook manager when the table asks. The user adds a local note and pins it
/// to a strip by clicking the strip, asks the server to delete the selected notes or all of
/// them, and exports the notebook as a CSV file. Main thread only.
class NotebookViewController : public LockableViewController, public virtual SegueDestination {
  public:
    static constexpr const char* kFrameName = "NotebookVCAutosaveRemote";

    explicit NotebookViewController(const PanelServices& services, QWidget* parent = nullptr);
    ~NotebookViewController() override;

    // ---- Life cycle ----
    /// Follows "CSClicked" from now on.
    void viewDidLoad() override;
    /// Restores the frame, reloads the table and follows "NoteAdded".
    void viewDidAppear() override;
    /// Saves the frame and stops following every notification.
    void viewDidDisappear() override;
    /// Shows the window (loading its view the first time); a window already shown is brought
    /// forward instead.
    void show() override;

    // ---- Actions ----
    /// A local note with the text field's text, pinned to the next strip clicked.
    void addCustomClicked();
    /// Observer of "CSClicked": a trailing local note without a strip takes the clicked one.
    void csClicked(const Notification& notification);
    /// After a confirmation, asks the server to delete each selected note in row order; a
    /// selected local note is dropped here instead, since the server does not know it. While
    /// the server cannot be told, an alert says so and nothing is removed, here either.
    void removeSelected();
    /// After a confirmation, asks the server to delete every note; while the server cannot be
    /// told, an alert says so instead.
    void clearAllClicked();
    /// Writes the notebook to a CSV file chosen in a save panel; a failure is told with the
    /// path and the reason. False when nothing was written.
    bool exportClicked();
    void closeClicked();

    void reloadData();
    /// The selected rows in ascending order.
    std::vector<int> selectedRows() const;

    // ---- Seams ----
    void setLinkSender(LinkSender* sender) { link_ = sender; }
    void setAlertPresenter(AlertPresenter* presenter) { alerts_ = presenter; }
    void setFilePanel(FilePanel* panel) { files_ = panel; }

    // ---- Outlets ----
    QTableView* tableView() const { return tableView_; }
    NotebookTableModel* model() const { return model_; }
    QLineEdit* textField() const { return textField_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* clearAllButton() const { return clearAllButton_; }
    QPushButton* exportButton() const { return exportButton_; }
    QPushButton* closeButton() const { return closeButton_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    void send(const Dictionary& message);
    /// True, with an alert saying what was not done, when the server cannot be told now.
    bool refusedWhileServerAway(const std::string& consequence);

    NotebookTableModel* model_ = nullptr;
    QTableView* tableView_ = nullptr;
    QLineEdit* textField_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearAllButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;

    bool viewLoaded_ = false;
    bool appeared_ = false;
    NotificationObserver csClicked_;
    NotificationObserver noteAdded_;
    NotificationObserver stripsEdited_;
    LinkSender* link_ = nullptr;
    AlertPresenter* alerts_ = nullptr;
    FilePanel* files_ = nullptr;
};

}  // namespace quenbril
