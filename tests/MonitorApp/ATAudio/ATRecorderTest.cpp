#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <numbers>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/ATRecorder.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

struct CountingDelegate : ATRecorderDelegate {
    void recorderUpdatedCurrentTime(ATRecorder&) override { ++updates; }
    void recorderDidClose(ATRecorder&) override { ++closes; }
    int updates = 0;
    int closes = 0;
};

float tone(int i, int channel) {
    return static_cast<float>((channel ? 0.25 : 0.5) *
                              std::sin(2.0 * std::numbers::pi * 440.0 * i / 48000.0));
}

/// Records `frames` frames of tone() in blocks of 480 frames in the recorder's client format.
void record(ATRecorder& recorder, int frames) {
    const auto& format = recorder.clientFormat();
    const uint32_t channels = format.mChannelsPerFrame;
    const bool interleaved = U::isInterleaved(format);
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(480, channels, interleaved);
    for (int start = 0; start < frames; start += 480) {
        const int count = std::min(480, frames - start);
        for (uint32_t c = 0; c < channels; ++c) {
            auto* data = static_cast<float*>(list->mBuffers[interleaved ? 0 : c].mData);
            for (int i = 0; i < count; ++i)
                data[interleaved ? i * channels + c : static_cast<uint32_t>(i)] =
                    tone(start + i, static_cast<int>(c));
        }
        EXPECT_TRUE(recorder.appendDataFromBufferList(list, static_cast<uint32_t>(count)));
    }
    U::freeBufferList(list);
}

class ATRecorderTest : public test::AudioFileFixture {};

TEST_F(ATRecorderTest, EachFileTypeRoundTripsInItsOwnFormat) {
    struct Case {
        int64_t type;
        AudioStreamBasicDescription client;
        int expectedFormat;
        int expectedChannels;
        double tolerance;
    };
    const Case cases[] = {
        {ATRecorder::kAIFF, U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0),
         SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2, 1e-8},
        {ATRecorder::kAIFF, U::monoFloatFormatWithSampleRate(48000.0),
         SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 1, 1e-8},
        {ATRecorder::kWAV, U::stereoFloatInterleavedFormatWithSampleRate(48000.0),
         SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 0.0},
        // A mono client fills both channels of the stereo WAV formats.
        {ATRecorder::kWAV, U::monoFloatFormatWithSampleRate(48000.0),
         SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 0.0},
        {7, U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0),
         SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 0.0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string url = path("take" + std::to_string(n++));
        CountingDelegate delegate;
        Error error;
        auto recorder = ATRecorder::recorderWithURL(url, c.client, c.type, &delegate, &error);
        ASSERT_TRUE(recorder) << error.toString();
        EXPECT_EQ(recorder->audioFileTypeID(),
                  c.type == ATRecorder::kAIFF ? kAudioFileAIFFType : kAudioFileWAVEType);
        record(*recorder, 4800);
        EXPECT_EQ(delegate.updates, 10);
        EXPECT_EQ(recorder->totalFrames(), 4800);
        EXPECT_DOUBLE_EQ(recorder->duration(), 0.1);
        EXPECT_FLOAT_EQ(recorder->currentTime(), 0.1f);
        recorder->closeAudioFile();
        SF_INFO info;
        const auto samples = readAll(url, &info);
        EXPECT_EQ(info.format, c.expectedFormat);
        EXPECT_EQ(info.channels, c.expectedChannels);
        EXPECT_EQ(info.samplerate, 48000);
        ASSERT_EQ(info.frames, 4800);
        const bool monoClient = c.client.mChannelsPerFrame == 1;
        for (int i = 0; i < 4800; i += 7) {
            for (int ch = 0; ch < info.channels; ++ch)
                EXPECT_NEAR(samples[static_cast<size_t>(i * info.channels + ch)],
                            tone(i, monoClient ? 0 : ch), c.tolerance);
        }
    }
}

TEST_F(ATRecorderTest, AnM4AOrAFileThatCannotBeCreatedGivesNone) {
    Error error;
    EXPECT_EQ(ATRecorder::recorderWithURL(path("take.m4a"),
                                          U::stereoFloatNonInterleavedFormatWithSampleRate(44100.0),
                                          ATRecorder::kM4A, nullptr, &error),
              nullptr);
    EXPECT_NE(error.description.find("M4A"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path("take.m4a")));
    EXPECT_EQ(ATRecorder::recorderWithURL(path("no/such/folder/take.wav"),
                                          U::stereoFloatNonInterleavedFormatWithSampleRate(44100.0),
                                          ATRecorder::kWAV, nullptr, &error),
              nullptr);
    EXPECT_NE(error.description.find("no/such/folder/take.wav"), std::string::npos);
    // A client at another rate than the file's would need converting, which the recorder leaves
    // to its caller.
    EXPECT_EQ(ATRecorder::recorderWithURL(
                  path("take.wav"), U::stereoFloatNonInterleavedFormatWithSampleRate(44100.0),
                  U::stereoFloatInterleavedFormatWithSampleRate(48000.0), kAudioFileWAVEType),
              nullptr);
}

TEST_F(ATRecorderTest, AnExistingFileIsReplaced) {
    const std::string url = writeSine("take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    auto recorder = ATRecorder::recorderWithDestinationURL(
        url, U::monoFloatFormatWithSampleRate(48000.0), ATRecorder::kAIFF);
    ASSERT_TRUE(recorder);
    record(*recorder, 100);
    recorder.reset();
    SF_INFO info;
    readAll(url, &info);
    EXPECT_EQ(info.frames, 100);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
}

TEST_F(ATRecorderTest, ClosingHappensOnceWhetherAskedOrReleased) {
    CountingDelegate delegate;
    auto recorder = ATRecorder::recorderWithURL(
        path("a.wav"), U::monoFloatFormatWithSampleRate(48000.0), ATRecorder::kWAV, &delegate);
    ASSERT_TRUE(recorder);
    record(*recorder, 480);
    recorder->closeAudioFile();
    recorder->closeAudioFile();
    EXPECT_EQ(delegate.closes, 1);
    EXPECT_TRUE(recorder->isClosed());
    // An append after close is refused with a log line and changes nothing.
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(16, 1, true);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(recorder->appendDataFromBufferList(list, 16));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("after it was closed"),
              std::string::npos);
    EXPECT_EQ(recorder->totalFrames(), 480);
    recorder.reset();
    EXPECT_EQ(delegate.closes, 1);

    CountingDelegate released;
    recorder = ATRecorder::recorderWithURL(path("b.wav"), U::monoFloatFormatWithSampleRate(48000.0),
                                           ATRecorder::kWAV, &released);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->appendDataFromBufferList(list, 16));
    recorder.reset();
    EXPECT_EQ(released.closes, 1);
    SF_INFO info;
    readAll(path("b.wav"), &info);
    EXPECT_EQ(info.frames, 16);
    U::freeBufferList(list);
}

TEST_F(ATRecorderTest, AFailedWriteIsLoggedAndReturnsFalse) {
    auto recorder = ATRecorder::recorderWithURL(
        path("big.wav"), U::monoFloatFormatWithSampleRate(48000.0), ATRecorder::kWAV);
    ASSERT_TRUE(recorder);
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(8192, 1, true);
    // A file size limit makes the writes fail as a full disk would.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 100000;
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    testing::internal::CaptureStderr();
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i) ok = recorder->appendDataFromBufferList(list, 8192);
    const std::string log = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_NE(log.find("Failed to write audio data to recorded audio file"), std::string::npos);
    U::freeBufferList(list);
}

}  // namespace
}  // namespace quenbril
