#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/resource.h>

#include <deque>

#include "platform/serial/UdevDeviceSource.h"
#include "serialport/SerialPortManager.h"
#include "serialport/SerialPortNotifications.h"
#include "tests/serialport/SerialTestSupport.h"

namespace quenbril::test {
namespace {

TtyDeviceInfo tty(std::string name, bool parent = true, std::string driver = "ftdi_sio",
                  std::optional<int> type = std::nullopt) {
    return {name, "/dev/" + name, parent, std::move(driver), type};
}

TEST(TtyDeviceInfoTest, SerialPortsAreTtysWithAParentExceptConsolesPtysAndEmpty8250Slots) {
    EXPECT_TRUE(tty("ttyUSB0").isSerialPort());
    EXPECT_TRUE(tty("ttyACM3", true, "cdc_acm").isSerialPort());
    EXPECT_TRUE(tty("ttyS0", true, "serial8250", 4).isSerialPort());
    EXPECT_FALSE(tty("ttyS1", true, "serial8250", 0).isSerialPort()) << "type unknown";
    EXPECT_FALSE(tty("ttyS2", true, "serial8250").isSerialPort());
    EXPECT_TRUE(tty("ttyS0", true, "port", 4).isSerialPort()) << "as sysfs shows a 16550A";
    EXPECT_FALSE(tty("ttyS5", true, "port", 0).isSerialPort());
    EXPECT_FALSE(tty("ttyUSB0", false).isSerialPort()) << "no parent device";
    for (const char* name :
         {"tty", "tty0", "tty63", "console", "ptmx", "ptyp0", "ttyp0", "pts/3"}) {
        EXPECT_FALSE(tty(name).isSerialPort()) << name;
    }
    TtyDeviceInfo noNode = tty("ttyUSB1");
    noNode.devnode.clear();
    EXPECT_FALSE(noNode.isSerialPort());
}

TEST(SerialDeviceTest, NamesSplitIntoBaseAndSuffix) {
    SerialDevice device{"/dev/ttyUSB12", "ttyUSB12"};
    EXPECT_EQ(device.baseName(), "ttyUSB");
    EXPECT_EQ(device.suffix(), "12");
    EXPECT_EQ(device.calloutPath(), "/dev/ttyUSB12");
    EXPECT_EQ(device.dialinPath(), "/dev/ttyUSB12");
    EXPECT_EQ(SerialPort::serviceTypeFromDevice(device), "IOSerialStream");
    EXPECT_EQ(SerialDevice({"/x/modem", "modem"}).suffix(), "");
}

/// A udev stand-in: a fixed device list and events injected by the test, signalled on an
/// eventfd as the netlink socket would be.
class FakeTtyBackend : public TtyBackend {
  public:
    struct Shared {
        std::vector<TtyDeviceInfo> devices;
        std::deque<TtyDeviceEvent> events;
        int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        ~Shared() { ::close(fd); }
        void inject(TtyDeviceEvent::Action action, TtyDeviceInfo device) {
            events.push_back({action, std::move(device)});
            uint64_t one = 1;
            EXPECT_EQ(::write(fd, &one, sizeof one), 8);
        }
    };
    explicit FakeTtyBackend(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::vector<TtyDeviceInfo> list() override { return shared_->devices; }
    int startMonitor() override { return shared_->fd; }
    std::optional<TtyDeviceEvent> nextEvent() override {
        if (shared_->events.empty()) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t ignored = ::read(shared_->fd, &count, sizeof count);
            return std::nullopt;
        }
        TtyDeviceEvent event = shared_->events.front();
        shared_->events.pop_front();
        return event;
    }
    void stopMonitor() override {}

  private:
    std::shared_ptr<Shared> shared_;
};

/// Every connected and disconnected notification, with the paths of its ports.
struct NotificationLog {
    std::vector<std::pair<std::string, std::vector<std::string>>> posts;
    std::vector<std::string>* order = nullptr;
    NotificationObserver connected = NotificationCenter::defaultCenter().addObserver(
        kSerialPortWasConnectedNotification,
        [this](const Notification& n) { record("connected", n, kConnectedSerialPortsKey); });
    NotificationObserver disconnected = NotificationCenter::defaultCenter().addObserver(
        kSerialPortWasDisconnectedNotification,
        [this](const Notification& n) { record("disconnected", n, kDisconnectedSerialPortsKey); });

    void record(const std::string& name, const Notification& n, const char* key) {
        std::vector<std::string> paths;
        for (const auto& port : SerialPortManager::portsIn(n, key)) paths.push_back(port->path());
        posts.emplace_back(name, paths);
        if (order) order->push_back(name);
    }
};

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> pathsOf(const std::vector<SerialPort::Ptr>& ports) {
    std::vector<std::string> paths;
    for (const auto& port : ports) paths.push_back(port->path());
    return paths;
}

using SerialPortManagerTest = SerialFixture;

TEST_F(SerialPortManagerTest, UdevArrivalsAndRemovalsThroughAFakeSource) {
    auto udev = std::make_shared<FakeTtyBackend::Shared>();
    udev->devices = {tty("ttyUSB0"), tty("tty0", false), tty("ttyS3", true, "serial8250", 0)};
    std::vector<std::unique_ptr<SerialDeviceSource>> sources;
    sources.push_back(std::make_unique<UdevDeviceSource>(std::make_unique<FakeTtyBackend>(udev)));
    SerialPortManager manager(std::move(sources));
    NotificationLog log;
    EXPECT_EQ(pathsOf(manager.availablePorts()), std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(manager.countOfAvailablePorts(), 1u);
    EXPECT_EQ(manager.objectInAvailablePortsAtIndex(0)->name(), "ttyUSB0");
    EXPECT_FALSE(manager.objectInAvailablePortsAtIndex(1));

    udev->devices.push_back(tty("ttyUSB1"));
    udev->inject(TtyDeviceEvent::Action::Added, tty("ttyUSB1"));
    ASSERT_TRUE(waitFor([&] { return log.posts.size() == 1; }));
    EXPECT_EQ(log.posts[0],
              std::make_pair(std::string("connected"), std::vector<std::string>{"/dev/ttyUSB1"}));
    EXPECT_EQ(SerialPort::serialPortWithPath("/dev/ttyUSB1"), manager.availablePorts()[1])
        << "the registry finds udev devices by node";

    udev->inject(TtyDeviceEvent::Action::Added, tty("ttyUSB1"));
    ASSERT_TRUE(waitFor([&] { return log.posts.size() == 2; }));
    EXPECT_EQ(log.posts[1], std::make_pair(std::string("connected"), std::vector<std::string>{}))
        << "a listed port is announced with an empty list";

    PortRecorder recorder;
    recorder.attach(manager.availablePorts()[1]);
    udev->devices.pop_back();
    TtyDeviceInfo gone{"ttyUSB1", "/dev/ttyUSB1", false, "", std::nullopt};
    udev->inject(TtyDeviceEvent::Action::Removed, gone);
    ASSERT_TRUE(waitFor([&] { return log.posts.size() == 3; }));
    EXPECT_EQ(log.posts[2], std::make_pair(std::string("disconnected"),
                                           std::vector<std::string>{"/dev/ttyUSB1"}));
    EXPECT_EQ(recorder.events, std::vector<std::string>{"removed"});
    EXPECT_EQ(pathsOf(manager.availablePorts()), std::vector<std::string>{"/dev/ttyUSB0"});

    udev->inject(TtyDeviceEvent::Action::Removed, tty("ttyUSB9"));
    ASSERT_TRUE(waitFor([&] { return log.posts.size() == 4; }));
    EXPECT_TRUE(log.posts[3].second.empty());
    EXPECT_FALSE(SerialPort::existingPortWithPath("/dev/ttyUSB9"))
        << "no port is made for a removed device";
}

TEST_F(SerialPortManagerTest, PlugAndUnplugOfAPseudoTerminalInTheLinkFolder) {
    std::vector<std::unique_ptr<SerialDeviceSource>> sources;
    sources.push_back(std::make_unique<LinkFolderSource>(root_ + "/links"));
    SerialPortManager manager(std::move(sources));
    EXPECT_TRUE(manager.availablePorts().empty());
    std::vector<std::string> order;
    NotificationLog log;

    auto pair = makePair("usbserial7");
    ASSERT_TRUE(waitFor([&] { return !log.posts.empty(); }));
    EXPECT_EQ(log.posts[0],
              std::make_pair(std::string("connected"), std::vector<std::string>{pair->portLink()}));
    ASSERT_EQ(manager.countOfAvailablePorts(), 1u);
    SerialPort::Ptr port = manager.availablePorts()[0];
    EXPECT_EQ(port->name(), "usbserial7");

    PortRecorder recorder;
    recorder.attach(port);
    ASSERT_TRUE(port->open());
    auto brackets = SerialPacketDescriptor::withPrefix({0x3C}, {0x3E}, 10, Value());
    port->startListeningForPacketsMatchingDescriptor(brackets);
    port->sendRequest(SerialRequest::requestWithDataToSend(
        bytesOf("?"), Value(), 0, SerialPacketDescriptor::withPrefix({'!'}, {'.'}, 10, Value())));
    manager.addObserver([&](const std::string& property) {
        if (property == "availablePorts" && manager.availablePorts().empty()) {
            order.push_back("unlisted");
        }
    });
    pair->write({0x3C, 0x61, 0x62});  // half a packet
    ASSERT_TRUE(waitFor([&] { return recorder.data.size() == 3; }));
    // The request is on the line before it goes: written later, it would meet the hang-up.
    ASSERT_EQ(pair->read(1), bytesOf("?"));
    recorder.events.clear();
    recorder.errors.clear();
    log.order = &order;

    pair->unplug();
    ASSERT_TRUE(waitFor([&] { return log.posts.size() >= 2; }));
    // Anything more would show now: reads of the dead line, poll errors. A reader spinning on
    // the hung-up descriptor would also burn a core; idle waiting costs next to nothing.
    double cpuBefore = processCpuSeconds();
    settle(0.3);
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.15) << "the process stays idle";
    order.insert(order.begin(), recorder.events.begin(), recorder.events.end());
    EXPECT_EQ(order, (std::vector<std::string>{"removed", "closed", "unlisted", "disconnected"}));
    EXPECT_EQ(log.posts[1].second, std::vector<std::string>{pair->portLink()});
    EXPECT_TRUE(recorder.packets.empty()) << "the partial packet is never reported";
    EXPECT_TRUE(recorder.errors.empty());
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->pendingRequest()) << "the close drops the pending request";
    EXPECT_FALSE(recorder.offMainThread);
}

TEST_F(SerialPortManagerTest, SleepClosesOpenPortsAndWakeReopensThem) {
    auto pair = makePair();
    std::vector<std::unique_ptr<SerialDeviceSource>> sources;
    sources.push_back(std::make_unique<LinkFolderSource>(root_ + "/links"));
    SerialPortManager manager(std::move(sources));
    ASSERT_EQ(manager.countOfAvailablePorts(), 1u);
    auto port = manager.availablePorts()[0];
    EXPECT_EQ(SerialPort::serialPortWithPath(pair->portLink()), port);
    ASSERT_TRUE(port->open());
    manager.systemWillSleep();
    EXPECT_FALSE(port->isOpen());
    manager.systemDidWake();
    EXPECT_TRUE(port->isOpen());
    port->close();
}

TEST_F(SerialPortManagerTest, PortsRemovedTogetherAreOneChangeToObservers) {
    auto udev = std::make_shared<FakeTtyBackend::Shared>();
    udev->devices = {tty("ttyUSB0"), tty("ttyUSB1"), tty("ttyUSB2"), tty("ttyUSB3")};
    std::vector<std::unique_ptr<SerialDeviceSource>> sources;
    sources.push_back(std::make_unique<UdevDeviceSource>(std::make_unique<FakeTtyBackend>(udev)));
    SerialPortManager manager(std::move(sources));
    int changes = 0;
    const int id = manager.addObserver([&](const std::string& property) {
        if (property == "availablePorts") ++changes;
    });
    // Indexes count as the list stood before the call; repeats and strays change nothing more.
    manager.removeAvailablePortsAtIndexes({3, 0, 9, 0});
    EXPECT_EQ(pathsOf(manager.availablePorts()),
              (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyUSB2"}));
    EXPECT_EQ(changes, 1);
    manager.removeAvailablePortsAtIndexes({5});
    EXPECT_EQ(changes, 1) << "nothing removed, nothing told";
    manager.removeObserver(id);
}

}  // namespace
}  // namespace quenbril::test
