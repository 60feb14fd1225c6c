#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>

#include "platform/serial/ModemControl.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// Modem lines a test sets by hand: a pseudo-terminal has none of its own.
struct FakeModemControl : ModemControl {
    std::atomic<int> lines{0};
    std::atomic<int> failure{0};
    std::atomic<int> sets{0};
    int get(int, int& bits) override {
        if (int error = failure.load()) return error;
        bits = lines.load();
        return 0;
    }
    int set(int, int bits) override {
        ++sets;
        lines = bits;
        return 0;
    }
};

using SerialModemLinesTest = SerialFixture;

TEST_F(SerialModemLinesTest, OutputLinesFollowTheSettersAndInputLinesArePolledInOrder) {
    auto pair = makePair();
    auto lines = std::make_shared<FakeModemControl>();
    PortRecorder recorder;
    auto port = portWithLines(*pair, recorder, lines);
    ASSERT_TRUE(port);
    port->setRTS(true);
    port->setDTR(true);
    std::vector<std::string> changes;
    port->addObserver([&](const std::string& property) {
        if (!RunLoop::main().isCurrentThread()) changes.push_back("off main thread");
        if (property != "isOpen") changes.push_back(property);
    });
    ASSERT_TRUE(port->open());
    EXPECT_EQ(lines->lines & (TIOCM_RTS | TIOCM_DTR), TIOCM_RTS | TIOCM_DTR);
    port->setRTS(false);
    EXPECT_EQ(lines->lines & (TIOCM_RTS | TIOCM_DTR), TIOCM_DTR);
    int setsBefore = lines->sets;
    port->setDTR(true);
    EXPECT_EQ(lines->sets, setsBefore) << "an unchanged value does nothing";

    lines->lines = lines->lines | TIOCM_CAR | TIOCM_DSR | TIOCM_CTS;
    ASSERT_TRUE(waitFor([&] { return changes.size() >= 3; }));
    EXPECT_EQ(changes, (std::vector<std::string>{"CTS", "DSR", "DCD"}));
    EXPECT_TRUE(port->CTS() && port->DSR() && port->DCD());
    lines->lines = lines->lines & ~TIOCM_DSR;
    ASSERT_TRUE(waitFor([&] { return changes.size() >= 4; }));
    EXPECT_EQ(changes.back(), "DSR");
    EXPECT_FALSE(port->DSR());
    EXPECT_TRUE(recorder.errors.empty());
    port->close();
}

TEST_F(SerialModemLinesTest, AFailingLineRequestOfAGoneDeviceIsARemovalNotAStreamOfErrors) {
    auto pair = makePair();
    auto lines = std::make_shared<FakeModemControl>();
    PortRecorder recorder;
    auto port = portWithLines(*pair, recorder, lines);
    ASSERT_TRUE(port);
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(waitFor([&] { return !recorder.events.empty(); }));

    lines->failure = EIO;  // how a hung-up adapter answers TIOCMGET
    ASSERT_TRUE(waitFor([&] { return recorder.events.size() >= 3; }));
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"opened", "removed", "closed"}));
    EXPECT_FALSE(port->isOpen());
}

}  // namespace
}  // namespace quenbril::test
