// Cost of decoding the link's busiest and largest messages: frame reader, keyed-archive decode
// and typed read, against a bare libplist parse of the same body bytes.

#include <plist/plist.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "bench/BenchSupport.h"

using namespace quenbril;

namespace {

constexpr int kStrips = 128;

Dictionary levelData() {
    Bytes levels(kStrips);
    for (int i = 0; i < kStrips; ++i) levels[i] = static_cast<uint8_t>((i * 37) % 111);
    return LinkMessageBuilder::message(LinkCommand::kLevelData, Value(std::move(levels)));
}

Dictionary channels() {
    Array strips;
    for (int i = 0; i < kStrips; ++i) {
        strips.push_back(Dictionary{{"name", "Channel " + std::to_string(i + 1)},
                                    {"wirelessName", "Rx " + std::to_string(i / 2 + 1)},
                                    {"playerName", "No player"},
                                    {"panel", i % 2 ? "B" : "A"},
                                    {"audioInput", i},
                                    {"pan", 0},
                                    {"gain", 0},
                                    {"scpEnabled", true},
                                    {"rfWarnEnabled", true},
                                    {"channelEnabled", true},
                                    {"csID", int64_t{1000003} * (i + 1)},
                                    {"audioHistory", false},
                                    {"playerVisible", true}});
    }
    return LinkMessageBuilder::message(LinkCommand::kChannels, Value(std::move(strips)));
}

struct Figures {
    double decode;
    double bare;
};

template <class Read>
Figures measure(const Dictionary& message, Read read, int iterations) {
    iterations = bench::shortOr(iterations, 10);
    Bytes frame = *LinkCodec::encodeFrame(message, LinkPeer::Server);
    Bytes body(frame.begin() + LinkFrameHeader::kSize, frame.end());
    size_t sink = 0;
    double decode = bench::microsecondsPerCall(
        [&] {
            LinkFrameReader reader(LinkPeer::Remote);
            reader.feed(frame.data(), frame.size());
            auto f = reader.takeFrame();
            auto m = LinkCodec::decodeBody(f->body);
            sink += read(*m);
        },
        iterations);
    double bare = bench::microsecondsPerCall(
        [&] {
            plist_t root = nullptr;
            plist_from_bin(reinterpret_cast<const char*>(body.data()),
                           static_cast<uint32_t>(body.size()), &root);
            sink += root != nullptr;
            plist_free(root);
        },
        iterations);
    if (sink == 0) std::puts("(nothing decoded)");
    return {decode, bare};
}

void print(const char* name, size_t frameBytes, Figures f) {
    std::printf("%-10s %6zu bytes  decode %8.2f us  libplist parse %8.2f us  ratio %.2f\n", name,
                frameBytes, f.decode, f.bare, f.decode / f.bare);
}

}  // namespace

int main() {
    auto level = levelData();
    auto strips = channels();
    auto levelFigures = measure(
        level, [](const Dictionary& m) { return LinkMessageReader::stripBytes(m)->size(); }, 20000);
    auto channelFigures = measure(
        strips, [](const Dictionary& m) { return LinkMessageReader::channels(m)->size(); }, 300);
    std::printf(
        "link_bench: decode = frame reader + keyed-archive decode + typed read, %d strips\n",
        kStrips);
    print("LevelData", LinkCodec::encodeFrame(level, LinkPeer::Server)->size(), levelFigures);
    print("Channels", LinkCodec::encodeFrame(strips, LinkPeer::Server)->size(), channelFigures);
    std::printf("targets: LevelData <= 20 us, ratio <= 2\n");
    return 0;
}
