#include "platform/serial/SerialDeviceRegistry.h"

#include <algorithm>

namespace quenbril {

SerialDeviceRegistry& SerialDeviceRegistry::shared() {
    static SerialDeviceRegistry registry;
    return registry;
}

void SerialDeviceRegistry::add(SerialDeviceSource* source) {
    std::lock_guard lock(mutex_);
    if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) {
        sources_.push_back(source);
    }
}

void SerialDeviceRegistry::remove(SerialDeviceSource* source) {
    std::lock_guard lock(mutex_);
    std::erase(sources_, source);
}

std::optional<SerialDevice> SerialDeviceRegistry::find(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // Held while asking, so that a source cannot be removed (and destroyed) mid-question.
    std::lock_guard lock(mutex_);
    for (SerialDeviceSource* source : sources_) {
        if (auto device = source->find(path)) return device;
    }
    return std::nullopt;
}

}  // namespace quenbril
