#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/DescriptorWatch.h"
#include "foundation/Timer.h"
#include "platform/midi/MidiCommand.h"
#include "platform/midi/MidiDeviceManager.h"
#include "platform/midi/MidiEventQueue.h"

namespace quenbril {

class MidiConnectionManager;

class MidiConnectionManagerDelegate {
  public:
    virtual ~MidiConnectionManagerDelegate() = default;
    /// Non-zero: the device's sources are opened.
    virtual int64_t connectionManagerShouldConnectToNewlyAddedDevice(MidiConnectionManager& manager,
                                                                     const MidiDevice& device) = 0;
    /// The device went; `unterminatedNoteOns` are the note-ons it sent without their note-off.
    virtual void connectionManagerDeviceWasDisconnected(
        MidiConnectionManager& manager, const MidiDevice& device,
        const std::vector<MidiCommand>& unterminatedNoteOns) = 0;
};

/// Connects the devices its delegate accepts and hands their messages to the event handler on
/// the main thread; a source whose open is refused is tried again every kRetryInterval seconds
/// while its device is listed. Backend threads only copy each message into a lock-free queue that
/// wakes the main loop; the main loop drains it. Main thread only.
class MidiConnectionManager {
  public:
    static constexpr double kRetryInterval = 2.0;
    using EventHandler =
        std::function<void(const MidiEndpoint& source, const std::vector<MidiCommand>& commands)>;

    MidiConnectionManager(std::string name, MidiConnectionManagerDelegate* delegate,
                          EventHandler handler,
                          MidiDeviceManager& devices = MidiDeviceManager::sharedDeviceManager());
    ~MidiConnectionManager();
    MidiConnectionManager(const MidiConnectionManager&) = delete;
    MidiConnectionManager& operator=(const MidiConnectionManager&) = delete;

    /// Connections are never stored; kept for the callers that switch it off.
    void setAutomaticallySavesConfiguration(bool saves) { savesConfiguration_ = saves; }
    const std::string& name() const { return name_; }

    /// Messages lost because the queue was full.
    uint64_t droppedEvents() const { return queue_.droppedCount(); }

  private:
    struct Source {
        std::string client;
        MidiEndpoint endpoint;
    };

    void deviceAdded(const MidiDevice& device);
    void deviceRemoved(const MidiDevice& device);
    /// Opens `source`'s endpoint into the queue; false when the backend refuses it.
    bool open(const Source& source);
    void retryRefused();
    void drain();
    void track(const std::string& client, const MidiCommand& command);

    std::string name_;
    MidiConnectionManagerDelegate* delegate_;
    EventHandler handler_;
    MidiDeviceManager& devices_;
    int listener_ = 0;
    bool savesConfiguration_ = false;
    MidiEventQueue queue_;
    DescriptorWatch watch_;
    uint64_t droppedLogged_ = 0;
    uint32_t nextSource_ = 1;
    std::map<uint32_t, Source> sources_;
    /// Sources of listed devices whose open was refused, and the timer that tries them again.
    std::vector<Source> refused_;
    Timer retryTimer_;
    std::map<std::string, std::vector<MidiCommand>> hangingNoteOns_;
};

}  // namespace quenbril
