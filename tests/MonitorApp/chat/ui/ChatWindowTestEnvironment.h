#pragma once

#include <QApplication>
#include <QLocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatMessage.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/chat/ChatTestEnvironment.h"

namespace quenbril::test {

/// ChatTest with an empty store, the user "me", a pinned locale and zone (times read "14:05"),
/// and recorders of the chat's notifications and alerts.
class ChatWindowTest : public ChatTest {
  protected:
    /// 2024-03-01 14:05:00 UTC in seconds since 2001-01-01.
    static constexpr double kDate = 730994700.0;

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatTest::SetUp());
        setenv("TZ", "UTC", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        UserSettingsManager::sharedInstance().setChatUsername("me");
        ChatManager::messages().clear();
    }

    void TearDown() override {
        loop_->runPending();
        ChatTest::TearDown();
    }

    /// Stores a message dated kDate.
    static std::shared_ptr<ChatMessage> store(std::optional<std::string> sender,
                                              std::optional<std::string> text, uint64_t type = 0,
                                              std::optional<std::string> id = std::nullopt,
                                              std::optional<std::string> uuid = std::nullopt,
                                              std::optional<std::string> recipient = "All") {
        auto m = message(std::move(sender), std::move(recipient), std::move(text), std::move(id));
        m->setMessageType(type);
        m->setUuid(std::move(uuid));
        m->setDate(kDate);
        ChatManager::messages().push_back(m);
        return m;
    }

    static void setClients(const std::vector<std::string>& names) {
        Array props;
        for (const std::string& name : names) {
            props.push_back(Value(Dictionary{{"chatName", name}, {"ip", "10.0.0.1"}}));
        }
        ChatManager::updateFromProps(props);
    }

    NotificationRecorder posted{"ChatMessage"};
    RecordingAlerts alerts;
};

}  // namespace quenbril::test
