#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/panels/ui/EKGScrollView.h"
#include "MonitorApp/panels/ui/PlayerViewController.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "foundation/NotificationCenter.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril {

/// StripTest with three strips (ids 1 to 3, strip 2 without a history) whose performers are in
/// the player list, a recording link, alerts and file panels, and the performer window made as
/// the main window's segue prepares it.
class PerformerTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        for (int i = 1; i <= 3; ++i) {
            auto player = std::make_shared<Player>();
            player->setName("Name" + std::to_string(i));
            player->setRoleName("Role" + std::to_string(i));
            player->setComments("Comments" + std::to_string(i));
            PlayerManager::sharedInstance().players().push_back(player);
        }
        loadStrips({1, 2, 3});
    }

    void TearDown() override {
        window.reset();
        StripTest::TearDown();
    }

    /// A "Channels" with these strips, in this order; strip 2 has no history.
    void loadStrips(const std::vector<int64_t>& ids) {
        Array channels;
        for (int64_t id : ids) {
            Dictionary d = strip(id);
            d.set("audioHistory", id != 2);
            d.set("playerName", "Name" + std::to_string(id) + " as Role" + std::to_string(id));
            channels.emplace_back(d);
        }
        manager().initFromProperyArray(channels);
    }

    /// The channel view of the strip at `channelIndex`, opened as the main window's "editPlayer"
    /// segue opens it, 1500 points wide.
    PlayerViewController& openChannelView(int32_t channelIndex, int32_t playerIndex) {
        window = std::make_unique<PlayerViewController>(sharedPanelServices(), &sender);
        window->setAlertPresenter(&alerts);
        window->setFilePanel(&files);
        window->setReadOnly(true);
        window->setPlayerIndex(playerIndex);
        window->setChannelIndex(channelIndex);
        window->setQuadversity(false);
        window->updateTitle(channelIndex);
        window->resize(1500, 600);
        window->show();
        window->resize(1500, 600);
        QApplication::processEvents();
        return *window;
    }

    /// The editor as the player list opens it.
    PlayerViewController& openEditor(int32_t playerIndex) {
        window = std::make_unique<PlayerViewController>(sharedPanelServices(), &sender);
        window->setAlertPresenter(&alerts);
        window->setFilePanel(&files);
        window->setReadOnly(false);
        window->setPlayerIndex(playerIndex);
        window->show();
        QApplication::processEvents();
        return *window;
    }

    /// What the history's display does on a click: the delay into the playback manager, then
    /// "PlaybackStarted".
    static void clickHistory(int32_t delayInSamples) {
        PlaybackManager::sharedInstance().setDelayInSamples(delayInSamples);
        NotificationCenter::defaultCenter().post(kPlaybackStartedNotification);
    }

    /// The commands sent, each with its "CSID".
    std::vector<std::pair<std::string, int64_t>> commandsWithIDs() const {
        std::vector<std::pair<std::string, int64_t>> out;
        for (const Dictionary& m : sender.sent) {
            out.emplace_back(m["Command"].stringValue() ? *m["Command"].stringValue() : "?",
                             m["CSID"].longLongValue().value_or(0));
        }
        return out;
    }

    std::unique_ptr<PlayerViewController> window;
    RecordingAlerts alerts;
    RecordingFilePanel files;
};

}  // namespace quenbril
