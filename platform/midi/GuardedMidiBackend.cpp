#include "platform/midi/GuardedMidiBackend.h"

#include <utility>
#include <vector>

#include "foundation/CallbackGate.h"

namespace quenbril {

struct GuardedMidiBackend::Member {
    Maker make;
    /// Made and used on the worker only.
    std::unique_ptr<MidiBackend> backend;
    /// Losses told with a list and not yet taken: one whose list came too late is taken with a
    /// later one.
    std::mutex lostLock;
    std::vector<MidiInputLoss> lost;
};

// Stands between the backend's thread and the caller's callback: once detached, no message
// reaches the caller. The backend's thread (a real-time one under JACK) never waits here.
class GuardedMidiBackend::Relay {
  public:
    explicit Relay(ByteCallback callback) : callback_(std::move(callback)) {}

    void deliver(const uint8_t* bytes, size_t length) {
        gate_.pass([&] { callback_(bytes, length); });
    }
    void detach() { gate_.close(); }

  private:
    ByteCallback callback_;
    CallbackGate gate_;
};

GuardedMidiBackend::GuardedMidiBackend(Api api, std::string name, std::string stuckText, Maker make,
                                       double limit, std::string why)
    : GuardedMidiBackend(api,
                         std::make_shared<BoundedWorker>(std::move(name), std::move(stuckText),
                                                         limit, std::move(why)),
                         std::move(make)) {}

GuardedMidiBackend::GuardedMidiBackend(Api api, std::shared_ptr<BoundedWorker> worker, Maker make)
    : api_(api), member_(std::make_shared<Member>()), worker_(std::move(worker)) {
    member_->make = std::move(make);
    // Made however late the worker answers: another user of the library may hold it up now.
    worker_->runEvenLate([member = member_] { member->backend = member->make(); });
}

GuardedMidiBackend::~GuardedMidiBackend() {
    {
        std::lock_guard lock(relaysLock_);
        for (auto& [port, relay] : relays_) relay->detach();
    }
    // Never on the caller: the backend's end may wait on the library (JACK MIDI's waits for
    // the JACK clients' lock, which a stuck open holds).
    worker_->runEvenLate([member = member_] { member->backend.reset(); });
}

std::optional<std::vector<MidiPortInfo>> GuardedMidiBackend::listPorts() {
    using Ports = std::optional<std::vector<MidiPortInfo>>;
    // The losses are asked in the same call: a loss must never be asked on its own and then
    // dropped with an answer that came too late, since it is told once.
    return worker_
        ->call<Ports>([member = member_]() -> Ports {
            if (!member->backend) return std::nullopt;
            Ports ports = member->backend->listPorts();
            if (ports) {
                std::vector<MidiInputLoss> lost = member->backend->lostInputs();
                std::lock_guard lock(member->lostLock);
                member->lost.insert(member->lost.end(), lost.begin(), lost.end());
            }
            return ports;
        })
        .value_or(std::nullopt);
}

std::vector<MidiInputLoss> GuardedMidiBackend::lostInputs() {
    std::lock_guard lock(member_->lostLock);
    return std::exchange(member_->lost, {});
}

// What an open and its caller know of each other: an open that ends after its caller gave up is
// closed by whichever of the two learns last that it opened.
struct GuardedMidiBackend::LateOpen {
    std::mutex lock;
    bool ended = false;
    bool opened = false;
    bool givenUp = false;
};

bool GuardedMidiBackend::openInput(const MidiPortInfo& port, ByteCallback callback) {
    {
        // Open already: the close that may follow a late open below must not reach it.
        std::lock_guard lock(relaysLock_);
        if (relays_.count(port)) return false;
    }
    auto relay = std::make_shared<Relay>(std::move(callback));
    auto late = std::make_shared<LateOpen>();
    auto opened =
        worker_->call<bool>([member = member_, port, relay, late, close = closeJob(port)] {
            const bool done =
                member->backend &&
                member->backend->openInput(port, [relay](const uint8_t* bytes, size_t length) {
                    relay->deliver(bytes, length);
                });
            std::lock_guard lock(late->lock);
            late->ended = true;
            late->opened = done;
            // On the worker already: its caller gave up, so nothing else closes it.
            if (done && late->givenUp) close();
            return done;
        });
    if (opened.value_or(false)) {
        std::lock_guard lock(relaysLock_);
        relays_[port] = relay;
        return true;
    }
    relay->detach();
    if (!opened) {
        // Refused by a stuck worker, the open never runs and there is nothing to close; one that
        // overran closes itself when it ends, or is closed here if it ended meanwhile.
        std::lock_guard lock(late->lock);
        late->givenUp = true;
        if (late->ended && late->opened) worker_->post(closeJob(port));
    }
    return false;
}

void GuardedMidiBackend::closeInput(const MidiPortInfo& port) {
    {
        std::lock_guard lock(relaysLock_);
        auto found = relays_.find(port);
        if (found == relays_.end()) return;
        found->second->detach();
        relays_.erase(found);
    }
    worker_->runEvenLate(closeJob(port));
}

std::function<void()> GuardedMidiBackend::closeJob(const MidiPortInfo& port) const {
    return [member = member_, port] {
        if (member->backend) member->backend->closeInput(port);
    };
}

}  // namespace quenbril
