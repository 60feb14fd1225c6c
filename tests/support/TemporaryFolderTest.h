#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/FileText.h"

namespace quenbril {

/// A fixture base for tests of files on disk: a fresh folder for each test, removed afterwards,
/// with helpers to name, write and read the files in it.
class TemporaryFolderTest : public testing::Test {
  protected:
    /// `pattern`: a mkdtemp pattern for the folder ("/tmp/quenbril-...-XXXXXX").
    explicit TemporaryFolderTest(std::string pattern) : pattern_(std::move(pattern)) {}

    void SetUp() override {
        ASSERT_NE(mkdtemp(pattern_.data()), nullptr);
        folder_ = pattern_;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    static void put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string contents(const std::string& path) { return test::fileText(path); }

    std::filesystem::path folder_;

  private:
    std::string pattern_;
};

}  // namespace quenbril
