// One relayout of the main window's 128 strips: the window changes width, screenResize sets
// the new column count, and after the layout delay the manager sizes the panels and places
// every strip view at its new cell; the window then paints. The widgets are the strip area's
// own (stand-in strip views), the main window controller is the real one, offscreen.
//
// Prints the median and the worst of the relayouts, with and without the paint, in ms.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripWidgetFactories.h"
#include "bench/BenchSupport.h"
#include "bench/HeadlessRemote.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 128;
const int kRelayouts = bench::shortOr(60, 4);
constexpr int kHeight = 1000;
// Two widths with different column counts, so that every relayout moves the strips.
constexpr int kWidths[] = {1800, 1300};

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-34s median %6.2f ms   p90 %6.2f ms   worst %6.2f ms\n", what,
                bench::quantile(samples, 0.5), bench::quantile(samples, 0.9), samples.back());
}

}  // namespace

int main(int argc, char** argv) {
    bench::HeadlessRemote remote(argc, argv, "strip-relayout");
    if (!remote.ok()) {
        std::fprintf(stderr, "no settings folder\n");
        return 1;
    }
    installStripWidgetFactories(sharedStripViewServices(), ChatManager::uuid);
    {
        ViewController vc(sharedMainWindowServices());
        vc.resize(kWidths[0], kHeight);
        vc.show();
        QApplication::processEvents();

        Array channels;
        for (int i = 1; i <= kStrips; ++i) {
            channels.emplace_back(Dictionary{{"csID", i},
                                             {"panel", "A"},
                                             {"name", "Strip " + std::to_string(i)},
                                             {"audioInput", i - 1},
                                             {"channelEnabled", true}});
        }
        vc.messageReceivedFromServer(
            Value(Dictionary{{"Command", "Channels"}, {"Value", std::move(channels)}}));
        remote.loop().advance(ViewController::kLayoutDelay);
        QApplication::processEvents();

        std::vector<double> withPaint;
        std::vector<double> layoutOnly;
        int columns[2] = {0, 0};
        for (int i = 0; i < kRelayouts; ++i) {
            vc.resize(kWidths[(i + 1) % 2], kHeight);
            QApplication::processEvents();

            const auto start = std::chrono::steady_clock::now();
            vc.screenResize();
            remote.loop().advance(ViewController::kLayoutDelay);
            layoutOnly.push_back(millisecondsSince(start));
            QApplication::processEvents();
            withPaint.push_back(millisecondsSince(start));
            columns[(i + 1) % 2] = UserSettingsManager::sharedInstance().columns();
        }
        // The last strip must sit at its cell of the last column count, or nothing was timed.
        const int n = kStrips - 1;
        const int c = UserSettingsManager::sharedInstance().columns();
        const Rect cell = stripFrame(n, c);
        auto* last = dynamic_cast<QWidget*>(
            ChannelStripManager::sharedInstance().controllers().back()->view());
        if (!last || last->x() != static_cast<int>(cell.x) ||
            last->y() != static_cast<int>(cell.y)) {
            std::fprintf(stderr, "the strips were not laid out\n");
            return 1;
        }
        std::printf("%d strips, %d relayouts between %d and %d points wide (%d and %d columns)\n",
                    kStrips, kRelayouts, kWidths[0], kWidths[1], columns[0], columns[1]);
        report("relayout (sizes and positions)", layoutOnly);
        report("relayout and paint", withPaint);
    }
    // After the window, which holds the strip manager it was given.
    ChannelStripManager::resetSharedInstance();
    removeStripWidgetFactories();
    return 0;
}
