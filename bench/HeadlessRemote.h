#pragma once

// What a benchmark of the remote needs before it makes a main window: a settings folder of its
// own, quiet logs, Qt without a display, a virtual-clock main loop, the remote role, and fake
// sound systems (none of the machine's is asked).

#include <QApplication>
#include <cstdlib>

#include "MonitorApp/settings/UserSettingsManager.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "tests/support/FakeSoundBackends.h"

namespace quenbril::bench {

class HeadlessRemote {
  public:
    HeadlessRemote(int& argc, char** argv, const char* name)
        : sound_(), settingsFolder_(name), environment_(), app_(argc, argv) {
        RunLoop::setMain(&loop_);
        UserSettingsManager::sharedInstance().setActAsClient(true);
    }
    ~HeadlessRemote() { RunLoop::setMain(nullptr); }

    bool ok() const { return settingsFolder_.ok(); }
    ManualRunLoop& loop() { return loop_; }

  private:
    struct QuietOffscreen {
        QuietOffscreen() {
            setenv("QUENBRIL_LOG", "warning", 1);
            // A benchmark that wants a display names the platform itself.
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        }
    };

    // First: it outlives everything the benchmark made.
    test::FakeSoundBackends sound_;
    TemporarySettingsFolder settingsFolder_;
    QuietOffscreen environment_;
    QApplication app_;
    ManualRunLoop loop_;
};

}  // namespace quenbril::bench
