#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "MonitorApp/ATAudio/ATAudioFile.h"
#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "tests/MonitorApp/ATAudio/AudioFileFixture.h"
#include "tests/MonitorApp/ATAudio/FFmpegTool.h"
#include "tests/support/SignalAnalysis.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

/// AAC files made by the ffmpeg program: a bare ADTS stream, MP4 and M4A.
class ATAudioFileMPEG4Test : public test::AudioFileFixture {
  protected:
    void SetUp() override {
        test::AudioFileFixture::SetUp();
        if (!test::ffmpegToolsAvailable()) GTEST_SKIP() << "the ffmpeg program is not installed";
    }

    /// One second of a 1 kHz sine, 0.5 on the first channel and 0.25 on the second.
    std::string sine(const std::string& name, int channels, int rate,
                     const std::string& extra = "") {
        const std::string expression =
            channels == 1 ? "0.5*sin(2*PI*1000*t)" : "0.5*sin(2*PI*1000*t)|0.25*sin(2*PI*1000*t)";
        const std::string url = path(name);
        EXPECT_TRUE(test::encodeWithFFmpeg(url, expression, rate, 1.0, extra)) << name;
        return url;
    }

    /// Mono and stereo at 44.1 and 48 kHz in the container of `type` ("aac", "mp4" or "m4a"):
    /// the length ffprobe gives, the sine's level and pitch, the waveform.
    void readsEveryLayoutAndRate(const std::string& type) {
        for (int channels : {1, 2}) {
            for (int rate : {44100, 48000}) {
                const std::string name =
                    std::to_string(channels) + "ch" + std::to_string(rate) + "." + type;
                SCOPED_TRACE(name);
                const std::string url = sine(name, channels, rate);
                const auto probed = test::probeWithFFprobe(url);
                // A bare AAC stream has no length but its packets; a container states it.
                const int64_t probedFrames =
                    type == "aac" ? std::stoll(probed.at("nb_read_packets")) * 1024
                                  : std::llround(std::stod(probed.at("duration")) * rate);
                Error error;
                auto file = ATAudioFile::audioFileWithURL(
                    url, nullptr, U::floatFormatWithNumberOfChannels(channels, rate), &error);
                ASSERT_TRUE(file) << error.toString();
                EXPECT_NEAR(file->totalFrames(), probedFrames, 1024);
                EXPECT_DOUBLE_EQ(file->duration(), static_cast<double>(file->totalFrames()) / rate);
                EXPECT_EQ(file->fileFormat().mFormatID, kAudioFormatMPEG4AAC);
                EXPECT_EQ(file->fileFormat().mChannelsPerFrame, static_cast<uint32_t>(channels));
                EXPECT_EQ(file->fileFormat().mSampleRate, rate);

                const auto read = readToEnd(*file);
                EXPECT_EQ(static_cast<int64_t>(read[0].size()), file->totalFrames());
                EXPECT_EQ(file->frameIndex(), file->totalFrames());
                for (int c = 0; c < channels; ++c) {
                    // Past the encoder's delay and before the end.
                    const std::span<const float> middle(read[c].data() + rate / 10, rate * 8 / 10);
                    EXPECT_NEAR(test::sineLevelDb(middle), 20 * std::log10(c ? 0.25 : 0.5), 1.0);
                    EXPECT_NEAR(test::peakFrequency(middle.first(4800), rate, 990.0, 1010.0),
                                1000.0, 0.5);
                }
                auto waveform = file->getWaveformData(10);
                ASSERT_TRUE(waveform);
                EXPECT_NEAR(waveform->buffers()[0][5], 0.5 / std::numbers::sqrt2, 0.04);
                EXPECT_EQ(file->frameIndex(), file->totalFrames());
            }
        }
    }

    /// Reads from the current position to the end (or a failed read) in blocks of 1000 frames,
    /// one vector per channel of a non-interleaved float client.
    static std::vector<std::vector<float>> readToEnd(ATAudioFile& file,
                                                     uint32_t limit = UINT32_MAX) {
        const uint32_t channels = file.clientFormat().mChannelsPerFrame;
        AudioBufferList* list = U::audioBufferListWithNumberOfFrames(1000, channels, false);
        std::vector<std::vector<float>> out(channels);
        while (out[0].size() < limit) {
            uint32_t got = 0;
            bool eof = false;
            Error error;
            file.readFrames(1000, list, &got, &eof, &error);
            if (eof) break;
            for (uint32_t c = 0; c < channels; ++c) {
                const auto* data = static_cast<const float*>(list->mBuffers[c].mData);
                out[c].insert(out[c].end(), data, data + got);
            }
            if (error.code != 0) break;
        }
        U::freeBufferList(list);
        return out;
    }
};

TEST_F(ATAudioFileMPEG4Test, ReadsABareAACStreamAtItsOwnLengthAndLevel) {
    readsEveryLayoutAndRate("aac");
}

TEST_F(ATAudioFileMPEG4Test, ReadsAnMP4AtItsOwnLengthAndLevel) { readsEveryLayoutAndRate("mp4"); }

TEST_F(ATAudioFileMPEG4Test, ReadsAnM4AAtItsOwnLengthAndLevel) { readsEveryLayoutAndRate("m4a"); }

TEST_F(ATAudioFileMPEG4Test, ASeekLandsOnItsFrameExactly) {
    // A chirp, whose every stretch is unlike every other: its place in time can be measured.
    const auto chirp = [](double t) {
        return 0.5 * std::sin(2.0 * std::numbers::pi * (200.0 * t + 900.0 * t * t));
    };
    for (const std::string name : {"chirp.aac", "chirp.m4a"}) {
        SCOPED_TRACE(name);
        const std::string url = path(name);
        ASSERT_TRUE(test::encodeWithFFmpeg(url, "0.5*sin(2*PI*(200*t+900*t*t))", 48000, 1.0));
        auto file =
            ATAudioFile::audioFileWithURL(url, nullptr, U::monoFloatFormatWithSampleRate(48000.0));
        ASSERT_TRUE(file);
        // The priming of the first packet is hidden in an M4A, which marks it, not in a bare
        // stream; the sequential read is the reference either way.
        const std::vector<float> whole = readToEnd(*file)[0];
        const int64_t middle = file->totalFrames() / 2 + 333;
        for (int attempt = 0; attempt < 2; ++attempt) {
            file->seekToFrame(middle);
            EXPECT_EQ(file->frameIndex(), middle);
            const std::vector<float> after = readToEnd(*file, 4096)[0];
            ASSERT_GE(after.size(), 4096u);
            for (size_t i = 0; i < 4096; i += 7)
                ASSERT_NEAR(after[i], whole[static_cast<size_t>(middle) + i], 0.01) << i;
            // Where the read lands in the source: within one AAC frame of the encoder's delay
            // (1024 frames, hidden in an M4A).
            int bestLag = -1;
            double bestScore = -1e9;
            for (int lag = 0; lag <= 3072; ++lag) {
                double score = 0.0;
                for (int i = 0; i < 2048; i += 2)
                    score += after[static_cast<size_t>(i)] * chirp((middle + i - lag) / 48000.0);
                if (score > bestScore) {
                    bestScore = score;
                    bestLag = lag;
                }
            }
            EXPECT_LE(std::abs(bestLag - 1024), 1024);
            EXPECT_EQ(bestLag, name == "chirp.m4a" ? 0 : 1024);
        }
        file->seekToFrame(0);
        const std::vector<float> again = readToEnd(*file, 2048)[0];
        for (size_t i = 0; i < 2048; ++i) ASSERT_NEAR(again[i], whole[i], 0.01) << i;
    }
}

TEST_F(ATAudioFileMPEG4Test, MetadataCarriesTheContainersTags) {
    const std::string url =
        sine("tagged.m4a", 1, 48000,
             "-metadata title=Soundcheck -metadata artist='Stage left' -metadata comment='take 2'");
    auto file = ATAudioFile::audioFileWithURL(url);
    ASSERT_TRUE(file);
    const auto metadata = file->metadata();
    EXPECT_EQ(metadata.at("title"), "Soundcheck");
    EXPECT_EQ(metadata.at("artist"), "Stage left");
    EXPECT_EQ(metadata.at("comments"), "take 2");
    EXPECT_EQ(metadata.at("approximate duration in seconds"), "1.000");
    EXPECT_EQ(metadata.count("major_brand"), 0u);
    EXPECT_NE(file->description().find("title = Soundcheck"), std::string::npos);

    // A bare stream behind an ID3 tag is still AAC, and the tag its metadata.
    auto tagged = ATAudioFile::audioFileWithURL(
        sine("tagged.aac", 1, 48000, "-write_id3v2 1 -metadata title=Soundcheck"));
    ASSERT_TRUE(tagged);
    EXPECT_EQ(tagged->fileFormat().mFormatID, kAudioFormatMPEG4AAC);
    EXPECT_EQ(tagged->metadata().at("title"), "Soundcheck");
}

TEST_F(ATAudioFileMPEG4Test, AClientFormatOfIntegersAtAnotherRateReadsTheSameSound) {
    const std::string url = sine("stereo.m4a", 2, 48000);
    auto floats = ATAudioFile::audioFileWithURL(
        url, nullptr, U::stereoFloatNonInterleavedFormatWithSampleRate(48000.0));
    ASSERT_TRUE(floats);
    const auto reference = readToEnd(*floats);

    AudioStreamBasicDescription shorts = U::stereoFloatInterleavedFormatWithSampleRate(48000.0);
    shorts.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    shorts.mBitsPerChannel = 16;
    shorts.mBytesPerFrame = shorts.mBytesPerPacket = 4;
    auto file = ATAudioFile::audioFileWithURL(url, nullptr, shorts);
    ASSERT_TRUE(file);
    std::vector<int16_t> samples(2 * 2000);
    AudioBuffer buffer{2, static_cast<uint32_t>(samples.size() * 2), samples.data()};
    AudioBufferList list{1, &buffer};
    file->seekToFrame(10000);
    uint32_t got = 0;
    bool eof = true;
    file->readFrames(2000, &list, &got, &eof);
    ASSERT_EQ(got, 2000u);
    for (uint32_t i = 0; i < got; ++i) {
        for (int c = 0; c < 2; ++c)
            ASSERT_NEAR(samples[2 * i + c] / 32768.0, reference[c][10000 + i], 0.01) << i;
    }

    // At 22050 Hz the sine keeps its pitch and level over the file's whole length.
    ASSERT_TRUE(file->setClientFormat(U::monoFloatFormatWithSampleRate(22050.0)));
    EXPECT_EQ(file->totalClientFrames(), 22050);
    EXPECT_EQ(file->frameIndex(), 5513);  // Frame 12000 at 48 kHz.
    file->seekToFrame(0);
    const auto converted = readToEnd(*file);
    EXPECT_EQ(converted[0].size(), 22050u);
    const std::span<const float> middle(converted[0].data() + 2205, 17640);
    EXPECT_NEAR(test::peakFrequency(middle.first(4800), 22050.0, 990.0, 1010.0), 1000.0, 0.5);
    EXPECT_NEAR(test::sineLevelDb(middle), 20 * std::log10(0.375), 1.0);
}

TEST_F(ATAudioFileMPEG4Test, DamagedFilesGiveNoneAndAnErrorNeverACrash) {
    const std::string m4a = contentsOf(sine("good.m4a", 2, 44100));
    const std::string adts = contentsOf(sine("good.aac", 2, 44100));
    std::mt19937 random(41);
    auto noise = [&](size_t size) {
        std::string bytes(size, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        return bytes;
    };
    // The first box of an M4A ("ftyp") is its header; the audio's index comes after the audio.
    const size_t header = static_cast<unsigned char>(m4a[3]);
    const std::pair<std::string, std::string> refused[] = {
        {"truncated.m4a", m4a.substr(0, m4a.size() / 2)},
        {"header-only.m4a", m4a.substr(0, header)},
        {"noise.m4a", m4a.substr(0, header) + noise(20000)},
    };
    for (const auto& [name, bytes] : refused) {
        SCOPED_TRACE(name);
        const std::string url = writeBytes(name, bytes);
        Error error;
        EXPECT_EQ(
            ATAudioFile::audioFileWithURL(url, nullptr, ATAudioFile::defaultClientFormat(), &error),
            nullptr);
        EXPECT_NE(error.description.find(url), std::string::npos) << error.description;
        EXPECT_NE(error.description.find("M4A"), std::string::npos) << error.description;
    }
    // A bare stream whose first packet is whole but the rest is noise, and one cut short: read
    // to the end, whatever they give.
    const std::string tolerated[] = {
        writeBytes("noise.aac", adts.substr(0, 300) + noise(20000)),
        writeBytes("truncated.aac", adts.substr(0, adts.size() / 3)),
        writeBytes("holes.m4a",
                   m4a.substr(0, m4a.size() / 3) + noise(2000) + m4a.substr(m4a.size() / 3 + 2000)),
    };
    for (const std::string& url : tolerated) {
        SCOPED_TRACE(url);
        if (auto file = ATAudioFile::audioFileWithURL(url)) {
            const auto read = readToEnd(*file);
            EXPECT_LE(static_cast<int64_t>(read[0].size()), file->totalClientFrames());
            file->seekToFrame(file->totalClientFrames() / 2);
            readToEnd(*file);
            file->getWaveformData(16);
        }
    }
}

}  // namespace
}  // namespace quenbril
