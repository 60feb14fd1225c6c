#include "MonitorApp/audio/BlockRingBuffer.h"

#include <algorithm>

#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kReadAttempts = 4;

int clampedBlocks(int numBlocks) {
    const int blocks = std::clamp(numBlocks, 1, BlockRingBuffer::kMaxBlocks);
    if (blocks != numBlocks) QLOG("Block ring: %d blocks asked for, using %d", numBlocks, blocks);
    return blocks;
}

}  // namespace

BlockRingBuffer::BlockRingBuffer() : indices_(1) {}

BlockRingBuffer::BlockRingBuffer(int blockSize, int numBlocks)
    : blockLen_(std::max(blockSize, 0)),
      numBlocks_(clampedBlocks(numBlocks)),
      indices_(numBlocks_) {
    const size_t block = static_cast<size_t>(blockLen_);
    storage_ = std::make_unique<float[]>(block * 2 * static_cast<size_t>(numBlocks_));
    for (int i = 0; i < numBlocks_; ++i) {
        buffersL_[i] = storage_.get() + block * (2 * i);
        buffersR_[i] = storage_.get() + block * (2 * i + 1);
    }
}

void BlockRingBuffer::produce(const float* left, const float* right, int len) {
    if (numBlocks_ == 0) return;
    const int frames = std::clamp(len, 0, blockLen_);
    const uint64_t position = indices_.beginWrite(1);
    const int slot = indices_.slot(position);
    if (left) {
        for (int i = 0; i < frames; ++i) storeSample(buffersL_[slot] + i, left[i]);
    }
    if (right) {
        for (int i = 0; i < frames; ++i) storeSample(buffersR_[slot] + i, right[i]);
    }
    indices_.endWrite(position + 1);

    const int held = sizeNow();
    if (filling_.load(std::memory_order_relaxed) && held > numBlocks_ / 1.5) {
        log_.note(RingLog::Line::ContinuePlaying, held);
        filling_.store(false, std::memory_order_relaxed);
    }
}

bool BlockRingBuffer::consume(float** left, float** right) {
    if (numBlocks_ == 0) return false;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const RingIndices::Snapshot now = indices_.snapshot();
        if (!now.consistent) continue;
        if (now.held() == 0 || filling_.load(std::memory_order_relaxed)) break;
        // Taking the block before handing it out: a failed swap means the writer dropped it.
        if (!indices_.advanceStart(now.start, now.start + 1)) continue;
        const int slot = indices_.slot(now.start);
        if (left) *left = buffersL_[slot];
        if (right) *right = buffersR_[slot];
        return true;
    }
    filling_.store(true, std::memory_order_relaxed);
    return false;
}

}  // namespace quenbril
