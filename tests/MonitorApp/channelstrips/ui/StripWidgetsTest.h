#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>

#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/views/StripWidgetFactories.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril::test {

/// Fresh shared instances in the remote role, on the virtual clock, with the strip widgets'
/// factories installed as the application installs them.
class StripWidgetsTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        settings().setActAsClient(true);
        installStripWidgetFactories(stripViewServices(), ChatManager::uuid);
    }

    void TearDown() override {
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        removeStripWidgetFactories();
        SettingsTest::TearDown();
    }

    static ChannelStripManager& manager() { return ChannelStripManager::sharedInstance(); }
    static UserSettingsManager& settings() { return UserSettingsManager::sharedInstance(); }
    /// The shared instances, as the application hands them to the strip views.
    static StripViewServices stripViewServices() { return sharedStripViewServices(); }

    /// A strip dictionary of the "Channels" list.
    static Value strip(int64_t csID, const char* panel = "A") {
        return Value(Dictionary{{"csID", csID},
                                {"panel", panel},
                                {"name", "S" + std::to_string(csID)},
                                {"audioInput", static_cast<int>(csID)},
                                {"channelEnabled", true}});
    }

    /// The widget's pixel at (x, y) as it paints itself, in 8-bit channels.
    static QRgb pixel(QWidget& widget, int x, int y) {
        return widget.grab().toImage().pixelColor(x, y).rgba();
    }
    static QRgb rgb(const QColor& color) { return color.rgba(); }
};

}  // namespace quenbril::test
