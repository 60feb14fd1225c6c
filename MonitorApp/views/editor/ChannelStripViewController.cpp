#include "MonitorApp/views/editor/ChannelStripViewController.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/views/editor/CheckBoxDelegate.h"
#include "MonitorApp/views/editor/ComboBoxDelegate.h"
#include "MonitorApp/views/editor/ReceiverNames.h"
#include "MonitorApp/views/editor/StripDropRule.h"
#include "MonitorApp/views/editor/StripEditRules.h"
#include "MonitorApp/views/editor/StripTableView.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

using Column = ChannelStripTableModel::Column;

// The "How many channels?" field, in points.
constexpr int kFieldWidth = 200;
constexpr int kFieldHeight = 24;

}  // namespace

ChannelStripViewController::ChannelStripViewController(const Services& services,
                                                       const ReceiverNames* receivers,
                                                       QWidget* parent)
    : LockableViewController(services.center, services.settings, parent),
      services_(services),
      receivers_(receivers) {
    setWindowTitle("Channel Strips");
    buildView();
}

ChannelStripViewController::~ChannelStripViewController() {
    // A window let go while open still gives the engine back its listening.
    if (open_) viewDidDisappear();
}

void ChannelStripViewController::buildView() {
    model_ = new ChannelStripTableModel(services_.manager.controllers(), this);
    model_->setEditHandler([this](int32_t row, Column column, const QVariant& value) {
        return edit(row, column, value);
    });
    model_->setDropHandler(
        [this](const std::vector<int32_t>& rows, int32_t row) { return acceptDrop(rows, row); });
    tableView_ = new StripTableView(this);
    auto* combo = new ComboBoxDelegate(tableView_);
    auto* check = new CheckBoxDelegate(tableView_);
    for (Column column : {Column::Wireless, Column::Panel, Column::Player, Column::InputChannel}) {
        tableView_->setItemDelegateForColumn(column, combo);
    }
    tableView_->setItemDelegateForColumn(Column::Scp, check);
    tableView_->setItemDelegateForColumn(Column::Rf, check);

    QHBoxLayout* buttons =
        ListWindow::buttonBar(this,
                              {{&addButton_, "Add", [this] { addClicked(); }},
                               {&addManyButton_, "Add many…", [this] { addMany(); }},
                               {&removeButton_, "Remove", [this] { removeClicked(); }}},
                              {{&closeButton_, "Close", [this] { closeClicked(); }}});
    ListWindow::layOut(this, 16, 10, nullptr, tableView_, buttons);
    resize(860, 480);
}

// ---- Life cycle ----

void ChannelStripViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    viewLoaded_ = true;
    if (!tableView_->model()) tableView_->setModel(model_);
    tableView_->horizontalHeader()->resizeSection(Column::Name, 120);
}

void ChannelStripViewController::fillPopUps() {
    QStringList wireless{kNoDevice};
    if (receivers_) {
        for (const std::string& name : receivers_->deviceNames()) {
            wireless.push_back(QString::fromStdString(name));
        }
    }
    model_->setItems(Column::Wireless, wireless);
    QStringList inputs;
    for (int input = 1; input <= services_.engine.availableChannels(); ++input) {
        inputs.push_back(QString::number(input));
    }
    model_->setItems(Column::InputChannel, inputs);
    QStringList players{kNoPlayer};
    for (const auto& player : services_.players.players()) {
        players.push_back(QString::fromStdString(player->displayName()));
    }
    model_->setItems(Column::Player, players);
    model_->setItems(Column::Panel, {"A", "B"});
}

void ChannelStripViewController::viewDidAppear() {
    stripsReplaced_ = services_.center.addObserver(
        kChannelStripsEditedNotification, [this](const Notification&) { model_->reset(); });
}

void ChannelStripViewController::viewDidDisappear() {
    stripsReplaced_.reset();
    LockableViewController::viewDidDisappear();
    open_ = false;
    services_.engine.startListening();
}

void ChannelStripViewController::show() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    if (!viewLoaded_) viewDidLoad();
    // Each opening: the engine rests while the strips are edited; the pop-ups are filled anew.
    services_.engine.stopListening();
    open_ = true;
    fillPopUps();
    model_->reset();
    QWidget::show();
    viewDidAppear();
}

void ChannelStripViewController::closeClicked() { close(); }

void ChannelStripViewController::closeEvent(QCloseEvent* event) {
    // Every way of closing comes here, so every one of them keeps the panel limit.
    if (!open_) {
        event->accept();
        return;
    }
    if (!StripEditRules::panelsFit(services_.manager.controllers())) {
        event->ignore();
        alert(kTooMany);
        return;
    }
    event->accept();
    services_.manager.updateChannels();
    services_.engine.mapChannels();
    viewDidDisappear();
}

void ChannelStripViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    LockableViewController::keyPressEvent(event);
}

// ---- Edits ----

bool ChannelStripViewController::edit(int32_t row, Column column, const QVariant& value) {
    const int item = value.toInt();
    switch (column) {
        case Column::Name:
        case Column::Pan:
        case Column::Gain:
            textFieldCellDidChange(row, column, value.toString());
            return true;
        case Column::Wireless:
            wirelessEdited(row, item);
            return true;
        case Column::Scp:
            scpEdited(row);
            return true;
        case Column::Rf:
            rfEdited(row);
            return true;
        case Column::Panel:
            panelChanged(row, item);
            return true;
        case Column::Player:
            playerEdited(row, item);
            return true;
        case Column::InputChannel:
            inputEdited(row, item);
            return true;
        default:
            return false;
    }
}

void ChannelStripViewController::textFieldCellDidChange(int32_t row, Column column,
                                                        const QString& text) {
    ChannelStripController* controller = model_->controllerAt(row);
    if (!controller) return;
    ChannelStripModel& model = controller->model();
    switch (column) {
        case Column::Name:
            model.setName(StripEditRules::name(text));
            break;
        case Column::Pan:
            model.setPan(StripEditRules::clamped(text, StripEditRules::kMinPan,
                                                 StripEditRules::kMaxPan, model.pan()));
            break;
        case Column::Gain:
            model.setGain(StripEditRules::clamped(text, StripEditRules::kMinGain,
                                                  StripEditRules::kMaxGain, model.gain()));
            break;
        default:
            return;
    }
    // Typing goes on in the next row.
    if (row + 1 < model_->rowCount()) {
        selectRows({row + 1});
        tableView_->setFocus();
    }
}

void ChannelStripViewController::inputEdited(int32_t row, int item) {
    ChannelStripController* controller = model_->controllerAt(row);
    if (!controller || item < 0) return;
    // The strip's own input counts as used too.
    if (!services_.manager.isInputChannelAvailable(item)) {
        alert(kInputInUse);
        return;
    }
    controller->model().setAudioInput(item);
}

void ChannelStripViewController::wirelessEdited(int32_t row, int item) {
    ChannelStripController* controller = model_->controllerAt(row);
    const QStringList& items = model_->items(Column::Wireless);
    if (!controller || item < 0 || item >= items.size()) return;
    const std::string title = items[item].toStdString();
    if (title != kNoDevice) {
        for (const auto& other : services_.manager.controllers()) {
            if (other->model().wirelessName() == title) {
                alert(kDeviceAssigned);
                return;
            }
        }
    }
    controller->model().setWirelessName(title);
}

std::vector<int32_t> ChannelStripViewController::rowsReachedFrom(int32_t row) const {
    std::vector<int32_t> rows = selectedRows();
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) return {row};
    return rows;
}

void ChannelStripViewController::scpEdited(int32_t row) {
    ChannelStripController* clicked = model_->controllerAt(row);
    if (!clicked) return;
    const bool on = !clicked->model().scpEnabled();
    const std::vector<int32_t> rows = rowsReachedFrom(row);
    for (int32_t r : rows) {
        if (ChannelStripController* c = model_->controllerAt(r)) c->model().setScpEnabled(on);
    }
    selectRows(selectedRows());
}

void ChannelStripViewController::rfEdited(int32_t row) {
    ChannelStripController* clicked = model_->controllerAt(row);
    if (!clicked) return;
    const bool on = !clicked->model().rfWarnEnabled();
    for (int32_t r : rowsReachedFrom(row)) {
        if (ChannelStripController* c = model_->controllerAt(r)) c->model().setRfWarnEnabled(on);
    }
    selectRows(selectedRows());
}

void ChannelStripViewController::playerEdited(int32_t row, int item) {
    ChannelStripController* controller = model_->controllerAt(row);
    const auto& players = services_.players.players();
    if (!controller || item < 0) return;
    if (item == 0) {
        controller->model().setPlayerName(std::string(kNoPlayer));
    } else if (static_cast<size_t>(item - 1) < players.size()) {
        controller->model().setPlayerName(players[static_cast<size_t>(item - 1)]->displayName());
    }
}

void ChannelStripViewController::panelChanged(int32_t row, int item) {
    const QStringList& items = model_->items(Column::Panel);
    if (item < 0 || item >= items.size()) return;
    const std::string panel = items[item].toStdString();
    for (int32_t r : rowsReachedFrom(row)) {
        if (ChannelStripController* c = model_->controllerAt(r)) c->model().setPanel(panel);
    }
    selectRows(selectedRows());
}

// ---- Adding, removing, reordering ----

void ChannelStripViewController::addClicked() {
    services_.engine.setMute(true);
    if (services_.manager.createChannelStrip()) {
        reloadData();
    } else {
        alert(kCannotCreate);
    }
    services_.engine.setMute(false);
}

void ChannelStripViewController::addMany() {
    Alert prompt;
    prompt.messageText = kHowMany;
    prompt.buttons = {"Ok", "Cancel"};
    std::string typed;
    const int chosen =
        alerts_ ? alerts_->runModal(this, prompt, kFieldWidth, kFieldHeight, typed) : 1;
    if (chosen != 0) return;
    const int n = StripEditRules::clamped(QString::fromStdString(typed), 0, kMaxStrips, 0);
    services_.engine.setMute(true);
    for (int i = 0; i < n; ++i) {
        if (!services_.manager.createChannelStrip()) {
            alert(kCannotCreateAll);
            break;
        }
    }
    services_.engine.setMute(false);
    reloadData();
}

void ChannelStripViewController::removeClicked() {
    services_.manager.removeChannelStrips(selectedRows());
    tableView_->clearSelection();
    reloadData();
}

bool ChannelStripViewController::acceptDrop(const std::vector<int32_t>& rows, int32_t row) {
    const std::optional<int32_t> target = StripDropRule::target(rows, row);
    if (!target) return false;
    StripDropRule::move(services_.manager.controllers(), rows, *target);
    reloadData();
    std::vector<int32_t> block;
    for (size_t i = 0; i < rows.size(); ++i) block.push_back(*target + static_cast<int32_t>(i));
    selectRows(block);
    return true;
}

// ---- Selection ----

std::vector<int32_t> ChannelStripViewController::selectedRows() const {
    return ListWindow::selectedRows(tableView_);
}

void ChannelStripViewController::selectRows(const std::vector<int32_t>& rows) {
    QItemSelectionModel* selection = tableView_->selectionModel();
    if (!selection) return;
    QItemSelection chosen;
    for (int32_t row : rows) {
        if (row < 0 || row >= model_->rowCount()) continue;
        chosen.select(model_->index(row, 0), model_->index(row, Column::ColumnCount - 1));
    }
    selection->select(chosen, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty() && rows.front() >= 0 && rows.front() < model_->rowCount()) {
        selection->setCurrentIndex(model_->index(rows.front(), 0), QItemSelectionModel::NoUpdate);
    }
}

void ChannelStripViewController::reloadData() { model_->reloadData(); }

void ChannelStripViewController::alert(const std::string& messageText) {
    if (!alerts_) {
        log(LogLevel::Warning, "%s", messageText.c_str());
        return;
    }
    Alert shown;
    shown.messageText = messageText;
    alerts_->runModal(this, shown);
}

}  // namespace quenbril
