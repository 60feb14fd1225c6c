#pragma once

#include <cstdint>

namespace quenbril {

/// One block of audio bytes: all channels of a frame in a row (interleaved) or one channel.
struct AudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

/// The buffers of one slice of audio: one for interleaved audio, one per channel otherwise.
/// `mBuffers` points at `mNumberBuffers` buffers rather than trailing the record, so a list of
/// any size is a plain value in C++ and a list of one can live on the stack beside its buffer.
struct AudioBufferList {
    uint32_t mNumberBuffers = 0;
    AudioBuffer* mBuffers = nullptr;
};

}  // namespace quenbril
