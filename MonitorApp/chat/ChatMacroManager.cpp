#include "MonitorApp/chat/ChatMacroManager.h"

#include <utility>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/SharedInstance.h"
#include "foundation/SkippedElements.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

// The shared macros send under the application's chat name, read at each send (the settings
// may be made again after the macros).
SharedInstance<ChatMacroManager> shared([] {
    return std::make_unique<ChatMacroManager>(
        [] { return UserSettingsManager::sharedInstance().chatUsername(); });
});

constexpr const char* kEventKeys[] = {"byte1", "byte2", "command", "channel"};

// A field of another kind reads as missing, that is as 0.
int32_t field(const Dictionary& record, const char* key) {
    return record[key].intValue().value_or(0);
}

}  // namespace

ChatMacroManager& ChatMacroManager::sharedInstance() { return shared.get(); }

void ChatMacroManager::resetSharedInstance() { shared.reset(); }

ChatMacroManager::ChatMacroManager(std::function<std::string()> chatName)
    : chatName_(std::move(chatName)) {
    if (auto stored = UserDefaults::standardUserDefaults().arrayForKey(kDefaultsKey)) {
        SkippedElements skipped("Chat macros");
        for (size_t i = 0; i < stored->size(); ++i) {
            if (const Dictionary* record = (*stored)[i].dictionaryValue()) {
                macros_.push_back(*record);
            } else {
                skipped.add(i, (*stored)[i]);
            }
        }
    }
    observer_ = NotificationCenter::defaultCenter().addObserver(
        "MIDIEventReceived", [this](const Notification& n) { MIDIEventReceived(n); });
}

void ChatMacroManager::learn(std::string text) {
    learnString_ = std::move(text);
    learning_ = true;
}

void ChatMacroManager::cancelLearn() {
    learning_ = false;
    learnString_.clear();
}

void ChatMacroManager::saveValues() {
    Array list;
    for (const Dictionary& record : macros_) {
        list.push_back(record);
    }
    UserDefaults::standardUserDefaults().setObject(Value(std::move(list)), kDefaultsKey);
}

void ChatMacroManager::MIDIEventReceived(const Notification& notification) {
    const Dictionary& event = notification.userInfo;
    if (learning_) {
        Dictionary record = event;
        record.set("message", learnString_);
        macros_.push_back(std::move(record));
        cancelLearn();
        NotificationCenter::defaultCenter().post(kChatMacroAddedNotification);
        return;
    }
    // A copy: an observer of the message may change the list.
    const std::vector<Dictionary> macros = macros_;
    for (const Dictionary& macro : macros) {
        bool same = true;
        for (const char* key : kEventKeys) {
            same = same && field(macro, key) == field(event, key);
        }
        if (!same) {
            continue;
        }
        const std::string* text = macro["message"].stringValue();
        NotificationCenter::defaultCenter().post(
            ChatNotification::kChatMessage, Dictionary{{"message", text ? *text : std::string()},
                                                       {"sender", chatName_()},
                                                       {"uuid", ChatManager::uuid()},
                                                       {"type", 0u},
                                                       {"recipient", "All"}});
    }
}

}  // namespace quenbril
