#include "MonitorApp/panels/PlayerFile.h"

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

std::optional<Array> PlayerFile::read(const std::string& path, Error* error) {
    std::optional<Bytes> bytes = readBoundedFile(path, kMaxFileSize, error);
    if (!bytes) return std::nullopt;
    return fromBytes(*bytes, path, error);
}

std::optional<Array> PlayerFile::fromBytes(const Bytes& bytes, const std::string& path,
                                           Error* error) {
    Error plistError;
    std::optional<Value> root = PropertyList::read(bytes, &plistError);
    if (!root) {
        setError(error,
                 Error::make(kErrorDomain, plistError.code, path + ": " + plistError.description));
        return std::nullopt;
    }
    const Array* players = root->arrayValue();
    if (!players) {
        setError(error, Error::make(kErrorDomain, EINVAL, path + " holds no list of players"));
        return std::nullopt;
    }
    return *players;
}

bool PlayerFile::write(const Array& players, const std::string& path, Error* error) {
    Error plistError;
    std::optional<Bytes> bytes =
        PropertyList::write(Value(players), PropertyList::Format::Xml, &plistError);
    if (!bytes) {
        setError(error,
                 Error::make(kErrorDomain, plistError.code, path + ": " + plistError.description));
        return false;
    }
    // The new file is written beside the old one and renamed over it.
    if (auto failure = replaceFile(path, *bytes, mode_t{0644})) {
        setError(error, Error::make(Error::kPosixDomain, failure->error,
                                    std::string(failure->step) + " " + path + ": " +
                                        std::strerror(failure->error)));
        return false;
    }
    return true;
}

}  // namespace quenbril
