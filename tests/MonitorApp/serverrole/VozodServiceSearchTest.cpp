// The Vozod driver's service search against a browser the test drives: what it keeps and what
// it logs for each answer of the browser.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "MonitorApp/serverrole/VozodHandler.h"
#include "foundation/ManualRunLoop.h"

namespace quenbril {
namespace {

struct ScriptedBrowser : ServiceBrowser {
    struct Calls {
        std::vector<std::string> browsed;
        std::vector<std::string> resolved;
        int stops = 0;
        int domainSearches = 0;
        Delegate* delegate = nullptr;
    };
    explicit ScriptedBrowser(Calls* calls) : calls(calls) {}
    void browse(const std::string& type, Delegate* delegate) override {
        calls->browsed.push_back(type);
        calls->delegate = delegate;
    }
    void resolve(const std::string& name) override { calls->resolved.push_back(name); }
    void stop() override { ++calls->stops; }
    void browseRegistrationDomains() override { ++calls->domainSearches; }
    Calls* calls;
};

ResolvedService resolvedAt(const std::string& name, const char* ipv4, uint16_t port) {
    in_addr address{};
    inet_pton(AF_INET, ipv4, &address);
    return {name,
            "rack.local",
            port,
            {makeSocketAddress4(reinterpret_cast<const uint8_t*>(&address), port)}};
}

TEST(VozodServiceSearch, KeepsFoundAndResolvedServicesAndLogsEveryAnswer) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        ScriptedBrowser::Calls calls;
        int made = 0;
        VozodHandler handler([&] {
            ++made;
            return std::make_unique<ScriptedBrowser>(&calls);
        });
        const VozodServiceSearch& search = handler.serviceSearch();
        EXPECT_FALSE(search.hasBrowser()) << "the browser waits for the first search";

        ::testing::internal::CaptureStderr();
        handler.searchForDevices("_vozod._tcp.");
        ASSERT_NE(calls.delegate, nullptr);
        EXPECT_EQ(calls.stops, 0) << "nothing ran to stop";
        EXPECT_EQ(calls.domainSearches, 1);
        ServiceBrowser::Delegate& d = *calls.delegate;
        d.domainFound("local");
        d.serviceFound("Rack A");
        d.serviceFound("Rack B");
        EXPECT_EQ(calls.resolved, (std::vector<std::string>{"Rack A", "Rack B"}));
        EXPECT_EQ(search.netServices(), (std::set<std::string>{"Rack A", "Rack B"}));
        d.serviceResolved(resolvedAt("Rack A", "10.1.2.3", 2202));
        d.resolveFailed("Rack B", Error::make("d", 1, "timed out"));
        d.serviceResolved(resolvedAt("Rack C", "10.1.2.4", 2203));
        d.serviceRemoved("Rack A");
        d.browseFailed(Error::make("d", 2, "no daemon"));
        handler.searchForDevices("_vozod._tcp.");
        const std::string log = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(made, 1) << "one browser serves every search";
        EXPECT_EQ(calls.stops, 1) << "a new search stops the running one";
        EXPECT_EQ(calls.browsed.size(), 2u);
        EXPECT_EQ(search.netServices(), std::set<std::string>{"Rack B"});
        ASSERT_EQ(search.resolvedServices().size(), 2u);
        EXPECT_EQ(search.resolvedServices().at("Rack A").port, 2202);
        for (const char* line :
             {"jee", "DidFindService: Rack A", "DidFindService: Rack B",
              "DidResolve: (10.1.2.3:2202) rack.local", "DidNotResolve",
              "Service name: Rack A , ip: 10.1.2.3 , port 2202",
              "Service name: Rack C , ip: 10.1.2.4 , port 2203", "DidRemoveService: Rack A",
              "DidNotSearch: no daemon", "DidStopSearch"}) {
            EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
        }
        // Each resolution lists every resolved service again.
        size_t count = 0;
        for (size_t at = log.find("Service name: Rack A"); at != std::string::npos;
             at = log.find("Service name: Rack A", at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, 2u);
    }
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
