#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace quenbril {

/// A fixture base for the crash service's tests: a fresh XDG_CACHE_HOME (a temporary folder,
/// removed afterwards) with the crash folders the service uses inside it.
class TemporaryCacheTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string folder = "/tmp/quenbril-crash-XXXXXX";
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        root_ = folder;
        if (const char* previous = std::getenv("XDG_CACHE_HOME")) savedCacheHome_ = previous;
        setenv("XDG_CACHE_HOME", root_.c_str(), 1);
        pending_ = root_ + "/Quenbril/crashes";
        reported_ = pending_ + "/reported";
    }

    void TearDown() override {
        if (savedCacheHome_) {
            setenv("XDG_CACHE_HOME", savedCacheHome_->c_str(), 1);
        } else {
            unsetenv("XDG_CACHE_HOME");
        }
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    static std::string contentsOf(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void writeFile(const std::string& path, const std::string& text) {
        std::ofstream out(path);
        out << text;
    }

    std::string root_;
    std::string pending_;
    std::string reported_;
    std::optional<std::string> savedCacheHome_;
};

}  // namespace quenbril
