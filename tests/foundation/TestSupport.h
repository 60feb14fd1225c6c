#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "foundation/ManualRunLoop.h"
#include "foundation/Value.h"

namespace quenbril::test {

/// The whole content of a file; empty when it cannot be read.
inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// One of the keyed archives under tests/data/keyed-archives.
inline Bytes archiveFixture(const std::string& name) {
    Bytes bytes = readFile(std::string(QUENBRIL_TEST_DATA) + "/keyed-archives/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

/// A virtual-time loop installed as the main run loop for the length of a test.
class MainLoopTest : public testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop); }
    void TearDown() override { RunLoop::setMain(nullptr); }
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5.0); }
    ManualRunLoop loop{0.0};
};

}  // namespace quenbril::test
