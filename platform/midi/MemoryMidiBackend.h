#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/midi/MidiBackend.h"

namespace quenbril {

/// A MIDI system in memory whose ports and messages a test scripts. Messages are delivered to
/// open input ports from a thread of the backend's own, as a real MIDI system does.
class MemoryMidiBackend : public MidiBackend {
  public:
    MemoryMidiBackend();
    ~MemoryMidiBackend() override;

    Api api() const override { return Api::Memory; }
    std::optional<std::vector<MidiPortInfo>> listPorts() override;
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override;
    void closeInput(const MidiPortInfo& port) override;

    // Scripting, from any thread.
    void addPort(const MidiPortInfo& port);
    /// Removes every port of `client`.
    void removeClient(const std::string& client);
    /// An unreachable system lists nothing (nullopt).
    void setReachable(bool reachable);
    /// Queues `bytes` as one message read from `port`; the delivery thread hands it to the port's
    /// callback when the port is open then, and drops it otherwise.
    void send(const MidiPortInfo& port, std::vector<uint8_t> bytes);
    bool isOpen(const MidiPortInfo& port) const;
    /// True once every message sent so far has been delivered or dropped.
    bool isIdle() const;

  private:
    void deliver();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<MidiPortInfo> ports_;
    std::map<MidiPortInfo, ByteCallback> open_;
    std::deque<std::pair<MidiPortInfo, std::vector<uint8_t>>> pending_;
    bool delivering_ = false;
    bool reachable_ = true;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quenbril
