#pragma once

#include <cstdint>

#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"

namespace quenbril {

/// Whether the file reader and the recorder take `format` as their client format: linear PCM
/// of float32 or signed 16- or 32-bit integers, in either byte order, interleaved or not, of 1
/// to 64 channels at a finite positive rate, its byte counts matching that layout.
bool isSupportedClientFormat(const AudioStreamBasicDescription& format);

/// The frames `bufferList` holds in `format`'s layout; 0 when it lacks a buffer the layout
/// needs.
uint32_t framesHeldInFormat(const AudioBufferList* bufferList,
                            const AudioStreamBasicDescription& format);

/// Writes `frames` frames of interleaved float32 of the format's channel count into the list,
/// laid out in `format`, from frame `firstFrame` of the list on. Integers are rounded and
/// clipped to their range. The format must be supported and the list must hold the frames.
void writeFloatFrames(const float* interleaved, uint32_t frames,
                      const AudioStreamBasicDescription& format, AudioBufferList* bufferList,
                      uint32_t firstFrame);

}  // namespace quenbril
