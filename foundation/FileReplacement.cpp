#include "foundation/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string_view>

namespace quenbril {

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files are "<file>.tmp-<process id>-XXXXXX", so that a later save can tell which
// belong to a process that is still writing.
std::string temporaryPrefix(const std::string& file) { return file + ".tmp-"; }

}  // namespace

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

void removeLeftoverTemporaries(const std::string& target) {
    const int savedErrno = errno;
    const std::string folder = folderOf(target);
    const std::string prefix = temporaryPrefix(nameOf(target));
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        errno = savedErrno;
        return;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.substr(0, prefix.size()) != prefix) continue;
        const std::string_view rest = name.substr(prefix.size());
        const size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || rest.size() != dash + 7) continue;
        if (rest.substr(0, dash).find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const long long pid = std::strtoll(std::string(rest.substr(0, dash)).c_str(), nullptr, 10);
        if (pid <= 0 || pid > INT32_MAX) continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        unlink((folder + "/" + std::string(name)).c_str());
    }
    closedir(dir);
    errno = savedErrno;
}

std::optional<std::string> createTemporaryBeside(const std::string& target, mode_t mode) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    const std::string prefix = temporaryPrefix(target) + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = prefix;
        for (int i = 0; i < 6; ++i) path += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<FileReplacementFailure> replaceFile(const std::string& target, const Bytes& bytes,
                                                  std::optional<mode_t> mode,
                                                  const std::function<void()>& beforeReplace) {
    removeLeftoverTemporaries(target);
    std::string temporary = temporaryPrefix(target) + std::to_string(getpid()) + "-XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
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
    if (!step && ::rename(temporary.c_str(), target.c_str()) != 0) {
        step = "rename";
        savedErrno = errno;
    }
    if (!step) return std::nullopt;
    ::unlink(temporary.c_str());
    return FileReplacementFailure{step, savedErrno};
}

}  // namespace quenbril
