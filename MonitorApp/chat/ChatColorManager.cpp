#include "MonitorApp/chat/ChatColorManager.h"

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {
SharedInstance<ChatColorManager> shared;
}

ChatColorManager& ChatColorManager::sharedInstance() { return shared.get(); }

void ChatColorManager::resetSharedInstance() { shared.reset(); }

void ChatColorManager::setChatColors(const Dictionary& colors) {
    Dictionary kept;
    for (const auto& [key, value] : colors) {
        if (!key.isString() || !value.isColor()) {
            log(LogLevel::Warning, "Chat colours: an entry %s -> %s skipped",
                Value::kindName(key.kind()), Value::kindName(value.kind()));
            continue;
        }
        kept.set(key, value);
    }
    chatColors_ = std::move(kept);
}

std::optional<Color> ChatColorManager::colorForUUID(const std::string& uuid) const {
    if (!chatColors_) return std::nullopt;
    return (*chatColors_)[std::string_view(uuid)].colorValue();
}

}  // namespace quenbril
