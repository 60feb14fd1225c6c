#pragma once

#include <span>

namespace quenbril {

class ATOutput;
class ATAudioDevice;

/// Supplies an output's audio, on the output's audio thread: fills each of the non-interleaved
/// float buffers with `numberOfFrames` frames (they arrive zeroed) and returns 0. It must not
/// lock, allocate, log or do I/O.
class ATOutputDataSource {
  public:
    virtual ~ATOutputDataSource() = default;
    virtual int output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) = 0;
};

/// What an output tells its owner, on the main thread.
class ATOutputDelegate {
  public:
    virtual ~ATOutputDelegate() = default;
    virtual void changedPlayingState(ATOutput& /*output*/, bool /*isPlaying*/) {}
    virtual void changedDevice(ATOutput& /*output*/, const ATAudioDevice& /*device*/) {}
};

}  // namespace quenbril
