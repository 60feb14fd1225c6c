#pragma once

#include "MonitorApp/ATAudio/ATAudioUtilities.h"

namespace quenbril {

/// The toolkit's front door: the utilities' operations under a shorter name. Note names,
/// colour components and the history record are reached through ATAudioUtilities only.
class ATAudio : private ATAudioUtilities {
  public:
    ATAudio() = delete;

    using ATAudioUtilities::checkResult;
    using ATAudioUtilities::setShouldExitOnCheckResultFail;
    using ATAudioUtilities::shouldExitOnCheckResultFail;

    using ATAudioUtilities::audioBufferListWithNumberOfFrames;
    using ATAudioUtilities::floatBuffersWithNumberOfFrames;
    using ATAudioUtilities::freeBufferList;
    using ATAudioUtilities::freeFloatBuffers;

    using ATAudioUtilities::AIFFFormatWithNumberOfChannels;
    using ATAudioUtilities::floatFormatWithNumberOfChannels;
    using ATAudioUtilities::iLBCFormatWithSampleRate;
    using ATAudioUtilities::isFloatFormat;
    using ATAudioUtilities::isInterleaved;
    using ATAudioUtilities::isLinearPCM;
    using ATAudioUtilities::M4AFormatWithNumberOfChannels;
    using ATAudioUtilities::monoCanonicalFormatWithSampleRate;
    using ATAudioUtilities::monoFloatFormatWithSampleRate;
    using ATAudioUtilities::printASBD;
    using ATAudioUtilities::setCanonicalAudioStreamBasicDescription;
    using ATAudioUtilities::stereoCanonicalNonInterleavedFormatWithSampleRate;
    using ATAudioUtilities::stereoFloatInterleavedFormatWithSampleRate;
    using ATAudioUtilities::stereoFloatNonInterleavedFormatWithSampleRate;
    using ATAudioUtilities::stringForAudioStreamBasicDescription;

    using ATAudioUtilities::displayTimeStringFromSeconds;
    using ATAudioUtilities::stringFromUInt32Code;

    using ATAudioUtilities::appendBufferAndShift;
    using ATAudioUtilities::appendValue;
    using ATAudioUtilities::updateScrollHistory;

    using ATAudioUtilities::MAP;
    using ATAudioUtilities::RMS;
    using ATAudioUtilities::SGN;

    using ATAudioUtilities::appendDataToCircularBuffer;
    using ATAudioUtilities::circularBuffer;
    using ATAudioUtilities::freeCircularBuffer;
};

}  // namespace quenbril
