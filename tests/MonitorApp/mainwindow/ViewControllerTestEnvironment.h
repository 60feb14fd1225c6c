#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/dispatch/RemoteContext.h"
#include "MonitorApp/mainwindow/LinkSenders.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/dispatch/RecordingDispatcherWindow.h"
#include "tests/MonitorApp/dispatch/RemoteModelsTestSupport.h"

namespace quenbril {

class FakePerformerWindow : public PerformerWindow {
  public:
    int32_t channelIndex() const override { return channel; }
    int32_t playerIndex() const override { return player; }
    bool isClosed() const override { return closed; }
    void setReadOnly(bool v) override { readOnly = v; }
    void setPlayerIndex(int32_t v) override { player = v; }
    void setChannelIndex(int32_t v) override { channel = v; }
    void setQuadversity(bool v) override { quadversity = v; }
    void updatePlayer(int32_t p, int32_t c) override {
        player = p;
        channel = c;
        ++updates;
    }
    void updateTitle(int32_t c) override { titled = c; }
    void setBatteryText(const std::string& t) override { battery = t; }
    void setRendererQuadversity(bool v) override { rendererQuadversity = v; }
    void setRendererSingleLine(bool v) override { rendererSingleLine = v; }
    void lock(bool v) override { locked = v; }
    void show() override { ++shown; }

    int32_t channel = -1, player = -1, titled = -1;
    bool closed = false, readOnly = false;
    std::optional<bool> quadversity, rendererQuadversity, rendererSingleLine, locked;
    int updates = 0, shown = 0;
    std::string battery;
};

class FakeChatTable : public ChatTable {
  public:
    void reloadData() override { ++reloads; }
    void scrollToEnd() override { ++scrolls; }
    void updateClients() override { ++clientUpdates; }
    void lock(bool v) override { locked = v; }
    int reloads = 0, scrolls = 0, clientUpdates = 0;
    std::optional<bool> locked;
};

class FakeChatButtons : public ChatButtons {
  public:
    void updateButtonText(const std::string& t) override { text = t; }
    void lock(bool v) override { locked = v; }
    std::string text;
    std::optional<bool> locked;
};

class FakeChatSplit : public ChatSplit {
  public:
    std::shared_ptr<ChatTable> firstChild() override { return table; }
    std::shared_ptr<ChatButtons> lastChild() override { return buttons; }
    std::shared_ptr<FakeChatTable> table = std::make_shared<FakeChatTable>();
    std::shared_ptr<FakeChatButtons> buttons = std::make_shared<FakeChatButtons>();
};

class FakeChatNotifier : public ChatNotifier {
  public:
    void setMessage(const std::string& m) override { message = m; }
    void setSender(const std::string& s) override { sender = s; }
    void setTextLabel(const std::string& t) override { label = t; }
    void screenResize() override { ++resized; }
    bool isViewLoaded() const override { return shown > 0; }
    void closeMe() override { ++closed; }
    void show() override { ++shown; }
    std::string message, sender, label;
    int resized = 0, closed = 0, shown = 0;
};

class RecordingScroller : public StripScroller {
  public:
    void scrollStripToVisible(const ChannelStripView& view) override { views.push_back(&view); }
    std::vector<const ChannelStripView*> views;
};

class FakeTitledButton : public TitledButton {
  public:
    explicit FakeTitledButton(std::string t) : text(std::move(t)) {}
    std::string title() const override { return text; }
    void setTitle(const std::string& t) override { text = t; }
    std::string text;
};

/// A remote-role main window controller over fresh shared instances (its context made from them,
/// with a clock stopped at 09:41), fake strip views and recording seams; every segue the
/// controller performs is recorded and finds the fake window registered for it, if any.
class ViewControllerTest : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        resetRemoteModels();
        settings().setActAsClient(true);
        manager().setGroupButtonView(&groups);
        vc = std::make_unique<ViewController>(sharedMainWindowServices(clock));
        connectLinkSenders(&sender, *vc);
        vc->setAlertPresenter(&alerts);
        vc->setStripScroller(&scroller);
        vc->setSegueFactory([this](const std::string& id) -> std::shared_ptr<SegueDestination> {
            segues.push_back(id);
            auto found = destinations.find(id);
            return found == destinations.end() ? nullptr : found->second;
        });
        vc->viewDidLoad();
    }
    void TearDown() override {
        vc.reset();
        ChatManager::setLinkSender(nullptr);
        resetRemoteModels();
        StripTest::TearDown();
    }

    /// Points the shared link at a stand-in on this machine by manual address, makes the window
    /// its delegate and its sender, connects, and waits (at most `seconds`) for the strips.
    ::testing::AssertionResult linkToStandIn(uint16_t port, double seconds = 5.0) {
        defaults().setObject(true, "useManualIP");
        defaults().setObject("127.0.0.1", "manualIP");
        ServerManager& link = ServerManager::sharedInstance();
        link.setPort(port);
        link.setDelegate(vc.get());
        connectLinkSenders(&link, *vc);
        link.tryToConnect();
        if (loop_->runUntil([&] { return !manager().controllers().empty() && link.serverIsHere(); },
                            seconds)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "the stand-in sent no strips or not its whole state";
    }
    /// Lets the shared link go before the window does.
    static void unlinkFromStandIn() {
        ServerManager::sharedInstance().setDelegate(nullptr);
        ServerManager::resetSharedInstance();
    }

    void dispatch(Dictionary message) { vc->messageReceivedFromServer(Value(std::move(message))); }
    void dispatch(std::string_view command, Value value) {
        dispatch(Dictionary{{"Command", command}, {"Value", std::move(value)}});
    }
    void dispatch(std::string_view command) { dispatch(Dictionary{{"Command", command}}); }

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
    static PELAudioEngine& engine() { return PELAudioEngine::sharedInstance(); }
    std::vector<Dictionary> sentCommands(std::string_view command) const {
        std::vector<Dictionary> out;
        for (const Dictionary& d : sender.sent) {
            if (d["Command"] == Value(command)) out.push_back(d);
        }
        return out;
    }

    FixedShortTimeClock clock;
    std::unique_ptr<ViewController> vc;
    RecordingAlerts alerts;
    RecordingScroller scroller;
    std::vector<std::string> segues;
    std::map<std::string, std::shared_ptr<SegueDestination>> destinations;
};

}  // namespace quenbril
