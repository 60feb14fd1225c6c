#include "platform/midi/MidiPortPoller.h"

#include <chrono>

#include "foundation/RunLoop.h"

namespace quenbril {

MidiPortPoller::MidiPortPoller(MidiBackend& backend, double interval,
                               std::function<void(Ports)> changed)
    : backend_(backend),
      interval_(interval),
      changed_(std::make_shared<std::function<void(Ports)>>(std::move(changed))),
      thread_([this] { run(); }) {}

MidiPortPoller::~MidiPortPoller() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // A change already posted to the main loop finds the handler gone with changed_.
}

void MidiPortPoller::run() {
    bool first = true;
    Ports last;
    std::weak_ptr<std::function<void(Ports)>> changed = changed_;
    for (;;) {
        Ports ports = backend_.listPorts();
        if (first || ports != last) {
            first = false;
            last = ports;
            RunLoop::postToMain([changed, ports = std::move(ports)] {
                if (auto handler = changed.lock(); handler && *handler) {
                    (*handler)(ports);
                }
            });
        }
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::duration<double>(interval_),
                           [this] { return stopping_; })) {
            return;
        }
    }
}

}  // namespace quenbril
