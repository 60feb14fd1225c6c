#pragma once

#include <cstdint>

namespace quenbril {

class ATAudioFile;

/// What a reader tells its owner, on the thread that read or sought. Every operation is
/// optional.
class ATAudioFileDelegate {
  public:
    virtual ~ATAudioFileDelegate() = default;
    /// The block just read, as one float array of `bufferSize` frames per channel.
    virtual void audioFile(ATAudioFile& /*audioFile*/, float** /*buffer*/, uint32_t /*bufferSize*/,
                           uint32_t /*numberOfChannels*/) {}
    virtual void audioFileUpdatedPosition(ATAudioFile& /*audioFile*/) {}
    virtual void audioFile(ATAudioFile& /*audioFile*/, int64_t /*framePosition*/) {}
};

}  // namespace quenbril
