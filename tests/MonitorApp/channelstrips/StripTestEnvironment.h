#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "StripFakes.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril {

/// SettingsTest with a fresh strip manager and audio engine, and fake strip views: every view the
/// controllers make is kept in `views` in making order.
class StripTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        resetShared();
        ChannelStripController::setViewFactory([this] {
            auto view = std::make_unique<FakeStripView>();
            views.push_back(view.get());
            return view;
        });
        manager().setLinkSender(&sender);
    }

    void TearDown() override {
        resetShared();
        ChannelStripController::setViewFactory(nullptr);
        WirelessManager::setSharedInstance(nullptr);
        ClientManager::setSharedInstance(nullptr);
        SettingsTest::TearDown();
    }

    static void resetShared() {
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
    }

    static ChannelStripManager& manager() { return ChannelStripManager::sharedInstance(); }
    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }

    /// A strip dictionary with the given id, panel and name (enabled unless said otherwise).
    static Dictionary strip(int64_t csID, const char* panel = "A", const std::string& name = "",
                            bool enabled = true) {
        return Dictionary{{"csID", csID},
                          {"panel", panel},
                          {"name", name.empty() ? "S" + std::to_string(csID) : name},
                          {"wirelessName", "No device"},
                          {"playerName", "No player"},
                          {"audioInput", static_cast<int>(csID % 1000)},
                          {"channelEnabled", enabled},
                          {"rfWarnEnabled", true},
                          {"scpEnabled", true}};
    }

    /// Builds strips with ids 1..n, all in panel A.
    static void buildStrips(int n, const char* panel = "A") {
        Array channels;
        for (int i = 1; i <= n; ++i) channels.emplace_back(strip(i, panel));
        manager().initFromProperyArray(channels);
    }

    FakeStripView& viewOf(int64_t csID) {
        ChannelStripController* c = ChannelStripManager::controllerByID(csID);
        EXPECT_NE(c, nullptr) << "no strip " << csID;
        return *static_cast<FakeStripView*>(c->view());
    }
    ChannelStripState& stateOf(int64_t csID) {
        return ChannelStripManager::controllerByID(csID)->state();
    }

    /// Puts a receiver called `name` in `registry` (made the shared one) and gives it to strip
    /// `csID`.
    std::shared_ptr<WirelessDevice> receiver(const std::string& name, int64_t csID) {
        WirelessManager::setSharedInstance(&registry);
        auto device = std::make_shared<WirelessDevice>();
        device->setName(name);
        registry.devices()[name] = device;
        ChannelStripManager::controllerByID(csID)->model().setWirelessName(name);
        return device;
    }

    std::vector<FakeStripView*> views;
    RecordingSender sender;
    WirelessManager registry;
    FakeStripArea area;
    FakeGroupContainer groups;
};

}  // namespace quenbril
