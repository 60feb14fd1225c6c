#include "MonitorApp/serverrole/receiverlist/ReceiverListFile.h"

#include <cerrno>

#include "foundation/PropertyListFile.h"

namespace quenbril {

namespace {

constexpr PropertyListFile kFile(ReceiverListFile::kErrorDomain, ReceiverListFile::kMaxFileSize,
                                 "receivers");

}  // namespace

std::optional<ReceiverListFile::Receivers> ReceiverListFile::read(const std::string& path,
                                                                  Error* error) {
    std::optional<Value> root = kFile.read(path, error);
    if (!root) return std::nullopt;
    return fromValue(*root, path, error);
}

std::optional<ReceiverListFile::Receivers> ReceiverListFile::fromValue(const Value& root,
                                                                       const std::string& path,
                                                                       Error* error) {
    const Array* entries = kFile.rootArray(root, path, error);
    if (!entries) return std::nullopt;
    // The registry's reader skips bad entries; a file with any is refused instead.
    Receivers receivers = WirelessManager::readReceiverList(root);
    if (receivers.size() != entries->size()) {
        if (error) {
            *error = Error::make(kErrorDomain, EINVAL,
                                 path +
                                     " holds entries that are not an address and a "
                                     "device type 0-9");
        }
        return std::nullopt;
    }
    return receivers;
}

Array ReceiverListFile::toArray(const Receivers& receivers) {
    Array entries;
    entries.reserve(receivers.size());
    for (const auto& receiver : receivers) {
        entries.push_back(
            Value(Array{Value(receiver.address), Value(static_cast<int64_t>(receiver.type))}));
    }
    return entries;
}

bool ReceiverListFile::write(const Receivers& receivers, const std::string& path, Error* error) {
    return kFile.write(Value(toArray(receivers)), path, error);
}

}  // namespace quenbril
