#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "foundation/ManualRunLoop.h"

namespace quenbril {

/// A fixture base for tests of code that keeps settings: a fresh XDG_CONFIG_HOME (a temporary
/// folder, removed afterwards) and a virtual-time main run loop. The fixture calls
/// enterTemporarySettings() in its SetUp (through ASSERT_NO_FATAL_FAILURE) and
/// leaveTemporarySettings() in its TearDown, around what it resets of its own.
class TemporarySettingsTest : public testing::Test {
  protected:
    /// A start time a double holds exactly, so that advancing by 1.5 s gives exactly 1.5 s.
    static constexpr double kStartTime = 800000000.0;

    /// `pattern`: a mkdtemp pattern for the folder ("/tmp/quenbril-...-XXXXXX").
    void enterTemporarySettings(const char* pattern) {
        std::string folder = pattern;
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        root_ = folder;
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) savedConfigHome_ = previous;
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        loop_ = std::make_unique<ManualRunLoop>(kStartTime);
        RunLoop::setMain(loop_.get());
    }

    void leaveTemporarySettings() {
        RunLoop::setMain(nullptr);
        loop_.reset();
        if (savedConfigHome_) {
            setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string root_;
    std::optional<std::string> savedConfigHome_;
    std::unique_ptr<ManualRunLoop> loop_;
};

}  // namespace quenbril
