// Feeds arbitrary bytes to the audio file reader as a file on disk: the first byte picks the
// client format, the rest is the file, which the reader recognises by content (AAC, MP4 and M4A
// through FFmpeg, the rest through libsndfile). Opening, reading, seeking and the waveform may
// refuse or find nothing, never crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/Log.h"
#include "fuzz/FuzzFiles.h"

namespace {

using quenbril::ATAudioUtilities;
using quenbril::AudioStreamBasicDescription;

std::string file;

// Frames read per input at most: a file may claim any length, and work on it is what is tested.
constexpr int64_t kMaxFrames = int64_t{1} << 21;

AudioStreamBasicDescription clientFormat(uint8_t choice) {
    switch (choice % 4) {
        case 0:
            return quenbril::ATAudioFile::defaultClientFormat();
        case 1: {
            // 16-bit integers, interleaved stereo.
            auto format = ATAudioUtilities::stereoFloatInterleavedFormatWithSampleRate(48000.0);
            format.mFormatFlags =
                quenbril::kAudioFormatFlagIsSignedInteger | quenbril::kAudioFormatFlagIsPacked;
            format.mBitsPerChannel = 16;
            format.mBytesPerFrame = format.mBytesPerPacket = 4;
            return format;
        }
        case 2:
            return ATAudioUtilities::AIFFFormatWithNumberOfChannels(1, 22050.0);
        default:
            return ATAudioUtilities::floatFormatWithNumberOfChannels(3, 8000.0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    char pattern[] = "/tmp/quenbril-fuzz-audiofile-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    file = std::string(pattern) + "/input";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    if (size < 1) return 0;
    fuzz::putFile(file, data + 1, size - 1);
    const AudioStreamBasicDescription format = clientFormat(data[0]);
    auto reader = ATAudioFile::audioFileWithURL(file, nullptr, format);
    if (!reader) return 0;
    reader->description();
    const uint32_t channels = format.mChannelsPerFrame;
    const bool interleaved = ATAudioUtilities::isInterleaved(format);
    // Float buffers hold every client sample type here (none is wider than 4 bytes).
    AudioBufferList* list =
        ATAudioUtilities::audioBufferListWithNumberOfFrames(4096, channels, interleaved);
    auto readSome = [&](int64_t limit) {
        int64_t read = 0;
        for (;;) {
            uint32_t got = 0;
            bool eof = false;
            Error error;
            reader->readFrames(4096, list, &got, &eof, &error);
            read += got;
            if (eof || error.code != 0 || read >= limit) break;
            if (read > reader->totalClientFrames()) std::abort();
        }
    };
    readSome(kMaxFrames);
    reader->seekToFrame(reader->totalClientFrames() / 2);
    readSome(8192);
    reader->seekToFrame(static_cast<int64_t>(data[0]) * 977);
    readSome(8192);
    if (reader->totalClientFrames() <= kMaxFrames) reader->getWaveformData(64);
    ATAudioUtilities::freeBufferList(list);
    return 0;
}
