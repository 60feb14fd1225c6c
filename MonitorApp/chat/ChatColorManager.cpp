#include "MonitorApp/chat/ChatColorManager.h"

#include "foundation/SharedInstance.h"
#include "foundation/SkippedElements.h"

namespace quenbril {

namespace {
SharedInstance<ChatColorManager> shared;
}

ChatColorManager& ChatColorManager::sharedInstance() { return shared.get(); }

void ChatColorManager::resetSharedInstance() { shared.reset(); }

void ChatColorManager::setChatColors(const Dictionary& colors) {
    Dictionary kept;
    SkippedElements skipped("Chat colours");
    size_t i = 0;
    for (const auto& [key, value] : colors) {
        if (!key.isString() || !value.isColor()) {
            skipped.add(i, key.isString() ? value : key);
        } else {
            kept.set(key, value);
        }
        ++i;
    }
    chatColors_ = std::move(kept);
}

std::optional<Color> ChatColorManager::colorForUUID(const std::string& uuid) const {
    if (!chatColors_) return std::nullopt;
    return (*chatColors_)[std::string_view(uuid)].colorValue();
}

}  // namespace quenbril
