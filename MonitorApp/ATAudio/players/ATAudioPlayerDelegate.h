#pragma once

#include <cstdint>

namespace quenbril {

class ATAudioFile;
class ATAudioPlayer;

/// What a player tells its owner. Every operation is optional.
class ATAudioPlayerDelegate {
  public:
    virtual ~ATAudioPlayerDelegate() = default;
    /// Audio read from the file for playing, one float array per channel, on the player's
    /// reading thread.
    virtual void audioPlayer(ATAudioPlayer& /*player*/, float** /*buffer*/, uint32_t /*bufferSize*/,
                             uint32_t /*numberOfChannels*/, ATAudioFile& /*audioFile*/) {}
    /// The file's position changed, on the thread that moved it.
    virtual void audioPlayer(ATAudioPlayer& /*player*/, int64_t /*framePosition*/,
                             ATAudioFile& /*audioFile*/) {}
    /// Playing reached the end of the file, on the main thread.
    virtual void audioPlayerReachedEndOfAudioFile(ATAudioPlayer& /*player*/,
                                                  ATAudioFile& /*audioFile*/) {}
};

}  // namespace quenbril
