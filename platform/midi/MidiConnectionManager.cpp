#include "platform/midi/MidiConnectionManager.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

MidiConnectionManager::MidiConnectionManager(std::string name,
                                             MidiConnectionManagerDelegate* delegate,
                                             EventHandler handler, MidiDeviceManager& devices)
    : name_(std::move(name)), delegate_(delegate), handler_(std::move(handler)), devices_(devices) {
    for (const MidiDevice& device : devices_.availableDevices()) {
        deviceAdded(device);
    }
    listener_ = devices_.addListener([this](const MidiDevice& device, bool added) {
        added ? deviceAdded(device) : deviceRemoved(device);
    });
}

MidiConnectionManager::~MidiConnectionManager() {
    devices_.removeListener(listener_);
    if (MidiBackend* backend = devices_.backend()) {
        for (const auto& [id, source] : sources_) {
            backend->closeInput(source.endpoint);
        }
    }
    watch_.cancel();
}

void MidiConnectionManager::deviceAdded(const MidiDevice& device) {
    MidiBackend* backend = devices_.backend();
    if (!backend || !delegate_ ||
        delegate_->connectionManagerShouldConnectToNewlyAddedDevice(*this, device) == 0) {
        return;
    }
    if (!watch_.isActive()) {
        // Made with the first source, on the main thread, so that a manager without MIDI never
        // watches anything.
        watch_ = RunLoop::main().watchDescriptor(queue_.wakeDescriptor(),
                                                 RunLoop::Condition::Readable, [this] { drain(); });
    }
    for (const MidiEntity& entity : device.entities()) {
        for (const MidiEndpoint& endpoint : entity.sources) {
            const Source source{device.displayName(), endpoint};
            if (open(source)) continue;
            // A worker held up, a port that went meanwhile: the device is listed and stays so,
            // so nothing else would open it again.
            log(LogLevel::Warning, "MIDI: cannot open %s:%s; trying again every %.0f s",
                endpoint.client.c_str(), endpoint.port.c_str(), kRetryInterval);
            refused_.push_back(source);
        }
    }
    if (!refused_.empty() && !retryTimer_.isValid()) {
        retryTimer_ =
            RunLoop::main().scheduleTimer(kRetryInterval, true, [this] { retryRefused(); });
    }
}

bool MidiConnectionManager::open(const Source& source) {
    MidiBackend* backend = devices_.backend();
    if (!backend) return false;
    const uint32_t id = nextSource_++;
    MidiEventQueue* queue = &queue_;
    // This runs on the backend's thread: it only copies the message into the queue.
    auto copy = [queue, id](const uint8_t* bytes, size_t length) {
        if (auto command = MidiCommand::fromBytes(bytes, length)) {
            queue->push({id, *command});
        }
    };
    if (!backend->openInput(source.endpoint, copy)) return false;
    sources_[id] = source;
    return true;
}

void MidiConnectionManager::retryRefused() {
    std::erase_if(refused_, [this](const Source& source) {
        if (!open(source)) return false;
        log(LogLevel::Info, "MIDI: opened %s:%s", source.endpoint.client.c_str(),
            source.endpoint.port.c_str());
        return true;
    });
    if (refused_.empty()) retryTimer_.invalidate();
}

void MidiConnectionManager::deviceRemoved(const MidiDevice& device) {
    std::erase_if(refused_,
                  [&](const Source& source) { return source.client == device.displayName(); });
    if (refused_.empty()) retryTimer_.invalidate();
    MidiBackend* backend = devices_.backend();
    bool wasConnected = false;
    for (auto it = sources_.begin(); it != sources_.end();) {
        if (it->second.client == device.displayName()) {
            if (backend) {
                backend->closeInput(it->second.endpoint);
            }
            wasConnected = true;
            it = sources_.erase(it);
        } else {
            ++it;
        }
    }
    // Messages already queued from the device still count towards its hanging notes.
    drain();
    std::vector<MidiCommand> hanging;
    if (auto found = hangingNoteOns_.find(device.displayName()); found != hangingNoteOns_.end()) {
        hanging = std::move(found->second);
        hangingNoteOns_.erase(found);
    }
    if (wasConnected && delegate_) {
        delegate_->connectionManagerDeviceWasDisconnected(*this, device, hanging);
    }
}

void MidiConnectionManager::drain() {
    queue_.clearWakeUp();
    const uint64_t dropped = queue_.droppedCount();
    if (dropped != droppedLogged_) {
        log(LogLevel::Warning, "MIDI: %llu messages lost because the queue was full (%llu in all)",
            static_cast<unsigned long long>(dropped - droppedLogged_),
            static_cast<unsigned long long>(dropped));
        droppedLogged_ = dropped;
    }
    while (auto entry = queue_.pop()) {
        auto source = sources_.find(entry->source);
        // A message of a source closed since it was queued is dropped with the source.
        if (source == sources_.end()) {
            continue;
        }
        const Source current = source->second;
        track(current.client, entry->command);
        if (handler_) {
            handler_(current.endpoint, {entry->command});
        }
    }
}

void MidiConnectionManager::track(const std::string& client, const MidiCommand& command) {
    const uint8_t kind = command.statusByte & 0xF0;
    if (kind != 0x80 && kind != 0x90) {
        return;
    }
    std::vector<MidiCommand>& hanging = hangingNoteOns_[client];
    const auto sameNote = [&](const MidiCommand& c) {
        return (c.statusByte & 0x0F) == (command.statusByte & 0x0F) &&
               c.dataByte1 == command.dataByte1;
    };
    std::erase_if(hanging, sameNote);
    if (kind == 0x90 && command.dataByte2 != 0) {
        hanging.push_back(command);
    }
}

}  // namespace quenbril
