#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// The receiver list file (".wip"): an XML property list whose root is an array of receivers,
/// each an array of the address string and the device type integer, in list order. It holds
/// the same list the registry stores under "UserIPS".
class ReceiverListFile {
  public:
    using Receivers = std::vector<WirelessManager::ReceiverAddress>;

    static constexpr const char* kExtension = "wip";
    /// Larger files are refused unread: a list of receivers is small.
    static constexpr std::size_t kMaxFileSize = 4u << 20;
    static constexpr const char* kErrorDomain = "ReceiverListFileErrorDomain";

    /// The receivers of the file at `path`. Nothing, with `error` set to a reason that names
    /// the file, when it cannot be read, is too large, is no property list, or is not a list of
    /// receivers. Every entry must pass the check "UserIPS" is read with: one bad entry
    /// refuses the whole file, so that loading never half-replaces a list.
    static std::optional<Receivers> read(const std::string& path, Error* error);
    /// The receivers of a property list's root, checked as `read` does; `path` names it in
    /// reasons.
    static std::optional<Receivers> fromValue(const Value& root, const std::string& path,
                                              Error* error);
    /// The property-list array of `receivers`, as files and "UserIPS" hold it.
    static Array toArray(const Receivers& receivers);
    /// Writes `receivers` to `path` atomically: the file is either the old one or the whole
    /// new one. False, with `error` set, when it could not be written.
    static bool write(const Receivers& receivers, const std::string& path, Error* error);
};

}  // namespace quenbril
