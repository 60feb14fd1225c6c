// The stand-in in this process on a real loopback socket, with its limits shortened where the
// defaults would make a test slow.

#include <gtest/gtest.h>

#include <memory>

#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "foundation/ArchiveClassRegistry.h"
#include "simserver/SimChatMessage.h"
#include "simserver/SimServer.h"
#include "tests/simserver/WireClient.h"

namespace quenbril::test {
namespace {

class SimServerLoopback : public ::testing::Test {
  protected:
    void SetUp() override {
        SimChatMessage::registerEncoder(ArchiveClassRegistry::shared());
        options_.port = 0;
        options_.publish = false;
    }

    /// Starts the server with options_.
    void start() {
        server_ = std::make_unique<SimServer>(options_);
        ASSERT_TRUE(server_->start());
        ASSERT_NE(server_->port(), 0);
    }

    /// A remote that has taken its initial state.
    std::unique_ptr<WireClient> connect() {
        auto c = std::make_unique<WireClient>(server_->port());
        EXPECT_TRUE(c->connected());
        EXPECT_TRUE(c->waitFor("InitialDataReady", 5.0));
        return c;
    }

    static Bytes header(int32_t length) {
        auto h = LinkFrameHeader{0, length}.encode();
        return Bytes(h.begin(), h.end());
    }

    SimOptions options_;
    std::unique_ptr<SimServer> server_;
};

// The default of 5.0 s is the end-to-end tests' to check, with the real program.
TEST_F(SimServerLoopback, AHeaderWithoutItsBodyTimesOutAndAnIdleRemoteStays) {
    options_.frameTimeout = 0.2;
    start();
    auto idle = connect();
    auto headerOnly = connect();
    auto halfHeader = connect();
    // All eight header bytes announce a body that never comes; another remote sends half a
    // header. Both hold a begun frame.
    ASSERT_TRUE(headerOnly->sendRaw(header(100)));
    ASSERT_TRUE(halfHeader->sendRaw(Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(headerOnly->waitForClose(3.0));
    EXPECT_TRUE(halfHeader->waitForClose(3.0));
    // A remote that sends nothing began no frame: it is served on.
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(idle->waitFor("LevelData", 1.0)) << i;
    ASSERT_TRUE(idle->send(LinkMessageBuilder::groupClicked(2)));
    EXPECT_TRUE(idle->waitFor("GroupStates", 2.0));
}

}  // namespace
}  // namespace quenbril::test
