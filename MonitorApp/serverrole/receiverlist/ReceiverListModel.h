#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/receiverlist/ReceiverListFile.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

class UserDefaults;

/// The rules of the receiver-list editor, with no window: the rows of the list it edits, adding
/// the next receiver, removing rows, changing a row's device type, committing an address edit,
/// loading and saving ".wip" files and storing the list as "UserIPS".
///
/// The list is borrowed and may be missing (the application has no registry); every edit then
/// finds no list and changes nothing. Main thread only.
class ReceiverListModel {
  public:
    using Receivers = ReceiverListFile::Receivers;

    static constexpr const char* kIPColumn = "IP";
    static constexpr const char* kDeviceTypeColumn = "DEVICE_TYPE";
    /// Device types 0 to 9: the index of an item of the type menu.
    static constexpr int kDeviceTypeCount = 10;
    /// The receiver an empty list gets first.
    static constexpr const char* kFirstAddress = "192.168.0.1";
    static constexpr uint64_t kFirstType = 3;
    /// The next receiver's last address part grows only while it is below this.
    static constexpr int kLastPartLimit = 253;

    /// How an address edit ended.
    enum class Edit { Accepted, WrongFormat, NotEnoughDevices };

    explicit ReceiverListModel(Receivers* devices = nullptr) : devices_(devices) {}

    /// The title of the type menu's item `type`, naming the receivers of that type.
    static const char* deviceTypeTitle(int type);

    Receivers* devices() const { return devices_; }
    void setDevices(Receivers* devices) { devices_ = devices; }

    int numberOfRows() const;
    /// The address (column "IP") or the type number ("DEVICE_TYPE") of a row; null for any
    /// other column, and for a row past the list, which is logged as an internal error.
    Value objectValue(const std::string& column, int row) const;

    /// Appends the next receiver: the first one to an empty list, else a copy of the last
    /// entry whose address, when it has 4 parts, gets its last part plus 1 while that is below
    /// 253. Another form of address is repeated as it is.
    void add();
    /// Removes the entries of `rows`; rows past the list are ignored.
    void removeRows(std::vector<int> rows);
    /// Gives the entry at `row` the device type `type`. False, logged, for a row past the list
    /// or a type outside 0-9.
    bool setDeviceType(int row, int type);
    /// Replaces the address of the entry at `row` by `text` when it has exactly 4 parts at ".";
    /// only the count of parts is checked.
    Edit commitAddress(const std::string& text, int row);

    /// Replaces the whole list by the receivers of the file at `path`. False, with `error` set
    /// and the list as it was, when the file is refused or there is no list.
    bool load(const std::string& path, Error* error);
    /// Writes the list to `path`. False, with `error` set, when it could not be written or
    /// there is no list.
    bool save(const std::string& path, Error* error) const;
    /// Stores the list under "UserIPS" and writes the defaults. With no list the stored one is
    /// left as it is: storing no list would erase the user's receivers. False when the write
    /// failed.
    bool store(UserDefaults& defaults) const;

  private:
    bool hasRow(int row) const;

    Receivers* devices_ = nullptr;
};

}  // namespace quenbril
