#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MonitorApp/ATAudio/ATOutputDataSource.h"
#include "foundation/ManualRunLoop.h"
#include "platform/audio/FakeAudioBackend.h"

namespace quenbril::test {

/// Fills client channel c with the constant c + 1.
class ConstantSource : public ATOutputDataSource {
  public:
    int output(ATOutput&, std::span<float* const> buffers, int frames) override {
        ++calls;
        for (size_t c = 0; c < buffers.size(); ++c) {
            for (int i = 0; i < frames; ++i) buffers[c][i] = static_cast<float>(c + 1);
        }
        return 0;
    }
    int calls = 0;
};

/// A fake backend installed as the process's backend and a virtual-time main run loop.
class FakeDeviceFixture : public testing::Test {
  protected:
    void SetUp() override {
        loop_ = std::make_unique<ManualRunLoop>(800000000.0);
        RunLoop::setMain(loop_.get());
        AudioBackend::setShared(&backend_);
    }
    void TearDown() override {
        AudioBackend::setShared(nullptr);
        RunLoop::setMain(nullptr);
        loop_.reset();
    }

    /// Lines of `log` that hold `text`.
    static size_t lines(const std::string& log, const std::string& text) {
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    /// A device with one stream of `inputs` and one of `outputs` channels.
    int addDevice(const std::string& name, int inputs, int outputs, double rate = 48000.0) {
        return backend_.addDevice(name, inputs, outputs, rate);
    }

    FakeAudioBackend backend_;
    std::unique_ptr<ManualRunLoop> loop_;
};

}  // namespace quenbril::test
