#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"

namespace quenbril::test {

/// A linear PCM format of `bits`-bit signed integers in the machine's byte order.
inline AudioStreamBasicDescription integerFormat(uint32_t channels, uint32_t bits, bool interleaved,
                                                 double rate = 48000.0) {
    AudioStreamBasicDescription format;
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                          (interleaved ? 0 : kAudioFormatFlagIsNonInterleaved);
    format.mFramesPerPacket = 1;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bits;
    format.mBytesPerFrame = format.mBytesPerPacket = bits / 8 * (interleaved ? channels : 1);
    return format;
}

/// A temporary folder of audio files written by libsndfile, removed after the test, on top of
/// the fixture `Base`.
template <typename Base = testing::Test>
class AudioFileFixtureOn : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        std::string pattern = "/tmp/quenbril-audiofile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        Base::TearDown();
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }

    /// Writes `frames` frames of `channels` channels; sample(frame, channel) gives each value.
    std::string write(const std::string& name, int format, int rate, int channels, int frames,
                      const std::function<float(int, int)>& sample,
                      const std::vector<std::pair<int, std::string>>& strings = {}) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        const std::string file = path(name);
        SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
        EXPECT_NE(out, nullptr) << sf_strerror(nullptr);
        if (!out) return file;
        for (const auto& [type, text] : strings) sf_set_string(out, type, text.c_str());
        std::vector<float> data(static_cast<size_t>(frames) * channels);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                data[static_cast<size_t>(i) * channels + c] = sample(i, c);
        sf_writef_float(out, data.data(), frames);
        sf_close(out);
        return file;
    }

    /// One second of a 1 kHz sine at 0.5 on every channel, 48 kHz.
    std::string writeSine(const std::string& name, int format, int channels = 2, int rate = 48000) {
        return write(name, format, rate, channels, rate, [rate](int i, int) {
            return static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * i / rate));
        });
    }

    std::string writeBytes(const std::string& name, const std::string& bytes) {
        const std::string file = path(name);
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }

    static std::string contentsOf(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    /// Every sample of the file as libsndfile reads it, interleaved.
    static std::vector<float> readAll(const std::string& file, SF_INFO* info) {
        *info = SF_INFO{};
        SNDFILE* in = sf_open(file.c_str(), SFM_READ, info);
        if (!in) return {};
        std::vector<float> data(static_cast<size_t>(info->frames) * info->channels);
        sf_readf_float(in, data.data(), info->frames);
        sf_close(in);
        return data;
    }

    std::filesystem::path folder_;
};

using AudioFileFixture = AudioFileFixtureOn<>;

}  // namespace quenbril::test
