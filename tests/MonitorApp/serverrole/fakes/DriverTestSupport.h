#pragma once

// A registry on the virtual clock with one driver, and a helper that turns the run loop while the
// fake receivers answer.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/WirelessManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril::testing {

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::setMain(&loop_); }
    void TearDown() override {
        if (registry_) WirelessManager::setSharedInstance(nullptr);
        registry_.reset();
        loop_.runPending();
        RunLoop::setMain(nullptr);
    }

    /// A registry polling `receivers` ([address, type] pairs) on `interfaces`, with no G3
    /// sockets of its own.
    WirelessManager& makeRegistry(const std::vector<std::pair<std::string, int>>& receivers,
                                  std::vector<NetworkInterface> interfaces,
                                  WirelessManager::Drivers drivers) {
        Array list;
        for (const auto& [address, type] : receivers) list.push_back(Array{address, type});
        defaults_.registerDefaults({{"UserIPS", Value(list)}});
        WirelessManager::Services s;
        s.defaults = &defaults_;
        s.interfaces = [interfaces] { return interfaces; };
        s.udp = nullptr;
        s.drivers = std::move(drivers);
        registry_ = std::make_unique<WirelessManager>(std::move(s));
        WirelessManager::setSharedInstance(registry_.get());
        return *registry_;
    }

    /// Turns the loop (sockets in real time; the virtual clock moves by `step` after each
    /// turn) and services the fakes until `done`, at most `turns` times.
    bool drive(const std::function<void()>& service, const std::function<bool()>& done,
               double step = 0, int turns = 200) {
        for (int i = 0; i < turns; ++i) {
            service();
            if (done()) return true;
            loop_.runUntil(
                [&] {
                    service();
                    return done();
                },
                0.02);
            if (step > 0) loop_.advance(step);
        }
        return done();
    }

    ManualRunLoop loop_;
    UserDefaults defaults_{"/nonexistent/quenbril-drivers", "Receivers"};
    std::unique_ptr<WirelessManager> registry_;
};

}  // namespace quenbril::testing
