#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/views/editor/ChannelStripTableModel.h"
#include "foundation/NotificationCenter.h"

class QPushButton;
class QTableView;

namespace quenbril {

class ChannelStripManager;
class PELAudioEngine;
class PlayerManager;
class ReceiverNames;
class UserSettingsManager;

/// The strip editor: a window with one row per channel strip, in the strip manager's order,
/// editing each strip's record (name, receiver, warnings, pan, gain, panel, performer, input),
/// adding strips one or many at a time, removing them and reordering them by dragging. Every
/// edit goes straight into the records.
///
/// The audio engine does not listen while the editor is open. However the window is closed
/// (Close, the window's close button, Esc) it checks that panel A and the other panels each hold
/// at most 64 strips, and stays open with an alert when not; else it re-lays the strips and
/// remaps the engine's channels. A "Channels" list that replaces the strips while it is open
/// resets the table. Main thread only.
class ChannelStripViewController : public LockableViewController, public virtual SegueDestination {
  public:
    static constexpr const char* kInputInUse = "Audio input is already in use";
    static constexpr const char* kDeviceAssigned =
        "Wireless device is already assigned to another channel strip.";
    static constexpr const char* kCannotCreate =
        "Can't create a new channel strip. You are either out of channel strips or there are no "
        "audio inputs available on your input device.";
    static constexpr const char* kCannotCreateAll =
        "Can't create all channel strips. You are either out of channel strips or there are no "
        "audio inputs available on your input device.";
    static constexpr const char* kHowMany = "How many channels?";
    static constexpr const char* kTooMany = "You can have max 64 channels on each panel!";
    static constexpr const char* kNoDevice = "No device";
    static constexpr const char* kNoPlayer = "No player";

    /// What the editor edits and reads; everything named here outlives the editor.
    struct Services {
        ChannelStripManager& manager;
        PELAudioEngine& engine;
        const PlayerManager& players;
        NotificationCenter& center;
        /// Holds whether the interface is locked.
        const UserSettingsManager& settings;
    };

    /// `receivers`: the names the receiver column offers after "No device"; null offers none.
    /// It outlives the editor.
    explicit ChannelStripViewController(const Services& services,
                                        const ReceiverNames* receivers = nullptr,
                                        QWidget* parent = nullptr);
    ~ChannelStripViewController() override;

    // ---- Life cycle ----
    /// Base set-up and the table's model.
    void viewDidLoad() override;
    /// Follows the replacement of the strips.
    void viewDidAppear();
    /// Stops following every notification, then the engine listens again.
    void viewDidDisappear() override;
    /// Shows the window (loading its view when it is not loaded): the engine stops listening,
    /// the pop-ups are filled from the receivers, the players and the engine's inputs, and the
    /// table is read. A window already shown is brought forward instead.
    void show() override;
    /// Runs Close's check; the window closes only when the panels fit.
    void closeClicked();

    // ---- Edits, by row ----
    /// End of a text edit in the "name", "pan" or "gain" cell of `row`.
    void textFieldCellDidChange(int32_t row, ChannelStripTableModel::Column column,
                                const QString& text);
    void inputEdited(int32_t row, int item);
    void wirelessEdited(int32_t row, int item);
    /// The check box of `row` was clicked: its opposite value goes to every selected row (to
    /// the clicked row alone when it is not selected).
    void scpEdited(int32_t row);
    void rfEdited(int32_t row);
    void playerEdited(int32_t row, int item);
    void panelChanged(int32_t row, int item);

    // ---- Adding, removing, reordering ----
    void addClicked();
    void addMany();
    void removeClicked();
    /// A drop of the dragged `rows` between rows at `row`; false when refused.
    bool acceptDrop(const std::vector<int32_t>& rows, int32_t row);

    // ---- Seams and outlets ----
    void setAlertPresenter(AlertPresenter* presenter) { alerts_ = presenter; }
    QTableView* tableView() const { return tableView_; }
    ChannelStripTableModel* tableModel() const { return model_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* addManyButton() const { return addManyButton_; }
    QPushButton* removeButton() const { return removeButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    /// The selected rows, in order.
    std::vector<int32_t> selectedRows() const;
    void selectRows(const std::vector<int32_t>& rows);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildView();
    void fillPopUps();
    void reloadData();
    bool edit(int32_t row, ChannelStripTableModel::Column column, const QVariant& value);
    /// The rows a check-box or panel edit of `row` reaches.
    std::vector<int32_t> rowsReachedFrom(int32_t row) const;
    void alert(const std::string& messageText);

    Services services_;
    const ReceiverNames* receivers_;
    ChannelStripTableModel* model_ = nullptr;
    QTableView* tableView_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* addManyButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    bool viewLoaded_ = false;
    bool open_ = false;
    NotificationObserver stripsReplaced_;
    AlertPresenter* alerts_ = nullptr;
};

}  // namespace quenbril
