#include "foundation/BoundedFileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quenbril {

namespace {

void fail(Error* error, int code, std::string description) {
    if (error) *error = Error::make(Error::kPosixDomain, code, std::move(description));
}

std::string mebibytes(std::size_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::optional<Bytes> readBoundedFile(const std::string& path, std::size_t maxSize, Error* error) {
    // Opened without blocking: opening a FIFO for reading would otherwise wait for a writer for
    // ever. Only a regular file is read; a FIFO, a device or a folder is refused.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        const int code = errno;
        fail(error, code, "open " + path + ": " + std::strerror(code));
        return std::nullopt;
    }
    struct stat st;
    if (::fstat(file.fd, &st) != 0) {
        const int code = errno;
        fail(error, code, "stat " + path + ": " + std::strerror(code));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        fail(error, code, path + " is not a regular file");
        return std::nullopt;
    }
    if (static_cast<std::size_t>(st.st_size) > maxSize) {
        fail(error, EFBIG, path + " is larger than " + mebibytes(maxSize));
        return std::nullopt;
    }
    // The bytes grow as they are read, never by the size the file claims, so a file that grows
    // while it is read is still cut off at the limit.
    Bytes bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            fail(error, code, "read " + path + ": " + std::strerror(code));
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > maxSize) {
            fail(error, EFBIG, path + " is larger than " + mebibytes(maxSize));
            return std::nullopt;
        }
    }
    return bytes;
}

}  // namespace quenbril
