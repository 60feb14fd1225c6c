// Two threads on one ring, as the audio paths use them. Built with ThreadSanitizer in CI, where a
// race on the positions or the samples is reported; in every build the reader checks that what it
// gets is whole: consecutive frames, both channels of one frame, never a frame twice.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/PELAudioEngine.h"

namespace quenbril {
namespace {

TEST(RingStressTest, EngineOutputPlaysWholeOrderedFramesWhileTheMainThreadWritesAndMutes) {
    // Frame numbers are carried as floats, exact below 2^24: all of them fit.
    constexpr int kBlocks = 1000000, kBlockFrames = 16, kPeriod = 48;
    static_assert(kBlocks * kBlockFrames < (1 << 24));
    PELAudioEngine engine(true, 200);
    std::atomic<bool> done{false};

    // The main thread's part: the stream's numbered frames (the right channel the negated left),
    // and the mute button now and then.
    std::thread main([&] {
        float left[kBlockFrames], right[kBlockFrames];
        const float* in[2] = {left, right};
        int frame = 0;
        for (int block = 0; block < kBlocks; ++block) {
            for (int i = 0; i < kBlockFrames; ++i) {
                left[i] = static_cast<float>(++frame);
                right[i] = -left[i];
            }
            engine.clientRing().produce(in, kBlockFrames, 2);
            if (block % 5000 == 0) engine.setMute(!engine.mute());
        }
        engine.setMute(false);
        done.store(true, std::memory_order_release);
    });

    // The audio thread's part: a period is either whole silence or consecutive frames, and the
    // stream never goes backwards (the writer only drops, it never repeats).
    float left[kPeriod] = {}, right[kPeriod] = {};
    float* const buffers[2] = {left, right};
    int64_t played = 0, failures = 0;
    float last = 0.0f;  // the value of the last frame played
    while (!done.load(std::memory_order_acquire)) {
        engine.output(buffers, kPeriod);
        if (left[0] == 0.0f) {
            for (int i = 0; i < kPeriod; ++i) {
                if (left[i] != 0.0f || right[i] != 0.0f) ++failures;
            }
            continue;
        }
        ++played;
        for (int i = 0; i < kPeriod; ++i) {
            if (right[i] != -left[i]) ++failures;
            if (i > 0 && left[i] != left[i - 1] + 1.0f) ++failures;
        }
        if (left[0] <= last) ++failures;
        last = left[kPeriod - 1];
    }
    main.join();
    EXPECT_EQ(failures, 0);

    // How much the audio thread played above depends on scheduling; once the writer is done,
    // the stream must play whatever state the race left the ring in.
    float block[2048];
    for (int i = 0; i < 2048; ++i) block[i] = 1000.0f + static_cast<float>(i);
    const float* in[2] = {block, block};
    for (int round = 0; round < 4 && left[0] == 0.0f; ++round) {
        engine.clientRing().produce(in, 2048, 2);
        engine.output(buffers, kPeriod);
    }
    EXPECT_NE(left[0], 0.0f) << "played " << played << " periods during the race";
    engine.clientRing().log().flush();
}

TEST(RingStressTest, BlockRingHandsOutWholeBlocksUnderTwoThreads) {
    constexpr int kBlocks = 200000;
    constexpr int kFrames = 128;
    BlockRingBuffer ring(kFrames, 6);
    std::atomic<bool> done{false};

    std::thread writer([&] {
        float left[kFrames], right[kFrames];
        for (int block = 1; block <= kBlocks; ++block) {
            for (int i = 0; i < kFrames; ++i) {
                left[i] = static_cast<float>(block);
                right[i] = -static_cast<float>(block);
            }
            ring.produce(left, right, kFrames);
        }
        done.store(true, std::memory_order_release);
    });

    int64_t blocks = 0, failures = 0;
    while (true) {
        const bool finished = done.load(std::memory_order_acquire);
        float* l = nullptr;
        float* r = nullptr;
        if (ring.consume(&l, &r)) {
            ++blocks;
            // The reader copies at once, as an output callback does. A block is only promised
            // until the second write after the read, so a late copy may mix two blocks; it
            // never holds anything the writer did not write.
            for (int i = 0; i < kFrames; ++i) {
                const float a = loadSample(l + i);
                const float b = -loadSample(r + i);
                if (a < 1.0f || a > kBlocks || b < 1.0f || b > kBlocks) ++failures;
            }
        } else if (finished) {
            break;  // what is left stays below the refill mark
        }
    }
    writer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_GT(blocks, 0);
}

}  // namespace
}  // namespace quenbril
