#include "MonitorApp/panels/ui/NotebookViewController.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/NotebookCsv.h"
#include "MonitorApp/panels/ui/NotebookTableModel.h"
#include "MonitorApp/panels/ui/StripLookup.h"
#include "MonitorApp/panels/ui/TimecodeStrip.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

NotebookViewController::NotebookViewController(const PanelServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    setWindowTitle("Notebook");
    // The notebook floats above the other windows; there is no switch for it.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    buildView();
}

NotebookViewController::~NotebookViewController() = default;

void NotebookViewController::buildView() {
    model_ = new NotebookTableModel(services_.notebook, services_.strips, this);
    tableView_ = new QTableView(this);
    tableView_->setModel(model_);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->verticalHeader()->setVisible(false);
    tableView_->setAlternatingRowColors(true);
    tableView_->setWordWrap(false);

    textField_ = new QLineEdit(this);
    textField_->setPlaceholderText("Custom note");
    addButton_ = new QPushButton("Add note", this);
    removeButton_ = new QPushButton("Remove", this);
    clearAllButton_ = new QPushButton("Clear all", this);
    exportButton_ = new QPushButton("Export…", this);
    closeButton_ = new QPushButton("Close", this);
    connect(addButton_, &QPushButton::clicked, this, [this] { addCustomClicked(); });
    connect(textField_, &QLineEdit::returnPressed, this, [this] { addCustomClicked(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(clearAllButton_, &QPushButton::clicked, this, [this] { clearAllClicked(); });
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportClicked(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeClicked(); });

    auto* custom = new QHBoxLayout;
    custom->addWidget(textField_, 1);
    custom->addWidget(addButton_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(removeButton_);
    buttons->addWidget(clearAllButton_);
    buttons->addStretch(1);
    buttons->addWidget(exportButton_);
    buttons->addWidget(closeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(tableView_, 1);
    layout->addLayout(custom);
    layout->addLayout(buttons);
    resize(720, 420);
}

// ---- Life cycle ----

void NotebookViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    viewLoaded_ = true;
    csClicked_ = services_.center.addObserver(kCSClickedNotification,
                                              [this](const Notification& n) { csClicked(n); });
}

void NotebookViewController::viewDidAppear() {
    WindowFrameAutosave::restore(*this, kFrameName);
    reloadData();
    // Also after a disappearance, which stopped every observer.
    if (!csClicked_) {
        csClicked_ = services_.center.addObserver(kCSClickedNotification,
                                                  [this](const Notification& n) { csClicked(n); });
    }
    noteAdded_ = services_.center.addObserver(NotebookManager::kNoteAddedNotification,
                                              [this](const Notification&) { reloadData(); });
    // Edited strips change the titles and inputs the table shows.
    stripsEdited_ = services_.center.addObserver(kChannelStripsEditedNotification,
                                                 [this](const Notification&) { reloadData(); });
    appeared_ = true;
}

void NotebookViewController::viewDidDisappear() {
    if (appeared_) WindowFrameAutosave::save(*this, kFrameName);
    appeared_ = false;
    noteAdded_.reset();
    stripsEdited_.reset();
    csClicked_.reset();
    LockableViewController::viewDidDisappear();
}

void NotebookViewController::show() { presentWindow(); }

void NotebookViewController::closeEvent(QCloseEvent* event) {
    event->accept();
    viewDidDisappear();
}

// ---- The table ----

void NotebookViewController::reloadData() { model_->reloadData(); }

std::vector<int> NotebookViewController::selectedRows() const {
    return ListWindow::selectedRows(tableView_);
}

// ---- Actions ----

void NotebookViewController::addCustomClicked() {
    auto entry = std::make_shared<TimelineEntry>();
    entry->setNote(textField_->text().toStdString());
    entry->setTime(RunLoop::main().now());
    entry->setCreator(services_.settings.chatUsername());
    if (auto timecode = timecodeStripTimecode(services_.strips, services_.timecode))
        entry->setLtc(*timecode);
    services_.notebook.addLocalEntry(std::move(entry));
    reloadData();
}

void NotebookViewController::csClicked(const Notification& notification) {
    auto& list = services_.notebook.notebookEntries();
    if (list.empty() || list.back()->csID() != 0) return;
    auto csID = notification.userInfo["index"].longLongValue();
    if (!csID || *csID == 0) return;
    list.back()->setCsID(*csID);
    reloadData();
}

void NotebookViewController::removeSelected() {
    // The notes are taken before the alert: the list may be replaced while it is open.
    std::vector<std::shared_ptr<TimelineEntry>> chosen;
    const auto& before = services_.notebook.notebookEntries();
    for (int row : selectedRows()) {
        if (row >= 0 && static_cast<size_t>(row) < before.size()) chosen.push_back(before[row]);
    }
    if (chosen.empty()) return;
    // Notes of the server go through the server; a local note only this remote knows.
    const bool asksServer = std::any_of(chosen.begin(), chosen.end(),
                                        [](const auto& entry) { return entry->teID() != 0; });
    if (asksServer && refusedWhileServerAway("Nothing was removed.")) return;
    Alert alert;
    alert.messageText = "Are you sure you want to delete a notebook entry?";
    alert.buttons = {"Yes", "Cancel"};
    if (!alerts_ || alerts_->runModal(this, alert) != 0) return;
    // The server may have gone while the question was open.
    if (asksServer && refusedWhileServerAway("Nothing was removed.")) return;

    auto& list = services_.notebook.notebookEntries();
    for (const auto& entry : chosen) {
        if (entry->teID() == 0) {
            // Only this remote knows a local note, and teID 0 could name a server note: it
            // goes here, if it is still listed.
            std::erase(list, entry);
            continue;
        }
        // A server note is still meant when the list shown now still holds its id.
        const bool listed = std::any_of(list.begin(), list.end(),
                                        [&](const auto& e) { return e->teID() == entry->teID(); });
        if (listed) send(LinkMessageBuilder::removeTimelineEntry(entry->teID()));
    }
    reloadData();
}

void NotebookViewController::clearAllClicked() {
    if (refusedWhileServerAway("Nothing was cleared.")) return;
    Alert alert;
    alert.messageText = "Are you sure you want to clear all entries?";
    alert.style = Alert::Style::Warning;
    alert.buttons = {"Clear all", "Cancel"};
    if (!alerts_ || alerts_->runModal(this, alert) != 0) return;
    if (refusedWhileServerAway("Nothing was cleared.")) return;
    send(LinkMessageBuilder::removeAllTimelineEntries());
}

bool NotebookViewController::refusedWhileServerAway(const std::string& consequence) {
    if (!link_ || link_->maySend()) return false;
    // Confirmed and then dropped without a word, the removal looked done to the user.
    if (alerts_) {
        Alert alert;
        alert.messageText = "Not sent: not connected to the server.";
        alert.informativeText = consequence;
        alerts_->runModal(this, alert);
    }
    return true;
}

bool NotebookViewController::exportClicked() {
    if (!files_) {
        log(LogLevel::Warning, "No file panel to export the notebook with");
        return false;
    }
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Save;
    request.allowedTypes = {"csv"};
    request.suggestedName = "Notebook.csv";
    const std::optional<std::string> path = files_->runModal(this, request);
    if (!path) return false;
    // The strips are looked up through one map for the whole export.
    StripLookup strips(services_.strips);
    const std::string text = NotebookCsv::text(services_.notebook.notebookEntries(), strips);
    Error error;
    if (NotebookCsv::write(text, *path, &error)) return true;
    log(LogLevel::Error, "Notebook export failed: %s", error.description.c_str());
    if (alerts_) {
        Alert alert;
        alert.messageText = "The notebook could not be exported to \"" + *path + "\".";
        alert.informativeText = error.description;
        alerts_->runModal(this, alert);
    }
    return false;
}

void NotebookViewController::closeClicked() { close(); }

void NotebookViewController::send(const Dictionary& message) {
    if (link_) {
        link_->sendDictionary(message);
    } else {
        log(LogLevel::Warning, "No server link: notebook command dropped");
    }
}

}  // namespace quenbril
