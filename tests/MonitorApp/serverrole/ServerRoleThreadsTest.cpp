// The server role's state shared across threads: slots an audio thread reads while the main
// thread reassigns them, and frames written from a worker while remotes come and go. Run under
// ThreadSanitizer in CI.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/RemoteClientManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"
#include "tests/simserver/WireClient.h"

namespace quenbril {
namespace {

TEST(RemoteClientSlotsTest, SlotsReassignedWhileAnAudioThreadMixes) {
    UserDefaults defaults("/nonexistent/quenbril-slots", "Outputs");
    defaults.registerDefaults({{"AudioOutputs", Value(Array{0, 2, 4, -1, 6})}});
    RemoteClientManager slots(
        8, [](int) {}, defaults);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> mixes{0};
    std::thread audio([&] {
        float left[RemoteClient::kBlockSize] = {}, right[RemoteClient::kBlockSize] = {};
        while (!stop.load(std::memory_order_relaxed)) {
            for (int s = 0; s < RemoteClientManager::kSlots; ++s) {
                RemoteClient& c = slots.client(s);
                if (c.isFree()) continue;
                left[0] = static_cast<float>(slots.clientOutputInStream(s) + c.audioOutput());
                c.blockRing().produce(left, right, RemoteClient::kBlockSize);
                mixes.fetch_add(1, std::memory_order_relaxed);
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const std::string address = "127.0.0." + std::to_string(2 + i % 5);
        slots.addClient(address, i % RemoteClientManager::kSlots);
        if (i % 3 == 0) slots.removeClient(address);
        if (i % 7 == 0) slots.startStreamTo(address);
    }
    // Let the audio thread see at least one busy slot before it stops.
    slots.addClient("127.0.0.9", 0);
    while (mixes.load() == 0) std::this_thread::yield();
    stop = true;
    audio.join();
    EXPECT_FALSE(slots.client(0).isFree());
}

TEST(ClientManagerThreadsTest, FramesWrittenFromAWorkerWhileRemotesComeAndGo) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        ClientManager::Services services;
        services.port = 0;
        services.interface = "127.0.0.1";
        services.udp = nullptr;
        ClientManager host(std::move(services));
        host.startListening();
        std::atomic<bool> stop{false};
        constexpr int64_t kAhead = 256;
        std::atomic<int64_t> written{0}, read{0};
        test::WireClient steady(host.listeningPort());
        std::thread reading([&] {
            while (!stop.load()) {
                if (auto m = steady.next(0.05)) {
                    read = std::max(read.load(), (*m)["Pass"].longLongValue().value_or(0));
                }
            }
        });
        ASSERT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 1; }, 5.0));
        host.startStreamTo(host.connectedSockets()[0].get());
        // The worker writes on while the remotes come and go, but never more than kAhead passes
        // ahead of what the steady remote has read: a worker that outran its reader (as it may
        // in a sanitizer build) would grow the host's queue to that remote until it is dropped.
        // It starts once the host has the steady remote: passes written before reach no one, so
        // a worker started earlier could spend its whole lead on them and then wait for ever.
        std::thread worker([&] {
            while (!stop.load()) {
                if (written.load() - read.load() <= kAhead) {
                    const Dictionary levels{{"Command", Value("LevelData")},
                                            {"Value", Value(Bytes(128, 1))},
                                            {"Pass", Value(written.load() + 1)}};
                    host.sendDictionaryToEveryone(levels);
                    host.sendStream(levels, "127.0.0.1");
                    host.sendStream(levels);
                    ++written;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        for (int round = 0; round < 20; ++round) {
            auto passing = std::make_unique<test::WireClient>(host.listeningPort());
            ASSERT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 2; }, 5.0));
            passing.reset();
            ASSERT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 1; }, 5.0));
        }
        // The steady remote reads on what was written after the comings and goings.
        const int64_t afterRounds = written.load();
        EXPECT_TRUE(loop.runUntil([&] { return read.load() > afterRounds; }, 5.0));
        stop = true;
        worker.join();
        reading.join();
    }
    RunLoop::setMain(nullptr);
}

TEST(ClientManagerThreadsTest, AWorkerWritingDropsARemoteThatDoesNotRead) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    {
        ClientManager::Services services;
        services.port = 0;
        services.interface = "127.0.0.1";
        services.udp = nullptr;
        ClientManager host(std::move(services));
        host.startListening();
        test::WireClient reader(host.listeningPort());
        test::WireClient sleeper(host.listeningPort(), 4096);
        ASSERT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 2; }, 5.0));
        std::atomic<bool> stop{false};
        // The worker keeps at most kAhead frames ahead of the remote that reads, whose queue
        // thus stays far below the bound, however slowly it reads: only the sleeper is dropped.
        constexpr int64_t kAhead = 8;
        std::atomic<int64_t> written{0}, read{0};
        std::thread reading([&] {
            while (!stop.load()) {
                if (auto m = reader.next(0.05)) {
                    read = std::max(read.load(), (*m)["Pass"].longLongValue().value_or(0));
                }
            }
        });
        std::thread worker([&] {
            while (!stop.load()) {
                if (written.load() - read.load() <= kAhead) {
                    const Dictionary big{{"Command", Value("LevelData")},
                                         {"Value", Value(Bytes(64 * 1024, 1))},
                                         {"Pass", Value(written.load() + 1)}};
                    host.sendDictionaryToEveryone(big);
                    ++written;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        EXPECT_TRUE(loop.runUntil([&] { return host.connectedSockets().size() == 1; }, 20.0));
        stop = true;
        worker.join();
        reading.join();
    }
    RunLoop::setMain(nullptr);
}

}  // namespace
}  // namespace quenbril
