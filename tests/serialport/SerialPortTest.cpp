#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <thread>

#include "platform/serial/TerminalSpeed.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

/// The line settings of the device behind `path`, read through a descriptor of the test's own.
termios settingsOf(const std::string& path) {
    termios settings{};
    int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &settings), 0);
    ::close(fd);
    return settings;
}

std::optional<uint32_t> termios2SpeedOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    auto speed = terminalspeed::currentSpeed(fd);
    ::close(fd);
    return speed;
}

size_t errorsWithCode(const PortRecorder& recorder, int code) {
    return static_cast<size_t>(std::count_if(recorder.errors.begin(), recorder.errors.end(),
                                             [&](const Error& e) { return e.code == code; }));
}

Bytes allByteValues() {
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return bytes;
}

using SerialPortTest = SerialFixture;

TEST_F(SerialPortTest, OnePortObjectPerPathAndNoneForUnknownPaths) {
    auto pair = makePair();
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    EXPECT_EQ(SerialPort::serialPortWithPath(pair->portLink()), port);
    EXPECT_EQ(SerialPort::serialPortWithDevice({pair->portLink(), "adapter0"}), port);
    EXPECT_EQ(port->name(), "adapter0");
    EXPECT_EQ(port->description(), "adapter0");
    EXPECT_FALSE(SerialPort::serialPortWithPath(""));
    EXPECT_FALSE(SerialPort::serialPortWithPath(link("missing")));
    EXPECT_FALSE(SerialPort::serialPortWithPath("/dev/null"));

    std::weak_ptr<SerialPort> weak = port;
    port.reset();
    EXPECT_TRUE(weak.expired()) << "the registry holds no ownership";
    EXPECT_FALSE(SerialPort::existingPortWithPath(pair->portLink()));
}

TEST_F(SerialPortTest, AClosedPortStoresItsSettingsForTheNextOpen) {
    auto pair = makePair();
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    EXPECT_EQ(port->baudRate(), 19200u);
    EXPECT_EQ(port->fileDescriptor(), -1);
    port->setParity(1);
    port->setParity(7);
    EXPECT_EQ(port->parity(), 0u) << "a parity above 2 is stored as none";
    port->setBaudRate(115200);
    EXPECT_EQ(port->baudRate(), 115200u);
}

TEST_F(SerialPortTest, LineSettingsReadBackFromTheDevice) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    port->setBaudRate(115200);
    port->setParity(1);
    port->setNumberOfStopBits(2);
    port->setShouldEchoReceivedData(true);
    ASSERT_TRUE(port->open());

    termios s = settingsOf(pair->portLink());
    EXPECT_EQ(s.c_lflag & (ICANON | ISIG), 0u) << "raw mode";
    EXPECT_EQ(s.c_iflag & (ICRNL | IXON | ISTRIP), 0u) << "raw mode";
    EXPECT_EQ(s.c_oflag & OPOST, 0u) << "raw mode";
    EXPECT_EQ(s.c_cc[VMIN], 1);
    EXPECT_EQ(s.c_cc[VTIME], 2);
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    // A pseudo-terminal keeps PARENB clear whatever is asked (it has no parity errors to
    // check), so the parity the port chose shows in PARODD only.
    EXPECT_NE(s.c_cflag & PARODD, 0u);
    EXPECT_NE(s.c_cflag & CSTOPB, 0u);
    EXPECT_NE(s.c_lflag & ECHO, 0u);
    EXPECT_EQ(s.c_cflag & (CLOCAL | HUPCL | CREAD), static_cast<tcflag_t>(CLOCAL | HUPCL | CREAD));
    EXPECT_EQ(s.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B115200));

    // Changes apply at once to the open port, and the chosen parity is the one used.
    port->setParity(2);
    s = settingsOf(pair->portLink());
    EXPECT_EQ(s.c_cflag & PARODD, 0u);
    port->setParity(1);
    EXPECT_NE(settingsOf(pair->portLink()).c_cflag & PARODD, 0u);
    port->setParity(0);
    port->setNumberOfStopBits(1);
    port->setShouldEchoReceivedData(false);
    port->setBaudRate(19200);
    s = settingsOf(pair->portLink());
    EXPECT_EQ(s.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(s.c_lflag & ECHO, 0u);
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B19200));
    EXPECT_EQ(errorsWithCode(recorder, EINVAL), 0u);
    port->close();
}

TEST_F(SerialPortTest, NonStandardSpeedNeedsPermissionAndGoesThroughTermios2) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    port->setBaudRate(250000);
    ASSERT_TRUE(port->open());
    EXPECT_EQ(errorsWithCode(recorder, EINVAL), 1u) << "termios has no such speed";
    EXPECT_NE(termios2SpeedOf(pair->portLink()), 250000u);

    port->setAllowsNonStandardBaudRates(true);
    port->setBaudRate(9600);
    port->setBaudRate(250000);
    EXPECT_EQ(errorsWithCode(recorder, EINVAL), 1u);
    EXPECT_EQ(termios2SpeedOf(pair->portLink()), 250000u);
    port->close();
}

TEST_F(SerialPortTest, RtsCtsFlowControlReopensAnOpenPortWhichStaysOpen) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->setUsesRTSCTSFlowControl(true);
    EXPECT_TRUE(port->isOpen());
    EXPECT_NE(settingsOf(pair->portLink()).c_cflag & CRTSCTS, 0u);
    ASSERT_TRUE(waitFor(
        [&] { return std::count(recorder.events.begin(), recorder.events.end(), "opened") == 2; }));
    std::vector<std::string> lifecycle;
    for (const auto& event : recorder.events) {
        if (event == "opened" || event == "closed") lifecycle.push_back(event);
    }
    EXPECT_EQ(lifecycle, (std::vector<std::string>{"opened", "closed", "opened"}));

    // Data still flows after the reopen.
    pair->write(bytesOf("after"));
    EXPECT_TRUE(waitFor([&] { return recorder.data == bytesOf("after"); }));

    port->close();
    port->setUsesRTSCTSFlowControl(false);
    EXPECT_FALSE(port->isOpen()) << "a closed port only stores the flag";
    EXPECT_FALSE(port->usesRTSCTSFlowControl());
}

TEST_F(SerialPortTest, FlowControlsLinuxLacksAreReportedAndNotMade) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->setUsesDTRDSRFlowControl(true);
    port->setUsesDCDOutputFlowControl(true);
    EXPECT_FALSE(port->usesDTRDSRFlowControl());
    EXPECT_FALSE(port->usesDCDOutputFlowControl());
    ASSERT_EQ(errorsWithCode(recorder, ENOTSUP), 2u);
    const Error& error = recorder.errors.back();
    EXPECT_EQ(error.domain, Error::kPosixDomain);
    EXPECT_EQ(error.userInfo[SerialPortDelegate::kFilePathKey], Value(pair->portLink()));
    EXPECT_TRUE(port->isOpen());
    port->close();
}

TEST_F(SerialPortTest, APseudoTerminalHasNoModemLinesReportedOnceAndStaysOpen) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->setRTS(true);
    // The first poll of the lines finds none and stops the polling; its report is in.
    ASSERT_TRUE(waitFor([&] { return errorsWithCode(recorder, ENOTTY) > 0; }));
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(errorsWithCode(recorder, ENOTTY), 1u);
    EXPECT_EQ(recorder.errors.size(), 1u);
    EXPECT_TRUE(port->isOpen());
    EXPECT_FALSE(recorder.offMainThread);
    port->close();
}

TEST_F(SerialPortTest, DataBothWaysWithEveryByteValueAndA64KiBBurst) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);

    pair->write(allByteValues());
    EXPECT_TRUE(waitFor([&] { return recorder.data.size() >= 256; }));
    EXPECT_EQ(recorder.data, allByteValues());

    EXPECT_TRUE(port->sendData(allByteValues()));
    EXPECT_EQ(pair->read(256), allByteValues());

    Bytes burst(64 * 1024);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::atomic<bool> sent{false};
    std::thread writer([&] { sent = port->sendData(burst); });
    Bytes got = pair->read(burst.size(), 10.0);
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(got, burst);

    recorder.data.clear();
    std::thread feeder([&] { pair->write(burst); });
    EXPECT_TRUE(waitFor([&] { return recorder.data.size() >= burst.size(); }, 10.0));
    feeder.join();
    EXPECT_EQ(recorder.data, burst);
    EXPECT_FALSE(recorder.offMainThread);
    port->close();
}

TEST_F(SerialPortTest, EmptyDataIsSentAtOnceAndAClosedPortSendsNothing) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    EXPECT_FALSE(port->sendData(bytesOf("x")));
    EXPECT_FALSE(port->sendData(Bytes{}));
    ASSERT_TRUE(port->open());
    EXPECT_TRUE(port->sendData(Bytes{}));
    EXPECT_TRUE(pair->read(1, 0.1).empty());
    port->close();
    EXPECT_TRUE(recorder.errors.size() <= 1);  // only the pseudo-terminal's missing modem lines
}

TEST_F(SerialPortTest, CloseRestoresTheOriginalSettingsAndTellsTheDelegateFirst) {
    auto pair = makePair();
    termios before = settingsOf(pair->portLink());
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    port->setParity(2);
    port->setShouldEchoReceivedData(true);
    port->setBaudRate(57600);
    ASSERT_TRUE(port->open());
    ASSERT_NE(settingsOf(pair->portLink()).c_cflag, before.c_cflag);

    EXPECT_TRUE(port->close());
    EXPECT_FALSE(port->isOpen());
    ASSERT_FALSE(recorder.events.empty());
    EXPECT_EQ(recorder.events.back(), "closed") << "the closing side waits for the delegate";
    termios after = settingsOf(pair->portLink());
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_TRUE(port->close()) << "closing a closed port is harmless";
}

TEST_F(SerialPortTest, TheExitHookRestoresAndClosesWithoutDelegateCalls) {
    auto pair = makePair();
    termios before = settingsOf(pair->portLink());
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    port->setParity(1);
    ASSERT_TRUE(port->open());
    ASSERT_TRUE(waitFor([&] { return !recorder.events.empty(); }));  // "opened"
    size_t told = recorder.events.size();

    SerialPort::restoreAllPortsAtExit();
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(settingsOf(pair->portLink()).c_cflag, before.c_cflag);
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(recorder.events.size(), told);
}

TEST_F(SerialPortTest, DescriptorZeroIsAValidOpenPort) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = SerialPort::serialPortWithPath(pair->portLink());
    ASSERT_TRUE(port);
    recorder.attach(port);
    int savedInput = ::dup(0);
    ::close(0);
    bool opened = port->open();
    int fd = port->fileDescriptor();
    EXPECT_TRUE(opened);
    EXPECT_EQ(fd, 0);
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(port->sendData(bytesOf("zero")));
    EXPECT_EQ(pair->read(4), bytesOf("zero"));
    port->close();
    EXPECT_FALSE(port->isOpen());
    ::dup2(savedInput, 0);
    ::close(savedInput);
}

TEST_F(SerialPortTest, AHungUpLineIsARemovalReportedOnceThenQuiet) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    port->startListeningForPacketsMatchingDescriptor(
        SerialPacketDescriptor::withPrefix({0x3C}, {0x3E}, 10, Value()));
    pair->write({0x3C, 0x61});
    ASSERT_TRUE(waitFor([&] { return recorder.data.size() == 2; }));
    recorder.events.clear();
    recorder.errors.clear();

    // No manager watches here: the port notices the hang-up on its own.
    pair->unplug();
    ASSERT_TRUE(waitFor([&] { return recorder.events.size() >= 2; }));
    ASSERT_TRUE(drainMain());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"removed", "closed"}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_TRUE(port->sendData(bytesOf("x")) == false);
    port->cleanupAfterSystemRemoval();
    EXPECT_EQ(recorder.events.size(), 2u) << "one removal, told once";
}

TEST_F(SerialPortTest, ConcurrentWritersNeverInterleave) {
    auto pair = makePair();
    PortRecorder recorder;
    auto port = openPort(*pair, recorder);
    ASSERT_TRUE(port);
    constexpr size_t kBlock = 16 * 1024;
    constexpr int kBlocksEach = 4;
    auto writer = [&](uint8_t value) {
        for (int i = 0; i < kBlocksEach; ++i) port->sendData(Bytes(kBlock, value));
    };
    std::thread a(writer, uint8_t{'A'});
    std::thread b(writer, uint8_t{'B'});
    Bytes got = pair->read(2 * kBlocksEach * kBlock, 20.0);
    a.join();
    b.join();
    ASSERT_EQ(got.size(), 2 * kBlocksEach * kBlock);
    for (size_t start = 0; start < got.size(); start += kBlock) {
        EXPECT_TRUE(std::all_of(got.begin() + static_cast<ptrdiff_t>(start),
                                got.begin() + static_cast<ptrdiff_t>(start + kBlock),
                                [&](uint8_t c) { return c == got[start]; }))
            << "block at " << start << " is mixed";
    }
    port->close();
}

}  // namespace
}  // namespace quenbril::test
