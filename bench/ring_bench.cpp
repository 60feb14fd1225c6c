// Prints what the rings cost on their hot paths: appending a 128-channel history column, and
// writing and reading a stereo block of 128 frames through the stream ring and the block ring.
#include <chrono>
#include <cstdio>
#include <vector>

#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/audio/RingBuffer.h"
#include "bench/BenchSupport.h"

using namespace quenbril;
using Clock = std::chrono::steady_clock;

namespace {

volatile float gSink;

double nanosecondsPer(Clock::time_point start, long count) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
           static_cast<double>(count);
}

void historyAppend() {
    CharRingBuffer ring(128, 3000);
    std::vector<int8_t> column(128);
    const long kColumns = bench::shortOr(2000000L, 20000L);
    const auto start = Clock::now();
    for (long k = 0; k < kColumns; ++k) {
        column[static_cast<size_t>(k & 127)] = static_cast<int8_t>(k);
        ring.produceOne(column.data(), 128);
    }
    const double ns = nanosecondsPer(start, kColumns);
    gSink = ring.data()[5][ring.bufferStart()];
    std::printf("history append (produceOne, 128 channels): %8.1f ns\n", ns);
}

void streamRing() {
    constexpr int kFrames = 128;
    const long kBlocks = bench::shortOr(1000000L, 10000L);
    RingBuffer ring(2, 4096);
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    std::vector<float> outLeft(kFrames), outRight(kFrames);
    const float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    // Keep about 2500 frames held, where the output reads in normal play.
    for (int i = 0; i < 20; ++i) ring.produce(in, kFrames, 2);

    double writeNs = 0, readNs = 0;
    constexpr long kBatch = 8;
    for (long b = 0; b < kBlocks; b += kBatch) {
        auto start = Clock::now();
        for (long i = 0; i < kBatch; ++i) ring.produce(in, kFrames, 2);
        writeNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        start = Clock::now();
        for (long i = 0; i < kBatch; ++i) {
            int got = 0;
            ring.consume(out, kFrames, &got, 2);
        }
        readNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    gSink = outLeft[7];
    std::printf("stream ring, stereo block of %d frames: write %8.1f ns, read %8.1f ns\n", kFrames,
                writeNs / kBlocks, readNs / kBlocks);
}

void blockRing() {
    constexpr int kFrames = 128;
    const long kBlocks = bench::shortOr(1000000L, 10000L);
    BlockRingBuffer ring(kFrames, 6);
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    std::vector<float> copy(2 * kFrames);
    for (int i = 0; i < 3; ++i) ring.produce(left.data(), right.data(), kFrames);
    const auto start = Clock::now();
    for (long b = 0; b < kBlocks; ++b) {
        ring.produce(left.data(), right.data(), kFrames);
        float* l = nullptr;
        float* r = nullptr;
        if (ring.consume(&l, &r)) {
            for (int i = 0; i < kFrames; ++i) {
                copy[static_cast<size_t>(i)] = loadSample(l + i);
                copy[static_cast<size_t>(kFrames + i)] = loadSample(r + i);
            }
        }
    }
    gSink = copy[9];
    std::printf("block ring, stereo block of %d frames written, taken and copied: %8.1f ns\n",
                kFrames, nanosecondsPer(start, kBlocks));
}

}  // namespace

int main() {
    historyAppend();
    streamRing();
    blockRing();
    return 0;
}
