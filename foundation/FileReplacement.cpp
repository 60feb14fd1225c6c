#include "foundation/FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quenbril {

bool writeAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<FileReplacementFailure> replaceFile(const std::string& target,
                                                  std::string temporaryTemplate, const Bytes& bytes,
                                                  std::optional<mode_t> mode,
                                                  const std::function<void()>& beforeReplace) {
    int fd = ::mkostemp(temporaryTemplate.data(), O_CLOEXEC);
    if (fd < 0) return FileReplacementFailure{"create", errno};
    const char* step = nullptr;
    if (mode && ::fchmod(fd, *mode) != 0) {
        step = "chmod";
    } else if (!writeAll(fd, bytes)) {
        step = "write";
    } else if (::fsync(fd) != 0) {
        step = "fsync";
    }
    int savedErrno = errno;
    if (::close(fd) != 0 && !step) {
        step = "close";
        savedErrno = errno;
    }
    if (!step && beforeReplace) beforeReplace();
    if (!step && ::rename(temporaryTemplate.c_str(), target.c_str()) != 0) {
        step = "rename";
        savedErrno = errno;
    }
    if (!step) return std::nullopt;
    ::unlink(temporaryTemplate.c_str());
    return FileReplacementFailure{step, savedErrno};
}

}  // namespace quenbril
