// The Vozod driver's service search on a real Avahi daemon (inside the sandbox the test main
// makes): an announced receiver is found, resolved and logged with its address and port.

#include <gtest/gtest.h>

#include "MonitorApp/serverrole/VozodHandler.h"
#include "foundation/ManualRunLoop.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "tests/support/AvahiSandbox.h"

namespace quenbril {
namespace {

TEST(VozodServiceSearchNet, AnAnnouncedReceiverIsFoundResolvedAndLogged) {
    QUENBRIL_REQUIRE_AVAHI_SANDBOX();
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        auto publisher = makeAvahiServicePublisher();
        ASSERT_TRUE(publisher->publish("Rack 7", "_vozod._tcp.", 2202));

        VozodHandler handler;
        ::testing::internal::CaptureStderr();
        handler.searchForDevices("_vozod._tcp.");
        const VozodServiceSearch& search = handler.serviceSearch();
        const bool resolved =
            loop.runUntil([&] { return search.resolvedServices().count("Rack 7") == 1; }, 10.0);
        const std::string log = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(resolved) << log;
        EXPECT_TRUE(search.netServices().empty());
        EXPECT_EQ(search.resolvedServices().at("Rack 7").port, 2202);
        EXPECT_NE(log.find("DidFindService: Rack 7"), std::string::npos) << log;
        EXPECT_NE(log.find("DidResolve: ("), std::string::npos) << log;
        EXPECT_NE(log.find("Service name: Rack 7 , ip: 127.0.0.1 , port 2202"), std::string::npos)
            << log;
    }
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
