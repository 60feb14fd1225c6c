#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace quenbril {

/// The rolling history of one signed byte per channel per column, up to 128 channels: the level,
/// RF, quality and alert histories that the level displays draw.
///
/// History use: produceOne() appends a column; bufferStart() names the column just written.
/// Readers index the channel arrays in place: the column n before the newest is at
/// (bufferStart() - n) modulo bufferLen(). The arrays never move and bufferLen() never changes, so
/// a reader may keep the pointers of data() for the life of the buffer.
///
/// The first-in-first-out operations (produce, consume, consume2, dataInBuffer) treat
/// bufferStart() as the read index and bufferEnd() as the write index instead.
///
/// One thread writes and reads (the main thread). bufferStart() is published after the column is
/// stored, so a reader on another thread would never see the newest column half written.
class CharRingBuffer {
  public:
    static constexpr int kMaxChannels = 128;

    /// `channels` arrays (0 to 128) of `bufferLen` zero bytes (at least 1); values outside those
    /// ranges are clamped, with a log line.
    CharRingBuffer(int channels, int bufferLen);
    CharRingBuffer(const CharRingBuffer&) = delete;
    CharRingBuffer& operator=(const CharRingBuffer&) = delete;

    /// 128 channel pointers; the slots from channels() on are null.
    int8_t* const* data() const { return data_; }
    int bufferLen() const { return bufferLen_; }
    int channels() const { return channels_; }
    int bufferStart() const { return bufferStart_.load(std::memory_order_acquire); }
    /// A value outside 0..bufferLen() - 1 is taken modulo bufferLen().
    void setBufferStart(int start);
    int bufferEnd() const { return bufferEnd_; }

    /// Appends one column: bufferStart() moves on by one (wrapping) and channel i of the new column
    /// takes column[i], for i below `channelsUsed` (clamped to channels()). The other channels keep
    /// what that column held bufferLen() columns ago.
    void produceOne(const int8_t* column, int channelsUsed);

    /// The newest byte of a channel; 0 for a channel that does not exist.
    int8_t getLatestSample(int channel) const;
    /// Copies the newest `wanted` bytes of a channel, newest first, and stores how many it copied
    /// (`wanted` clamped to 0..bufferLen(); 0 for a channel that does not exist).
    void getChannelData(int8_t* destination, int wanted, int* gotLen, int channel) const;

    /// Zeroes every channel; both indices to 0.
    void reset();

    /// First-in-first-out use: bytes held, 0 to bufferLen() - 1.
    int dataInBuffer() const;
    /// Writes `len` bytes of each of the first `channelsUsed` channels at bufferEnd(). A writer
    /// that outruns the reader drops the oldest bytes: bufferStart() moves only on such an
    /// overflow.
    void produce(const int8_t* const* source, int len, int channelsUsed);
    /// Copies up to `wanted` of the oldest bytes of each of the first `channels` channels and
    /// stores how many it took.
    void consume(int8_t* const* destination, int wanted, int* gotLen, int channels);
    /// Takes up to `wanted` bytes without copying: stores the count, the index they start at and
    /// bufferLen(); the caller reads them in place, wrapping at bufferLen().
    int8_t* const* consume2(int wanted, int* gotLen, int* start, int* bufSize);

  private:
    int channelCountFor(int requested) const;

    int8_t* data_[kMaxChannels] = {};
    std::unique_ptr<int8_t[]> storage_;
    int bufferLen_;
    int channels_;
    int bufferEnd_ = 0;
    std::atomic<int> bufferStart_{0};
};

}  // namespace quenbril
