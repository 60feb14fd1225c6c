#pragma once

#include <atomic>
#include <memory>

#include "MonitorApp/ATAudio/RingIndices.h"
#include "MonitorApp/ATAudio/RingLog.h"

namespace quenbril {

/// A ring of stereo blocks handed out by pointer, for a writer and a reader that both work in
/// blocks (an input callback feeding an output callback). It holds at most numBlocks() - 1 blocks;
/// a writer that outruns the reader drops the oldest block. It starts filling: reads are refused
/// until a write brings more than numBlocks() / 1.5 blocks, and a refused read starts filling
/// again.
///
/// One writer and one reader, possibly on different threads; neither locks, allocates or prints.
/// A block handed out by consume() stays untouched until the writer next writes into its slot,
/// which with a full ring is the second write after the read: the reader copies it at once.
/// Samples are stored with relaxed atomics, so a reader that copies with loadSample() reads stale
/// or new values, never undefined ones, if it is late.
class BlockRingBuffer {
  public:
    static constexpr int kMaxBlocks = 30;

    /// A ring with no storage: it takes nothing and hands out nothing.
    BlockRingBuffer();
    /// `numBlocks` blocks (1 to 30) of `blockSize` zero frames (at least 0) per side.
    BlockRingBuffer(int blockSize, int numBlocks);
    BlockRingBuffer(const BlockRingBuffer&) = delete;
    BlockRingBuffer& operator=(const BlockRingBuffer&) = delete;

    /// 30 block pointers per side; the slots from numBlocks() on are null.
    float* const* buffersL() const { return buffersL_; }
    float* const* buffersR() const { return buffersR_; }
    int blockLen() const { return blockLen_; }
    int numBlocks() const { return numBlocks_; }
    int bufferStart() const { return indices_.startSlot(); }
    int bufferEnd() const { return indices_.endSlot(); }
    bool isFilling() const { return filling_.load(std::memory_order_relaxed); }

    /// Blocks held, 0 to numBlocks() - 1.
    int sizeNow() const { return numBlocks_ == 0 ? 0 : indices_.held(); }

    /// Writer: copies `len` frames (clamped to blockLen()) of each side into the next block; the
    /// rest of the block keeps its previous samples.
    void produce(const float* left, const float* right, int len);

    /// Reader: hands out the oldest block and returns true, or returns false (storing nothing)
    /// while filling or empty, which starts filling.
    bool consume(float** left, float** right);

    /// Keeps every block as it is: the ring has nothing to clear.
    void clear() {}

    RingLog& log() { return log_; }

  private:
    float* buffersL_[kMaxBlocks] = {};
    float* buffersR_[kMaxBlocks] = {};
    std::unique_ptr<float[]> storage_;
    int blockLen_ = 0;
    int numBlocks_ = 0;
    RingIndices indices_;
    std::atomic<bool> filling_{true};
    RingLog log_;
};

}  // namespace quenbril
