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
    std::vector<MidiPortInfo> lost;
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
                std::vector<MidiPortInfo> lost = member->backend->lostInputs();
                std::lock_guard lock(member->lostLock);
                member->lost.insert(member->lost.end(), lost.begin(), lost.end());
            }
            return ports;
        })
        .value_or(std::nullopt);
}

std::vector<MidiPortInfo> GuardedMidiBackend::lostInputs() {
    std::lock_guard lock(member_->lostLock);
    return std::exchange(member_->lost, {});
}

bool GuardedMidiBackend::openInput(const MidiPortInfo& port, ByteCallback callback) {
    {
        // Open already: the close that may follow a failed open below must not reach it.
        std::lock_guard lock(relaysLock_);
        if (relays_.count(port)) return false;
    }
    auto relay = std::make_shared<Relay>(std::move(callback));
    auto opened = worker_->call<bool>([member = member_, port, relay] {
        return member->backend &&
               member->backend->openInput(port, [relay](const uint8_t* bytes, size_t length) {
                   relay->deliver(bytes, length);
               });
    });
    if (!opened.value_or(false)) {
        relay->detach();
        // An open that comes after its caller gave up is closed: the close follows it.
        if (!opened) worker_->post(closeJob(port));
        return false;
    }
    std::lock_guard lock(relaysLock_);
    relays_[port] = relay;
    return true;
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
