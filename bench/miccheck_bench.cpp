// The mic-check window's table reload with 128 strips, offscreen: the records applied (the
// same strips, so only the cells change), a new strip list (the rows are taken anew), and the
// cells read as a view paints them. Prints milliseconds per reload; the target is 5 ms.

#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/panels/ui/MicCheckTableModel.h"
#include "MonitorApp/panels/ui/MicCheckViewController.h"
#include "bench/BenchSupport.h"
#include "foundation/ManualRunLoop.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 128;

Array strips(int64_t firstID) {
    Array channels;
    for (int i = 0; i < kStrips; ++i) {
        const int64_t csID = firstID + i;
        channels.emplace_back(Dictionary{{"csID", csID},
                                         {"panel", i % 2 ? "B" : "A"},
                                         {"name", "Strip " + std::to_string(csID)},
                                         {"wirelessName", "No device"},
                                         {"audioInput", i},
                                         {"channelEnabled", true}});
    }
    return channels;
}

/// Every cell as a view asks for it: text, colour and check state.
void readAllCells(QAbstractItemModel& model) {
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            for (int role :
                 {int(Qt::DisplayRole), int(Qt::ForegroundRole), int(Qt::CheckStateRole)}) {
                (void)model.data(index, role);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    bench::TemporarySettingsFolder folder("miccheck-bench");
    QApplication app(argc, argv);
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        ChannelStripManager& manager = ChannelStripManager::sharedInstance();
        manager.initFromProperyArray(strips(1));
        for (size_t i = 0; i < manager.controllers().size(); i += 2) {
            manager.controllers()[i]->state().micCheckState().setChecked(true);
            manager.controllers()[i]->state().micCheckState().setUser("alice");
            manager.controllers()[i]->state().micCheckState().setTime(Date{800000000.0 + i});
        }
        MicCheckViewController window(sharedPanelServices());
        window.resize(700, 3000);  // every row on screen
        window.show();
        QTableView& table = *window.tableView();

        const double applied = bench::microsecondsPerCall(
            [&] {
                window.update();
                readAllCells(*table.model());
            },
            50);
        // A new list each time; only the reload and the reads are timed.
        std::vector<double> samples;
        int64_t first = 1;
        for (int i = 0; i < bench::shortOr(21, 2); ++i) {
            first += kStrips;
            manager.initFromProperyArray(strips(first));
            const auto start = std::chrono::steady_clock::now();
            window.update();
            readAllCells(*table.model());
            samples.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::sort(samples.begin(), samples.end());
        const double newList = bench::quantile(samples, 0.5);
        QApplication::processEvents();
        // Rendering the table into a picture paints every visible cell.
        const auto paint = [&] {
            return bench::microsecondsPerCall(
                [&] {
                    window.update();
                    (void)table.grab();
                },
                10);
        };
        const double paintedAll = paint();
        window.resize(700, 480);  // the window's own size: about 15 rows on screen
        QApplication::processEvents();
        const double painted = paint();
        std::printf("mic-check table, %d strips (target <= 5 ms per reload):\n", kStrips);
        std::printf("  records applied, reload + every cell read:   %.3f ms\n", applied / 1000);
        std::printf("  new strip list, reload + every cell read:    %.3f ms\n", newList / 1000);
        std::printf(
            "  records applied, reload + table painted:     %.3f ms (all 128 rows on screen: "
            "%.3f ms)\n",
            painted / 1000, paintedAll / 1000);
        ChannelStripManager::resetSharedInstance();
    }
    RunLoop::setMain(nullptr);
    return 0;
}
