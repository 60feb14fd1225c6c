#include "platform/audio/SystemAudioBackend.h"

namespace quenbril {

SystemAudioBackend::SystemAudioBackend(std::unique_ptr<AudioBackend> jack,
                                       std::unique_ptr<AudioBackend> others) {
    members_.push_back(std::move(jack));
    members_.push_back(std::move(others));
    join();
}

void SystemAudioBackend::join() {
    std::vector<AudioBackendDevice> devices;
    std::vector<Route> routes;
    for (auto& member : members_) {
        for (auto device : member->devices()) {
            routes.push_back({member.get(), device.index});
            device.index = static_cast<int>(devices.size());
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
            return static_cast<int>(k);
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
    Route route{};
    {
        std::lock_guard lock(mutex_);
        if (parameters.device < 0 || parameters.device >= static_cast<int>(routes_.size())) {
            error = "No such audio device";
            return nullptr;
        }
        route = routes_[static_cast<size_t>(parameters.device)];
    }
    AudioStreamParameters own = parameters;
    own.device = route.index;
    return route.backend->openStream(own, client, error);
}

bool SystemAudioBackend::refresh() {
    // Indices must stay put while any stream uses one.
    if (openStreamCount() > 0) return false;
    for (auto& member : members_) member->refresh();
    join();
    return true;
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

int SystemAudioBackend::openStreamCount() const {
    int count = 0;
    for (const auto& member : members_) count += member->openStreamCount();
    return count;
}

}  // namespace quenbril
