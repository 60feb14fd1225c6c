#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "foundation/dispatch/Semaphore.h"
#include "platform/serial/ModemControl.h"
#include "tests/serialport/SerialTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/HeldGlobalQueue.h"

namespace quenbril::test {
namespace {

/// Lines that answer as a pseudo-terminal's stand-in until told to vanish: the next request
/// then waits until released and answers as an unplugged adapter does.
struct VanishingLines : ModemControl {
    std::atomic<bool> vanish{false};
    dispatch::Semaphore entered, release;
    int get(int, int& bits) override {
        bits = 0;
        if (!vanish.exchange(false)) return 0;
        entered.signal();
        release.wait(scaledSeconds(30.0));
        return EIO;
    }
    int set(int, int) override { return 0; }
};

using SerialCloseTest = SerialFixture;

TEST_F(SerialCloseTest, TheDescriptorStaysOpenUntilTheReaderStoppedOnAnotherThreadHasLetItGo) {
    auto pair = makePair();
    auto lines = std::make_shared<VanishingLines>();
    PortRecorder recorder;
    auto port = portWithLines(*pair, recorder, lines);
    ASSERT_TRUE(port);
    ASSERT_TRUE(port->open());
    const int fd = port->fileDescriptor();
    struct stat opened {};
    ASSERT_EQ(::fstat(fd, &opened), 0);

    // The line poll, on the global queue, meets the removal and stops the reader there; the
    // end of the reader's cancel waits behind the held queue.
    lines->vanish = true;
    ASSERT_TRUE(lines->entered.wait(scaledSeconds(5.0)));
    auto held = std::make_unique<HeldGlobalQueue>();
    lines->release.signal();
    ASSERT_TRUE(held->waitHeld());

    // Meanwhile the port closes on another thread, as the main thread does when the device
    // list tells it of the removal first. The main loop is not served until the end: the close
    // must get this far without it.
    std::thread closer([&] { port->close(); });
    EXPECT_TRUE(eventually([&] { return !port->isOpen(); }));
    struct stat now {};
    EXPECT_EQ(::fstat(fd, &now), 0) << "closed before the reader let it go";
    EXPECT_EQ(now.st_rdev, opened.st_rdev) << "the number went to another file";

    held.reset();
    EXPECT_TRUE(waitFor([&] { return recorder.events.size() == 3; }));
    closer.join();
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"opened", "removed", "closed"}));
    EXPECT_TRUE(recorder.errors.empty());
    ASSERT_TRUE(port->open()) << "the device's lock went with the descriptor";
    port->close();
}

// A writer on another thread (the request queue's, or a caller's) and a close on the main thread:
// the number the writer took must not be closed under its write, or the bytes go to whatever
// file the next open anywhere in the process gets that number.
TEST_F(SerialCloseTest, AWriteOnAnotherThreadNeverUsesTheNumberOfAClosedPort) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    std::atomic<bool> done{false};
    std::atomic<size_t> drained{0};
    std::thread drainer([&] {
        while (!done.load()) drained += pair->read(4096, 0.05).size();
    });
    std::thread writer([&] {
        const Bytes byte = bytesOf("x");
        while (port->sendData(byte)) {
        }
    });
    ASSERT_TRUE(eventually([&] { return drained.load() > 1000; }));
    port->close();
    writer.join();
    done = true;
    drainer.join();
    EXPECT_FALSE(port->isOpen());
}

}  // namespace
}  // namespace quenbril::test
