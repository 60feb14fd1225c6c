#include "MonitorApp/serverrole/ui/WirelessListViewController.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QVBoxLayout>

#include "MonitorApp/controls/ListWindow.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/serverrole/ui/IPListTableView.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

WirelessListViewController::WirelessListViewController(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Wireless receivers");
    buildView();
}

WirelessListViewController::~WirelessListViewController() = default;

WirelessListViewController::ListSource WirelessListViewController::registryList(
    WirelessManager* registry) {
    return [registry] { return registry ? &registry->deviceIPs() : nullptr; };
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
    const bool loaded = files_.load(
        this,
        [this](const std::string& path, Error* error) {
            return tableView_->rules().load(path, error);
        },
        [this](const std::string& message, const std::string& info) { alert(message, info); });
    if (loaded) tableView_->reloadData();
}

void WirelessListViewController::saveAsClicked() {
    files_.saveAs(
        this,
        [this](const std::string& path, Error* error) {
            return tableView_->rules().save(path, error);
        },
        [this](const std::string& message, const std::string& info) { alert(message, info); });
}

void WirelessListViewController::closeClicked() {
    if (!defaults_) {
        log(LogLevel::Warning, "No settings to store the receiver list in");
    } else if (!tableView_->rules().store(*defaults_)) {
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
