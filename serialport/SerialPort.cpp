#include "serialport/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>

#include "foundation/Log.h"
#include "foundation/dispatch/Queue.h"
#include "platform/serial/SerialDeviceRegistry.h"
#include "platform/serial/TerminalSpeed.h"

namespace quenbril {

namespace {

struct PortRegistry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<SerialPort>> ports;
};

// Never destroyed: ports may go away during static destruction, and the exit hook reads it.
PortRegistry& portRegistry() {
    static auto* registry = new PortRegistry;
    return *registry;
}

std::optional<speed_t> standardSpeed(uint64_t baud) {
    static const std::map<uint64_t, speed_t> speeds = {
        {0, B0},
        {50, B50},
        {75, B75},
        {110, B110},
        {134, B134},
        {150, B150},
        {200, B200},
        {300, B300},
        {600, B600},
        {1200, B1200},
        {1800, B1800},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
        {460800, B460800},
        {500000, B500000},
        {576000, B576000},
        {921600, B921600},
        {1000000, B1000000},
        {1152000, B1152000},
        {1500000, B1500000},
        {2000000, B2000000},
        {2500000, B2500000},
        {3000000, B3000000},
        {3500000, B3500000},
        {4000000, B4000000},
    };
    auto found = speeds.find(baud);
    if (found == speeds.end()) return std::nullopt;
    return found->second;
}

/// What a hung-up or unplugged tty answers: the device is gone.
bool meansRemoval(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

/// What a tty without modem lines (a pseudo-terminal) answers to the modem-line requests.
bool meansNoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace

// Creation and the registry of live ports.

SerialPort::SerialPort(SerialDevice device)
    : device_(std::move(device)),
      requestHandlingQueue_(dispatch::Queue::makeSerial("com.quenbril.serialport.requests")) {}

SerialPort::Ptr SerialPort::serialPortWithDevice(const SerialDevice& device) {
    PortRegistry& registry = portRegistry();
    std::lock_guard lock(registry.mutex);
    auto& entry = registry.ports[device.calloutPath()];
    if (Ptr live = entry.lock()) return live;
    auto port = std::make_shared<SerialPort>(device);
    entry = port;
    return port;
}

SerialPort::Ptr SerialPort::serialPortWithPath(const std::string& path) {
    if (Ptr live = existingPortWithPath(path)) return live;
    auto device = deviceFromBSDPath(path);
    if (!device) return nullptr;
    return serialPortWithDevice(*device);
}

SerialPort::Ptr SerialPort::existingPortWithPath(const std::string& path) {
    PortRegistry& registry = portRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.ports.find(path);
    return found == registry.ports.end() ? nullptr : found->second.lock();
}

std::optional<SerialDevice> SerialPort::deviceFromBSDPath(const std::string& path) {
    return SerialDeviceRegistry::shared().find(path);
}

SerialPort::~SerialPort() {
    {
        PortRegistry& registry = portRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.ports.find(path());
        if (found != registry.ports.end() && found->second.expired()) registry.ports.erase(found);
    }
    if (pendingRequestTimeoutTimer_) pendingRequestTimeoutTimer_->cancel();
    // Perhaps in the reader's own handler, which holds the last reference: no waiting here.
    letGoQuietly();
}

void SerialPort::restoreAllPortsAtExit() {
    std::vector<Ptr> live;
    {
        PortRegistry& registry = portRegistry();
        std::lock_guard lock(registry.mutex);
        for (auto& [path, weak] : registry.ports) {
            if (Ptr port = weak.lock()) live.push_back(std::move(port));
        }
    }
    for (const Ptr& port : live) port->letGoQuietly();
}

void SerialPort::letGoQuietly() {
    stopSources();
    std::shared_ptr<dispatch::SharedDescriptor> descriptor;  // let go after the lock
    std::lock_guard io(ioMutex_);
    int fd = fd_.exchange(-1);
    if (fd < 0) return;
    tcsetattr(fd, TCSANOW, &originalPortAttributes_);
    ioctl(fd, TIOCNXCL);
    descriptor = std::move(descriptor_);
}

// Delegate calls, observers and error reports.

template <class Call>
void SerialPort::tellDelegate(Call call, Delivery delivery) {
    Ptr self = weak_from_this().lock();
    if (!self) return;
    auto block = [self, call] {
        if (SerialPortDelegate* delegate = self->delegate()) call(*delegate, *self);
    };
    const dispatch::QueuePtr& main = dispatch::Queue::main();
    if (delivery != Delivery::Post && main->isCurrent()) {
        block();
    } else if (delivery == Delivery::DirectOrWait) {
        main->sync(block);
    } else {
        main->async(block);
    }
}

void SerialPort::notifyObservers(const std::string& property) {
    Ptr self = weak_from_this().lock();
    if (!self) return;
    dispatch::Queue::main()->async([self, property] { self->observers_.notify(property); });
}

void SerialPort::reportError(int error, bool wait) {
    Error report = Error::posix(error);
    report.userInfo.set(SerialPortDelegate::kFilePathKey, path());
    tellDelegate([report](SerialPortDelegate& d,
                          SerialPort& p) { d.serialPortDidEncounterError(p, report); },
                 wait ? Delivery::DirectOrWait : Delivery::DirectOrPost);
}

// Opening and closing.

bool SerialPort::open() {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (isOpen()) return true;
    int fd = ::open(path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reportError(errno, false);
        return false;
    }
    auto fail = [&](int error) {
        ::close(fd);
        reportError(error, false);
        return false;
    };
    // The exclusive lock keeps other cooperating processes out; TIOCEXCL refuses any further
    // open of the tty (except by root).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno);
    ioctl(fd, TIOCEXCL);
    if (fcntl(fd, F_SETFL, 0) != 0) return fail(errno);
    if (tcgetattr(fd, &originalPortAttributes_) != 0) return fail(errno);

    vanished_ = false;
    removalHandled_ = false;
    noModemLinesReported_ = false;
    auto descriptor = dispatch::SharedDescriptor::adopt(fd);
    {
        std::lock_guard io(ioMutex_);
        descriptor_ = descriptor;
        fd_ = fd;
    }
    notifyObservers("isOpen");
    applyPortOptions();
    updateModemLines();
    tellDelegate([](SerialPortDelegate& d, SerialPort& p) { d.serialPortWasOpened(p); },
                 Delivery::Post);

    std::weak_ptr<SerialPort> weak = weak_from_this();
    auto reader = dispatch::DescriptorSource::makeRead(descriptor, dispatch::Queue::global());
    std::weak_ptr<dispatch::DescriptorSource> weakReader = reader;
    reader->setEventHandler([weak, weakReader] {
        auto self = weak.lock();
        auto source = weakReader.lock();
        if (self && source) self->readAvailable(source->data());
    });
    std::shared_ptr<dispatch::TimerSource> poll;
    if (!noModemLinesReported_) {
        poll = dispatch::TimerSource::make(dispatch::Queue::global());
        poll->setEventHandler([weak] {
            if (auto self = weak.lock()) self->pollModemLines();
        });
        poll->setTimer(0, 0.010);
    }
    {
        std::lock_guard sources(sourcesMutex_);
        readPollSource_ = reader;
        pinPollTimer_ = poll;
    }
    reader->resume();
    if (poll) poll->resume();
    return true;
}

void SerialPort::stopSources() {
    std::shared_ptr<dispatch::DescriptorSource> reader;
    std::shared_ptr<dispatch::TimerSource> poll;
    {
        std::lock_guard sources(sourcesMutex_);
        reader = std::move(readPollSource_);
        poll = std::move(pinPollTimer_);
    }
    if (reader) reader->cancel();
    if (poll) poll->cancel();
}

bool SerialPort::close() {
    int closeError = 0;
    {
        std::lock_guard lifecycle(lifecycleMutex_);
        int fd = fd_.load();
        if (fd < 0) return true;
        stopSources();
        // A vanished device refuses its settings; that is no news once the removal is known.
        bool quiet = vanished_.load();
        std::shared_ptr<dispatch::SharedDescriptor> descriptor;
        {
            std::lock_guard io(ioMutex_);
            termios settings{};
            if (tcgetattr(fd, &settings) == 0) {
                settings.c_cflag &= ~CRTSCTS;
                if (tcsetattr(fd, TCSANOW, &settings) != 0 && !quiet) reportError(errno, false);
            } else if (!quiet) {
                reportError(errno, false);
            }
            if (tcsetattr(fd, TCSADRAIN, &originalPortAttributes_) != 0 && !quiet) {
                reportError(errno, false);
            }
            ioctl(fd, TIOCNXCL);
            descriptor = std::move(descriptor_);
            fd_ = -1;
            ++closes_;
        }
        // The reader may still be letting go, cancelled on its own queue when it saw the
        // hang-up; the real close is over before this returns, so that a reopen finds the
        // device free. Linux releases the descriptor even when close() fails.
        closeError = dispatch::SharedDescriptor::closeWhenReleased(std::move(descriptor));
    }
    notifyObservers("isOpen");
    if (closeError != 0) reportError(closeError, false);
    tellDelegate([](SerialPortDelegate& d, SerialPort& p) { d.serialPortWasClosed(p); },
                 Delivery::DirectOrWait);
    {
        std::lock_guard lock(inputMutex_);
        input_.clear();
    }
    queueInput(Input{nullptr, closes_.load()});
    return true;
}

void SerialPort::cleanupAfterSystemRemoval() {
    if (removalHandled_.exchange(true)) return;
    vanished_ = true;
    tellDelegate([](SerialPortDelegate& d, SerialPort& p) { d.serialPortWasRemovedFromSystem(p); },
                 Delivery::DirectOrWait);
    close();
}

void SerialPort::cleanup() {
    QLOG(
        "WARNING: Cleanup is deprecated and was never intended to be called publicly. You should "
        "update your code to avoid calling this method.");
    cleanupAfterSystemRemoval();
}

void SerialPort::deviceVanished() {
    if (vanished_.exchange(true)) return;
    // Stop watching at once, so a hung-up descriptor cannot keep the reader or the poll busy;
    // the delegate calls and the close follow on the main thread.
    stopSources();
    Ptr self = shared_from_this();
    dispatch::Queue::main()->async([self] { self->cleanupAfterSystemRemoval(); });
}

// Reading and writing.

void SerialPort::readAvailable(uint64_t available) {
    if (vanished_) return;
    uint8_t buffer[1024];
    ssize_t count = -1;
    int error = 0;
    bool hangup = false;
    uint64_t opening = 0;
    {
        std::lock_guard io(ioMutex_);
        int fd = fd_.load();
        if (fd < 0) return;
        opening = closes_.load();
        if (available == 0) {
            // Nothing to read: either the line hung up or the event is stale. The descriptor
            // blocks, so read only when poll says a read returns at once.
            pollfd state{fd, POLLIN, 0};
            if (::poll(&state, 1, 0) < 0) return;
            hangup = (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            if (!hangup && !(state.revents & POLLIN)) return;
        }
        if (!hangup) {
            count = ::read(fd, buffer, sizeof buffer);
            error = errno;
        }
    }
    if (hangup || count == 0 || (count < 0 && meansRemoval(error))) {
        deviceVanished();
        return;
    }
    if (count < 0) {
        if (error == EAGAIN || error == EINTR) return;
        reportError(error, false);
        Ptr self = shared_from_this();
        dispatch::Queue::global()->async([self] { self->close(); });
        return;
    }
    auto chunk = backloggedChunk(buffer, static_cast<size_t>(count));
    tellDelegate(
        [chunk](SerialPortDelegate& d, SerialPort& p) { d.serialPortDidReceiveData(p, *chunk); },
        Delivery::Post);
    queueInput(Input{chunk, opening});
}

void SerialPort::queueInput(Input input) {
    {
        std::lock_guard lock(inputMutex_);
        input_.push_back(std::move(input));
        if (inputHandlerPosted_) return;
        inputHandlerPosted_ = true;
    }
    Ptr self = shared_from_this();
    requestHandlingQueue_->async([self] { self->handleInput(); });
}

void SerialPort::handleInput() {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(kInputSliceSeconds));
    for (;;) {
        if (!handling_.chunk) {
            std::lock_guard lock(inputMutex_);
            if (input_.empty()) {
                inputHandlerPosted_ = false;
                return;
            }
            handling_ = std::move(input_.front());
            input_.pop_front();
            handled_ = 0;
            if (!handling_.chunk) {
                router_.reset();
                continue;
            }
        }
        // A byte at a time: one byte's tests are the most this overruns the slice by.
        const Bytes& chunk = *handling_.chunk;
        bool late = false;
        while (handled_ < chunk.size() && !late && handling_.opening == closes_.load()) {
            router_.receive(std::span<const uint8_t>(chunk).subspan(handled_, 1));
            ++handled_;
            late = Clock::now() >= end;
        }
        // Its bytes leave the backlog.
        if (handled_ == chunk.size() || handling_.opening != closes_.load()) handling_ = Input{};
        if (late) break;
    }
    // The rest goes behind whatever was queued meanwhile.
    Ptr self = shared_from_this();
    requestHandlingQueue_->async([self] { self->handleInput(); });
}

std::shared_ptr<const Bytes> SerialPort::backloggedChunk(const uint8_t* bytes, size_t count) {
    backlogGrew(count);
    std::weak_ptr<SerialPort> weak = weak_from_this();
    return std::shared_ptr<const Bytes>(new Bytes(bytes, bytes + count),
                                        [weak, count](const Bytes* chunk) {
                                            delete chunk;
                                            if (auto self = weak.lock()) self->backlogShrank(count);
                                        });
}

void SerialPort::backlogGrew(size_t count) {
    std::lock_guard backlog(backlogMutex_);
    readBacklog_ += count;
    if (readBacklog_ < kMaxReadBacklog) return;
    std::lock_guard sources(sourcesMutex_);
    if (!readPollSource_ || readPollSource_ == pausedReader_) return;
    // One of an earlier opening is cancelled by now: it only has to be balanced.
    if (pausedReader_) pausedReader_->resume();
    readPollSource_->suspend();
    pausedReader_ = readPollSource_;
}

void SerialPort::backlogShrank(size_t count) {
    std::lock_guard backlog(backlogMutex_);
    readBacklog_ -= count;
    if (!pausedReader_ || readBacklog_ > kMaxReadBacklog / 2) return;
    pausedReader_->resume();
    pausedReader_.reset();
}

bool SerialPort::sendData(std::span<const uint8_t> data) {
    if (!isOpen()) return false;
    if (data.empty()) return true;
    std::lock_guard writer(writeMutex_);
    size_t written = 0;
    while (written < data.size()) {
        // A share held through the write: a close on another thread waits for the write to end
        // rather than giving the number to the next open under it.
        std::shared_ptr<dispatch::SharedDescriptor> descriptor;
        {
            std::lock_guard io(ioMutex_);
            descriptor = descriptor_;
        }
        if (!descriptor) return false;
        const int fd = descriptor->fd();
        ssize_t count = ::write(fd, data.data() + written, data.size() - written);
        if (count >= 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN) {
            pollfd state{fd, POLLOUT, 0};
            ::poll(&state, 1, 100);
            continue;
        }
        reportError(error, false);
        return false;
    }
    return true;
}

// Modem lines.

void SerialPort::pollModemLines() {
    int bits = 0;
    int error = 0;
    {
        std::lock_guard io(ioMutex_);
        int fd = fd_.load();
        if (fd < 0) {
            std::lock_guard sources(sourcesMutex_);
            if (pinPollTimer_) pinPollTimer_->cancel();
            pinPollTimer_.reset();
            return;
        }
        error = modemControl_->get(fd, bits);
    }
    if (error != 0) {
        if (meansNoModemLines(error)) {
            noModemLines(error);
        } else if (meansRemoval(error)) {
            deviceVanished();
        } else {
            reportError(error, false);
        }
        return;
    }
    bool cts = (bits & TIOCM_CTS) != 0;
    bool dsr = (bits & TIOCM_DSR) != 0;
    bool dcd = (bits & TIOCM_CAR) != 0;
    if (cts == cts_ && dsr == dsr_ && dcd == dcd_) return;
    Ptr self = shared_from_this();
    // Stored on the main thread, so observers hear of the lines there, in this order.
    dispatch::Queue::main()->sync([self, cts, dsr, dcd] {
        if (self->cts_.exchange(cts) != cts) self->observers_.notify("CTS");
        if (self->dsr_.exchange(dsr) != dsr) self->observers_.notify("DSR");
        if (self->dcd_.exchange(dcd) != dcd) self->observers_.notify("DCD");
    });
}

void SerialPort::noModemLines(int error) {
    {
        std::lock_guard sources(sourcesMutex_);
        if (pinPollTimer_) pinPollTimer_->cancel();
        pinPollTimer_.reset();
    }
    if (!noModemLinesReported_.exchange(true)) reportError(error, false);
}

void SerialPort::updateModemLines() {
    Settings wanted;
    {
        std::lock_guard lock(settingsMutex_);
        wanted = settings_;
    }
    int error = 0;
    bool readFailed = false;
    {
        std::lock_guard io(ioMutex_);
        int fd = fd_.load();
        if (fd < 0) return;
        int bits = 0;
        error = modemControl_->get(fd, bits);
        if (error != 0) {
            readFailed = true;
        } else {
            bits = wanted.rts ? (bits | TIOCM_RTS) : (bits & ~TIOCM_RTS);
            bits = wanted.dtr ? (bits | TIOCM_DTR) : (bits & ~TIOCM_DTR);
            error = modemControl_->set(fd, bits);
        }
    }
    if (error == 0) return;
    if (readFailed && meansNoModemLines(error)) {
        noModemLines(error);
    } else {
        reportError(error, false);
    }
}

void SerialPort::setModemControl(std::shared_ptr<ModemControl> control) {
    std::lock_guard io(ioMutex_);
    modemControl_ = control ? std::move(control) : ModemControl::tty();
}

// Line settings.

void SerialPort::applyPortOptions() {
    Settings wanted;
    {
        std::lock_guard lock(settingsMutex_);
        wanted = settings_;
    }
    int error = 0;
    {
        std::lock_guard io(ioMutex_);
        int fd = fd_.load();
        if (fd < 0) return;
        termios options{};
        if (tcgetattr(fd, &options) != 0) {
            error = errno;
        } else {
            cfmakeraw(&options);
            options.c_cc[VMIN] = 1;
            options.c_cc[VTIME] = 2;
            options.c_cflag = (options.c_cflag & ~CSIZE) | CS8;
            options.c_cflag &= ~(PARENB | PARODD);
            if (wanted.parity == 1) options.c_cflag |= PARENB | PARODD;
            if (wanted.parity == 2) options.c_cflag |= PARENB;
            if (wanted.numberOfStopBits >= 2) {
                options.c_cflag |= CSTOPB;
            } else {
                options.c_cflag &= ~CSTOPB;
            }
            if (wanted.echo) {
                options.c_lflag |= ECHO;
            } else {
                options.c_lflag &= ~ECHO;
            }
            if (wanted.rtsCts) {
                options.c_cflag |= CRTSCTS;
            } else {
                options.c_cflag &= ~CRTSCTS;
            }
            options.c_cflag |= CLOCAL | HUPCL | CREAD;
            options.c_lflag &= ~(ICANON | ISIG);

            std::optional<speed_t> speed = standardSpeed(wanted.baudRate);
            if (speed) {
                cfsetispeed(&options, *speed);
                cfsetospeed(&options, *speed);
                if (tcsetattr(fd, TCSANOW, &options) == 0) return;
                error = errno;
            } else {
                error = EINVAL;  // termios has no constant for this speed
            }
            if (wanted.allowsNonStandardBaudRates) {
                if (!speed && tcsetattr(fd, TCSANOW, &options) != 0) {
                    error = errno;
                } else if (terminalspeed::setCustomSpeed(fd,
                                                         static_cast<uint32_t>(wanted.baudRate))) {
                    return;
                } else {
                    error = errno;
                }
            }
        }
    }
    reportError(error, false);
}

template <class Member, class Value>
void SerialPort::changeSetting(Member member, Value value) {
    {
        std::lock_guard lock(settingsMutex_);
        if (settings_.*member == value) return;
        settings_.*member = value;
    }
    applyPortOptions();
}

uint64_t SerialPort::baudRate() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.baudRate;
}
void SerialPort::setBaudRate(uint64_t baud) { changeSetting(&Settings::baudRate, baud); }

bool SerialPort::allowsNonStandardBaudRates() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.allowsNonStandardBaudRates;
}
void SerialPort::setAllowsNonStandardBaudRates(bool allow) {
    std::lock_guard lock(settingsMutex_);
    settings_.allowsNonStandardBaudRates = allow;
}

unsigned SerialPort::numberOfStopBits() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.numberOfStopBits;
}
void SerialPort::setNumberOfStopBits(unsigned stopBits) {
    changeSetting(&Settings::numberOfStopBits, stopBits);
}

unsigned SerialPort::parity() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.parity;
}
void SerialPort::setParity(unsigned parity) {
    changeSetting(&Settings::parity, parity > 2 ? 0u : parity);
}

bool SerialPort::shouldEchoReceivedData() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.echo;
}
void SerialPort::setShouldEchoReceivedData(bool echo) { changeSetting(&Settings::echo, echo); }

bool SerialPort::usesRTSCTSFlowControl() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.rtsCts;
}
void SerialPort::setUsesRTSCTSFlowControl(bool uses) {
    {
        std::lock_guard lock(settingsMutex_);
        if (settings_.rtsCts == uses) return;
    }
    // close() finishes the real close before it returns, so the reopen finds the port closed
    // and the port ends open.
    bool wasOpen = isOpen();
    if (wasOpen) close();
    {
        std::lock_guard lock(settingsMutex_);
        settings_.rtsCts = uses;
    }
    applyPortOptions();
    if (wasOpen) open();
}

bool SerialPort::usesDTRDSRFlowControl() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.dtrDsr;
}
void SerialPort::setUsesDTRDSRFlowControl(bool uses) {
    if (uses != usesDTRDSRFlowControl()) reportError(ENOTSUP, false);
}

bool SerialPort::usesDCDOutputFlowControl() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.dcdOutput;
}
void SerialPort::setUsesDCDOutputFlowControl(bool uses) {
    if (uses != usesDCDOutputFlowControl()) reportError(ENOTSUP, false);
}

bool SerialPort::RTS() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.rts;
}
void SerialPort::setRTS(bool on) {
    {
        std::lock_guard lock(settingsMutex_);
        if (settings_.rts == on) return;
        settings_.rts = on;
    }
    updateModemLines();
}

bool SerialPort::DTR() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.dtr;
}
void SerialPort::setDTR(bool on) {
    {
        std::lock_guard lock(settingsMutex_);
        if (settings_.dtr == on) return;
        settings_.dtr = on;
    }
    updateModemLines();
}

// Packets and requests: the router's state lives on the request queue.

void SerialPort::startListeningForPacketsMatchingDescriptor(
    const SerialPacketDescriptor::Ptr& descriptor) {
    requestHandlingQueue_->sync([&] { router_.startListening(descriptor); });
}

void SerialPort::stopListeningForPacketsMatchingDescriptor(
    const SerialPacketDescriptor::Ptr& descriptor) {
    requestHandlingQueue_->sync([&] { router_.stopListening(descriptor); });
}

std::vector<SerialPacketDescriptor::Ptr> SerialPort::packetDescriptors() const {
    std::vector<SerialPacketDescriptor::Ptr> descriptors;
    requestHandlingQueue_->sync([&] { descriptors = router_.descriptors(); });
    return descriptors;
}

bool SerialPort::sendRequest(const SerialRequest::Ptr& request) {
    if (!request || !isOpen()) return false;
    Ptr self = shared_from_this();
    requestHandlingQueue_->async([self, request] { self->router_.sendRequest(request); });
    return true;
}

void SerialPort::cancelQueuedRequest(const SerialRequest::Ptr& request) {
    if (!request) return;
    Ptr self = shared_from_this();
    requestHandlingQueue_->async([self, request] { self->router_.cancelQueuedRequest(request); });
}

void SerialPort::cancelAllQueuedRequests() {
    Ptr self = shared_from_this();
    requestHandlingQueue_->async([self] { self->router_.cancelAllQueuedRequests(); });
}

std::vector<SerialRequest::Ptr> SerialPort::queuedRequests() const {
    std::vector<SerialRequest::Ptr> requests;
    requestHandlingQueue_->sync([&] { requests = router_.queuedRequests(); });
    return requests;
}

SerialRequest::Ptr SerialPort::pendingRequest() const {
    SerialRequest::Ptr pending;
    requestHandlingQueue_->sync([&] { pending = router_.pendingRequest(); });
    return pending;
}

void SerialPort::insertObjectInRequestsQueueAtIndex(const SerialRequest::Ptr& request,
                                                    size_t index) {
    requestHandlingQueue_->sync([&] { router_.insertQueuedRequest(request, index); });
}

void SerialPort::removeObjectFromRequestsQueueAtIndex(size_t index) {
    requestHandlingQueue_->sync([&] { router_.removeQueuedRequest(index); });
}

bool SerialPort::writeRequest(const SerialRequest& request) {
    return sendData(request.dataToSend());
}

void SerialPort::startTimeout(const SerialRequest::Ptr& request) {
    stopTimeout();
    auto timer = dispatch::TimerSource::make(requestHandlingQueue_);
    std::weak_ptr<SerialPort> weak = weak_from_this();
    timer->setEventHandler([weak, request] {
        if (auto self = weak.lock()) self->router_.timeoutFired(request);
    });
    timer->setTimer(request->timeoutInterval(), request->timeoutInterval());
    pendingRequestTimeoutTimer_ = timer;
    timer->resume();
}

void SerialPort::stopTimeout() {
    if (pendingRequestTimeoutTimer_) pendingRequestTimeoutTimer_->cancel();
    pendingRequestTimeoutTimer_.reset();
}

void SerialPort::packetReceived(Bytes packet, SerialPacketDescriptor::Ptr descriptor) {
    tellDelegate(
        [packet = std::move(packet), descriptor](SerialPortDelegate& d, SerialPort& p) {
            d.serialPortDidReceivePacket(p, packet, *descriptor);
        },
        Delivery::Post);
}

void SerialPort::responseReceived(Bytes response, SerialRequest::Ptr request) {
    tellDelegate(
        [response = std::move(response), request](SerialPortDelegate& d, SerialPort& p) {
            d.serialPortDidReceiveResponse(p, response, request);
        },
        Delivery::Post);
}

void SerialPort::requestTimedOut(SerialRequest::Ptr request) {
    tellDelegate([request](SerialPortDelegate& d,
                           SerialPort& p) { d.serialPortRequestDidTimeout(p, request); },
                 Delivery::Post);
}

void SerialPort::propertyChanged(const char* property) { notifyObservers(property); }

}  // namespace quenbril
