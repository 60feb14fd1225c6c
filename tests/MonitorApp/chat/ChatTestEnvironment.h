#pragma once

#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/link/LinkSender.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {

class RecordingLinkSender : public LinkSender {
  public:
    void sendDictionary(const Dictionary& message) override { sent.push_back(message); }
    std::vector<Dictionary> sent;
};

/// SettingsTest with a fresh chat store and colour table, and a recording link.
class ChatTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        resetChat();
        ChatManager::setLinkSender(&link);
    }
    void TearDown() override {
        ChatManager::setLinkSender(nullptr);
        resetChat();
        SettingsTest::TearDown();
    }
    static void resetChat() {
        ChatManager::resetSharedInstance();
        ChatColorManager::resetSharedInstance();
    }

    static std::shared_ptr<ChatMessage> message(std::optional<std::string> sender,
                                                std::optional<std::string> recipient,
                                                std::optional<std::string> text = "hi",
                                                std::optional<std::string> id = std::nullopt) {
        auto m = std::make_shared<ChatMessage>();
        m->setSender(std::move(sender));
        m->setRecipient(std::move(recipient));
        m->setMessage(std::move(text));
        m->setMessageId(std::move(id));
        return m;
    }

    RecordingLinkSender link;
};

}  // namespace quenbril
