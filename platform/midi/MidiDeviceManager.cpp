#include "platform/midi/MidiDeviceManager.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/midi/MidiNotifications.h"

namespace quenbril {
namespace {

bool hasSourceAmong(const MidiDevice& device, const std::vector<MidiInputLoss>& lost, bool undone) {
    for (const MidiEntity& entity : device.entities()) {
        for (const MidiEndpoint& source : entity.sources) {
            if (std::find(lost.begin(), lost.end(), MidiInputLoss{source, undone}) != lost.end()) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

MidiDeviceManager& MidiDeviceManager::sharedDeviceManager() {
    // Never destroyed: the backend's threads must not outlive the objects they report to at exit;
    // the application uninstalls the backend before it ends.
    static auto* shared = new MidiDeviceManager;
    return *shared;
}

MidiDeviceManager::MidiDeviceManager()
    : undonePacing_([this](const std::string& name) {
          for (const MidiDevice& device : devices_) {
              if (device.displayName() == name) return reconnect(MidiDevice(device), false);
          }
      }) {}

MidiDeviceManager::~MidiDeviceManager() { installBackend(nullptr); }

void MidiDeviceManager::installBackend(std::unique_ptr<MidiBackend> backend, double pollInterval) {
    poller_.reset();
    while (!devices_.empty()) {
        remove(devices_.back());
    }
    backend_ = std::move(backend);
    reach_ = Reach::NotPolled;
    undonePacing_.forgetAll();
    if (backend_) {
        poller_ = std::make_unique<MidiPortPoller>(
            *backend_, pollInterval,
            [this](const MidiPortPoller::Ports& ports, const std::vector<MidiInputLoss>& lost) {
                portsChanged(ports, lost);
            });
    }
}

bool MidiDeviceManager::hasInput() const {
    for (const MidiDevice& device : devices_) {
        for (const MidiEntity& entity : device.entities()) {
            if (!entity.sources.empty()) return true;
        }
    }
    return false;
}

int MidiDeviceManager::addListener(Listener listener) {
    listeners_[nextListener_] = std::move(listener);
    return nextListener_++;
}

void MidiDeviceManager::removeListener(int id) { listeners_.erase(id); }

void MidiDeviceManager::portsChanged(const MidiPortPoller::Ports& ports,
                                     const std::vector<MidiInputLoss>& lost) {
    const char* api = MidiBackend::apiName(backend_->api());
    if (!ports) {
        if (reach_ == Reach::Reached) {
            QLOG("MIDI: the %s system went away; all %zu devices removed", api, devices_.size());
            reach_ = Reach::Lost;
        } else if (reach_ == Reach::NotPolled) {
            // Not there at start (a JACK server may come later): the backend said so.
            reach_ = Reach::NotYet;
        }
        // The line above says it for all of them.
        undonePacing_.forgetAll();
        while (!devices_.empty()) {
            remove(devices_.back(), false);
        }
        return;
    }
    if (reach_ == Reach::Lost) {
        QLOG("MIDI: the %s system is back", api);
    } else if (reach_ == Reach::NotYet) {
        QLOG("MIDI: the %s system is available now", api);
    }
    reach_ = Reach::Reached;
    const std::vector<MidiDevice> now = MidiDevice::fromPorts(backend_->api(), *ports);
    // A device whose ports changed goes and comes again, so its sources are opened afresh; so
    // does one that lists the same but lost a source's connection, at once when a port was made
    // again, paced when another program undid the connection.
    std::vector<MidiDevice> gone;
    std::vector<MidiDevice> lostSome;
    std::vector<MidiDevice> undone;
    for (const MidiDevice& device : devices_) {
        if (std::find(now.begin(), now.end(), device) == now.end()) {
            gone.push_back(device);
        } else if (hasSourceAmong(device, lost, false)) {
            lostSome.push_back(device);
        } else if (hasSourceAmong(device, lost, true)) {
            undone.push_back(device);
        }
    }
    for (const MidiDevice& device : gone) {
        undonePacing_.forget(device.displayName());
        remove(device);
    }
    for (const MidiDevice& device : now) {
        if (std::find(devices_.begin(), devices_.end(), device) == devices_.end()) {
            add(device);
        }
    }
    for (const MidiDevice& device : lostSome) {
        undonePacing_.forget(device.displayName());
        reconnect(device);
    }
    for (const MidiDevice& device : undone) {
        reconnectUndone(device);
    }
}

void MidiDeviceManager::reconnect(const MidiDevice& device, bool logged) {
    if (logged) {
        QLOG("MIDI device reconnected: %s", device.displayName().c_str());
    }
    remove(device, false);
    add(device, false);
}

void MidiDeviceManager::reconnectUndone(const MidiDevice& device) {
    if (undonePacing_.undone(device.displayName())) reconnect(device);
}

void MidiDeviceManager::remove(const MidiDevice& device, bool logged) {
    const MidiDevice removed = device;
    std::erase(devices_, removed);
    if (logged) {
        QLOG("MIDI device removed: %s", removed.displayName().c_str());
    }
    tell(removed, false);
    NotificationCenter::defaultCenter().post(kMidiDeviceWasRemovedNotification,
                                             Dictionary{{"name", removed.displayName()}});
}

void MidiDeviceManager::add(const MidiDevice& device, bool logged) {
    devices_.push_back(device);
    if (logged) {
        QLOG("MIDI device added: %s", device.displayName().c_str());
    }
    tell(device, true);
    NotificationCenter::defaultCenter().post(kMidiDeviceWasAddedNotification,
                                             Dictionary{{"name", device.displayName()}});
}

void MidiDeviceManager::tell(const MidiDevice& device, bool added) {
    // A listener may remove itself or others while being told.
    const auto listeners = listeners_;
    for (const auto& [id, listener] : listeners) {
        if (listeners_.count(id)) {
            listener(device, added);
        }
    }
}

}  // namespace quenbril
