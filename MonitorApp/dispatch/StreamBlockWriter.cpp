#include "MonitorApp/dispatch/StreamBlockWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "MonitorApp/audio/RingBuffer.h"

namespace quenbril {

namespace {

void convert(const uint8_t* bytes, size_t frames, float* out) {
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* b = bytes + 4 * i;
        uint32_t bits =
            uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        out[i] = std::isfinite(f) ? f : 0.0f;
    }
}

}  // namespace

size_t StreamBlockWriter::write(RingBuffer& ring, const StreamBlock& block) {
    const size_t frames = std::min({block.frames, block.left.size() / 4, block.right.size() / 4});
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(frames - done, size_t{kChunkFrames});
        convert(block.left.data() + 4 * done, n, left_);
        const float* channels[2] = {left_, left_};
        if (!block.mono) {
            convert(block.right.data() + 4 * done, n, right_);
            channels[1] = right_;
        }
        ring.produce(channels, static_cast<int>(n), 2);
        done += n;
    }
    return frames;
}

}  // namespace quenbril
