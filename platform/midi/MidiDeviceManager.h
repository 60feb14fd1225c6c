#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/midi/MidiDevice.h"
#include "platform/midi/MidiPortPoller.h"
#include "platform/midi/UndoneConnectionPacing.h"

namespace quenbril {

/// The devices of the installed MIDI backend, kept up to date by polling its ports. Main thread
/// only. With no backend installed there is no MIDI and no device.
class MidiDeviceManager {
  public:
    /// Told of a device that came (true) or went (false), before the notification is posted.
    using Listener = std::function<void(const MidiDevice& device, bool added)>;

    static MidiDeviceManager& sharedDeviceManager();

    MidiDeviceManager();
    ~MidiDeviceManager();
    MidiDeviceManager(const MidiDeviceManager&) = delete;
    MidiDeviceManager& operator=(const MidiDeviceManager&) = delete;

    /// Replaces the backend (nullptr: none), first removing every device of the old one. The
    /// ports are listed every `pollInterval` seconds off the main thread.
    void installBackend(std::unique_ptr<MidiBackend> backend, double pollInterval = 1.0);
    MidiBackend* backend() const { return backend_.get(); }

    const std::vector<MidiDevice>& availableDevices() const { return devices_; }
    /// Whether some device has a port that can be read: without one nothing can be learnt.
    bool hasInput() const;

    int addListener(Listener listener);
    void removeListener(int id);

  private:
    void portsChanged(const MidiPortPoller::Ports& ports, const std::vector<MidiInputLoss>& lost);
    void remove(const MidiDevice& device, bool logged = true);
    void add(const MidiDevice& device, bool logged = true);
    /// Goes and comes again at once, with one line, so that its sources are opened afresh.
    void reconnect(const MidiDevice& device, bool logged = true);
    /// The same for a device whose connection another program undid, paced.
    void reconnectUndone(const MidiDevice& device);
    void tell(const MidiDevice& device, bool added);

    std::unique_ptr<MidiBackend> backend_;
    std::unique_ptr<MidiPortPoller> poller_;
    std::vector<MidiDevice> devices_;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
    /// What the polls found of the MIDI system so far, for the log: a system never reached did
    /// not go away.
    enum class Reach { NotPolled, NotYet, Reached, Lost };
    Reach reach_ = Reach::NotPolled;
    UndoneConnectionPacing undonePacing_;
};

}  // namespace quenbril
