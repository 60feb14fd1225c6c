#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"
#include "MonitorApp/ATAudio/HistoryInfo.h"
#include "MonitorApp/ATAudio/VMCircularBuffer.h"

namespace quenbril {

/// The audio toolkit's shared operations: the result check, buffers, stream formats, small
/// maths, note names, scrolling histories and the rolling history record of the plots.
class ATAudioUtilities {
  public:
    ATAudioUtilities() = delete;

    // The result check.

    /// Whether a failed check ends the process. Off unless someone turns it on: on a machine
    /// without audio devices failures are normal, and every caller reports its own failure.
    static void setShouldExitOnCheckResultFail(bool shouldExit);
    static bool shouldExitOnCheckResultFail();
    /// True for a status of 0. Otherwise prints "Error: <operation> (<code>)" and returns false,
    /// or ends the process with status -1 when the exit switch is on.
    static bool checkResult(OSStatus result, const char* operation);

    // Buffers.

    /// Zeroed float32 buffers of `frames` frames: one buffer of all channels when interleaved,
    /// else one per channel. Free with freeBufferList.
    static AudioBufferList* audioBufferListWithNumberOfFrames(uint32_t frames, uint32_t channels,
                                                              bool interleaved);
    /// One array of `frames` floats per channel (not zeroed). Free with freeFloatBuffers.
    static float** floatBuffersWithNumberOfFrames(uint32_t frames, uint32_t channels);
    static void freeBufferList(AudioBufferList* bufferList);
    static void freeFloatBuffers(float** buffers, uint32_t channels);

    // Stream formats.

    static AudioStreamBasicDescription floatFormatWithNumberOfChannels(uint32_t channels,
                                                                       double sampleRate);
    static AudioStreamBasicDescription monoFloatFormatWithSampleRate(double sampleRate);
    static AudioStreamBasicDescription monoCanonicalFormatWithSampleRate(double sampleRate);
    static AudioStreamBasicDescription stereoCanonicalNonInterleavedFormatWithSampleRate(
        double sampleRate);
    static AudioStreamBasicDescription stereoFloatInterleavedFormatWithSampleRate(
        double sampleRate);
    static AudioStreamBasicDescription stereoFloatNonInterleavedFormatWithSampleRate(
        double sampleRate);
    static AudioStreamBasicDescription AIFFFormatWithNumberOfChannels(uint32_t channels,
                                                                      double sampleRate);
    /// Nothing here encodes or decodes iLBC or AAC, so their packet fields are fixed values of
    /// the codecs rather than the answer of a codec query.
    static AudioStreamBasicDescription iLBCFormatWithSampleRate(double sampleRate);
    static AudioStreamBasicDescription M4AFormatWithNumberOfChannels(uint32_t channels,
                                                                     double sampleRate);
    /// Fills everything but the rate: 32-bit float linear PCM of `channels` channels.
    static void setCanonicalAudioStreamBasicDescription(AudioStreamBasicDescription* format,
                                                        uint32_t channels, bool interleaved);
    static bool isFloatFormat(const AudioStreamBasicDescription& format);
    static bool isInterleaved(const AudioStreamBasicDescription& format);
    static bool isLinearPCM(const AudioStreamBasicDescription& format);
    /// Logs the fields, one line each.
    static void printASBD(const AudioStreamBasicDescription& format);
    static std::string stringForAudioStreamBasicDescription(
        const AudioStreamBasicDescription& format);

    /// Interleaved frames of `inChannels` channels into `outChannels` channels: one input
    /// channel feeds every output, one output gets the mean of the inputs, and otherwise
    /// channels go across one to one, with outputs the input lacks silent.
    static void mixChannels(const float* in, uint32_t inChannels, float* out, uint32_t outChannels,
                            uint32_t frames);

    // Text.

    /// "mm:ss" of the time rounded up to a whole second, minutes modulo 60.
    static std::string displayTimeStringFromSeconds(double seconds);
    /// The four bytes in single quotes when all are printable, else the decimal value.
    static std::string stringFromUInt32Code(uint32_t code);
    /// The note nearest `frequency` ("A", "C#"...), followed by its octave when asked ("A4").
    /// "" for a frequency that is not a finite positive number.
    static std::string noteNameStringForFrequency(float frequency, bool includeOctave);

    // Scrolling histories.

    /// Moves the history left by `bufferSize` values and copies the new values to its end; with
    /// at least as many new values as the history holds, it keeps the newest.
    static void appendBufferAndShift(const float* buffer, int bufferSize, float* scrollHistory,
                                     int scrollHistorySize);
    static void appendValue(float value, float* scrollHistory, int scrollHistorySize);
    /// Makes the history (kMaxScrollHistory zeroes) when empty; unless the resolution is
    /// changing, appends the buffer's RMS at `*index` while the history is filling (raising the
    /// index), then by shifting. `length` is clamped to the history's size.
    static void updateScrollHistory(std::vector<float>& scrollHistory, int length, int* index,
                                    const float* buffer, int bufferSize, bool isResolutionChanging);
    static constexpr int kMaxScrollHistory = 8192;

    // Small maths.

    static float MAP(float value, float leftMin, float leftMax, float rightMin, float rightMax);
    /// The root of the mean of the squares; 0 for no values.
    static float RMS(const float* buffer, int length);
    static int SGN(float value);

    /// Writes the four components of a colour that has exactly four; otherwise writes nothing.
    static void getColorComponentsFromCGColor(std::span<const float> components, float* red,
                                              float* green, float* blue, float* alpha);

    // Rings and the history record.

    static bool circularBuffer(VMCircularBuffer* ring, int size);
    static void freeCircularBuffer(VMCircularBuffer* ring);
    /// Appends the first buffer of the list when it fits whole; otherwise nothing.
    static void appendDataToCircularBuffer(VMCircularBuffer* ring,
                                           const AudioBufferList* bufferList);

    /// A history showing `defaultLength` values (at most `maximumLength`) out of a ring of
    /// `maximumLength` floats, prefilled with zeroes. Null when the ring cannot be made.
    static std::unique_ptr<HistoryInfo> historyInfoWithDefaultLength(int defaultLength,
                                                                     int maximumLength);
    /// Appends the values, dropping the oldest ones to make room, copies the oldest shown values
    /// into `buffer`, then keeps only the `bufferSize` newest.
    static void appendBuffer(const float* buffer, int bufferSize, HistoryInfo* historyInfo);
    /// Appends the buffer's RMS (0 when it is not a number).
    static void appendBufferRMS(const float* buffer, int bufferSize, HistoryInfo* historyInfo);
    /// Appends one value (0 when it is not a number).
    static void appendFloat(float value, HistoryInfo* historyInfo);
    static void clearHistoryInfo(HistoryInfo* historyInfo);
    static void freeHistoryInfo(std::unique_ptr<HistoryInfo> historyInfo);
};

}  // namespace quenbril
