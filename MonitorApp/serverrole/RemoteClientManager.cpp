#include "MonitorApp/serverrole/RemoteClientManager.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {
SharedInstance<RemoteClientManager> shared;
}

RemoteClientManager& RemoteClientManager::sharedInstance() { return shared.get(); }

RemoteClientManager::RemoteClientManager() {
    for (auto& c : clients_) c = std::make_unique<RemoteClient>();
    updateOutputChannelMap();
}

RemoteClientManager::RemoteClientManager(int outputChannels,
                                         const std::function<void(int)>& setEngineOutputChannel,
                                         const UserDefaults& defaults) {
    for (auto& c : clients_) c = std::make_unique<RemoteClient>();
    const auto outputs = defaults.arrayForKey(kAudioOutputsKey);
    if (outputs && outputs->size() == kSlots + 1) {
        // A value that is not an integer, or lies past the device, leaves that output as it is.
        auto usable = [&](size_t i) -> std::optional<int32_t> {
            const Value& v = (*outputs)[i];
            if (!v.isInteger()) return std::nullopt;
            const int64_t c = *v.longLongValue();
            if (c + 1 >= outputChannels || c < -1) return std::nullopt;
            return static_cast<int32_t>(c);
        };
        if (auto engine = usable(0); engine && *engine >= 0) setEngineOutputChannel(*engine);
        for (int slot = 0; slot < kSlots; ++slot) {
            if (auto c = usable(static_cast<size_t>(slot) + 1)) client(slot).setAudioOutput(*c);
        }
    }
    updateOutputChannelMap();
}

std::array<int32_t, RemoteClientManager::kSlots> RemoteClientManager::clientOutputsInStream()
    const {
    std::array<int32_t, kSlots> positions{};
    for (int slot = 0; slot < kSlots; ++slot)
        positions[static_cast<size_t>(slot)] = clientOutputInStream(slot);
    return positions;
}

bool RemoteClientManager::addClient(const std::string& address, int slot) {
    if (slot < 0 || slot >= kSlots) return false;
    for (int i = 0; i < kSlots; ++i) {
        RemoteClient& c = client(i);
        if (!c.isFree() && c.removeIPAddress(address)) {
            QLOG("Removed client from slot %d", i);
            c.switchOffChannels();
        }
    }
    client(slot).addIPAddress(address);
    QLOG("Added client to slot %d", slot);
    client(slot).switchOffChannels();
    changed();
    return true;
}

RemoteClient* RemoteClientManager::clientWithIP(const std::string& address) {
    for (auto& c : clients_) {
        if (c->ipAddresses().count(address)) return c.get();
    }
    return nullptr;
}

void RemoteClientManager::startStreamTo(const std::string& address) {
    if (RemoteClient* c = clientWithIP(address)) {
        c->streamTo().insert(address);
        changed();
    }
}

void RemoteClientManager::stopStreamTo(const std::string& address) {
    if (RemoteClient* c = clientWithIP(address)) {
        c->streamTo().erase(address);
        changed();
    }
}

bool RemoteClientManager::removeClient(const std::string& address) {
    for (int i = 0; i < kSlots; ++i) {
        if (client(i).removeIPAddress(address)) {
            QLOG("Removed client from slot %d", i);
            changed();
            return true;
        }
    }
    return false;
}

void RemoteClientManager::updateWithCurrentControllers() {
    const auto& current = ChannelStripManager::channelStripControllers();
    for (auto& c : clients_) c->updateWithControllers(current);
    changed();
}

void RemoteClientManager::updateOutputChannelMap() {
    int32_t next = 2;
    for (int slot = 0; slot < kSlots; ++slot) {
        int32_t position = -1;
        if (client(slot).audioOutput() >= 0) {
            position = next;
            next += 2;
        }
        outputsInStream_[static_cast<size_t>(slot)].store(position, std::memory_order_relaxed);
    }
    changed();
}

}  // namespace quenbril
