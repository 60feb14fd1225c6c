#include "platform/audio/SoundCardWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace quenbril {

SoundCardWatch::SoundCardWatch(std::string folder) : folder_(std::move(folder)) {
    const size_t slash = folder_.find_last_of('/');
    parent_ = slash == std::string::npos ? "." : slash == 0 ? "/" : folder_.substr(0, slash);
    name_ = slash == std::string::npos ? folder_ : folder_.substr(slash + 1);
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    stop_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify_ < 0 || stop_ < 0) return;
    parentWatch_ = inotify_add_watch(inotify_, parent_.c_str(),
                                     IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
    watchFolder();
    thread_ = std::thread([this] { run(); });
}

SoundCardWatch::~SoundCardWatch() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
        thread_.join();
    }
    if (inotify_ >= 0) ::close(inotify_);
    if (stop_ >= 0) ::close(stop_);
}

void SoundCardWatch::watchFolder() {
    folderWatch_ = inotify_add_watch(inotify_, folder_.c_str(),
                                     IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
}

void SoundCardWatch::run() {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        alignas(inotify_event) char buffer[4096];
        bool changed = false;
        for (;;) {
            const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
            if (length <= 0) break;
            for (ssize_t offset = 0; offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->wd == folderWatch_) {
                    changed = changed || (event->mask & IN_IGNORED) == 0;
                } else if (event->wd == parentWatch_ && event->len > 0 &&
                           std::strcmp(event->name, name_.c_str()) == 0) {
                    // The folder came (its nodes may be in it already) or went.
                    changed = true;
                    if (event->mask & (IN_CREATE | IN_MOVED_TO)) watchFolder();
                }
            }
        }
        if (changed) changes_.fetch_add(1);
    }
}

}  // namespace quenbril
