#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"

namespace quenbril {

/// Writes a new audio file from interleaved float32 at the file's own rate and channel count:
/// what the recorder writes every type through. Used from one thread at a time.
class AudioFileEncoder {
  public:
    /// Closes the file; one that was not finished may be incomplete.
    virtual ~AudioFileEncoder() = default;

    /// Appends `frames` frames. False, with the reason, when they could not all be written.
    virtual bool write(const float* interleaved, uint32_t frames, std::string* reason) = 0;
    /// Writes what the file still needs (the encoder's last packets, an index) and closes it.
    /// Nothing is written after.
    virtual bool finish(std::string* reason) = 0;
};

/// A file of type `fileTypeID` ('AIFF', 'WAVE' or 'caff') in linear PCM `format`, through
/// libsndfile. Null, with the reason, for a type or format it cannot write or a path it
/// cannot create.
std::unique_ptr<AudioFileEncoder> openSndFileEncoder(const std::string& path, uint32_t fileTypeID,
                                                     const AudioStreamBasicDescription& format,
                                                     std::string* reason);

/// An M4A file of AAC made by FFmpeg's own encoder. Null, with the reason, for a channel count
/// or rate AAC cannot hold, or a path it cannot create.
std::unique_ptr<AudioFileEncoder> openAACFileEncoder(const std::string& path, uint32_t channels,
                                                     double sampleRate, std::string* reason);

}  // namespace quenbril
