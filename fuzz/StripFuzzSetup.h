#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "tests/MonitorApp/channelstrips/StripFakes.h"

namespace quenbril {

/// What a fuzz target over the strips needs once per process: quiet logs, settings in a fresh
/// folder, a virtual-time main loop and the shared strip manager over fake views.
struct StripFuzzSetup {
    /// The settings folder is a fresh "/tmp/quenbril-fuzz-<name>-XXXXXX".
    explicit StripFuzzSetup(const std::string& name) {
        setLogLevel(LogLevel::None);
        std::string folder = "/tmp/quenbril-fuzz-" + name + "-XXXXXX";
        if (!mkdtemp(folder.data())) std::abort();
        setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
        RunLoop::setMain(&loop);
        ChannelStripController::setViewFactory([] { return std::make_unique<FakeStripView>(); });
        ChannelStripManager& manager = ChannelStripManager::sharedInstance();
        manager.setSuperView(&area);
        manager.setGroupButtonView(&groups);
    }
    ManualRunLoop loop;
    FakeStripArea area;
    FakeGroupContainer groups;
};

}  // namespace quenbril
