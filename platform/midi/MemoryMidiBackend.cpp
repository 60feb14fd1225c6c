#include "platform/midi/MemoryMidiBackend.h"

#include <algorithm>

namespace quenbril {

MemoryMidiBackend::MemoryMidiBackend() : thread_([this] { deliver(); }) {}

MemoryMidiBackend::~MemoryMidiBackend() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::optional<std::vector<MidiPortInfo>> MemoryMidiBackend::listPorts() {
    std::lock_guard lock(mutex_);
    if (!reachable_) {
        return std::nullopt;
    }
    return ports_;
}

bool MemoryMidiBackend::openInput(const MidiPortInfo& port, ByteCallback callback) {
    std::lock_guard lock(mutex_);
    if (opensRefused_ || port.direction != MidiPortInfo::Direction::Input ||
        std::find(ports_.begin(), ports_.end(), port) == ports_.end()) {
        return false;
    }
    open_[port] = Connection{std::move(callback)};
    return true;
}

void MemoryMidiBackend::closeInput(const MidiPortInfo& port) {
    // Delivery happens under the lock, so no callback runs once this returns.
    std::lock_guard lock(mutex_);
    open_.erase(port);
}

std::vector<MidiInputLoss> MemoryMidiBackend::lostInputs() {
    std::lock_guard lock(mutex_);
    std::vector<MidiInputLoss> lost;
    for (auto& [port, connection] : open_) {
        const bool listed = std::find(ports_.begin(), ports_.end(), port) != ports_.end();
        if (connection.loss != Connection::Loss::None && !connection.lossTold && listed) {
            connection.lossTold = true;
            lost.push_back({port, connection.loss == Connection::Loss::Undone});
        }
    }
    return lost;
}

void MemoryMidiBackend::addPort(const MidiPortInfo& port) {
    std::lock_guard lock(mutex_);
    ports_.push_back(port);
}

void MemoryMidiBackend::removeClient(const std::string& client) {
    std::lock_guard lock(mutex_);
    const auto ofClient = [&](const MidiPortInfo& p) { return p.client == client; };
    std::erase_if(ports_, ofClient);
    loseConnectionsOf(ofClient, Connection::Loss::PortMadeAgain);
}

void MemoryMidiBackend::loseConnection(const MidiPortInfo& port) {
    std::lock_guard lock(mutex_);
    loseConnectionsOf([&](const MidiPortInfo& p) { return p == port; },
                      Connection::Loss::PortMadeAgain);
}

void MemoryMidiBackend::undoConnection(const MidiPortInfo& port) {
    std::lock_guard lock(mutex_);
    loseConnectionsOf([&](const MidiPortInfo& p) { return p == port; }, Connection::Loss::Undone);
}

void MemoryMidiBackend::loseConnectionsOf(const std::function<bool(const MidiPortInfo&)>& which,
                                          Connection::Loss loss) {
    for (auto& [port, connection] : open_) {
        // A port made again after its connection was undone is told again; nothing else is.
        if (!which(port) || connection.loss == loss ||
            connection.loss == Connection::Loss::PortMadeAgain) {
            continue;
        }
        connection.loss = loss;
        connection.lossTold = false;
    }
}

void MemoryMidiBackend::setReachable(bool reachable) {
    std::lock_guard lock(mutex_);
    reachable_ = reachable;
}

void MemoryMidiBackend::setOpensRefused(bool refused) {
    std::lock_guard lock(mutex_);
    opensRefused_ = refused;
}

void MemoryMidiBackend::send(const MidiPortInfo& port, std::vector<uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        pending_.emplace_back(port, std::move(bytes));
    }
    wake_.notify_all();
}

bool MemoryMidiBackend::isOpen(const MidiPortInfo& port) const {
    std::lock_guard lock(mutex_);
    return open_.count(port) != 0;
}

bool MemoryMidiBackend::isIdle() const {
    std::lock_guard lock(mutex_);
    return pending_.empty() && !delivering_;
}

void MemoryMidiBackend::deliver() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) {
            return;
        }
        delivering_ = true;
        while (!pending_.empty()) {
            auto [port, bytes] = std::move(pending_.front());
            pending_.pop_front();
            auto found = open_.find(port);
            if (found != open_.end() && found->second.loss == Connection::Loss::None) {
                found->second.callback(bytes.data(), bytes.size());
            }
        }
        delivering_ = false;
    }
}

}  // namespace quenbril
