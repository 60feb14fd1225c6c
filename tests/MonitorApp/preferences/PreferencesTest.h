#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>
#include <filesystem>

#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/preferences/PreferencesServices.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"

namespace quenbril::test {

/// The panes' services: the shared instances, as the application hands them in.
inline PreferencesServices sharedPreferencesServices() {
    return {UserSettingsManager::sharedInstance(), ColorHelper::sharedInstance(),
            ChannelStripManager::sharedInstance(), UserDefaults::standardUserDefaults(),
            NotificationCenter::defaultCenter()};
}

/// Fresh settings, strips with fake views and a recording link sender for the preference
/// windows.
class PreferencesTest : public StripTest {
  protected:
    /// The colour `widget` shows at `x`, `y` when drawn.
    static QRgb pixel(QWidget& widget, int x, int y) { return widget.grab().toImage().pixel(x, y); }
    /// A theme colour as it lands on the screen.
    static QRgb onScreen(const Color& color) { return toQColor(color).rgb(); }

    /// Makes the settings store refuse every write from now on (the file turns read-only).
    static void makeStoreReadOnly() {
        ASSERT_TRUE(defaults().setInteger(1, "written"));
        std::filesystem::permissions(defaults().path(), std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::group_read |
                                                            std::filesystem::perms::others_read);
    }
};

}  // namespace quenbril::test
