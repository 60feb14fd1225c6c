#include "MonitorApp/panels/ui/PlayerListViewController.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/panels/PlayerFile.h"
#include "MonitorApp/panels/ui/PlayerListTableModel.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

PlayerListViewController::PlayerListViewController(const PanelServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    setWindowTitle("Players");
    buildView();
}

PlayerListViewController::~PlayerListViewController() = default;

void PlayerListViewController::buildView() {
    model_ = new PlayerListTableModel(services_.players, this);
    tableView_ = new QTableView(this);
    ListWindow::setUpTable(tableView_, true);
    tableView_->setAlternatingRowColors(true);

    QHBoxLayout* buttons =
        ListWindow::buttonBar(this,
                              {{&addButton_, "Add", [this] { addClicked(); }},
                               {&editButton_, "Edit", [this] { editClicked(); }},
                               {&removeButton_, "Remove", [this] { removeClicked(); }}},
                              {{&loadButton_, "Load…", [this] { loadClicked(); }},
                               {&saveButton_, "Save As…", [this] { saveAsClicked(); }},
                               {&closeButton_, "Close", [this] { closeClicked(); }}});
    ListWindow::layOut(this, 16, 10, nullptr, tableView_, buttons);
    resize(520, 400);
}

// ---- Life cycle ----

void PlayerListViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    viewLoaded_ = true;
}

void PlayerListViewController::viewDidAppear() {
    if (!tableView_->model()) tableView_->setModel(model_);
    reloadData();
    playerUpdated_ = services_.center.addObserver(kPlayerUpdatedNotification,
                                                  [this](const Notification&) { reloadData(); });
}

void PlayerListViewController::viewDidDisappear() {
    playerUpdated_.reset();
    LockableViewController::viewDidDisappear();
}

void PlayerListViewController::show() { presentWindow(); }

void PlayerListViewController::closeEvent(QCloseEvent* event) {
    // Every way of closing comes here (the close box, the Close button, the window manager),
    // so every one of them stores the list.
    event->accept();
    storePlayers();
    viewDidDisappear();
}

void PlayerListViewController::applicationWillTerminate() {
    if (viewLoaded_) storePlayers();
}

bool PlayerListViewController::storePlayers() {
    UserDefaults& defaults = services_.defaults;
    bool stored =
        defaults.setObject(Value(services_.players.propertyArray()), PlayerManager::kPlayersKey);
    stored = defaults.synchronize() && stored;
    if (!stored) {
        alert("The player list could not be stored.",
              "The settings file could not be written. The list is stored again when this "
              "window closes or the application quits.");
    }
    return stored;
}

// ---- The table ----

int PlayerListViewController::numberOfRowsInTableView() const {
    return static_cast<int>(services_.players.players().size());
}

void PlayerListViewController::reloadData() { model_->reloadData(); }

int32_t PlayerListViewController::selectedRow() const {
    QItemSelectionModel* selection = tableView_->selectionModel();
    if (!selection) return -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row())) return current.row();
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty()) return -1;
    int last = -1;
    for (const QModelIndex& row : rows) last = std::max(last, row.row());
    return last;
}

// ---- Actions ----

void PlayerListViewController::addClicked() { performSegue(kShowPlayerSegue, addButton_); }

void PlayerListViewController::editClicked() {
    const int32_t row = selectedRow();
    if (row >= 0 && row < numberOfRowsInTableView()) {
        performSegue(kShowPlayerSegue, nullptr);
    } else {
        alert("Please select a player first.");
    }
}

void PlayerListViewController::removeClicked() {
    std::vector<int> rows = ListWindow::selectedRows(tableView_);
    // From the last row up, so that each removal leaves the rows still to go where they were.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    auto& players = services_.players.players();
    for (int row : rows) {
        if (row >= 0 && static_cast<size_t>(row) < players.size()) {
            players.erase(players.begin() + row);
        }
    }
    reloadData();
}

void PlayerListViewController::loadClicked() {
    const bool loaded = files_.load(
        this,
        [this](const std::string& path, Error* error) {
            QLOG("Loading players from %s", path.c_str());
            const std::optional<Array> players = PlayerFile::read(path, error);
            if (!players) return false;
            // The file's players come after the ones listed; elements that are no player are
            // skipped.
            services_.players.updateFromArray(*players);
            return true;
        },
        [this](const std::string& message, const std::string& info) { alert(message, info); });
    if (loaded) reloadData();
}

void PlayerListViewController::saveAsClicked() {
    // The list as it is now: it may have changed while the panel was open.
    files_.saveAs(
        this,
        [this](const std::string& path, Error* error) {
            return PlayerFile::write(services_.players.propertyArray(), path, error);
        },
        [this](const std::string& message, const std::string& info) { alert(message, info); });
}

void PlayerListViewController::closeClicked() { close(); }

// ---- Segues ----

int32_t PlayerListViewController::prepareForSegue(const std::string& /*identifier*/,
                                                  const QObject* sender) const {
    if (sender && sender == addButton_) return -1;
    return selectedRow();
}

void PlayerListViewController::performSegue(const std::string& identifier, const QObject* sender) {
    if (identifier != kShowPlayerSegue) return;
    if (!editorMaker_) {
        QLOG("Segue %s skipped: the player editor is not available", identifier.c_str());
        return;
    }
    const int32_t playerIndex = prepareForSegue(identifier, sender);
    // The editor tells of its closing through this slot, which learns the editor once made.
    auto slot = std::make_shared<const SegueDestination*>(nullptr);
    QPointer<PlayerListViewController> self(this);
    std::shared_ptr<SegueDestination> editor = editorMaker_(playerIndex, [self, slot] {
        if (self) self->editorClosed(slot);
    });
    if (!editor) {
        QLOG("Segue %s skipped: no player editor was made", identifier.c_str());
        return;
    }
    *slot = editor.get();
    editors_.push_back(editor);
    editor->show();
}

void PlayerListViewController::editorClosed(const std::shared_ptr<const SegueDestination*>& slot) {
    reloadData();
    // The editor is let go once its own closing has finished.
    QPointer<PlayerListViewController> self(this);
    RunLoop::main().post([self, slot] {
        if (!self) return;
        std::erase_if(self->editors_, [&](const auto& editor) { return editor.get() == *slot; });
    });
}

void PlayerListViewController::alert(const std::string& messageText,
                                     const std::string& informativeText) {
    if (!alerts_) {
        log(LogLevel::Warning, "%s %s", messageText.c_str(), informativeText.c_str());
        return;
    }
    Alert shown;
    shown.messageText = messageText;
    shown.informativeText = informativeText;
    alerts_->runModal(this, shown);
}

}  // namespace quenbril
