#include "foundation/BoundedFileRead.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quenbril {

namespace {

void fail(Error* error, int code, std::string description) {
    if (error) *error = Error::make(Error::kPosixDomain, code, std::move(description));
}

std::string mebibytes(std::size_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

std::optional<Bytes> readBoundedFile(const std::string& path, std::size_t maxSize, Error* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int code = errno;
        fail(error, code, "open " + path + ": " + std::strerror(code));
        return std::nullopt;
    }
    // The bytes grow as they are read, never by a size the file claims, so a file that grows
    // while it is read is still cut off at the limit.
    Bytes bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > maxSize) {
            fail(error, EFBIG, path + " is larger than " + mebibytes(maxSize));
            return std::nullopt;
        }
    }
    if (in.bad()) {
        const int code = errno;
        fail(error, code, "read " + path + ": " + std::strerror(code));
        return std::nullopt;
    }
    return bytes;
}

}  // namespace quenbril
