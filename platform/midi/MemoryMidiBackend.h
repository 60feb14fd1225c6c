#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/midi/MidiBackend.h"

namespace quenbril {

/// A MIDI system in memory whose ports and messages a test scripts. Messages are delivered to
/// open input ports from a thread of the backend's own, as a real MIDI system does; as under
/// JACK, a port that goes takes our connection with it, and one made again under its name is not
/// connected.
class MemoryMidiBackend : public MidiBackend {
  public:
    MemoryMidiBackend();
    ~MemoryMidiBackend() override;

    Api api() const override { return Api::Memory; }
    std::optional<std::vector<MidiPortInfo>> listPorts() override;
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override;
    void closeInput(const MidiPortInfo& port) override;
    std::vector<MidiInputLoss> lostInputs() override;

    // Scripting, from any thread.
    void addPort(const MidiPortInfo& port);
    /// Removes every port of `client`.
    void removeClient(const std::string& client);
    /// Our connection to `port` goes while the port stays listed, as when it goes and is made
    /// again under its name between two polls.
    void loseConnection(const MidiPortInfo& port);
    /// Another program (a patchbay) undoes our connection to `port`, which stays as it was.
    void undoConnection(const MidiPortInfo& port);
    /// An unreachable system lists nothing (nullopt).
    void setReachable(bool reachable);
    /// Opens are refused while set, as by a worker that does not answer in time.
    void setOpensRefused(bool refused);
    /// Queues `bytes` as one message read from `port`; the delivery thread hands it to the port's
    /// callback when the port is open then, and drops it otherwise.
    void send(const MidiPortInfo& port, std::vector<uint8_t> bytes);
    bool isOpen(const MidiPortInfo& port) const;
    /// True once every message sent so far has been delivered or dropped.
    bool isIdle() const;

  private:
    struct Connection {
        ByteCallback callback;
        enum class Loss { None, Undone, PortMadeAgain } loss = Loss::None;
        bool lossTold = false;
    };

    void deliver();
    /// Under the lock.
    void loseConnectionsOf(const std::function<bool(const MidiPortInfo&)>& which,
                           Connection::Loss loss);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<MidiPortInfo> ports_;
    std::map<MidiPortInfo, Connection> open_;
    std::deque<std::pair<MidiPortInfo, std::vector<uint8_t>>> pending_;
    bool delivering_ = false;
    bool reachable_ = true;
    bool opensRefused_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quenbril
