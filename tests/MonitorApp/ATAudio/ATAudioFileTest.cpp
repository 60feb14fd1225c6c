#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <numbers>
#include <thread>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/ManualRunLoop.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

/// Reads the whole file in blocks of 1000 frames into one vector per client channel, up to
/// its end or a failed read, which `failure` gets (a test fails on one when it is not given).
std::vector<std::vector<float>> readToEnd(ATAudioFile& file, int* calls = nullptr,
                                          Error* failure = nullptr) {
    const uint32_t channels = file.clientFormat().mChannelsPerFrame;
    const bool interleaved = U::isInterleaved(file.clientFormat());
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(1000, channels, interleaved);
    std::vector<std::vector<float>> out(channels);
    for (;;) {
        uint32_t got = 0;
        bool eof = false;
        Error error;
        file.readFrames(1000, list, &got, &eof, &error);
        if (calls) ++*calls;
        if (eof) {
            EXPECT_EQ(got, 0u);
            break;
        }
        if (error.code != 0) {
            EXPECT_FALSE(eof);
            if (failure)
                *failure = error;
            else
                ADD_FAILURE() << error.description;
            break;
        }
        for (uint32_t c = 0; c < channels; ++c) {
            const float* data =
                static_cast<const float*>(list->mBuffers[interleaved ? 0 : c].mData);
            for (uint32_t i = 0; i < got; ++i)
                out[c].push_back(interleaved ? data[i * channels + c] : data[i]);
        }
    }
    U::freeBufferList(list);
    return out;
}

class ATAudioFileTest : public test::AudioFileFixture {};

TEST_F(ATAudioFileTest, EveryLibsndfileTypeReadsAtTheDefaultClientRateAndKeepsItsTone) {
    const std::pair<std::string, int> files[] = {
        {"sine.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"mono.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"sine.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"sine.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"sine.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {"sine.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_24},
        {"sine.au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
    };
    for (const auto& [name, format] : files) {
        SCOPED_TRACE(name);
        const std::string url = writeSine(name, format, name == "mono.aiff" ? 1 : 2);
        Error error;
        auto file =
            ATAudioFile::audioFileWithURL(url, nullptr, ATAudioFile::defaultClientFormat(), &error);
        ASSERT_TRUE(file) << error.toString();
        EXPECT_EQ(file->fileFormat().mSampleRate, 48000.0);
        EXPECT_EQ(file->fileFormat().mChannelsPerFrame, name == "mono.aiff" ? 1u : 2u);
        EXPECT_NEAR(file->duration(), 1.0, 0.06);
        EXPECT_EQ(file->totalClientFrames(), static_cast<int64_t>(file->duration() * 44100.0));
        const auto channels = readToEnd(*file);
        ASSERT_EQ(channels.size(), 2u);
        EXPECT_EQ(static_cast<int64_t>(channels[0].size()), file->totalClientFrames());
        EXPECT_EQ(file->frameIndex(), file->totalClientFrames());
        // The middle of the file: a mono file feeds both channels with the same tone.
        for (const auto& channel : channels) {
            const std::span<const float> middle(channel.data() + 4410, 22050);
            EXPECT_NEAR(test::peakFrequency(middle, 44100.0, 990.0, 1010.0), 1000.0, 0.5);
            EXPECT_NEAR(test::sineLevelDb(middle), 20 * std::log10(0.5), 0.3);
        }
    }
}

TEST_F(ATAudioFileTest, TheFileFormatDescribesTheFilesOwnEncoding) {
    auto aiff =
        ATAudioFile::audioFileWithURL(writeSine("mono.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1));
    ASSERT_TRUE(aiff);
    EXPECT_EQ(aiff->fileFormat().mBitsPerChannel, 24u);
    EXPECT_EQ(aiff->fileFormat().mBytesPerFrame, 3u);
    EXPECT_FALSE(U::isFloatFormat(aiff->fileFormat()));
    EXPECT_TRUE(aiff->fileFormat().mFormatFlags & kAudioFormatFlagIsBigEndian);
    auto wav =
        ATAudioFile::audioFileWithURL(writeSine("float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_TRUE(wav);
    EXPECT_TRUE(U::isFloatFormat(wav->fileFormat()));
    EXPECT_EQ(wav->fileFormat().mBytesPerFrame, 8u);
    EXPECT_NE(wav->description().find("totalFrames: 48000"), std::string::npos);
}

TEST_F(ATAudioFileTest, AClientFormatChangeWaitsForAReadInProgress) {
    auto file =
        ATAudioFile::audioFileWithURL(writeSine("sine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    ASSERT_TRUE(file);
    std::atomic<bool> changed{false};
    std::thread control;
    {
        std::lock_guard busy(file->lockForTesting());
        control = std::thread([&] {
            file->setClientFormat(U::monoFloatFormatWithSampleRate(48000.0));
            changed = true;
        });
        // A control call that did not wait would be done long before this.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(changed.load());
        EXPECT_EQ(file->clientFormat(), ATAudioFile::defaultClientFormat());
    }
    control.join();
    EXPECT_TRUE(changed.load());
    EXPECT_EQ(file->clientFormat().mChannelsPerFrame, 1u);
}

TEST_F(ATAudioFileTest, SeeksAndReadsSamplesExactlyAtTheFileRate) {
    const std::string url =
        write("ramp.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000,
              [](int i, int c) { return static_cast<float>(i) / 65536.0f * (c ? -1 : 1); });
    auto file = ATAudioFile::audioFileWithURL(
        url, nullptr, U::stereoFloatInterleavedFormatWithSampleRate(48000.0));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->totalClientFrames(), 48000);
    file->seekToFrame(24000);
    EXPECT_EQ(file->frameIndex(), 24000);
    EXPECT_FLOAT_EQ(file->currentTime(), 0.5);
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(4, 2, true);
    uint32_t got = 0;
    bool eof = true;
    file->readFrames(4, list, &got, &eof);
    ASSERT_EQ(got, 4u);
    EXPECT_FALSE(eof);
    const float* data = static_cast<const float*>(list->mBuffers[0].mData);
    EXPECT_EQ(data[0], 24000.0f / 65536.0f);
    EXPECT_EQ(data[7], -24003.0f / 65536.0f);
    file->setCurrentTime(0.25);
    EXPECT_EQ(file->frameIndex(), 12000);
    file->seekToFrame(1 << 30);  // Past the end: at the end.
    file->readFrames(4, list, &got, &eof);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(eof);
    U::freeBufferList(list);
}

TEST_F(ATAudioFileTest, ABusyLockReadsNothingDropsSeeksAndGivesNoWaveform) {
    auto file =
        ATAudioFile::audioFileWithURL(writeSine("sine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    ASSERT_TRUE(file);
    AudioBufferList* list = U::audioBufferListWithNumberOfFrames(256, 2, false);
    {
        std::lock_guard busy(file->lockForTesting());
        uint32_t got = 77;
        bool eof = true;
        file->readFrames(256, list, &got, &eof);
        EXPECT_EQ(got, 0u);
        EXPECT_FALSE(eof);
        file->seekToFrame(1000);
        EXPECT_EQ(file->frameIndex(), 0);
        EXPECT_EQ(file->getWaveformData(16), nullptr);
    }
    uint32_t got = 0;
    bool eof = true;
    file->readFrames(256, list, &got, &eof);
    EXPECT_EQ(got, 256u);
    U::freeBufferList(list);
}

TEST_F(ATAudioFileTest, FilesThatCannotBeOpenedGiveNoneAndAnErrorAndALogLineNamingFileAndReason) {
    const std::string wav = writeSine("good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::ifstream in(wav, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::string mp4(
        "\0\0\0\x20"
        "ftypisom\0\0\x02\0isomiso2mp41",
        28);
    std::string m4a(
        "\0\0\0\x20"
        "ftypM4A \0\0\0\0M4A mp42isom",
        28);
    const std::pair<std::string, std::string> cases[] = {
        {path("missing.wav"), "no such file"},
        {writeBytes("empty.wav", ""), ""},
        {writeBytes("truncated.wav", bytes.substr(0, 20)), ""},
        {writeBytes("notes.txt", "These are not sounds, only words.\n"), ""},
        {writeBytes("renamed.wav", mp4 + std::string(2000, '\x11')), "MP4"},
        {writeBytes("song.m4a", m4a + std::string(2000, '\x11')), "M4A"},
        {writeBytes("stream.mp3",
                    std::string("\xFF\xF1\x50\x80\x02\x1F\xFC", 7) + std::string(500, '\0')),
         "AAC"},
    };
    for (const auto& [url, reason] : cases) {
        Error error;
        EXPECT_EQ(
            ATAudioFile::audioFileWithURL(url, nullptr, ATAudioFile::defaultClientFormat(), &error),
            nullptr)
            << url;
        EXPECT_NE(error.description.find(url), std::string::npos) << error.description;
        EXPECT_FALSE(error.failureReason().empty()) << url;
        if (!reason.empty()) {
            EXPECT_NE(error.description.find(reason), std::string::npos) << error.description;
        }
        // Logged with the file and the reason, whether or not the caller asks for the error.
        testing::internal::CaptureStderr();
        EXPECT_EQ(ATAudioFile::audioFileWithURL(url), nullptr);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("Failed to open audio file " + url + ": " + error.failureReason()),
                  std::string::npos)
            << log;
    }
}

TEST_F(ATAudioFileTest, AnEmptyAudioFileOpensAtTimeZeroAndEndsAtOnce) {
    auto file = ATAudioFile::audioFileWithURL(write("silent.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                                    48000, 2, 0, [](int, int) { return 0.0f; }));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->duration(), 0.0);
    EXPECT_EQ(file->currentTime(), 0.0);
    file->setCurrentTime(3.0);
    EXPECT_EQ(file->currentTime(), 0.0);
    EXPECT_TRUE(readToEnd(*file)[0].empty());
    EXPECT_EQ(file->getWaveformData(), nullptr);
}

TEST_F(ATAudioFileTest, WaveformFollowsAKnownEnvelopeInEveryClientLayout) {
    // Eighths of a 480 Hz sine at changing levels, left at twice the right's level: each of four
    // points covers two of them.
    const float levels[] = {0.1f, 0.3f, 0.2f, 0.05f, 0.4f, 0.4f, 0.8f, 0.0f};
    auto pointRms = [&](int point) {
        const float a = levels[2 * point], b = levels[2 * point + 1];
        return std::sqrt((a * a + b * b) / 4.0f);
    };
    const std::string url =
        write("envelope.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000, [&](int i, int c) {
            return static_cast<float>(levels[i / 6000] * (c ? 0.5 : 1.0) *
                                      std::sin(2.0 * std::numbers::pi * 480.0 * i / 48000.0));
        });
    for (bool interleaved : {false, true}) {
        SCOPED_TRACE(interleaved ? "interleaved" : "non-interleaved");
        auto format = interleaved ? U::stereoFloatInterleavedFormatWithSampleRate(48000.0)
                                  : U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0);
        auto file = ATAudioFile::audioFileWithURL(url, nullptr, format);
        ASSERT_TRUE(file);
        file->seekToFrame(777);
        auto data = file->getWaveformData(4);
        ASSERT_TRUE(data);
        ASSERT_EQ(data->numberOfChannels(), 2);
        ASSERT_EQ(data->bufferSize(), 4u);
        for (int point = 0; point < 4; ++point) {
            EXPECT_NEAR(data->buffers()[0][point], pointRms(point), 1e-4);
            EXPECT_NEAR(data->buffers()[1][point], pointRms(point) / 2.0f, 1e-4);
        }
        EXPECT_EQ(file->frameIndex(), 777);  // The waveform puts the position back.
    }
    // A mono client gets one channel, the mean of both; points are capped at the frames.
    auto mono =
        ATAudioFile::audioFileWithURL(url, nullptr, U::monoFloatFormatWithSampleRate(48000.0));
    ASSERT_TRUE(mono);
    auto data = mono->getWaveformData(2);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->numberOfChannels(), 1);
    EXPECT_EQ(mono->getWaveformData(0), nullptr);
    EXPECT_EQ(mono->getWaveformData(std::numeric_limits<uint32_t>::max())->bufferSize(), 48000u);
    // At the default 44.1 kHz client the points spread over the converted frames.
    auto converted = ATAudioFile::audioFileWithURL(url);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->totalClientFrames(), 44100);
    data = converted->getWaveformData(4);
    ASSERT_TRUE(data);
    for (int point = 0; point < 4; ++point)
        EXPECT_NEAR(data->buffers()[0][point], pointRms(point), 0.01 * pointRms(point) + 0.002);
}

TEST_F(ATAudioFileTest, EveryClientFormatGetsTheFilesSamplesExactly) {
    // Steps of 1/512: exact in every sample type.
    auto value = [](int i, int c) { return ((i * 37) % 512 - 256) / 512.0f * (c ? 0.5f : 1.0f); };
    const std::string url =
        write("steps.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 3000, value);
    std::vector<uint8_t> bytes(3000 * 3 * 4 + 16, 0xAB);
    auto read = [&](const AudioStreamBasicDescription& format) {
        auto file = ATAudioFile::audioFileWithURL(url, nullptr, format);
        EXPECT_TRUE(file);
        if (!file) return 0u;
        // One buffer of all channels, or one per channel a third of the bytes apart.
        const uint32_t buffers = U::isInterleaved(format) ? 1 : format.mChannelsPerFrame;
        std::vector<AudioBuffer> list(buffers);
        for (uint32_t b = 0; b < buffers; ++b)
            list[b] = {1, 3000 * format.mBytesPerFrame, bytes.data() + b * 3000 * 4};
        AudioBufferList bufferList{buffers, list.data()};
        uint32_t got = 0;
        bool eof = true;
        file->readFrames(3000, &bufferList, &got, &eof);
        return got;
    };
    auto sample = [&](size_t offset, auto type) {
        decltype(type) v;
        std::memcpy(&v, bytes.data() + offset, sizeof v);
        return v;
    };

    ASSERT_EQ(read(test::integerFormat(2, 16, true)), 3000u);
    for (int i = 0; i < 3000; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(sample((i * 2 + c) * 2, int16_t{}), value(i, c) * 32768.0f) << i;
    EXPECT_EQ(bytes[3000 * 4], 0xAB);  // Nothing past the frames read.

    ASSERT_EQ(read(test::integerFormat(2, 32, false)), 3000u);
    for (int i = 0; i < 3000; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(sample((c * 3000 + i) * 4, int32_t{}), value(i, c) * 2147483648.0) << i;

    // The AIFF format: big-endian 32-bit integers.
    ASSERT_EQ(read(U::AIFFFormatWithNumberOfChannels(2, 48000.0)), 3000u);
    EXPECT_EQ(static_cast<int32_t>(__builtin_bswap32(sample(4 * 2 * 100 + 4, uint32_t{}))),
              value(100, 1) * 2147483648.0);

    // A mono client gets the mean of the channels; a third channel, silence.
    ASSERT_EQ(read(U::floatFormatWithNumberOfChannels(1, 48000.0)), 3000u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(sample(i * 4, float{}), (value(i, 0) + value(i, 1)) / 2) << i;
    ASSERT_EQ(read(U::floatFormatWithNumberOfChannels(3, 48000.0)), 3000u);
    EXPECT_EQ(sample(1234 * 4, float{}), value(1234, 0));
    EXPECT_EQ(sample((2 * 3000 + 1234) * 4, float{}), 0.0f);

    // Integers are clipped, never wrapped.
    const std::string loud = write("loud.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 2,
                                   [](int i, int) { return i ? -3.0f : 2.0f; });
    auto file = ATAudioFile::audioFileWithURL(loud, nullptr, test::integerFormat(1, 16, true));
    ASSERT_TRUE(file);
    int16_t clipped[2] = {};
    AudioBuffer buffer{1, sizeof clipped, clipped};
    AudioBufferList list{1, &buffer};
    uint32_t got = 0;
    bool eof = false;
    file->readFrames(2, &list, &got, &eof);
    EXPECT_EQ(clipped[0], 32767);
    EXPECT_EQ(clipped[1], -32768);
}

TEST_F(ATAudioFileTest, ClientFormatsTheReaderCannotFillAreRefused) {
    const std::string url = writeSine("sine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    auto none = ATAudioFile::defaultClientFormat();
    none.mChannelsPerFrame = 0;
    Error error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ATAudioFile::audioFileWithURL(url, nullptr, none, &error), nullptr);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(error.description.find(url), std::string::npos);
    EXPECT_NE(log.find("Couldn't set client data format on file " + url), std::string::npos) << log;
    auto file = ATAudioFile::audioFileWithURL(url);
    ASSERT_TRUE(file);
    auto unsignedShorts = test::integerFormat(2, 16, true);
    unsignedShorts.mFormatFlags = kAudioFormatFlagIsPacked;
    auto wrongSize = test::integerFormat(2, 16, true);
    wrongSize.mBytesPerFrame = 6;
    auto noRate = U::monoFloatFormatWithSampleRate(std::nan(""));
    for (const auto& format :
         {none, unsignedShorts, wrongSize, noRate, test::integerFormat(2, 24, true),
          test::integerFormat(2, 8, false), U::floatFormatWithNumberOfChannels(65, 48000.0)}) {
        EXPECT_FALSE(file->setClientFormat(format))
            << U::stringForAudioStreamBasicDescription(format);
    }
    EXPECT_EQ(file->clientFormat(), ATAudioFile::defaultClientFormat());
    // A change of rate keeps the moment of the file.
    file->seekToFrame(22050);
    EXPECT_TRUE(file->setClientFormat(U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0)));
    EXPECT_EQ(file->frameIndex(), 24000);
}

TEST_F(ATAudioFileTest, RatesTheConverterCannotReachAreRefusedAtOpenAndOnAClientChange) {
    // 100 frames each: the 1 Hz file claims 100 seconds. The converter takes up to 256 times
    // either way, its bound included.
    auto pcm = [&](int rate) {
        return write(std::to_string(rate) + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, 100,
                     [](int, int) { return 0.25f; });
    };
    const std::pair<int, double> refused[] = {
        {1, 44100.0}, {3, 44100.0}, {2000000000, 44100.0}, {1, 257.0}, {172, 44100.0}};
    for (const auto& [rate, clientRate] : refused) {
        const std::string url = pcm(rate);
        SCOPED_TRACE(url);
        const auto client = U::monoFloatFormatWithSampleRate(clientRate);
        Error error;
        EXPECT_EQ(ATAudioFile::audioFileWithURL(url, nullptr, client, &error), nullptr);
        EXPECT_NE(error.description.find(url), std::string::npos) << error.description;
        EXPECT_NE(error.failureReason().find("cannot be converted"), std::string::npos);
        testing::internal::CaptureStderr();
        EXPECT_EQ(ATAudioFile::audioFileWithURL(url, nullptr, client), nullptr);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("Failed to open audio file " + url + ": " + error.failureReason()),
                  std::string::npos)
            << log;
    }
    const std::pair<int, double> converted[] = {{1, 256.0}, {172, 44032.0}, {173, 44100.0}};
    for (const auto& [rate, clientRate] : converted) {
        auto file = ATAudioFile::audioFileWithURL(pcm(rate), nullptr,
                                                  U::monoFloatFormatWithSampleRate(clientRate));
        ASSERT_TRUE(file) << rate;
        EXPECT_GT(readToEnd(*file)[0].size(), 25000u) << rate;
    }
    auto ordinary = ATAudioFile::audioFileWithURL(
        writeSine("44k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100), nullptr,
        U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0));
    ASSERT_TRUE(ordinary);
    EXPECT_NEAR(static_cast<double>(readToEnd(*ordinary)[0].size()), 48000.0, 1.0);

    // A client rate set later that the converter cannot reach is refused with the file and the
    // reason; the reader reads on as it did.
    const std::string url = pcm(1);
    auto slow =
        ATAudioFile::audioFileWithURL(url, nullptr, U::monoFloatFormatWithSampleRate(100.0));
    ASSERT_TRUE(slow);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(slow->setClientFormat(U::monoFloatFormatWithSampleRate(44100.0)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Couldn't set client data format on file " + url +
                       ": its rate of 1 Hz cannot be converted to 44100 Hz"),
              std::string::npos)
        << log;
    EXPECT_EQ(slow->clientFormat().mSampleRate, 100.0);
    EXPECT_NEAR(static_cast<double>(readToEnd(*slow)[0].size()), 10000.0, 1.0);
}

TEST_F(ATAudioFileTest, AFileCutShortUnderTheReaderFailsToReadAndNeverEnds) {
    // 16-bit stereo behind a 44-byte header; cut to 2000 frames once 1000 were read. A file cut
    // before it is opened is only shorter.
    const std::string url = writeSine("cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100);
    const std::string whole = contentsOf(url);
    const auto header = static_cast<std::uintmax_t>(whole.size() - 44100 * 4);
    std::filesystem::resize_file(url, header + 2000 * 4);
    auto shorter = ATAudioFile::audioFileWithURL(url);
    ASSERT_TRUE(shorter);
    EXPECT_EQ(readToEnd(*shorter)[0].size(), 2000u);

    for (const double clientRate : {44100.0, 48000.0}) {
        SCOPED_TRACE(clientRate);
        writeBytes("cut.wav", whole);
        auto file = ATAudioFile::audioFileWithURL(
            url, nullptr, U::stereoFloatNonInterleavedFormatWithSampleRate(clientRate));
        ASSERT_TRUE(file);
        AudioBufferList* list = U::audioBufferListWithNumberOfFrames(1000, 2, false);
        uint32_t got = 0;
        bool eof = false;
        file->readFrames(1000, list, &got, &eof);
        ASSERT_EQ(got, 1000u);
        std::filesystem::resize_file(url, header + 2000 * 4);
        testing::internal::CaptureStderr();
        Error error;
        uint32_t read = 0;
        for (int i = 0; i < 10 && error.code == 0 && !eof; ++i) {
            file->readFrames(1000, list, &got, &eof, &error);
            read += got;
        }
        EXPECT_FALSE(eof);
        EXPECT_LE(read, 1200u);
        EXPECT_NE(error.description.find(url), std::string::npos) << error.description;
        EXPECT_NE(error.failureReason().find("ends at frame 2000"), std::string::npos);
        // Every read fails until a seek; the failure is logged once.
        file->readFrames(1000, list, &got, &eof, &error);
        EXPECT_EQ(got, 0u);
        EXPECT_FALSE(eof);
        const std::string log = testing::internal::GetCapturedStderr();
        const std::string line = "Failed to read audio file " + url;
        ASSERT_NE(log.find(line), std::string::npos) << log;
        EXPECT_EQ(log.find(line, log.find(line) + 1), std::string::npos) << log;
        testing::internal::CaptureStderr();
        EXPECT_EQ(file->getWaveformData(16), nullptr);
        EXPECT_NE(testing::internal::GetCapturedStderr().find(line), std::string::npos);
        file->seekToFrame(0);
        file->readFrames(1000, list, &got, &eof, &error);
        EXPECT_EQ(got, 1000u);
        U::freeBufferList(list);
    }
}

TEST_F(ATAudioFileTest, AFileThatGivesFramesAgainAfterItsEndStillEnds) {
    // Reading it at another rate once never returned. Its decoder's errors end reading as a
    // failure.
    auto file = ATAudioFile::audioFileWithURL(
        std::string(QUENBRIL_TEST_DATA) + "/audio/mpeg-frames-after-end.bin", nullptr,
        U::floatFormatWithNumberOfChannels(3, 8000.0));
    ASSERT_TRUE(file);
    Error failure;
    EXPECT_LE(static_cast<int64_t>(readToEnd(*file, nullptr, &failure)[0].size()),
              file->totalClientFrames());
    file->seekToFrame(file->totalClientFrames() / 2);
    EXPECT_LE(static_cast<int64_t>(readToEnd(*file, nullptr, &failure)[0].size()),
              file->totalClientFrames());
}

struct RecordingDelegate : ATAudioFileDelegate {
    using ATAudioFileDelegate::audioFile;
    void audioFile(ATAudioFile&, float** buffer, uint32_t bufferSize, uint32_t channels) override {
        frames += bufferSize;
        lastChannels = channels;
        lastFirst = buffer[channels - 1][0];
    }
    void audioFileUpdatedPosition(ATAudioFile&) override { ++updates; }
    void audioFile(ATAudioFile&, int64_t position) override { lastPosition = position; }
    uint64_t frames = 0;
    uint32_t lastChannels = 0;
    float lastFirst = 0;
    int updates = 0;
    int64_t lastPosition = -1;
};

TEST_F(ATAudioFileTest, TheDelegateHearsEveryBlockAndPositionAndCopiesStartAfresh) {
    RecordingDelegate delegate;
    const std::string url = write("steps.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 3000,
                                  [](int i, int) { return static_cast<float>(i); });
    auto file = ATAudioFile::audioFileWithURL(url, &delegate,
                                              U::floatFormatWithNumberOfChannels(3, 48000.0));
    ASSERT_TRUE(file);
    int calls = 0;
    const auto channels = readToEnd(*file, &calls);
    EXPECT_EQ(delegate.frames, 3000u);
    EXPECT_EQ(delegate.lastChannels, 3u);
    EXPECT_EQ(delegate.lastFirst, 2000.0f);  // The last block asked for.
    EXPECT_EQ(delegate.updates, calls);
    EXPECT_EQ(delegate.lastPosition, 3000);
    EXPECT_EQ(channels[2][2999], 2999.0f);
    file->seekToFrame(10);
    EXPECT_EQ(delegate.lastPosition, 10);

    auto copy = file->copy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, file);
    EXPECT_EQ(copy->url(), url);
    EXPECT_EQ(copy->frameIndex(), 0);
    EXPECT_EQ(copy->delegate(), nullptr);
    EXPECT_EQ(copy->clientFormat(), ATAudioFile::defaultClientFormat());
}

TEST_F(ATAudioFileTest, MetadataCarriesTheFilesStrings) {
    auto file = ATAudioFile::audioFileWithURL(write(
        "tagged.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 24000,
        [](int, int) { return 0.0f; },
        {{SF_STR_TITLE, "Soundcheck"}, {SF_STR_ARTIST, "Stage left"}, {SF_STR_COMMENT, "take 2"}}));
    ASSERT_TRUE(file);
    const auto metadata = file->metadata();
    EXPECT_EQ(metadata.at("title"), "Soundcheck");
    EXPECT_EQ(metadata.at("artist"), "Stage left");
    EXPECT_EQ(metadata.at("comments"), "take 2");
    EXPECT_EQ(metadata.at("approximate duration in seconds"), "0.500");
    EXPECT_EQ(metadata.count("album"), 0u);
    EXPECT_NE(file->description().find("title = Soundcheck"), std::string::npos);
    EXPECT_EQ(file->formattedDuration(), "00:01");
}

TEST_F(ATAudioFileTest, TheAsynchronousWaveformArrivesOnTheMainQueue) {
    ManualRunLoop loop(800000000.0);
    RunLoop::setMain(&loop);
    auto file =
        ATAudioFile::audioFileWithURL(writeSine("sine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    ASSERT_TRUE(file);
    file->getWaveformData(8, nullptr);  // No block, no work.
    std::thread::id deliveredOn;
    uint32_t length = 0;
    float first = 0;
    file->getWaveformData(8, [&](float* const* data, uint32_t count) {
        deliveredOn = std::this_thread::get_id();
        length = count;
        first = data ? data[0][0] : -1.0f;
    });
    EXPECT_TRUE(loop.runUntil([&] { return length != 0; }, 10.0));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
    EXPECT_EQ(length, 8u);
    EXPECT_NEAR(first, 0.5f / std::sqrt(2.0f), 0.01);

    // A busy reader: the block still comes, with nothing.
    bool empty = false;
    {
        std::lock_guard busy(file->lockForTesting());
        file->getWaveformData(
            [&](float* const* data, uint32_t count) { empty = !data && count == 0; });
        EXPECT_TRUE(loop.runUntil([&] { return empty; }, 10.0));
    }
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
