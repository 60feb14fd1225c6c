#include "platform/serial/LinkFolderSource.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

LinkFolderSource::LinkFolderSource(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

LinkFolderSource::~LinkFolderSource() { stop(); }

SerialDevice LinkFolderSource::deviceNamed(const std::string& name) const {
    return {folder_ + "/" + name, name};
}

std::vector<SerialDevice> LinkFolderSource::enumerate() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        std::error_code ignored;
        if (entry.is_directory(ignored)) continue;
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::vector<SerialDevice> devices;
    for (const std::string& name : names) devices.push_back(deviceNamed(name));
    return devices;
}

std::optional<SerialDevice> LinkFolderSource::find(const std::string& path) {
    std::filesystem::path asked(path);
    if (asked.parent_path() != std::filesystem::path(folder_)) return std::nullopt;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    return deviceNamed(asked.filename().string());
}

bool LinkFolderSource::start(Handlers handlers) {
    stop();
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) return false;
    if (inotify_add_watch(inotify_, folder_.c_str(),
                          IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
        // A missing folder is the common case (no udevd makes /dev/serial/by-id): no news.
        if (errno != ENOENT) {
            QLOG("Serial link folder %s cannot be watched: %s", folder_.c_str(), strerror(errno));
        }
        ::close(inotify_);
        inotify_ = -1;
        return false;
    }
    handlers_ = std::move(handlers);
    watch_ = RunLoop::main().watchDescriptor(inotify_, RunLoop::Condition::Readable,
                                             [this] { drainEvents(); });
    return true;
}

void LinkFolderSource::stop() {
    watch_.cancel();
    if (inotify_ >= 0) ::close(inotify_);
    inotify_ = -1;
}

void LinkFolderSource::drainEvents() {
    std::vector<SerialDevice> added;
    std::vector<std::string> removed;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t length = ::read(inotify_, buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0 || (event->mask & IN_ISDIR)) continue;
            SerialDevice device = deviceNamed(event->name);
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                std::erase(removed, device.path);
                added.push_back(std::move(device));
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                std::erase(added, device);
                removed.push_back(device.path);
            }
        }
    }
    if (!added.empty() && handlers_.added) handlers_.added(added);
    if (!removed.empty() && handlers_.removed) handlers_.removed(removed);
}

}  // namespace quenbril
