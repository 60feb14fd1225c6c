#include "MonitorApp/serverrole/ui/WirelessListViewController.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "MonitorApp/serverrole/ui/IPListTableView.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

WirelessListViewController::WirelessListViewController(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Wireless receivers");
    buildView();
}

WirelessListViewController::~WirelessListViewController() = default;

ReceiverListModel::Receivers* WirelessListViewController::registryList() {
    // The application has no registry: then there is no list to edit.
    WirelessManager* registry = WirelessManager::sharedInstance();
    return registry ? &registry->deviceIPs() : nullptr;
}

void WirelessListViewController::buildView() {
    tableView_ = new IPListTableView(this);
    tableView_->setTypeChanged([this](int row, int index) { deviceTypeChanged(row, index); });
    addButton_ = new QPushButton("+", this);
    removeButton_ = new QPushButton("−", this);
    loadButton_ = new QPushButton("Load…", this);
    saveButton_ = new QPushButton("Save As…", this);
    closeButton_ = new QPushButton("Close", this);
    connect(addButton_, &QPushButton::clicked, this, [this] { addClicked(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeClicked(); });
    connect(loadButton_, &QPushButton::clicked, this, [this] { loadClicked(); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { saveAsClicked(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeClicked(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addButton_);
    buttons->addWidget(removeButton_);
    buttons->addStretch(1);
    buttons->addWidget(loadButton_);
    buttons->addWidget(saveButton_);
    buttons->addWidget(closeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(tableView_, 1);
    layout->addLayout(buttons);
    resize(460, 320);
}

void WirelessListViewController::viewDidAppear() {
    tableView_->setDevices(listSource_ ? listSource_() : nullptr);
}

void WirelessListViewController::present() {
    show();
    viewDidAppear();
}

int WirelessListViewController::numberOfRowsInTableView() const {
    return tableView_->rules().numberOfRows();
}

void WirelessListViewController::addClicked() {
    tableView_->rules().add();
    tableView_->reloadData();
}

void WirelessListViewController::removeClicked() {
    QItemSelectionModel* selection = tableView_->selectionModel();
    if (!selection) return;
    std::vector<int> rows;
    for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
    tableView_->rules().removeRows(std::move(rows));
    tableView_->reloadData();
}

void WirelessListViewController::deviceTypeChanged(int row, int index) {
    tableView_->rules().setDeviceType(row, index);
    tableView_->reloadData();
}

void WirelessListViewController::loadClicked() {
    if (!files_) {
        log(LogLevel::Warning, "No file panel to load receivers with");
        return;
    }
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Open;
    request.allowedTypes = {ReceiverListFile::kExtension};
    const std::optional<std::string> path = files_->runModal(this, request);
    if (!path) return;
    Error error;
    if (!tableView_->rules().load(*path, &error)) {
        alert("The receivers of \"" + fileName(*path) + "\" could not be loaded.",
              error.description);
        return;
    }
    tableView_->reloadData();
}

void WirelessListViewController::saveAsClicked() {
    if (!files_) {
        log(LogLevel::Warning, "No file panel to save receivers with");
        return;
    }
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Save;
    request.allowedTypes = {ReceiverListFile::kExtension};
    request.suggestedName = std::string("Receivers.") + ReceiverListFile::kExtension;
    const std::optional<std::string> path = files_->runModal(this, request);
    if (!path) return;
    Error error;
    if (!tableView_->rules().save(*path, &error)) {
        alert("The receivers could not be saved to \"" + fileName(*path) + "\".",
              error.description);
    }
}

void WirelessListViewController::closeClicked() {
    UserDefaults& defaults = defaults_ ? *defaults_ : UserDefaults::standardUserDefaults();
    if (!tableView_->rules().store(defaults)) {
        alert("The receiver list could not be stored.", "The settings file could not be written.");
    }
    close();
}

void WirelessListViewController::alert(const std::string& messageText,
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
