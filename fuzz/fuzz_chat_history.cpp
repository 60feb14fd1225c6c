// Feeds arbitrary bytes to the keyed unarchiver with the chat's own "ChatMessage" decoder, then
// stores what decodes as a chat history and runs the receipt rule and the id search over every
// message. Any crash, leak or hang is a fault; a refused archive is the normal outcome.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/chat/ChatReceiptRule.h"
#include "MonitorApp/chat/TextSearch.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/Log.h"

using namespace quenbril;

namespace {

const ArchiveClassRegistry& registry() {
    static ArchiveClassRegistry* r = [] {
        auto* reg = new ArchiveClassRegistry;
        ChatMessage::registerArchiveDecoder(*reg);
        return reg;
    }();
    return *r;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static char dir[] = "/tmp/quenbril-fuzz-chat-XXXXXX";
    if (mkdtemp(dir)) setenv("XDG_CONFIG_HOME", dir, 1);
    setLogLevel(LogLevel::None);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto root = KeyedUnarchiver::unarchive(data, size, registry());
    if (!root) return 0;
    std::vector<std::shared_ptr<const Object>> history;
    if (const Array* a = root->arrayValue()) {
        for (const Value& v : *a) {
            if (auto o = v.objectValue()) history.push_back(*o);
        }
    } else if (auto o = root->objectValue()) {
        history.push_back(*o);
    }
    ChatManager::updateChatHistory(history, UserSettingsManager::sharedInstance().chatUsername());
    for (const auto& m : ChatManager::messages()) {
        ChatReceipt::evaluate(m->sender(), m->recipient(), static_cast<int64_t>(m->messageType()),
                              "me", true);
        if (m->messageId()) TextSearch::containsIgnoringCaseAndAccents(*m->messageId(), "a");
        if (m->message()) TextSearch::fold(*m->message());
    }
    return 0;
}
