// The notebook with 10,000 notes over 128 strips: applying a "NotebookEntries" (decoding its
// frame, replacing the list, reloading the notebook window's table and painting its visible
// rows, whose channel and input are looked up by strip id), and exporting the notes as CSV to
// a file. The main window controller and the notebook window are the real ones, offscreen.
//
// Prints the median and the worst of each, in ms.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "MonitorApp/app/SharedServices.h"
#include "MonitorApp/app/SharedViewServices.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/NotebookTableModel.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "MonitorApp/views/StripWidgetFactories.h"
#include "bench/BenchSupport.h"
#include "bench/HeadlessRemote.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 128;
constexpr int kNotes = 10000;
const int kRounds = bench::shortOr(15, 1);

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void report(const char* what, std::vector<double> samples, double target) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-44s median %7.2f ms   worst %7.2f ms", what, bench::quantile(samples, 0.5),
                samples.back());
    if (target > 0) std::printf("   (target <= %.0f ms)", target);
    std::printf("\n");
}

/// Answers every save panel with one path.
class FixedPath : public FilePanel {
  public:
    explicit FixedPath(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> runModal(QWidget*, const Request&) override { return path_; }

  private:
    std::string path_;
};

Dictionary notebookEntries() {
    Array notes;
    notes.reserve(kNotes);
    for (int i = 0; i < kNotes; ++i) {
        // Most notes name a strip; every tenth names one that is gone.
        const int64_t csID = i % 10 == 9 ? 100000 + i : 1 + i % kStrips;
        notes.emplace_back(Dictionary{{"Note", "Note " + std::to_string(i) + ": mic check, act 2"},
                                      {"Creator", i % 3 ? "alice" : "bob"},
                                      {"Time", Value::date(818000000.0 + i)},
                                      {"csID", csID},
                                      {"teID", i + 1},
                                      {"Hours", i / 3600 % 24},
                                      {"Mins", i / 60 % 60},
                                      {"Secs", i % 60},
                                      {"Frame", i % 25}});
    }
    return Dictionary{{"Command", "NotebookEntries"}, {"Values", std::move(notes)}};
}

}  // namespace

int main(int argc, char** argv) {
    bench::HeadlessRemote remote(argc, argv, "notebook");
    if (!remote.ok()) {
        std::fprintf(stderr, "no settings folder\n");
        return 1;
    }
    installStripWidgetFactories(sharedStripViewServices(), ChatManager::uuid);
    {
        ViewController vc(sharedMainWindowServices());
        Array channels;
        for (int i = 1; i <= kStrips; ++i) {
            channels.emplace_back(Dictionary{{"csID", i},
                                             {"panel", i <= 64 ? "A" : "B"},
                                             {"name", "Strip " + std::to_string(i)},
                                             {"audioInput", i - 1},
                                             {"channelEnabled", true}});
        }
        vc.messageReceivedFromServer(
            Value(Dictionary{{"Command", "Channels"}, {"Value", std::move(channels)}}));
        remote.loop().advance(ViewController::kLayoutDelay);

        const std::string folder =
            std::filesystem::temp_directory_path() / "quenbril-notebook-bench";
        std::filesystem::create_directories(folder);
        FixedPath files(folder + "/notes.csv");
        NotebookViewController window(sharedPanelServices());
        window.setFilePanel(&files);
        window.show();
        QApplication::processEvents();

        auto frame = LinkCodec::encodeBody(notebookEntries());
        if (!frame) {
            std::fprintf(stderr, "the notebook did not encode\n");
            return 1;
        }
        std::vector<double> apply, decode, refresh, paint, exports;
        for (int round = 0; round < kRounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            auto message = LinkCodec::decodeBody(*frame);
            if (!message) return 1;
            decode.push_back(millisecondsSince(start));
            auto step = std::chrono::steady_clock::now();
            vc.messageReceivedFromServer(Value(std::move(*message)));
            refresh.push_back(millisecondsSince(step));
            step = std::chrono::steady_clock::now();
            window.repaint();  // the visible rows, each with its strip look-up
            paint.push_back(millisecondsSince(step));
            apply.push_back(millisecondsSince(start));

            start = std::chrono::steady_clock::now();
            if (!window.exportClicked()) {
                std::fprintf(stderr, "the export failed\n");
                return 1;
            }
            exports.push_back(millisecondsSince(start));
        }
        if (NotebookManager::sharedInstance().notebookEntries().size() != kNotes ||
            window.model()->rowCount() != kNotes) {
            std::fprintf(stderr, "the notes did not arrive\n");
            return 1;
        }
        const auto bytes = std::filesystem::file_size(folder + "/notes.csv");
        std::printf("%d notes over %d strips, %zu bytes of frame, %ju bytes of CSV\n", kNotes,
                    kStrips, frame->size(), static_cast<uintmax_t>(bytes));
        report("apply \"NotebookEntries\" (decode..paint)", apply, 50);
        report("  of which: decode the frame", decode, 0);
        report("  of which: replace the list, reload", refresh, 0);
        report("  of which: paint the visible rows", paint, 0);
        report("export as CSV to a file", exports, 150);
        std::filesystem::remove_all(folder);
    }
    removeStripWidgetFactories();
    return 0;
}
