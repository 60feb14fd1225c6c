// Keyed archives on the link: a 128-strip level frame arrives 10-100 times a second, so its
// decode should cost little more than libplist's own parse of the same bytes.
#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"

namespace quenbril {
namespace {

Value levelFrame() {
    Bytes levels(128);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint8_t>(i);
    return Dictionary{{"Command", "LevelData"}, {"Value", std::move(levels)}};
}

Value channelsFrame() {
    Array strips;
    for (int i = 0; i < 64; ++i) {
        strips.push_back(Dictionary{{"csID", int64_t{1000 + i}},
                                    {"Name", "Strip " + std::to_string(i)},
                                    {"channelEnabled", true},
                                    {"Gain", 0.5 * i},
                                    {"Color", Color{0.1, 0.2, 0.3, 1}}});
    }
    return Dictionary{{"Command", "Channels"}, {"Value", std::move(strips)}};
}

void decode(benchmark::State& state, const Value& message) {
    Bytes bytes = *KeyedArchiver::archivedData(message);
    for (auto _ : state) {
        auto value = KeyedUnarchiver::unarchive(bytes);
        benchmark::DoNotOptimize(value);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void parseOnly(benchmark::State& state, const Value& message) {
    Bytes bytes = *KeyedArchiver::archivedData(message);
    for (auto _ : state) {
        plist_t root = nullptr;
        plist_from_bin(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()), &root);
        benchmark::DoNotOptimize(root);
        plist_free(root);
    }
}

void encode(benchmark::State& state, const Value& message) {
    for (auto _ : state) {
        auto bytes = KeyedArchiver::archivedData(message);
        benchmark::DoNotOptimize(bytes);
    }
}

void BM_LevelDataDecode(benchmark::State& s) { decode(s, levelFrame()); }
void BM_LevelDataBareLibplistParse(benchmark::State& s) { parseOnly(s, levelFrame()); }
void BM_LevelDataEncode(benchmark::State& s) { encode(s, levelFrame()); }
void BM_ChannelsDecode(benchmark::State& s) { decode(s, channelsFrame()); }
void BM_ChannelsBareLibplistParse(benchmark::State& s) { parseOnly(s, channelsFrame()); }
void BM_ChannelsEncode(benchmark::State& s) { encode(s, channelsFrame()); }

BENCHMARK(BM_LevelDataDecode);
BENCHMARK(BM_LevelDataBareLibplistParse);
BENCHMARK(BM_LevelDataEncode);
BENCHMARK(BM_ChannelsDecode);
BENCHMARK(BM_ChannelsBareLibplistParse);
BENCHMARK(BM_ChannelsEncode);

}  // namespace
}  // namespace quenbril

BENCHMARK_MAIN();
