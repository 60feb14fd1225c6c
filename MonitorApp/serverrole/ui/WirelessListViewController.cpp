#include "MonitorApp/serverrole/ui/WirelessListViewController.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "MonitorApp/controls/ListWindow.h"
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
    QHBoxLayout* buttons =
        ListWindow::buttonBar(this,
                              {{&addButton_, "+", [this] { addClicked(); }},
                               {&removeButton_, "−", [this] { removeClicked(); }}},
                              {{&loadButton_, "Load…", [this] { loadClicked(); }},
                               {&saveButton_, "Save As…", [this] { saveAsClicked(); }},
                               {&closeButton_, "Close", [this] { closeClicked(); }}});
    ListWindow::layOut(this, 16, -1, nullptr, tableView_, buttons);
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
    tableView_->rules().removeRows(ListWindow::selectedRows(tableView_));
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
