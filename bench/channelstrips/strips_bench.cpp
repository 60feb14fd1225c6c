// Rebuilding 128 strips from a "Channels" list and applying a 128-pair "ChannelWarnings", with
// recording views: prints the median time of each over many runs. Also the time of 80,000 "LTC"
// messages each from a new source, and of one more for an old source after them.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "bench/BenchSupport.h"
#include "foundation/Log.h"
#include "foundation/ManualRunLoop.h"
#include "tests/MonitorApp/channelstrips/StripFakes.h"

using namespace quenbril;

namespace {

double medianMicroseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    times.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    setLogLevel(LogLevel::Warning);
    bench::TemporarySettingsFolder settingsFolder("strips-bench");
    if (!settingsFolder.ok()) return 1;
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    ChannelStripController::setViewFactory([] { return std::make_unique<FakeStripView>(); });

    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    FakeStripArea area;
    FakeGroupContainer groups;
    manager.setSuperView(&area);
    manager.setGroupButtonView(&groups);

    Array channels;
    Array warnings;
    for (int i = 1; i <= 128; ++i) {
        channels.emplace_back(Dictionary{{"csID", int64_t{1000} + i},
                                         {"name", "Strip " + std::to_string(i)},
                                         {"wirelessName", "No device"},
                                         {"playerName", "No player"},
                                         {"panel", i <= 64 ? "A" : "B"},
                                         {"audioInput", i - 1},
                                         {"channelEnabled", true}});
        warnings.emplace_back(int64_t{1000} + i);
        warnings.emplace_back(i % 4);
    }

    const double rebuild =
        medianMicroseconds(bench::shortOr(200, 5), [&] { manager.initFromProperyArray(channels); });
    const Dictionary warningsMessage{{"Command", "ChannelWarnings"}, {"Value", warnings}};
    const FlatPairs<int32_t> warningPairs = *LinkMessageReader::intPairs(warningsMessage);
    const double warningsPass = medianMicroseconds(
        bench::shortOr(2000, 20), [&] { manager.applyWarningsFromServer(warningPairs); });

    std::printf("rebuild 128 strips from \"Channels\":        %8.1f us (median of 200)\n", rebuild);
    std::printf("apply 128-pair \"ChannelWarnings\" (1 pass): %8.1f us (median of 2000)\n",
                warningsPass);

    // A peer sending new sources: every message is a record the manager has not seen.
    const int sources = bench::shortOr(80000, 2000);
    std::vector<Dictionary> ltcMessages;
    ltcMessages.reserve(static_cast<size_t>(sources));
    for (int i = 1; i <= sources; ++i) {
        ltcMessages.push_back(Dictionary{{"Command", "LTC"}, {"CSID", int64_t{i}}, {"FPS", 25}});
    }
    LTCManager& ltc = LTCManager::sharedInstance();
    const auto ltcStart = std::chrono::steady_clock::now();
    for (const Dictionary& message : ltcMessages) ltc.tcReceived(message);
    const auto ltcEnd = std::chrono::steady_clock::now();
    const double oldSource =
        medianMicroseconds(bench::shortOr(2000, 20), [&] { ltc.tcReceived(ltcMessages.front()); });
    std::printf("%d \"LTC\" messages from new sources:     %8.1f ms (%zu sources kept)\n", sources,
                std::chrono::duration<double, std::milli>(ltcEnd - ltcStart).count(),
                ltc.receivedTC().size());
    std::printf("one \"LTC\" of the first source after them: %8.1f us (median of 2000)\n",
                oldSource);
    LTCManager::resetSharedInstance();

    ChannelStripManager::resetSharedInstance();
    PELAudioEngine::resetSharedInstance();
    UserSettingsManager::resetSharedInstance();
    RunLoop::setMain(nullptr);
    return 0;
}
