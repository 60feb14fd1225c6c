#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "MonitorApp/controls/ListFilePanel.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/serverrole/receiverlist/ReceiverListFile.h"
#include "MonitorApp/serverrole/receiverlist/ReceiverListModel.h"

class QPushButton;

namespace quenbril {

class IPListTableView;
class UserDefaults;
class WirelessManager;

/// The receiver-list editor: the registry's receivers to poll, one row each with its address
/// and device type, with buttons to add and remove rows, load and save ".wip" files and close,
/// which stores the list as "UserIPS".
///
/// The list comes from `ListSource` when the window appears; without one (the application has
/// no registry) the table shows no rows. Main thread only.
class WirelessListViewController : public QWidget {
  public:
    /// The list to edit, or null when there is none.
    using ListSource = std::function<ReceiverListModel::Receivers*()>;

    explicit WirelessListViewController(QWidget* parent = nullptr);
    ~WirelessListViewController() override;

    /// The list of `registry`, which outlives the window; a null registry has no list to edit.
    static ListSource registryList(WirelessManager* registry);

    /// Gives the table the list and reloads.
    void viewDidAppear();
    /// Shows the window and runs viewDidAppear.
    void present();

    int numberOfRowsInTableView() const;

    // ---- Actions ----
    void addClicked();
    /// Removes the entries of every selected row.
    void removeClicked();
    /// The type menu of `row` now shows item `index`: the entry takes that type.
    void deviceTypeChanged(int row, int index);
    void loadClicked();
    void saveAsClicked();
    /// Stores the list under "UserIPS" (an alert says so when that failed) and closes.
    void closeClicked();

    // ---- Seams ----
    void setListSource(ListSource source) { listSource_ = std::move(source); }
    void setAlertPresenter(AlertPresenter* presenter) { alerts_ = presenter; }
    void setFilePanel(FilePanel* panel) { files_.setFilePanel(panel); }
    /// The store "UserIPS" goes to; null: the list is not stored.
    void setUserDefaults(UserDefaults* defaults) { defaults_ = defaults; }

    // ---- Outlets ----
    IPListTableView* tableView() const { return tableView_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* loadButton() const { return loadButton_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* closeButton() const { return closeButton_; }

  private:
    void buildView();
    void alert(const std::string& messageText, const std::string& informativeText);

    IPListTableView* tableView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;

    ListSource listSource_;
    AlertPresenter* alerts_ = nullptr;
    ListFilePanel files_{"receivers", ReceiverListFile::kExtension, "Receivers"};
    UserDefaults* defaults_ = nullptr;
};

}  // namespace quenbril
