#include "platform/midi/GuardedMidiBackend.h"

#include <vector>

#include "foundation/CallbackGate.h"

namespace quenbril {

struct GuardedMidiBackend::Member {
    Maker make;
    /// Made and used on the worker only.
    std::unique_ptr<MidiBackend> backend;
    std::mutex leftLock;
    /// Ports whose close was refused while the worker was stuck.
    std::vector<MidiPortInfo> left;
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
    bool detached() const { return gate_.closed(); }

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
    // A maker that returns late is still taken.
    worker_->run([member = member_] { member->backend = member->make(); });
}

GuardedMidiBackend::~GuardedMidiBackend() {
    {
        std::lock_guard lock(relaysLock_);
        for (auto& [port, relay] : relays_) relay->detach();
    }
    worker_->run([member = member_] { member->backend.reset(); });
}

std::optional<std::vector<MidiPortInfo>> GuardedMidiBackend::listPorts() {
    closeLeftPorts();
    using Ports = std::optional<std::vector<MidiPortInfo>>;
    return worker_
        ->call<Ports>([member = member_]() -> Ports {
            return member->backend ? member->backend->listPorts() : std::nullopt;
        })
        .value_or(std::nullopt);
}

bool GuardedMidiBackend::openInput(const MidiPortInfo& port, ByteCallback callback) {
    closeLeftPorts();
    auto relay = std::make_shared<Relay>(std::move(callback));
    auto opened = worker_->call<bool>([member = member_, port, relay] {
        if (!member->backend) return false;
        const bool open = member->backend->openInput(
            port, [relay](const uint8_t* bytes, size_t length) { relay->deliver(bytes, length); });
        // Opened after its caller gave up: no one would ever close it.
        if (open && relay->detached()) {
            member->backend->closeInput(port);
            return false;
        }
        return open;
    });
    if (!opened.value_or(false)) {
        relay->detach();
        if (!opened) {
            // The open may still come, after the look above: closed once the worker answers.
            std::lock_guard lock(member_->leftLock);
            member_->left.push_back(port);
        }
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
    std::function<void()> close = [member = member_, port] {
        if (member->backend) member->backend->closeInput(port);
    };
    if (!worker_->run(std::move(close)) && close) {
        std::lock_guard lock(member_->leftLock);
        member_->left.push_back(port);
    }
}

void GuardedMidiBackend::closeLeftPorts() {
    std::vector<MidiPortInfo> ports;
    {
        std::lock_guard lock(member_->leftLock);
        ports.swap(member_->left);
    }
    if (ports.empty()) return;
    std::function<void()> close = [member = member_, ports] {
        if (!member->backend) return;
        for (const auto& port : ports) member->backend->closeInput(port);
    };
    if (!worker_->run(std::move(close)) && close) {
        std::lock_guard lock(member_->leftLock);
        member_->left.insert(member_->left.end(), ports.begin(), ports.end());
    }
}

}  // namespace quenbril
