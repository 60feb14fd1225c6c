#pragma once

// Pseudo-terminal pairs made by socat, the port's delegate recorder and a fixture that installs
// the virtual-clock main loop and a watched link folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ManualRunLoop.h"
#include "foundation/dispatch/Queue.h"
#include "platform/serial/LinkFolderSource.h"
#include "platform/serial/SerialDeviceRegistry.h"
#include "serialport/SerialPort.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MainQueueDrain.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

constexpr const char* kSocat = "/usr/bin/socat";

/// A socat pty pair: one end linked as `portLink` (the side the port opens), the other as
/// `heldLink`, which the test holds open raw and non-blocking.
class SocatPair {
  public:
    SocatPair(std::string portLink, std::string heldLink)
        : portLink_(std::move(portLink)), heldLink_(std::move(heldLink)) {
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kSocat, "pty,raw,echo=0,link=" + portLink_,
                                     "pty,raw,echo=0,link=" + heldLink_},
            std::vector<std::pair<std::string, std::string>>{});
        const auto deadline = std::chrono::steady_clock::now() + scaledDuration(5.0);
        while (!(exists(portLink_) && exists(heldLink_)) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!exists(heldLink_)) return;
        held_ = ::open(heldLink_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        if (held_ >= 0 && tcgetattr(held_, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(held_, TCSANOW, &raw);
        }
    }
    ~SocatPair() {
        if (held_ >= 0) ::close(held_);
    }

    bool ok() const { return held_ >= 0 && exists(portLink_); }
    const std::string& portLink() const { return portLink_; }
    int held() const { return held_; }

    /// Stops socat (which removes both links); the held end hangs up.
    void unplug() { process_->stop(); }

    void write(const Bytes& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(held_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd state{held_, POLLOUT, 0};
                ::poll(&state, 1, 100);
            }
        }
    }

    /// Reads until `count` bytes came or `seconds` of real time passed (a plain build's, stretched
    /// here for a slower one: TestTime.h).
    Bytes read(size_t count, double seconds = 5.0) const {
        Bytes got;
        auto end = std::chrono::steady_clock::now() + scaledDuration(seconds);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd state{held_, POLLIN, 0};
            if (::poll(&state, 1, 20) <= 0) continue;
            uint8_t buffer[4096];
            ssize_t n = ::read(held_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

  private:
    static bool exists(const std::string& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0;
    }

    std::string portLink_;
    std::string heldLink_;
    std::unique_ptr<ChildProcess> process_;
    int held_ = -1;
};

/// Records every delegate call in order, and whether each came on the main thread.
struct PortRecorder : SerialPortDelegate {
    std::vector<std::string> events;
    Bytes data;
    std::vector<Bytes> packets;
    std::vector<std::pair<Bytes, SerialRequest::Ptr>> responses;
    std::vector<SerialRequest::Ptr> timeouts;
    std::vector<Error> errors;
    bool offMainThread = false;
    std::vector<std::weak_ptr<SerialPort>> ports;

    /// Becomes the port's delegate until this recorder goes.
    void attach(const SerialPort::Ptr& port) {
        port->setDelegate(this);
        ports.push_back(port);
    }
    ~PortRecorder() override {
        for (auto& weak : ports) {
            if (auto port = weak.lock(); port && port->delegate() == this)
                port->setDelegate(nullptr);
        }
    }

    void check() {
        if (!RunLoop::main().isCurrentThread()) offMainThread = true;
    }
    void serialPortWasOpened(SerialPort&) override {
        check();
        events.push_back("opened");
    }
    void serialPortWasClosed(SerialPort&) override {
        check();
        events.push_back("closed");
    }
    void serialPortWasRemovedFromSystem(SerialPort&) override {
        check();
        events.push_back("removed");
    }
    void serialPortDidReceiveData(SerialPort&, const Bytes& bytes) override {
        check();
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    void serialPortDidReceivePacket(SerialPort&, const Bytes& packet,
                                    const SerialPacketDescriptor&) override {
        check();
        packets.push_back(packet);
        events.push_back("packet");
    }
    void serialPortDidReceiveResponse(SerialPort&, const Bytes& response,
                                      const SerialRequest::Ptr& request) override {
        check();
        responses.emplace_back(response, request);
    }
    void serialPortRequestDidTimeout(SerialPort&, const SerialRequest::Ptr& request) override {
        check();
        timeouts.push_back(request);
    }
    void serialPortDidEncounterError(SerialPort&, const Error& error) override {
        check();
        errors.push_back(error);
        events.push_back("error " + std::to_string(error.code));
    }
};

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

/// The virtual-clock main loop, a temporary folder with a watched link folder inside (registered
/// as a device source, so ports open its links) and a folder for the held ends.
class SerialFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(kSocat, X_OK) != 0) GTEST_SKIP() << "socat is not installed";
        RunLoop::setMain(&loop_);
        char pattern[] = "/tmp/quenbril-serial-XXXXXX";
        root_ = ::mkdtemp(pattern);
        std::filesystem::create_directory(root_ + "/links");
        std::filesystem::create_directory(root_ + "/held");
        source_ = std::make_unique<LinkFolderSource>(root_ + "/links");
        SerialDeviceRegistry::shared().add(source_.get());
    }
    void TearDown() override {
        if (root_.empty()) return;
        SerialDeviceRegistry::shared().remove(source_.get());
        source_.reset();
        loop_.runPending();
        RunLoop::setMain(nullptr);
        std::filesystem::remove_all(root_);
    }

    std::string link(const std::string& name) const { return root_ + "/links/" + name; }

    /// A socat pair whose port side appears in the link folder as `name`.
    std::unique_ptr<SocatPair> makePair(const std::string& name = "adapter0") {
        auto pair = std::make_unique<SocatPair>(link(name), root_ + "/held/" + name);
        EXPECT_TRUE(pair->ok());
        return pair;
    }

    /// Opens the port of `pair` with `recorder` as delegate and waits for "opened".
    SerialPort::Ptr openPort(const SocatPair& pair, PortRecorder& recorder) {
        auto port = SerialPort::serialPortWithPath(pair.portLink());
        if (!port) return nullptr;
        recorder.attach(port);
        EXPECT_TRUE(port->open());
        EXPECT_TRUE(waitFor([&] { return !recorder.events.empty(); }));
        return port;
    }

    /// The port of `pair` with `recorder` as delegate and `lines` as its modem lines, not yet
    /// open.
    SerialPort::Ptr portWithLines(const SocatPair& pair, PortRecorder& recorder,
                                  std::shared_ptr<ModemControl> lines) {
        auto port = SerialPort::serialPortWithPath(pair.portLink());
        if (!port) return nullptr;
        recorder.attach(port);
        port->setModemControl(std::move(lines));
        return port;
    }

    bool waitFor(const std::function<bool()>& done, double seconds = 5.0) {
        return loop_.runUntil(done, seconds);
    }

    /// Serves the loop for `seconds` of real time, where no event can tell that the wait is
    /// over.
    void settle(double seconds) { loop_.runFor(seconds); }
    /// Waits until the main queue has run what was posted to it so far.
    bool drainMain() { return drainMainQueue(loop_); }

    ManualRunLoop loop_;
    std::string root_;
    std::unique_ptr<LinkFolderSource> source_;
};

}  // namespace quenbril::test
