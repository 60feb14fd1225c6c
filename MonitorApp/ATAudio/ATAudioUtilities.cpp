#include "MonitorApp/ATAudio/ATAudioUtilities.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/Log.h"

namespace quenbril {

namespace {

std::atomic<bool> exitOnFailure{false};

bool allPrintable(uint32_t code) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!std::isprint(static_cast<unsigned char>(code >> shift))) return false;
    }
    return true;
}

std::string quotedCode(uint32_t code) {
    const char text[] = {'\'',
                         static_cast<char>(code >> 24),
                         static_cast<char>(code >> 16),
                         static_cast<char>(code >> 8),
                         static_cast<char>(code),
                         '\'',
                         '\0'};
    return text;
}

// A format id as its four characters, without quotes, for the format printers.
std::string formatIdText(uint32_t id) { return quotedCode(id).substr(1, 4); }

AudioStreamBasicDescription linearPCM(double sampleRate, uint32_t flags, uint32_t bytesPerFrame,
                                      uint32_t channels, uint32_t bits) {
    AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = flags;
    format.mBytesPerPacket = bytesPerFrame;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = bytesPerFrame;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bits;
    return format;
}

constexpr uint32_t kFloatNonInterleaved =
    kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved;
constexpr uint32_t kFloatPacked = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr uint32_t kCanonicalNonInterleaved = kFloatPacked | kAudioFormatFlagIsNonInterleaved;

}  // namespace

void ATAudioUtilities::setShouldExitOnCheckResultFail(bool shouldExit) {
    exitOnFailure.store(shouldExit);
}

bool ATAudioUtilities::shouldExitOnCheckResultFail() { return exitOnFailure.load(); }

bool ATAudioUtilities::checkResult(OSStatus result, const char* operation) {
    if (result == 0) return true;
    const uint32_t code = static_cast<uint32_t>(result);
    const std::string text = allPrintable(code) ? quotedCode(code) : std::to_string(result);
    log(LogLevel::Error, "Error: %s (%s)", operation ? operation : "", text.c_str());
    if (shouldExitOnCheckResultFail()) std::exit(-1);
    return false;
}

AudioBufferList* ATAudioUtilities::audioBufferListWithNumberOfFrames(uint32_t frames,
                                                                     uint32_t channels,
                                                                     bool interleaved) {
    const uint32_t count = interleaved ? 1 : channels;
    const uint32_t channelsPerBuffer = interleaved ? channels : 1;
    auto* list = new AudioBufferList;
    list->mNumberBuffers = count;
    list->mBuffers = new AudioBuffer[count];
    for (uint32_t i = 0; i < count; ++i) {
        const size_t bytes = size_t{frames} * channelsPerBuffer * sizeof(float);
        list->mBuffers[i].mNumberChannels = channelsPerBuffer;
        list->mBuffers[i].mDataByteSize = static_cast<uint32_t>(bytes);
        list->mBuffers[i].mData = std::calloc(bytes > 0 ? bytes : 1, 1);
    }
    return list;
}

float** ATAudioUtilities::floatBuffersWithNumberOfFrames(uint32_t frames, uint32_t channels) {
    auto** buffers = new float*[channels];
    for (uint32_t i = 0; i < channels; ++i) buffers[i] = new float[frames];
    return buffers;
}

void ATAudioUtilities::freeBufferList(AudioBufferList* bufferList) {
    if (!bufferList) return;
    for (uint32_t i = 0; i < bufferList->mNumberBuffers; ++i) {
        std::free(bufferList->mBuffers[i].mData);
    }
    delete[] bufferList->mBuffers;
    delete bufferList;
}

void ATAudioUtilities::freeFloatBuffers(float** buffers, uint32_t channels) {
    if (!buffers) return;
    for (uint32_t i = 0; i < channels; ++i) delete[] buffers[i];
    delete[] buffers;
}

AudioStreamBasicDescription ATAudioUtilities::floatFormatWithNumberOfChannels(uint32_t channels,
                                                                              double sampleRate) {
    return linearPCM(sampleRate, kFloatNonInterleaved, 4, channels, 32);
}

AudioStreamBasicDescription ATAudioUtilities::monoFloatFormatWithSampleRate(double sampleRate) {
    return linearPCM(sampleRate, kFloatPacked, 4, 1, 32);
}

AudioStreamBasicDescription ATAudioUtilities::monoCanonicalFormatWithSampleRate(double sampleRate) {
    return linearPCM(sampleRate, kCanonicalNonInterleaved, 4, 1, 32);
}

AudioStreamBasicDescription ATAudioUtilities::stereoCanonicalNonInterleavedFormatWithSampleRate(
    double sampleRate) {
    return linearPCM(sampleRate, kCanonicalNonInterleaved, 4, 2, 32);
}

AudioStreamBasicDescription ATAudioUtilities::stereoFloatInterleavedFormatWithSampleRate(
    double sampleRate) {
    return linearPCM(sampleRate, kAudioFormatFlagIsFloat, 8, 2, 32);
}

AudioStreamBasicDescription ATAudioUtilities::stereoFloatNonInterleavedFormatWithSampleRate(
    double sampleRate) {
    return linearPCM(sampleRate, kFloatNonInterleaved, 4, 2, 32);
}

AudioStreamBasicDescription ATAudioUtilities::AIFFFormatWithNumberOfChannels(uint32_t channels,
                                                                             double sampleRate) {
    return linearPCM(
        sampleRate,
        kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
        channels * 4, channels, 32);
}

AudioStreamBasicDescription ATAudioUtilities::iLBCFormatWithSampleRate(double sampleRate) {
    // The 30 ms mode: 240 frames in 50 bytes.
    AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatiLBC;
    format.mChannelsPerFrame = 1;
    format.mBytesPerPacket = 50;
    format.mFramesPerPacket = 240;
    return format;
}

AudioStreamBasicDescription ATAudioUtilities::M4AFormatWithNumberOfChannels(uint32_t channels,
                                                                            double sampleRate) {
    // AAC packets have a variable size and 1024 frames each.
    AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatMPEG4AAC;
    format.mChannelsPerFrame = channels;
    format.mFramesPerPacket = 1024;
    return format;
}

void ATAudioUtilities::setCanonicalAudioStreamBasicDescription(AudioStreamBasicDescription* format,
                                                               uint32_t channels,
                                                               bool interleaved) {
    const uint32_t bytes = interleaved ? channels * 4 : 4;
    const AudioStreamBasicDescription made =
        linearPCM(format->mSampleRate, interleaved ? kFloatPacked : kCanonicalNonInterleaved, bytes,
                  channels, 32);
    *format = made;
}

void ATAudioUtilities::mixChannels(const float* in, uint32_t inChannels, float* out,
                                   uint32_t outChannels, uint32_t frames) {
    const uint32_t F = inChannels, C = outChannels;
    if (F == C) {
        std::copy_n(in, static_cast<size_t>(frames) * C, out);
    } else if (C == 1) {
        for (uint32_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (uint32_t f = 0; f < F; ++f) sum += in[static_cast<size_t>(i) * F + f];
            out[i] = sum / static_cast<float>(F);
        }
    } else {
        for (uint32_t i = 0; i < frames; ++i) {
            for (uint32_t c = 0; c < C; ++c) {
                out[static_cast<size_t>(i) * C + c] =
                    F == 1 ? in[i] : (c < F ? in[static_cast<size_t>(i) * F + c] : 0.0f);
            }
        }
    }
}

bool ATAudioUtilities::isFloatFormat(const AudioStreamBasicDescription& format) {
    return (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
}

bool ATAudioUtilities::isInterleaved(const AudioStreamBasicDescription& format) {
    return (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
}

bool ATAudioUtilities::isLinearPCM(const AudioStreamBasicDescription& format) {
    return format.mFormatID == kAudioFormatLinearPCM;
}

void ATAudioUtilities::printASBD(const AudioStreamBasicDescription& format) {
    const std::string id = formatIdText(format.mFormatID);
    QLOG("  Sample Rate:         %10.0f", format.mSampleRate);
    QLOG("  Format ID:           %10s", id.c_str());
    QLOG("  Format Flags:        %10X", format.mFormatFlags);
    QLOG("  Bytes per Packet:    %10d", static_cast<int>(format.mBytesPerPacket));
    QLOG("  Frames per Packet:   %10d", static_cast<int>(format.mFramesPerPacket));
    QLOG("  Bytes per Frame:     %10d", static_cast<int>(format.mBytesPerFrame));
    QLOG("  Channels per Frame:  %10d", static_cast<int>(format.mChannelsPerFrame));
    QLOG("  Bits per Channel:    %10d", static_cast<int>(format.mBitsPerChannel));
}

std::string ATAudioUtilities::stringForAudioStreamBasicDescription(
    const AudioStreamBasicDescription& format) {
    const std::string id = formatIdText(format.mFormatID);
    char text[512];
    std::snprintf(
        text, sizeof text,
        "\nSample Rate:       %10.0f,\nFormat ID:           %10s,\nFormat Flags:      "
        "  %10X,\nBytes per Packet:    %10d,\nFrames per Packet:   %10d,\nBytes per "
        "Frame:     %10d,\nChannels per Frame:  %10d,\nBits per Channel:    "
        "%10d,\nIsInterleaved:       %i,\nIsFloat:             %i,",
        format.mSampleRate, id.c_str(), format.mFormatFlags,
        static_cast<int>(format.mBytesPerPacket), static_cast<int>(format.mFramesPerPacket),
        static_cast<int>(format.mBytesPerFrame), static_cast<int>(format.mChannelsPerFrame),
        static_cast<int>(format.mBitsPerChannel), isInterleaved(format) ? 1 : 0,
        isFloatFormat(format) ? 1 : 0);
    return text;
}

std::string ATAudioUtilities::displayTimeStringFromSeconds(double seconds) {
    // Times that are not a number or below zero read as zero; the clamp keeps the cast defined.
    const double whole = std::isfinite(seconds) ? std::ceil(std::clamp(seconds, 0.0, 1e9)) : 0.0;
    const long total = static_cast<long>(whole);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(total / 60 % 60),
                  static_cast<int>(total % 60));
    return text;
}

std::string ATAudioUtilities::stringFromUInt32Code(uint32_t code) {
    return allPrintable(code) ? quotedCode(code) : std::to_string(code);
}

std::string ATAudioUtilities::noteNameStringForFrequency(float frequency, bool includeOctave) {
    static const char* const names[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                        "F#", "G",  "G#", "A",  "A#", "B"};
    if (!std::isfinite(frequency) || frequency <= 0) return "";
    const double semitones = std::log(double{frequency} / 440.0) / (std::log(2.0) / 12.0);
    // A positive float below about 1e-38 still gives a finite count; anything else is guarded.
    if (!std::isfinite(semitones)) return "";
    const long fromA = std::lround(semitones);  // half away from zero
    const long fromC = fromA + 9;
    const long index = ((fromC % 12) + 12) % 12;
    std::string name = names[index];
    if (includeOctave) {
        const long octave = 4 + static_cast<long>(std::floor(static_cast<double>(fromC) / 12.0));
        name += std::to_string(octave);
    }
    return name;
}

void ATAudioUtilities::appendBufferAndShift(const float* buffer, int bufferSize,
                                            float* scrollHistory, int scrollHistorySize) {
    if (bufferSize <= 0 || scrollHistorySize <= 0) return;
    if (bufferSize >= scrollHistorySize) {
        std::copy_n(buffer + (bufferSize - scrollHistorySize), scrollHistorySize, scrollHistory);
        return;
    }
    const int kept = scrollHistorySize - bufferSize;
    std::memmove(scrollHistory, scrollHistory + bufferSize, sizeof(float) * size_t(kept));
    std::copy_n(buffer, bufferSize, scrollHistory + kept);
}

void ATAudioUtilities::appendValue(float value, float* scrollHistory, int scrollHistorySize) {
    appendBufferAndShift(&value, 1, scrollHistory, scrollHistorySize);
}

void ATAudioUtilities::updateScrollHistory(std::vector<float>& scrollHistory, int length,
                                           int* index, const float* buffer, int bufferSize,
                                           bool isResolutionChanging) {
    if (scrollHistory.empty()) scrollHistory.assign(kMaxScrollHistory, 0.0f);
    if (isResolutionChanging) return;
    const int shown = std::clamp(length, 0, static_cast<int>(scrollHistory.size()));
    if (shown == 0) return;
    const float rms = RMS(buffer, bufferSize);
    if (*index < shown) {
        scrollHistory[static_cast<size_t>(std::max(*index, 0))] = rms;
        *index = std::max(*index, 0) + 1;
    } else {
        appendValue(rms, scrollHistory.data(), shown);
    }
}

float ATAudioUtilities::MAP(float value, float leftMin, float leftMax, float rightMin,
                            float rightMax) {
    return (value - leftMin) / (leftMax - leftMin) * (rightMax - rightMin) + rightMin;
}

float ATAudioUtilities::RMS(const float* buffer, int length) {
    if (!buffer || length <= 0) return 0.0f;
    double sum = 0;
    for (int i = 0; i < length; ++i) sum += double{buffer[i]} * buffer[i];
    return static_cast<float>(std::sqrt(sum / length));
}

int ATAudioUtilities::SGN(float value) { return (value > 0) - (value < 0); }

void ATAudioUtilities::getColorComponentsFromCGColor(std::span<const float> components, float* red,
                                                     float* green, float* blue, float* alpha) {
    if (components.size() != 4) return;
    *red = components[0];
    *green = components[1];
    *blue = components[2];
    *alpha = components[3];
}

bool ATAudioUtilities::circularBuffer(VMCircularBuffer* ring, int size) {
    return VMCircularBufferInit(ring, size);
}

void ATAudioUtilities::freeCircularBuffer(VMCircularBuffer* ring) {
    VMCircularBufferClear(ring);
    VMCircularBufferCleanup(ring);
}

void ATAudioUtilities::appendDataToCircularBuffer(VMCircularBuffer* ring,
                                                  const AudioBufferList* bufferList) {
    if (!bufferList || bufferList->mNumberBuffers == 0) return;
    const AudioBuffer& first = bufferList->mBuffers[0];
    if (first.mDataByteSize > static_cast<uint32_t>(INT32_MAX)) return;
    VMCircularBufferProduceBytes(ring, first.mData, static_cast<int32_t>(first.mDataByteSize));
}

std::unique_ptr<HistoryInfo> ATAudioUtilities::historyInfoWithDefaultLength(int defaultLength,
                                                                            int maximumLength) {
    const int maximum = std::clamp(maximumLength, 1, INT32_MAX / int{sizeof(float)});
    auto info = std::make_unique<HistoryInfo>();
    // A default above the maximum would make the shown values run past `buffer`.
    info->bufferSize = std::clamp(defaultLength, 0, maximum);
    info->buffer.assign(static_cast<size_t>(maximum), 0.0f);
    const int32_t bytes = maximum * int32_t{sizeof(float)};
    if (!circularBuffer(&info->circularBuffer, bytes)) return nullptr;
    const std::vector<float> zeroes(static_cast<size_t>(maximum), 0.0f);
    VMCircularBufferProduceBytes(&info->circularBuffer, zeroes.data(), bytes);
    return info;
}

void ATAudioUtilities::appendBuffer(const float* buffer, int bufferSize, HistoryInfo* historyInfo) {
    VMCircularBuffer* ring = &historyInfo->circularBuffer;
    const int capacity = ring->length / int{sizeof(float)};
    int count = std::max(bufferSize, 0);
    if (count > capacity) {
        buffer += count - capacity;
        count = capacity;
    }
    // Dropping the oldest values first keeps a history whose shown length is its whole capacity
    // rolling; appending only what fits would stop it once the ring is full.
    int32_t space = 0;
    VMCircularBufferHead(ring, &space);
    const int32_t bytes = count * int32_t{sizeof(float)};
    if (space < bytes) VMCircularBufferConsume(ring, bytes - space);
    if (count > 0) VMCircularBufferProduceBytes(ring, buffer, bytes);

    int32_t held = 0;
    const auto* oldest = reinterpret_cast<const float*>(VMCircularBufferTail(ring, &held));
    const int heldValues = held / int{sizeof(float)};
    const int shown =
        std::clamp(historyInfo->bufferSize, 0, static_cast<int>(historyInfo->buffer.size()));
    std::copy_n(oldest, std::min(shown, heldValues), historyInfo->buffer.data());
    if (heldValues > shown) {
        VMCircularBufferConsume(ring, (heldValues - shown) * int32_t{sizeof(float)});
    }
}

void ATAudioUtilities::appendBufferRMS(const float* buffer, int bufferSize,
                                       HistoryInfo* historyInfo) {
    const float rms = RMS(buffer, bufferSize);
    appendFloat(rms, historyInfo);
}

void ATAudioUtilities::appendFloat(float value, HistoryInfo* historyInfo) {
    const float checked = std::isnan(value) ? 0.0f : value;
    appendBuffer(&checked, 1, historyInfo);
}

void ATAudioUtilities::clearHistoryInfo(HistoryInfo* historyInfo) {
    const size_t shown = std::min(static_cast<size_t>(std::max(historyInfo->bufferSize, 0)),
                                  historyInfo->buffer.size());
    std::fill_n(historyInfo->buffer.begin(), shown, 0.0f);
    VMCircularBufferClear(&historyInfo->circularBuffer);
}

void ATAudioUtilities::freeHistoryInfo(std::unique_ptr<HistoryInfo> historyInfo) {
    historyInfo.reset();
}

}  // namespace quenbril
