#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "RecordingDispatcherWindow.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/dispatch/RemoteModelsTestSupport.h"

namespace quenbril {

/// A remote-role dispatcher over fresh shared instances (its context made from them, with a
/// clock stopped at 09:41), fake strip views and a recording window. As the main window does,
/// the fixture hands the chat messages the dispatcher posts back to it.
class DispatcherTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        resetRemoteModels();
        settings().setActAsClient(true);
        manager().setGroupButtonView(&groups);
        ChatManager::setLinkSender(&sender);
        dispatcher = std::make_unique<ServerMessageDispatcher>(sharedRemoteContext(clock), window);
        chatObserver = NotificationCenter::defaultCenter().addObserver(
            ChatNotification::kChatMessageFromServer,
            [this](const Notification& n) { dispatcher->chatMessageFromServer(n.userInfo); });
    }
    void TearDown() override {
        chatObserver.reset();
        dispatcher.reset();
        ChatManager::setLinkSender(nullptr);
        resetRemoteModels();
        StripTest::TearDown();
    }

    void dispatch(Dictionary message) {
        dispatcher->messageReceivedFromServer(Value(std::move(message)));
    }
    void dispatch(std::string_view command, Value value) {
        dispatch(Dictionary{{"Command", command}, {"Value", std::move(value)}});
    }
    void dispatch(std::string_view command) { dispatch(Dictionary{{"Command", command}}); }

    static PELAudioEngine& engine() { return PELAudioEngine::sharedInstance(); }

    FixedShortTimeClock clock;
    RecordingDispatcherWindow window;
    std::unique_ptr<ServerMessageDispatcher> dispatcher;
    NotificationObserver chatObserver;
};

}  // namespace quenbril
