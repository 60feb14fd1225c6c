#include "MonitorApp/serverrole/ReceiverListFile.h"

#include <cerrno>
#include <cstring>

#include "foundation/BoundedFileRead.h"
#include "foundation/FileReplacement.h"
#include "foundation/PropertyList.h"

namespace quenbril {

namespace {

void setError(Error* error, Error value) {
    if (error) *error = std::move(value);
}

}  // namespace

std::optional<ReceiverListFile::Receivers> ReceiverListFile::read(const std::string& path,
                                                                  Error* error) {
    std::optional<Bytes> bytes = readBoundedFile(path, kMaxFileSize, error);
    if (!bytes) return std::nullopt;
    Error plistError;
    std::optional<Value> root = PropertyList::read(*bytes, &plistError);
    if (!root) {
        setError(error,
                 Error::make(kErrorDomain, plistError.code, path + ": " + plistError.description));
        return std::nullopt;
    }
    return fromValue(*root, path, error);
}

std::optional<ReceiverListFile::Receivers> ReceiverListFile::fromValue(const Value& root,
                                                                       const std::string& path,
                                                                       Error* error) {
    const Array* entries = root.arrayValue();
    if (!entries) {
        setError(error, Error::make(kErrorDomain, EINVAL, path + " holds no list of receivers"));
        return std::nullopt;
    }
    // The registry's reader skips bad entries; a file with any is refused instead.
    Receivers receivers = WirelessManager::readReceiverList(root);
    if (receivers.size() != entries->size()) {
        setError(error, Error::make(kErrorDomain, EINVAL,
                                    path + " holds entries that are not an address and a "
                                           "device type 0-9"));
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
    Error plistError;
    std::optional<Bytes> bytes =
        PropertyList::write(Value(toArray(receivers)), PropertyList::Format::Xml, &plistError);
    if (!bytes) {
        setError(error,
                 Error::make(kErrorDomain, plistError.code, path + ": " + plistError.description));
        return false;
    }
    if (auto failure = replaceFile(path, *bytes, mode_t{0644})) {
        setError(error, Error::make(Error::kPosixDomain, failure->error,
                                    std::string(failure->step) + " " + path + ": " +
                                        std::strerror(failure->error)));
        return false;
    }
    return true;
}

}  // namespace quenbril
