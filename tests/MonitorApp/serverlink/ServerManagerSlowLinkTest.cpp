// The server link behind a slow link, against the real stand-in: a large initial state takes
// longer than the read time-out, and keeps arriving.

#include <gtest/gtest.h>

#include <string>

#include "MonitorApp/link/LinkMessageBuilder.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/simserver/SimServerProcess.h"
#include "tests/simserver/WireClient.h"
#include "tests/support/TestTime.h"
#include "tests/support/ThrottledProxy.h"

namespace quenbril::test {
namespace {

class ServerManagerSlowLinkTest : public ServerManagerTestBase {};

TEST_F(ServerManagerSlowLinkTest,
       OneConnectionTakesAFourHundredKilobyteStateAtFortyKilobytesASecond) {
    SimServerProcess server;
    ASSERT_NE(server.port(), 0) << server.log();
    {
        // About 400 KB of notes: ten seconds of the slow link for the notebook alone.
        WireClient noter(server.port());
        const std::string text(4000, 'n');
        ASSERT_TRUE(noter.waitFor("InitialDataReady", scaledSeconds(5.0)));
        // One at a time: each note's notebook is read before the next note goes.
        for (size_t k = 0; k < 95; ++k) {
            ASSERT_TRUE(noter.send(
                LinkMessageBuilder::remoteAddedNote(text + std::to_string(k), 0, "Alice", {}, 0)));
            auto book = noter.waitFor("NotebookEntries", scaledSeconds(5.0));
            ASSERT_TRUE(book);
            ASSERT_EQ((*book)["Values"].count(), k + 1);
        }
    }
    ThrottledProxy proxy(server.port(), 40000);
    ASSERT_NE(proxy.port(), 0);
    link_->tryToConnect();
    resolveTo("Stand-in", {loopbackAddress(proxy.port())});
    auto ready = [&] {
        for (const Value& m : recorder_.messages) {
            if (m["Command"] == Value("InitialDataReady")) return true;
        }
        return false;
    };
    ASSERT_TRUE(waitFor(ready, 40.0))
        << proxy.bytesPassed() << " bytes passed, " << recorder_.disconnects.size() << " drops";
    EXPECT_GT(proxy.bytesPassed(), 400000u);
    EXPECT_EQ(recorder_.connects.size(), 1u);
    EXPECT_TRUE(recorder_.disconnects.empty());
    EXPECT_EQ(proxy.connections(), 1);
}

}  // namespace
}  // namespace quenbril::test
