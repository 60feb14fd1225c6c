#include "foundation/ArchiveClassRegistry.h"

#include <mutex>

namespace quenbril {

ArchiveClassRegistry& ArchiveClassRegistry::shared() {
    static ArchiveClassRegistry registry;
    return registry;
}

void ArchiveClassRegistry::registerDecoder(const std::string& className, Decoder decoder) {
    auto entry = std::make_shared<const Decoder>(std::move(decoder));
    std::unique_lock lock(mutex_);
    decoders_.insert_or_assign(className, std::move(entry));
}

void ArchiveClassRegistry::registerEncoder(const std::string& className, Encoder encoder,
                                           std::vector<std::string> superclasses) {
    auto entry = std::make_shared<EncoderEntry>();
    entry->encode = std::move(encoder);
    entry->classes.reserve(superclasses.size() + 1);
    entry->classes.push_back(className);
    for (auto& name : superclasses) entry->classes.push_back(std::move(name));
    std::unique_lock lock(mutex_);
    encoders_.insert_or_assign(className, std::move(entry));
}

bool ArchiveClassRegistry::removeDecoder(std::string_view className) {
    std::unique_lock lock(mutex_);
    auto it = decoders_.find(className);
    if (it == decoders_.end()) return false;
    decoders_.erase(it);
    return true;
}

bool ArchiveClassRegistry::removeEncoder(std::string_view className) {
    std::unique_lock lock(mutex_);
    auto it = encoders_.find(className);
    if (it == encoders_.end()) return false;
    encoders_.erase(it);
    return true;
}

std::shared_ptr<const ArchiveClassRegistry::Decoder> ArchiveClassRegistry::decoder(
    std::string_view className) const {
    std::shared_lock lock(mutex_);
    auto it = decoders_.find(className);
    return it == decoders_.end() ? nullptr : it->second;
}

std::shared_ptr<const ArchiveClassRegistry::EncoderEntry> ArchiveClassRegistry::encoder(
    std::string_view className) const {
    std::shared_lock lock(mutex_);
    auto it = encoders_.find(className);
    return it == encoders_.end() ? nullptr : it->second;
}

}  // namespace quenbril
