#pragma once

#include <cstdint>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "foundation/NotificationCenter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace quenbril {

class LinkSender;
class MicCheckTableModel;

/// The mic-check window: every strip with its mic-check record for the act, its name coloured
/// by the check status. Ticking selected strips changes their records at once and tells the
/// server through "ChannelCheckClicked"; the server's next "MicCheckState" or "MicCheckArray"
/// (which the dispatcher follows with "ChannelStripChecked") overwrites them. While the server
/// cannot be told, a tick changes no record and the window says it was not sent, until the
/// server's records come again or a tick goes out. Main thread only.
class MicCheckViewController : public LockableViewController {
  public:
    static constexpr const char* kOnTopKey = "micCheckOnTop";
    static constexpr const char* kFrameName = "micCheckWindowAutoSave";
    static constexpr const char* kChannelStripCheckedNotification = "ChannelStripChecked";
    /// Acts offered besides the current one.
    static constexpr int kActs = 10;

    explicit MicCheckViewController(const PanelServices& services, QWidget* parent = nullptr);
    ~MicCheckViewController() override;

    // ---- Life cycle ----
    void viewDidLoad() override;
    /// Restores the frame, follows "ChannelStripChecked", sets the level and shows the act.
    void viewDidAppear() override;
    /// Stops following the records and the lock, and saves the frame.
    void viewDidDisappear() override;
    /// Shows the window (loading its view the first time); a shown one is brought forward.
    void show();

    // ---- Actions ----
    /// Shows the act chosen (the current one for item 0) and reloads the table.
    void update();
    /// Ticks the selected rows off (or on again), in row order.
    void checkedClicked();
    void onTopChanged();
    void updateWindowLevel();
    void closeClicked();

    /// The act the window shows: the selector's item, or for item 0 the current act (counted
    /// from 0 by the server) plus 1.
    int64_t shownAct() const;
    int numberOfRowsInTableView() const;

    /// Asked before a tick whether the server can be told; without one every tick is made.
    void setLinkSender(LinkSender* sender) { link_ = sender; }

    // ---- Outlets ----
    QTableView* tableView() const { return tableView_; }
    MicCheckTableModel* model() const { return model_; }
    QComboBox* actSelector() const { return actSelector_; }
    QLabel* actLabel() const { return actLabel_; }
    QCheckBox* onTop() const { return onTop_; }
    QPushButton* checkButton() const { return checkButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    /// "Not sent: ..." beside the buttons after a tick that could not be sent; hidden otherwise.
    QLabel* sendStatus() const { return sendStatus_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    std::vector<int> selectedRows() const;

    MicCheckTableModel* model_ = nullptr;
    QTableView* tableView_ = nullptr;
    QComboBox* actSelector_ = nullptr;
    QLabel* actLabel_ = nullptr;
    QCheckBox* onTop_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QLabel* sendStatus_ = nullptr;
    LinkSender* link_ = nullptr;

    bool viewLoaded_ = false;
    bool appeared_ = false;
    NotificationObserver stripChecked_;
};

}  // namespace quenbril
