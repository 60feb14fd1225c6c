#include "MonitorApp/serverrole/RemoteClient.h"

#include "foundation/Log.h"

namespace quenbril {

RemoteClient::RemoteClient() = default;

RemoteClient::RemoteClient(const Controllers& controllers) { updateWithControllers(controllers); }

void RemoteClient::addIPAddress(const std::string& address) {
    ipAddresses_.insert(address);
    busy_.store(true, std::memory_order_release);
}

bool RemoteClient::removeIPAddress(const std::string& address) {
    const bool held = ipAddresses_.erase(address) > 0;
    busy_.store(!ipAddresses_.empty(), std::memory_order_release);
    return held;
}

void RemoteClient::updateWithControllers(const Controllers& controllers) {
    controllers_.clear();
    controllers_.reserve(controllers.size());
    for (const auto& controller : controllers) {
        controllers_.push_back(
            ChannelStripController::makeWithoutView(controller->model().property()));
    }
}

void RemoteClient::switchOffChannels() {
    for (auto& controller : controllers_)
        controller->state().setChannelState(ChannelStripState::kOff);
}

Dictionary RemoteClient::propertyDic() const {
    Array strips;
    strips.reserve(controllers_.size());
    for (const auto& controller : controllers_) strips.emplace_back(controller->model().property());
    return Dictionary{{"audioOutput", Value(audioOutput())},
                      {"controllers", Value(std::move(strips))}};
}

bool RemoteClient::initFromPropertyDic(const Dictionary& dictionary) {
    const auto output = dictionary["audioOutput"].intValue();
    if (!output) {
        controllers_.clear();
        return false;
    }
    setAudioOutput(*output);
    controllers_.clear();
    if (!dictionary.contains("controllers")) return true;
    const Array* strips = dictionary["controllers"].arrayValue();
    bool readable = strips != nullptr;
    if (strips) {
        for (const Value& strip : *strips) {
            const Dictionary* d = strip.dictionaryValue();
            if (!d) {
                readable = false;
                break;
            }
            controllers_.push_back(ChannelStripController::makeWithoutView(*d));
        }
    }
    if (!readable) {
        controllers_.clear();
        QLOG("Error!!");
        return false;
    }
    return true;
}

std::vector<int32_t> RemoteClient::hardSoloedChannels() const {
    std::vector<int32_t> positions;
    for (size_t i = 0; i < controllers_.size(); ++i) {
        const uint64_t s = controllers_[i]->state().channelState();
        if (s == ChannelStripState::kSoloed || s == ChannelStripState::kHardSoloed) {
            positions.push_back(static_cast<int32_t>(i));
        }
    }
    return positions;
}

std::vector<int32_t> RemoteClient::activeChannels() const {
    std::vector<int32_t> positions;
    for (size_t i = 0; i < controllers_.size(); ++i) {
        if (controllers_[i]->state().channelState() == ChannelStripState::kActive) {
            positions.push_back(static_cast<int32_t>(i));
        }
    }
    return positions;
}

}  // namespace quenbril
