#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/midi/MidiBackend.h"

namespace quenbril {

/// Lists a backend's ports every `interval` seconds on a thread of its own, since listing may be
/// slow, and hands each changed list, or one with inputs whose connection was lost, to `changed`
/// on the main loop.
class MidiPortPoller {
  public:
    using Ports = std::optional<std::vector<MidiPortInfo>>;
    /// The ports listed, and the inputs the backend lost the connection of (see
    /// MidiBackend::lostInputs()).
    using Handler = std::function<void(const Ports& ports, const std::vector<MidiInputLoss>& lost)>;

    MidiPortPoller(MidiBackend& backend, double interval, Handler changed);
    /// Stops the thread; no change is handed on afterwards.
    ~MidiPortPoller();
    MidiPortPoller(const MidiPortPoller&) = delete;
    MidiPortPoller& operator=(const MidiPortPoller&) = delete;

  private:
    void run();

    MidiBackend& backend_;
    const double interval_;
    std::shared_ptr<Handler> changed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quenbril
