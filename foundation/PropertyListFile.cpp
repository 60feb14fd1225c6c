#include "foundation/PropertyListFile.h"

#include <sys/types.h>

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

std::optional<Value> PropertyListFile::read(const std::string& path, Error* error) const {
    std::optional<Bytes> bytes = readBoundedFile(path, maxFileSize_, error);
    if (!bytes) return std::nullopt;
    return fromBytes(*bytes, path, error);
}

std::optional<Value> PropertyListFile::fromBytes(const Bytes& bytes, const std::string& path,
                                                 Error* error) const {
    Error plistError;
    std::optional<Value> root = PropertyList::read(bytes, &plistError);
    if (!root) {
        setError(error,
                 Error::make(domain_, plistError.code, path + ": " + plistError.description));
    }
    return root;
}

const Array* PropertyListFile::rootArray(const Value& root, const std::string& path,
                                         Error* error) const {
    const Array* entries = root.arrayValue();
    if (!entries) {
        setError(error, Error::make(domain_, EINVAL, path + " holds no list of " + listOf_));
    }
    return entries;
}

bool PropertyListFile::write(const Value& root, const std::string& path, Error* error) const {
    Error plistError;
    std::optional<Bytes> bytes = PropertyList::write(root, PropertyList::Format::Xml, &plistError);
    if (!bytes) {
        setError(error,
                 Error::make(domain_, plistError.code, path + ": " + plistError.description));
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
