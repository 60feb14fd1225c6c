#include "MonitorApp/audio/CharRingBuffer.h"

#include <algorithm>
#include <cstring>

#include "foundation/Log.h"

namespace quenbril {

namespace {

int clampedChannels(int channels) {
    if (channels < 0 || channels > CharRingBuffer::kMaxChannels) {
        QLOG("History buffer: %d channels asked for, using %d", channels,
             std::clamp(channels, 0, CharRingBuffer::kMaxChannels));
    }
    return std::clamp(channels, 0, CharRingBuffer::kMaxChannels);
}

int clampedLength(int bufferLen) {
    if (bufferLen < 1) QLOG("History buffer: length %d asked for, using 1", bufferLen);
    return std::max(bufferLen, 1);
}

}  // namespace

CharRingBuffer::CharRingBuffer(int channels, int bufferLen)
    : bufferLen_(clampedLength(bufferLen)), channels_(clampedChannels(channels)) {
    // One block for every channel: the rows never move, whatever happens afterwards.
    const size_t rowBytes = static_cast<size_t>(bufferLen_);
    storage_ = std::make_unique<int8_t[]>(rowBytes * static_cast<size_t>(channels_));
    for (int ch = 0; ch < channels_; ++ch) data_[ch] = storage_.get() + rowBytes * ch;
}

void CharRingBuffer::setBufferStart(int start) {
    start %= bufferLen_;
    if (start < 0) start += bufferLen_;
    bufferStart_.store(start, std::memory_order_release);
}

int CharRingBuffer::channelCountFor(int requested) const {
    return std::clamp(requested, 0, channels_);
}

void CharRingBuffer::produceOne(const int8_t* column, int channelsUsed) {
    if (!column) return;
    const int next = (bufferStart_.load(std::memory_order_relaxed) + 1) % bufferLen_;
    const int used = channelCountFor(channelsUsed);
    for (int ch = 0; ch < used; ++ch) data_[ch][next] = column[ch];
    bufferStart_.store(next, std::memory_order_release);
}

int8_t CharRingBuffer::getLatestSample(int channel) const {
    if (channel < 0 || channel >= channels_) return 0;
    return data_[channel][bufferStart()];
}

void CharRingBuffer::getChannelData(int8_t* destination, int wanted, int* gotLen,
                                    int channel) const {
    int got = 0;
    if (destination && channel >= 0 && channel < channels_) {
        got = std::clamp(wanted, 0, bufferLen_);
        const int8_t* row = data_[channel];
        int index = bufferStart();
        for (int i = 0; i < got; ++i) {
            destination[i] = row[index];
            index = index == 0 ? bufferLen_ - 1 : index - 1;
        }
    }
    if (gotLen) *gotLen = got;
}

void CharRingBuffer::reset() {
    std::memset(storage_.get(), 0, static_cast<size_t>(bufferLen_) * channels_);
    bufferEnd_ = 0;
    bufferStart_.store(0, std::memory_order_release);
}

int CharRingBuffer::dataInBuffer() const {
    int held = (bufferEnd_ - bufferStart()) % bufferLen_;
    return held < 0 ? held + bufferLen_ : held;
}

void CharRingBuffer::produce(const int8_t* const* source, int len, int channelsUsed) {
    const int used = channelCountFor(channelsUsed);
    if (!source || len <= 0 || used == 0) return;
    const int end = bufferEnd_;
    const int held = dataInBuffer();
    // A write longer than the ring leaves only its last bufferLen bytes in place.
    const int skip = len > bufferLen_ ? len - bufferLen_ : 0;
    for (int ch = 0; ch < used; ++ch) {
        if (!source[ch]) continue;
        int index = static_cast<int>((static_cast<int64_t>(end) + skip) % bufferLen_);
        for (int i = skip; i < len; ++i) {
            data_[ch][index] = source[ch][i];
            if (++index == bufferLen_) index = 0;
        }
    }
    bufferEnd_ = static_cast<int>((static_cast<int64_t>(end) + len) % bufferLen_);
    // When the write index caught up with the read index, the oldest bytes were dropped: the ring
    // holds the newest bufferLen - 1.
    if (static_cast<int64_t>(held) + len >= bufferLen_) {
        setBufferStart((bufferEnd_ + 1) % bufferLen_);
    }
}

void CharRingBuffer::consume(int8_t* const* destination, int wanted, int* gotLen, int channels) {
    const int got = std::clamp(wanted, 0, dataInBuffer());
    const int start = bufferStart();
    if (destination) {
        const int used = channelCountFor(channels);
        for (int ch = 0; ch < used; ++ch) {
            if (!destination[ch]) continue;
            int index = start;
            for (int i = 0; i < got; ++i) {
                destination[ch][i] = data_[ch][index];
                if (++index == bufferLen_) index = 0;
            }
        }
    }
    if (gotLen) *gotLen = got;
    setBufferStart(start + got);
}

int8_t* const* CharRingBuffer::consume2(int wanted, int* gotLen, int* start, int* bufSize) {
    const int got = std::clamp(wanted, 0, dataInBuffer());
    const int from = bufferStart();
    if (gotLen) *gotLen = got;
    if (start) *start = from;
    if (bufSize) *bufSize = bufferLen_;
    setBufferStart(from + got);
    return data_;
}

}  // namespace quenbril
