#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/views/ChannelStrip.h"
#include "resources/QuenbrilResources.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril::test {

/// Fresh shared instances in the remote role, on the virtual clock, with the application's
/// pictures, and strip controllers whose views are real channel strips.
class StripViewsTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        initQuenbrilResources();
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        settings().setActAsClient(true);
        ChannelStripController::setViewFactory(
            [] { return std::make_unique<ChannelStrip>(viewServices(), ChatManager::uuid); });
    }

    void TearDown() override {
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        ChannelStripController::setViewFactory(nullptr);
        SettingsTest::TearDown();
    }

    static ChannelStripManager& manager() { return ChannelStripManager::sharedInstance(); }
    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }
    /// The shared instances, as the application hands them to the strip views.
    static StripViewServices viewServices() { return sharedStripViewServices(); }

    /// A strip dictionary of the "Channels" list.
    static Value strip(int64_t csID) {
        return Value(Dictionary{{"csID", csID},
                                {"panel", "A"},
                                {"name", "S" + std::to_string(csID)},
                                {"audioInput", static_cast<int>(csID)},
                                {"channelEnabled", true}});
    }

    /// The view of the strip at `position` of the strip list.
    static ChannelStrip& stripAt(size_t position) {
        return *static_cast<ChannelStrip*>(manager().controllers().at(position)->view());
    }

    /// The widget as it paints itself, in 8-bit channels.
    static QImage picture(QWidget& widget) {
        return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }
    /// A pixel at (x, y) in the widget's own top-left coordinates.
    static QRgb pixel(QWidget& widget, int x, int y) { return picture(widget).pixel(x, y); }

    void advance(double seconds) { loop_->advance(seconds); }
};

}  // namespace quenbril::test
