#include "MonitorApp/serverrole/receiverlist/ReceiverListModel.h"

#include <algorithm>
#include <cerrno>
#include <functional>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

size_t partCount(const std::string& text) { return receivertext::split(text, '.').size(); }

Error noList() {
    return Error::make(ReceiverListFile::kErrorDomain, ENOENT, "There is no receiver list.");
}

}  // namespace

const char* ReceiverListModel::deviceTypeTitle(int type) {
    static constexpr const char* kTitles[kDeviceTypeCount] = {
        "Vozod ULX-D",   "Vozod Axient", "Vozod UHF-R",  "Sennheiser G3",         "Wisycom",
        "Sennheiser EM", "Sony DWX",     "Lectrosonics", "Vozod network (other)", "Not polled"};
    return type >= 0 && type < kDeviceTypeCount ? kTitles[type] : "";
}

int ReceiverListModel::numberOfRows() const {
    return devices_ ? static_cast<int>(devices_->size()) : 0;
}

bool ReceiverListModel::hasRow(int row) const {
    return devices_ && row >= 0 && static_cast<size_t>(row) < devices_->size();
}

Value ReceiverListModel::objectValue(const std::string& column, int row) const {
    if (!hasRow(row)) {
        QLOG("internal error!");
        return {};
    }
    const auto& entry = (*devices_)[static_cast<size_t>(row)];
    if (column == kIPColumn) return Value(entry.address);
    if (column == kDeviceTypeColumn) return Value(static_cast<int64_t>(entry.type));
    return {};
}

void ReceiverListModel::add() {
    if (!devices_) return;
    if (devices_->empty()) {
        devices_->push_back({kFirstAddress, kFirstType});
        return;
    }
    WirelessManager::ReceiverAddress next = devices_->back();
    const std::vector<std::string_view> parts = receivertext::split(next.address, '.');
    if (parts.size() == 4) {
        int32_t last = receivertext::intValue(parts[3]);
        if (last < kLastPartLimit) ++last;
        next.address = std::string(parts[0]) + "." + std::string(parts[1]) + "." +
                       std::string(parts[2]) + "." + std::to_string(last);
    }
    devices_->push_back(std::move(next));
}

void ReceiverListModel::removeRows(std::vector<int> rows) {
    if (!devices_) return;
    // From the last row up, so that each removal leaves the rows still to go where they were.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (hasRow(row)) devices_->erase(devices_->begin() + row);
    }
}

bool ReceiverListModel::setDeviceType(int row, int type) {
    if (!hasRow(row)) {
        QLOG("Not enough devices");
        return false;
    }
    if (type < 0 || type >= kDeviceTypeCount) return false;
    (*devices_)[static_cast<size_t>(row)].type = static_cast<uint64_t>(type);
    return true;
}

ReceiverListModel::Edit ReceiverListModel::commitAddress(const std::string& text, int row) {
    QLOG("Editing IP  to %s at row %d", text.c_str(), row);
    if (partCount(text) != 4) {
        QLOG("Wrong format!!");
        return Edit::WrongFormat;
    }
    if (!hasRow(row)) {
        QLOG("Not enough devices");
        return Edit::NotEnoughDevices;
    }
    (*devices_)[static_cast<size_t>(row)].address = text;
    return Edit::Accepted;
}

bool ReceiverListModel::load(const std::string& path, Error* error) {
    if (!devices_) {
        if (error) *error = noList();
        return false;
    }
    QLOG("%s", path.c_str());
    std::optional<Receivers> receivers = ReceiverListFile::read(path, error);
    if (!receivers) return false;
    *devices_ = std::move(*receivers);
    return true;
}

bool ReceiverListModel::save(const std::string& path, Error* error) const {
    if (!devices_) {
        if (error) *error = noList();
        return false;
    }
    return ReceiverListFile::write(*devices_, path, error);
}

bool ReceiverListModel::store(UserDefaults& defaults) const {
    if (!devices_) return true;
    bool stored = defaults.setObject(Value(ReceiverListFile::toArray(*devices_)),
                                     WirelessManager::kReceiverListKey);
    return defaults.synchronize() && stored;
}

}  // namespace quenbril
