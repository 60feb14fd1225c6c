// Keyed archives on the link: a 128-strip level frame arrives 10-100 times a second, so its
// decode should cost little more than libplist's own parse of the same bytes. The decodes also
// report the heap allocations one decode makes: through operator new ("news") and in all, the
// parse's included ("mallocs").
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <plist/plist.h>

#include <cstring>
#include <vector>

#include "bench/AllocationCounter.h"
#include "bench/BenchSupport.h"
#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/PropertyList.h"

// Every allocation of the C library's heap (operator new's too) counts while a thread says so.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);

inline thread_local bool countingMallocs = false;
inline uint64_t mallocs = 0;

void* malloc(size_t size) noexcept {
    if (countingMallocs) ++mallocs;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    if (countingMallocs) ++mallocs;
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
    if (countingMallocs) ++mallocs;
    return __libc_realloc(p, size);
}
}

namespace quenbril {
namespace {

/// The allocations of one call of `decode`, through operator new and in all.
template <class Decode>
void countAllocations(benchmark::State& state, Decode decode) {
    const uint64_t news = bench::allocations.load();
    const uint64_t all = mallocs;
    bench::countingAllocations = true;
    countingMallocs = true;
    decode();
    countingMallocs = false;
    bench::countingAllocations = false;
    state.counters["news"] = static_cast<double>(bench::allocations.load() - news);
    state.counters["mallocs"] = static_cast<double>(mallocs - all);
}

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

/// A hand-made archive whose root array holds `references` references to one string, and a
/// data object of `padding` bytes: the archive of a peer that makes its frames cost as much
/// time as their size allows.
Bytes sharedReferences(size_t references, size_t padding) {
    Array refs(references, Value(Uid{3}));
    if (padding > 0) refs.push_back(Value(Uid{4}));
    Value arrayClass = Dictionary{{"$classname", "NSArray"}, {"$classes", Array{"NSArray"}}};
    Array objects{"$null", Dictionary{{"NS.objects", std::move(refs)}, {"$class", Uid{2}}},
                  arrayClass, "x", Bytes(padding, 7)};
    Dictionary archive{{"$version", 100000},
                       {"$archiver", "NSKeyedArchiver"},
                       {"$top", Dictionary{{"root", Uid{1}}}},
                       {"$objects", std::move(objects)}};
    return *PropertyList::write(Value(std::move(archive)), PropertyList::Format::Binary);
}

/// Decodes (or refuses) a hand-made archive; "decoded" says which.
void decodeBytes(benchmark::State& state, const Bytes& bytes) {
    bool decoded = false;
    for (auto _ : state) {
        auto value = KeyedUnarchiver::unarchive(bytes);
        decoded = value.has_value();
        benchmark::DoNotOptimize(value);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    state.counters["decoded"] = decoded ? 1 : 0;
}

void decode(benchmark::State& state, const Value& message) {
    Bytes bytes = *KeyedArchiver::archivedData(message);
    for (auto _ : state) {
        auto value = KeyedUnarchiver::unarchive(bytes);
        benchmark::DoNotOptimize(value);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    countAllocations(state, [&] { benchmark::DoNotOptimize(KeyedUnarchiver::unarchive(bytes)); });
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
    countAllocations(state, [&] {
        plist_t root = nullptr;
        plist_from_bin(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()), &root);
        plist_free(root);
    });
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

// A million references to one string in a megabyte: refused once the value expands past the
// archive's budget.
void BM_MillionSharedReferences(benchmark::State& s) {
    static const Bytes bytes = sharedReferences(1000000, 0);
    decodeBytes(s, bytes);
}
void BM_MillionSharedReferencesBareLibplistParse(benchmark::State& s) {
    static const Bytes bytes = sharedReferences(1000000, 0);
    for (auto _ : s) {
        plist_t root = nullptr;
        plist_from_bin(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<uint32_t>(bytes.size()), &root);
        benchmark::DoNotOptimize(root);
        plist_free(root);
    }
}
// 100 KB of references alone: refused like the megabyte.
void BM_SharedReferences100KB(benchmark::State& s) {
    static const Bytes bytes = sharedReferences(100000, 0);
    decodeBytes(s, bytes);
}
// About 100 KB that stays just within its budget: the most a frame of that size may cost.
void BM_SharedReferencesWithinBudget100KB(benchmark::State& s) {
    static const Bytes bytes = sharedReferences(45000, 55000);
    decodeBytes(s, bytes);
}

BENCHMARK(BM_MillionSharedReferences)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MillionSharedReferencesBareLibplistParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharedReferences100KB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharedReferencesWithinBudget100KB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelDataDecode);
BENCHMARK(BM_LevelDataBareLibplistParse);
BENCHMARK(BM_LevelDataEncode);
BENCHMARK(BM_ChannelsDecode);
BENCHMARK(BM_ChannelsBareLibplistParse);
BENCHMARK(BM_ChannelsEncode);

}  // namespace
}  // namespace quenbril

// "--short" runs each benchmark for a moment only.
int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") != 0) args.push_back(argv[i]);
    }
    char minTime[] = "--benchmark_min_time=0.01";
    if (quenbril::bench::shortRun()) args.push_back(minTime);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
