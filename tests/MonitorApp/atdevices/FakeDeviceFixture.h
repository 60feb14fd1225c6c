#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/ManualRunLoop.h"
#include "platform/audio/FakeAudioBackend.h"

namespace quenbril::test {

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

    /// A device with one stream of `inputs` and one of `outputs` channels.
    int addDevice(const std::string& name, int inputs, int outputs, double rate = 48000.0) {
        return backend_.addDevice(name, inputs, outputs, rate);
    }

    FakeAudioBackend backend_;
    std::unique_ptr<ManualRunLoop> loop_;
};

}  // namespace quenbril::test
