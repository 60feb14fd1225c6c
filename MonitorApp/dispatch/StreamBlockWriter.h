#pragma once

#include "MonitorApp/link/LinkRecords.h"

namespace quenbril {

class RingBuffer;

/// Writes the server's audio blocks ("StreamData") into the stream ring: little-endian float32
/// samples, two channels (a mono block feeds both from the left samples). Only the frames both
/// channels hold are written; a trailing partial sample is dropped; a sample that is not a
/// finite number becomes 0. Converts through fixed scratch buffers, so it never allocates.
class StreamBlockWriter {
  public:
    static constexpr int kChunkFrames = 1024;

    /// Frames written.
    size_t write(RingBuffer& ring, const StreamBlock& block);

  private:
    float left_[kChunkFrames];
    float right_[kChunkFrames];
};

}  // namespace quenbril
