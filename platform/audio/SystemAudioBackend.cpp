#include "platform/audio/SystemAudioBackend.h"

namespace quenbril {

SystemAudioBackend::SystemAudioBackend(std::unique_ptr<AudioBackend> jack,
                                       std::unique_ptr<AudioBackend> others) {
    members_.push_back(std::move(jack));
    members_.push_back(std::move(others));
    for (const auto& member : members_) lookedAt_.push_back(member->lookedAtChanges());
    join();
}

void SystemAudioBackend::join() {
    std::vector<AudioBackendDevice> devices;
    std::vector<Route> routes;
    for (size_t slot = 0; slot < members_.size(); ++slot) {
        for (auto device : members_[slot]->devices()) {
            routes.push_back({members_[slot].get(), device.index});
            device.index = static_cast<int>(slot) * kMemberStride + device.index;
            devices.push_back(std::move(device));
        }
    }
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    routes_ = std::move(routes);
}

std::optional<int> SystemAudioBackend::jointIndex(AudioBackend& backend,
                                                  std::optional<int> index) const {
    if (!index) return std::nullopt;
    std::lock_guard lock(mutex_);
    for (size_t k = 0; k < routes_.size(); ++k) {
        if (routes_[k].backend == &backend && routes_[k].index == *index) {
            return devices_[k].index;
        }
    }
    return std::nullopt;
}

std::vector<AudioBackendDevice> SystemAudioBackend::devices() {
    std::lock_guard lock(mutex_);
    return devices_;
}

std::optional<int> SystemAudioBackend::defaultInputDevice() {
    for (auto& member : members_) {
        if (auto index = jointIndex(*member, member->defaultInputDevice())) return index;
    }
    return std::nullopt;
}

std::optional<int> SystemAudioBackend::defaultOutputDevice() {
    for (auto& member : members_) {
        if (auto index = jointIndex(*member, member->defaultOutputDevice())) return index;
    }
    return std::nullopt;
}

std::unique_ptr<AudioStream> SystemAudioBackend::openStream(const AudioStreamParameters& parameters,
                                                            AudioStreamClient& client,
                                                            std::string& error) {
    std::optional<Route> route;
    {
        std::lock_guard lock(mutex_);
        for (size_t k = 0; k < devices_.size(); ++k) {
            if (devices_[k].index == parameters.device) route = routes_[k];
        }
    }
    if (!route) {
        error = "No such audio device";
        return nullptr;
    }
    AudioStreamParameters own = parameters;
    own.device = route->index;
    return route->backend->openStream(own, client, error);
}

bool SystemAudioBackend::refresh() {
    // A member with a stream open keeps its list (its indices must stay put while a stream uses
    // one); the others look again.
    bool every = true;
    for (size_t slot = 0; slot < members_.size(); ++slot) {
        const uint64_t changes = members_[slot]->deviceChanges();
        if (members_[slot]->refresh()) {
            lookedAt_[slot] = changes;
        } else if (changes != lookedAt_[slot]) {
            every = false;
        }
    }
    join();
    return every;
}

void SystemAudioBackend::release() {
    for (auto& member : members_) member->release();
}

std::string SystemAudioBackend::absence() {
    std::string words;
    for (auto& member : members_) {
        const std::string own = member->absence();
        if (own.empty()) continue;
        if (!words.empty()) words += "; ";
        words += own;
    }
    return words;
}

uint64_t SystemAudioBackend::deviceChanges() const {
    uint64_t changes = 0;
    for (const auto& member : members_) changes += member->deviceChanges();
    return changes;
}

uint64_t SystemAudioBackend::lookedAtChanges() const {
    uint64_t changes = 0;
    for (const auto& member : members_) changes += member->lookedAtChanges();
    return changes;
}

int SystemAudioBackend::openStreamCount() const {
    int count = 0;
    for (const auto& member : members_) count += member->openStreamCount();
    return count;
}

}  // namespace quenbril
