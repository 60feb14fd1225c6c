#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

namespace quenbril {

/// A remote-role dispatcher over fresh shared instances (its context made from them, with a
/// clock stopped at 09:41), fake strip views and a recording window. As the main window does,
/// the fixture hands the chat messages the dispatcher posts back to it.
class DispatcherTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        resetModels();
        settings().setActAsClient(true);
        manager().setGroupButtonView(&groups);
        ChatManager::setLinkSender(&sender);
        dispatcher = std::make_unique<ServerMessageDispatcher>(
            RemoteContext::fromSharedInstances(clock), window);
        chatObserver = NotificationCenter::defaultCenter().addObserver(
            ChatNotification::kChatMessageFromServer,
            [this](const Notification& n) { dispatcher->chatMessageFromServer(n.userInfo); });
    }
    void TearDown() override {
        chatObserver.reset();
        dispatcher.reset();
        ChatManager::setLinkSender(nullptr);
        resetModels();
        StripTest::TearDown();
    }
    static void resetModels() {
        ChatManager::resetSharedInstance();
        ChatColorManager::resetSharedInstance();
        NotebookManager::resetSharedInstance();
        SnapshotManager::sharedInstance().setSnapshotNames({});
        SnapshotManager::sharedInstance().setSelectedSnapshot(0);
    }

    void dispatch(Dictionary message) {
        dispatcher->messageReceivedFromServer(Value(std::move(message)));
    }
    void dispatch(std::string_view command, Value value) {
        dispatch(Dictionary{{"Command", command}, {"Value", std::move(value)}});
    }
    void dispatch(std::string_view command) { dispatch(Dictionary{{"Command", command}}); }

    static PELAudioEngine& engine() { return PELAudioEngine::sharedInstance(); }
    /// The newest column of a history, 128 bytes.
    static std::vector<int8_t> newest(CharRingBuffer& history) {
        std::vector<int8_t> out;
        for (int i = 0; i < 128; ++i) out.push_back(history.getLatestSample(i));
        return out;
    }

    FixedShortTimeClock clock;
    RecordingDispatcherWindow window;
    std::unique_ptr<ServerMessageDispatcher> dispatcher;
    NotificationObserver chatObserver;
};

}  // namespace quenbril
