#include "platform/midi/MidiPortPoller.h"

#include <chrono>

#include "foundation/RunLoop.h"

namespace quenbril {

MidiPortPoller::MidiPortPoller(MidiBackend& backend, double interval, Handler changed)
    : backend_(backend),
      interval_(interval),
      changed_(std::make_shared<Handler>(std::move(changed))),
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
    std::weak_ptr<Handler> changed = changed_;
    for (;;) {
        Ports ports = backend_.listPorts();
        // A list that keeps its ports may hide one made again under its name since the last poll.
        std::vector<MidiInputLoss> lost;
        if (ports) lost = backend_.lostInputs();
        if (first || ports != last || !lost.empty()) {
            first = false;
            last = ports;
            RunLoop::postToMain([changed, ports = std::move(ports), lost = std::move(lost)] {
                if (auto handler = changed.lock(); handler && *handler) {
                    (*handler)(ports, lost);
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
