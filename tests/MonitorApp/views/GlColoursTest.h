#pragma once

// The fixture the OpenGL view tests share: fresh settings and histories, green audio and
// magenta RF lines, four 128-point cells a row; it stops where no OpenGL 3.3 context exists.

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/glsupport/LevelGLSupport.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "tests/MonitorApp/settings/SettingsTestEnvironment.h"

namespace quenbril::test {

class GlColoursTest : public SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SettingsTest::SetUp());
        PELAudioEngine::resetSharedInstance();
        ASSERT_TRUE(levelDisplaysCanDraw()) << "the GL tests need an X server with OpenGL 3.3";
        ColorHelper::saveColorForKey("colorForAudio", Color{0, 1, 0, 1});
        ColorHelper::saveColorForKey("colorForRF", Color{1, 0, 1, 1});
        UserSettingsManager::sharedInstance().setColumns(4);
    }

    void TearDown() override {
        PELAudioEngine::resetSharedInstance();
        SettingsTest::TearDown();
    }
};

}  // namespace quenbril::test
