#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace quenbril {

/// Counts the changes of a folder of sound-card device nodes (/dev/snd), on a thread of its own:
/// a node made or removed (a card plugged in or out), or the folder itself made or removed in
/// its parent (the first card of a machine that had none, the last one gone). A folder that is
/// not there is awaited in its parent; where neither can be watched nothing is counted.
class SoundCardWatch {
  public:
    explicit SoundCardWatch(std::string folder = "/dev/snd");
    ~SoundCardWatch();
    SoundCardWatch(const SoundCardWatch&) = delete;
    SoundCardWatch& operator=(const SoundCardWatch&) = delete;

    /// Any thread.
    uint64_t changes() const { return changes_.load(); }

  private:
    void run();
    void watchFolder();

    std::string folder_;
    std::string parent_;
    std::string name_;
    int inotify_ = -1;
    int stop_ = -1;
    int folderWatch_ = -1;
    int parentWatch_ = -1;
    std::atomic<uint64_t> changes_{0};
    std::thread thread_;
};

}  // namespace quenbril
