#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <numbers>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/ATRecorder.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"
#include "tests/MonitorApp/ATAudio/FFmpegTool.h"
#include "tests/support/SignalAnalysis.h"

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

TEST_F(ATRecorderTest, FilesThatCannotBeCreatedGiveNoneAndLeaveNothing) {
    const auto stereo = U::stereoFloatNonInterleavedFormatWithSampleRate(44100.0);
    auto unsignedBytes = U::monoFloatFormatWithSampleRate(44100.0);
    unsignedBytes.mFormatFlags = kAudioFormatFlagIsPacked;
    unsignedBytes.mBitsPerChannel = 8;
    unsignedBytes.mBytesPerFrame = unsignedBytes.mBytesPerPacket = 1;
    struct Case {
        std::string name;
        AudioStreamBasicDescription client, file;
        uint32_t type;
        std::string reason;
    };
    const Case cases[] = {
        {"no/such/folder/take.wav", stereo, U::stereoFloatInterleavedFormatWithSampleRate(44100.0),
         kAudioFileWAVEType, "No such file"},
        {"odd.m4a", U::monoFloatFormatWithSampleRate(37000.0),
         U::M4AFormatWithNumberOfChannels(1, 37000.0), kAudioFileM4AType, "37000 Hz"},
        {"aac.wav", stereo, U::M4AFormatWithNumberOfChannels(2, 44100.0), kAudioFileWAVEType,
         "only in an M4A"},
        {"pcm.m4a", stereo, U::stereoFloatInterleavedFormatWithSampleRate(44100.0),
         kAudioFileM4AType, "holds only AAC"},
        {"bytes.wav", unsignedBytes, U::stereoFloatInterleavedFormatWithSampleRate(44100.0),
         kAudioFileWAVEType, "client format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Error error;
        EXPECT_EQ(
            ATRecorder::recorderWithURL(path(c.name), c.client, c.file, c.type, nullptr, &error),
            nullptr);
        EXPECT_NE(error.description.find(path(c.name)), std::string::npos) << error.description;
        EXPECT_NE(error.description.find(c.reason), std::string::npos) << error.description;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_F(ATRecorderTest, AnExistingFileIsReplacedOnlyWhenTheRecordingCloses) {
    const std::string url = writeSine("take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string old = contentsOf(url);
    auto recorder = ATRecorder::recorderWithDestinationURL(
        url, U::monoFloatFormatWithSampleRate(48000.0), ATRecorder::kAIFF);
    ASSERT_TRUE(recorder);
    record(*recorder, 100);
    EXPECT_EQ(contentsOf(url), old);
    recorder.reset();
    SF_INFO info;
    readAll(url, &info);
    EXPECT_EQ(info.frames, 100);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);
}

TEST_F(ATRecorderTest, AKilledRecordingLeavesTheOldFileInPlace) {
    const std::string url = writeSine("take.m4a", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string old = contentsOf(url);
    const pid_t child = fork();
    if (child == 0) {
        auto recorder = ATRecorder::recorderWithURL(
            url, U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0), ATRecorder::kM4A);
        if (recorder) record(*recorder, 48000);
        ::kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(contentsOf(url), old);
    // The next recording clears what the killed one left beside the file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 2);
    auto recorder = ATRecorder::recorderWithURL(
        url, U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0), ATRecorder::kM4A);
    ASSERT_TRUE(recorder);
    record(*recorder, 4800);
    recorder->closeAudioFile();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);
    EXPECT_NE(contentsOf(url), old);
}

TEST_F(ATRecorderTest, EveryClientFormatIsConvertedToTheFilesFormat) {
    // Steps of 1/512: exact in every sample type.
    auto value = [](int i, int c) { return ((i * 37) % 512 - 256) / 512.0f * (c ? 0.5f : 1.0f); };
    auto check = [&](const std::string& url, int channels, bool monoClient) {
        SF_INFO info;
        const auto samples = readAll(url, &info);
        ASSERT_EQ(info.frames, 3000);
        ASSERT_EQ(info.channels, channels);
        for (int i = 0; i < 3000; ++i)
            for (int c = 0; c < channels; ++c)
                ASSERT_EQ(samples[static_cast<size_t>(i * channels + c)],
                          value(i, monoClient ? 0 : c))
                    << url << " " << i;
    };
    // 16-bit integers, interleaved, into a float WAV.
    std::vector<int16_t> shorts(2 * 3000);
    for (int i = 0; i < 3000; ++i)
        for (int c = 0; c < 2; ++c)
            shorts[static_cast<size_t>(i * 2 + c)] = static_cast<int16_t>(value(i, c) * 32768);
    AudioBuffer buffer{2, static_cast<uint32_t>(shorts.size() * 2), shorts.data()};
    AudioBufferList list{1, &buffer};
    auto recorder = ATRecorder::recorderWithURL(path("shorts.wav"),
                                                test::integerFormat(2, 16, true), ATRecorder::kWAV);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->appendDataFromBufferList(&list, 3000));
    recorder.reset();
    check(path("shorts.wav"), 2, false);

    // 32-bit integers, one buffer per channel, into an AIFF of 32-bit integers.
    std::vector<int32_t> ints(2 * 3000);
    for (int i = 0; i < 3000; ++i)
        for (int c = 0; c < 2; ++c)
            ints[static_cast<size_t>(c * 3000 + i)] =
                static_cast<int32_t>(value(i, c) * 2147483648.0);
    AudioBuffer buffers[2] = {{1, 3000 * 4, ints.data()}, {1, 3000 * 4, ints.data() + 3000}};
    list = {2, buffers};
    recorder = ATRecorder::recorderWithURL(path("ints.aiff"), test::integerFormat(2, 32, false),
                                           ATRecorder::kAIFF);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->appendDataFromBufferList(&list, 3000));
    recorder.reset();
    check(path("ints.aiff"), 2, false);

    // Mono floats fill both channels of the stereo WAV.
    std::vector<float> floats(3000);
    for (int i = 0; i < 3000; ++i) floats[static_cast<size_t>(i)] = value(i, 0);
    buffer = {1, 3000 * 4, floats.data()};
    list = {1, &buffer};
    recorder = ATRecorder::recorderWithURL(
        path("mono.wav"), U::floatFormatWithNumberOfChannels(1, 48000.0), ATRecorder::kWAV);
    ASSERT_TRUE(recorder);
    EXPECT_TRUE(recorder->appendDataFromBufferList(&list, 3000));
    recorder.reset();
    check(path("mono.wav"), 2, true);
}

TEST_F(ATRecorderTest, AClientAtAnotherRateIsConvertedToTheFilesRate) {
    const std::string url = path("converted.wav");
    auto recorder = ATRecorder::recorderWithURL(
        url, U::monoFloatFormatWithSampleRate(44100.0),
        U::stereoFloatInterleavedFormatWithSampleRate(48000.0), kAudioFileWAVEType);
    ASSERT_TRUE(recorder);
    std::vector<float> second(44100);
    for (int i = 0; i < 44100; ++i)
        second[static_cast<size_t>(i)] =
            static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / 44100.0));
    AudioBuffer buffer{1, 44100 * 4, second.data()};
    AudioBufferList list{1, &buffer};
    EXPECT_TRUE(recorder->appendDataFromBufferList(&list, 44100));
    recorder->closeAudioFile();
    EXPECT_NEAR(recorder->totalFrames(), 48000, 2);
    EXPECT_NEAR(recorder->duration(), 1.0, 1e-4);
    SF_INFO info;
    const auto samples = readAll(url, &info);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, recorder->totalFrames());
    std::vector<float> right;
    for (size_t i = 4800; i < 43200; ++i) right.push_back(samples[2 * i + 1]);
    EXPECT_NEAR(test::peakFrequency(std::span(right).first(4800), 48000.0, 990.0, 1010.0), 1000.0,
                0.5);
    EXPECT_NEAR(test::sineLevelDb(right), 20 * std::log10(0.5), 0.1);
}

TEST_F(ATRecorderTest, AnM4AIsAACInAnMP4ThatFFprobeAndTheReaderRead) {
    if (!test::ffmpegToolsAvailable()) GTEST_SKIP() << "the ffmpeg program is not installed";
    struct Case {
        std::string name;
        AudioStreamBasicDescription client;
        int rate;
    };
    const Case cases[] = {
        {"mono.m4a", U::monoFloatFormatWithSampleRate(48000.0), 48000},
        {"stereo.m4a", test::integerFormat(2, 16, true, 44100.0), 44100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string url = path(c.name);
        const uint32_t channels = c.client.mChannelsPerFrame;
        CountingDelegate delegate;
        Error error;
        auto recorder =
            ATRecorder::recorderWithURL(url, c.client, ATRecorder::kM4A, &delegate, &error);
        ASSERT_TRUE(recorder) << error.toString();
        EXPECT_EQ(recorder->audioFileTypeID(), kAudioFileM4AType);
        EXPECT_EQ(recorder->fileFormat().mFormatID, kAudioFormatMPEG4AAC);
        EXPECT_EQ(recorder->fileFormat().mChannelsPerFrame, channels);
        // One second in blocks of 441 or 480 frames: the tone at 0.5 left, 0.25 right.
        const int block = c.rate / 100;
        std::vector<int16_t> shorts(static_cast<size_t>(block) * 2);
        AudioBufferList* floats = U::audioBufferListWithNumberOfFrames(block, 1, true);
        AudioBuffer buffer{2, static_cast<uint32_t>(shorts.size() * 2), shorts.data()};
        AudioBufferList list = channels == 1 ? *floats : AudioBufferList{1, &buffer};
        for (int start = 0; start < c.rate; start += block) {
            for (int i = 0; i < block; ++i) {
                static_cast<float*>(floats->mBuffers[0].mData)[i] = tone(start + i, 0);
                for (int ch = 0; ch < 2; ++ch)
                    shorts[static_cast<size_t>(2 * i + ch)] =
                        static_cast<int16_t>(std::lround(tone(start + i, ch) * 32767));
            }
            EXPECT_TRUE(recorder->appendDataFromBufferList(&list, static_cast<uint32_t>(block)));
        }
        U::freeBufferList(floats);
        EXPECT_EQ(delegate.updates, 100);
        EXPECT_EQ(recorder->totalFrames(), c.rate);
        EXPECT_DOUBLE_EQ(recorder->duration(), 1.0);
        // Closed when asked, or when released.
        if (channels == 1) {
            recorder->closeAudioFile();
            recorder->closeAudioFile();
        } else {
            recorder.reset();
        }
        EXPECT_EQ(delegate.closes, 1);

        const auto probed = test::probeWithFFprobe(url);
        EXPECT_EQ(probed.at("codec_name"), "aac");
        EXPECT_NE(probed.at("format_name").find("mp4"), std::string::npos);
        EXPECT_EQ(probed.at("channels"), std::to_string(channels));
        EXPECT_EQ(probed.at("sample_rate"), std::to_string(c.rate));
        EXPECT_NEAR(std::stod(probed.at("duration")), 1.0, 0.05);

        auto file = ATAudioFile::audioFileWithURL(
            url, nullptr, U::floatFormatWithNumberOfChannels(channels, c.rate));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->totalFrames(), c.rate);
        AudioBufferList* read = U::audioBufferListWithNumberOfFrames(c.rate, channels, false);
        uint32_t got = 0;
        bool eof = true;
        file->readFrames(c.rate, read, &got, &eof);
        ASSERT_EQ(got, static_cast<uint32_t>(c.rate));
        for (uint32_t ch = 0; ch < channels; ++ch) {
            const std::span<const float> middle(
                static_cast<const float*>(read->mBuffers[ch].mData) + c.rate / 10, c.rate * 8 / 10);
            EXPECT_NEAR(test::sineLevelDb(middle), 20 * std::log10(ch ? 0.25 : 0.5), 1.0);
        }
        U::freeBufferList(read);
    }
}

/// Records one second of `sine(frame, channel)` as an M4A of `channels` channels at `rate` and
/// reads it back whole at that rate, one vector per channel; empty when either fails.
std::vector<std::vector<float>> m4aRoundTrip(const std::string& url, uint32_t channels, int rate,
                                             const std::function<float(int, int)>& sine) {
    Error error;
    auto recorder = ATRecorder::recorderWithURL(
        url, U::floatFormatWithNumberOfChannels(channels, rate), ATRecorder::kM4A, nullptr, &error);
    EXPECT_TRUE(recorder) << error.toString();
    if (!recorder) return {};
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(rate, channels, false);
    for (uint32_t c = 0; c < channels; ++c) {
        auto* data = static_cast<float*>(list->mBuffers[c].mData);
        for (int i = 0; i < rate; ++i) data[i] = sine(i, static_cast<int>(c));
    }
    EXPECT_TRUE(recorder->appendDataFromBufferList(list, static_cast<uint32_t>(rate)));
    U::freeBufferList(list);
    recorder->closeAudioFile();
    auto file = ATAudioFile::audioFileWithURL(
        url, nullptr, U::floatFormatWithNumberOfChannels(channels, rate), &error);
    EXPECT_TRUE(file) << error.toString();
    if (!file) return {};
    EXPECT_EQ(file->fileFormat().mChannelsPerFrame, channels);
    AudioBufferList* read = U::audioBufferListWithNumberOfFrames(rate, channels, false);
    uint32_t got = 0;
    bool eof = true;
    file->readFrames(rate, read, &got, &eof);
    EXPECT_EQ(got, static_cast<uint32_t>(rate));
    std::vector<std::vector<float>> out(channels);
    for (uint32_t c = 0; c < channels; ++c) {
        const auto* data = static_cast<const float*>(read->mBuffers[c].mData);
        out[c].assign(data, data + got);
    }
    U::freeBufferList(read);
    return out;
}

/// The amplitude of the `frequency` Hz sine in `samples` (a whole number of its periods).
double amplitudeAt(std::span<const float> samples, double frequency, double rate) {
    return 2.0 * std::sqrt(test::powerAt(samples, frequency, rate)) /
           static_cast<double>(samples.size());
}

TEST_F(ATRecorderTest, AnM4AKeepsEveryChannelWholeUpToEight) {
    // Channel c carries its own sine: a channel lost, band-limited or moved shows.
    const auto frequency = [](int c) { return 1000.0 + 250.0 * c; };
    for (uint32_t channels = 1; channels <= 8; ++channels) {
        SCOPED_TRACE(channels);
        const auto read = m4aRoundTrip(
            path(std::to_string(channels) + ".m4a"), channels, 48000, [&](int i, int c) {
                return static_cast<float>(
                    0.4 * std::sin(2.0 * std::numbers::pi * frequency(c) * i / 48000.0));
            });
        ASSERT_EQ(read.size(), channels);
        if (test::ffmpegToolsAvailable()) {
            // The layout has no low-frequency channel (whose names end in ".1").
            const auto probed = test::probeWithFFprobe(path(std::to_string(channels) + ".m4a"));
            EXPECT_EQ(probed.at("channels"), std::to_string(channels));
            EXPECT_FALSE(probed.at("channel_layout").ends_with(".1"))
                << probed.at("channel_layout");
        }
        for (uint32_t c = 0; c < channels; ++c) {
            // 0.8 s in the middle: a whole number of periods of every sine.
            const std::span<const float> middle(read[c].data() + 4800, 38400);
            EXPECT_NEAR(20.0 * std::log10(amplitudeAt(middle, frequency(c), 48000.0) / 0.4), 0.0,
                        1.0)
                << "channel " << c;
            for (uint32_t other = 0; other < channels; ++other) {
                if (other == c) continue;
                EXPECT_LT(amplitudeAt(middle, frequency(other), 48000.0), 0.004)
                    << "channel " << other << " in channel " << c;
            }
        }
    }
    // Past eight channels AAC has no layout: refused with the reason.
    Error error;
    EXPECT_FALSE(ATRecorder::recorderWithURL(path("nine.m4a"),
                                             U::floatFormatWithNumberOfChannels(9, 48000.0),
                                             ATRecorder::kM4A, nullptr, &error));
    EXPECT_NE(error.description.find("9 channels"), std::string::npos) << error.description;
}

TEST_F(ATRecorderTest, AnM4AKeepsASineFortyDecibelsAboveItsNoise) {
    // 1 kHz at 0.5 on the first channel, 1.25 kHz at 0.25 on the second.
    const auto ideal = [](int rate) {
        return [rate](int i, int c) {
            return static_cast<float>(
                (c ? 0.25 : 0.5) *
                std::sin(2.0 * std::numbers::pi * (c ? 1250.0 : 1000.0) * i / rate));
        };
    };
    for (int rate : {44100, 48000, 96000}) {
        for (uint32_t channels : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            const auto sine = ideal(rate);
            const auto read =
                m4aRoundTrip(path(std::to_string(rate) + "-" + std::to_string(channels) + ".m4a"),
                             channels, rate, sine);
            ASSERT_EQ(read.size(), channels);
            for (uint32_t c = 0; c < channels; ++c) {
                // The file hides the encoder's delay: frame i is the sine's frame i.
                double signal = 0.0, noise = 0.0;
                for (int i = rate / 10; i < rate * 9 / 10; ++i) {
                    const double expected = sine(i, static_cast<int>(c));
                    const double error = read[c][static_cast<size_t>(i)] - expected;
                    signal += expected * expected;
                    noise += error * error;
                }
                const double snr = 10.0 * std::log10(signal / (noise + 1e-30));
                EXPECT_GE(snr, 40.0) << "channel " << c;
            }
        }
    }
}

TEST_F(ATRecorderTest, AnM4AClosedWithoutAFrameOpensEmptyInPlaceOfTheOldFile) {
    // As an empty WAV or AIFF does: the file is there, with its track and no frames.
    for (uint32_t channels : {1u, 2u, 6u}) {
        SCOPED_TRACE(channels);
        const std::string url =
            writeSine(std::to_string(channels) + ".m4a", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        CountingDelegate delegate;
        auto recorder =
            ATRecorder::recorderWithURL(url, U::floatFormatWithNumberOfChannels(channels, 44100.0),
                                        ATRecorder::kM4A, &delegate);
        ASSERT_TRUE(recorder);
        testing::internal::CaptureStderr();
        recorder->closeAudioFile();
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(log.find("Failed"), std::string::npos) << log;
        EXPECT_EQ(delegate.closes, 1);
        Error error;
        auto file =
            ATAudioFile::audioFileWithURL(url, nullptr, ATAudioFile::defaultClientFormat(), &error);
        ASSERT_TRUE(file) << error.toString();
        EXPECT_EQ(file->totalFrames(), 0);
        EXPECT_EQ(file->duration(), 0.0);
        EXPECT_EQ(file->fileFormat().mFormatID, kAudioFormatMPEG4AAC);
        EXPECT_EQ(file->fileFormat().mChannelsPerFrame, channels);
        EXPECT_EQ(file->fileFormat().mSampleRate, 44100.0);
        AudioBufferList* list = U::audioBufferListWithNumberOfFrames(64, 2, false);
        uint32_t got = 1;
        bool eof = false;
        file->readFrames(64, list, &got, &eof);
        EXPECT_EQ(got, 0u);
        EXPECT_TRUE(eof);
        U::freeBufferList(list);
        if (test::ffmpegToolsAvailable()) {
            const auto probed = test::probeWithFFprobe(url);
            EXPECT_EQ(probed.at("codec_name"), "aac");
            EXPECT_EQ(probed.at("channels"), std::to_string(channels));
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 3);
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
