#pragma once

// Test parts of the server link: a fresh settings store and virtual-time main loop per test, a
// scripted service browser, and a loopback server that speaks the link's frames.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrame.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"
#include "tests/support/TemporarySettingsTest.h"

namespace quenbril::test {

/// Real seconds a test waits for something the loopback network does in a few milliseconds.
inline constexpr double kNetWait = 3.0;

/// Each test gets a fresh XDG_CONFIG_HOME, a virtual-time main loop and fresh shared
/// instances.
class LinkTest : public TemporarySettingsTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(enterTemporarySettings("/tmp/quenbril-link-XXXXXX"));
        resetShared();
    }

    void TearDown() override {
        resetShared();
        // Let the closing sockets' last reports run before the loop goes.
        loop_->runPending();
        leaveTemporarySettings();
    }

    static void resetShared() {
        ServerManager::resetSharedInstance();
        ChannelStripManager::resetSharedInstance();
        PELAudioEngine::resetSharedInstance();
        UserSettingsManager::resetSharedInstance();
        UserDefaults::resetStandardUserDefaults();
    }

    static UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }

    /// Waits (in real time, running the loop) until `done`.
    bool waitFor(const std::function<bool()>& done, double seconds = kNetWait) {
        return loop_->runUntil(done, seconds);
    }
};

/// A browser the test drives: it records what the link asks and reports what the test says.
class FakeServiceBrowser : public ServiceBrowser {
  public:
    struct Log {
        std::vector<std::string> browsed;
        std::vector<std::string> resolved;
        int stops = 0;
        Delegate* delegate = nullptr;
    };
    explicit FakeServiceBrowser(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    void browse(const std::string& type, Delegate* delegate) override {
        log_->browsed.push_back(type);
        log_->delegate = delegate;
    }
    void resolve(const std::string& name) override { log_->resolved.push_back(name); }
    void stop() override {
        ++log_->stops;
        log_->delegate = nullptr;
    }

  private:
    std::shared_ptr<Log> log_;
};

/// The socket address 127.0.0.x:port as the socket layer takes it.
inline Bytes loopbackAddress(uint16_t port, uint8_t last = 1) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7f000000u | last);
    const auto* p = reinterpret_cast<const uint8_t*>(&address);
    return Bytes(p, p + sizeof address);
}

/// A loopback port nothing listens on: connecting to it is refused at once.
inline uint16_t unusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

/// A monitoring server stand-in for one remote at a time, on plain non-blocking sockets, run
/// from the test's thread: its calls never block, so tests call them inside waitFor().
class FrameServer {
  public:
    /// Listens on 127.0.0.`last`:`port` (0: any free port).
    explicit FrameServer(uint16_t port = 0, uint8_t last = 1) : last_(last) { listenOn(port); }
    /// Connections accepted from now on take at most about `bytes` ahead of the server's reads.
    void limitReceiveBuffer(int bytes) {
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    ~FrameServer() { stop(); }
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    uint16_t port() const { return port_; }
    Bytes address() const { return loopbackAddress(port_, last_); }
    int acceptedCount() const { return accepted_; }
    bool hasClient() const { return client_ >= 0; }

    /// Takes a waiting connection (replacing the current one); true when there is a client.
    bool accept() {
        if (listener_ < 0) return client_ >= 0;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            closeClient();
            client_ = fd;
            reader_ = LinkFrameReader(LinkPeer::Server);
            peerClosed_ = false;
            ++accepted_;
        }
        return client_ >= 0;
    }
    /// Waits until a connection is accepted.
    bool acceptWithin(ManualRunLoop& loop, double seconds = kNetWait) {
        int before = accepted_;
        return loop.runUntil([&] { return accept() && accepted_ > before; }, seconds);
    }

    void closeClient() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
    }
    /// Closes the connection and the listener: the port refuses until restart().
    void stop() {
        closeClient();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }
    void restart() {
        if (listener_ < 0) listenOn(port_);
    }

    bool sendMessage(const Dictionary& message) {
        auto frame = LinkCodec::encodeFrame(message, LinkPeer::Server);
        return frame && sendRaw(*frame);
    }
    bool sendRaw(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size() && client_ >= 0) {
            ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{client_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        return done == bytes.size();
    }

    /// Reads what has arrived; the messages the remote sent so far on any connection.
    const std::vector<Dictionary>& messages() {
        pump();
        return messages_;
    }
    std::vector<std::string> commands() {
        std::vector<std::string> names;
        for (const Dictionary& m : messages()) {
            const std::string* name = m["Command"].stringValue();
            names.push_back(name ? *name : "?");
        }
        return names;
    }
    void clearMessages() {
        pump();
        messages_.clear();
    }
    /// Reads at most `most` bytes of what has arrived, as a slow reader would; the bytes read.
    size_t readSome(size_t most) { return pump(most); }
    /// The messages read so far, reading nothing more.
    size_t messagesRead() const { return messages_.size(); }
    /// True once the remote closed the current connection.
    bool peerClosed() {
        pump();
        return peerClosed_;
    }

  private:
    void listenOn(uint16_t port) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(0x7f000000u | last_);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0) {
            ADD_FAILURE() << "cannot listen on port " << port << ": " << std::strerror(errno);
        }
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }

    size_t pump(size_t most = SIZE_MAX) {
        size_t read = 0;
        while (client_ >= 0 && read < most) {
            uint8_t buffer[65536];
            ssize_t n = ::recv(client_, buffer, std::min(sizeof buffer, most - read), 0);
            if (n > 0) {
                read += static_cast<size_t>(n);
                reader_.feed(buffer, static_cast<size_t>(n));
                while (auto frame = reader_.takeFrame()) {
                    EXPECT_EQ(frame->marker, LinkFrameHeader::kRemoteMarker);
                    if (auto message = LinkCodec::decodeBody(frame->body)) {
                        messages_.push_back(*message);
                    } else {
                        ADD_FAILURE() << "the remote sent a frame that does not decode";
                    }
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                peerClosed_ = true;
                closeClient();
            } else {
                break;
            }
        }
        return read;
    }

    uint8_t last_;
    uint16_t port_ = 0;
    int listener_ = -1;
    int client_ = -1;
    int accepted_ = 0;
    bool peerClosed_ = false;
    LinkFrameReader reader_{LinkPeer::Server};
    std::vector<Dictionary> messages_;
};

/// A frame header as it goes on the wire.
inline Bytes frameHeader(int32_t marker, int32_t length) {
    auto bytes = LinkFrameHeader{marker, length}.encode();
    return Bytes(bytes.begin(), bytes.end());
}

/// A message {"Command": name, "Value": value} (no "Value" when it is null).
inline Dictionary command(const char* name, Value value = {}) {
    Dictionary message{{"Command", name}};
    if (!value.isNull()) message.set("Value", value);
    return message;
}

/// Records what the link tells its delegate, with the loop time of each call.
struct LinkRecorder : ServerManagerDelegate {
    std::vector<std::string> connects;
    std::vector<std::optional<Error>> disconnects;
    std::vector<double> disconnectTimes;
    std::vector<Value> messages;
    std::vector<std::string> progress;
    void connectedToServer(const std::string& host) override { connects.push_back(host); }
    void disconnectedFromServer(const std::optional<Error>& error) override {
        disconnects.push_back(error);
        disconnectTimes.push_back(RunLoop::main().now());
    }
    void messageReceivedFromServer(const Value& message) override { messages.push_back(message); }
    void updateConnectMessageFromServer(const std::string& text) override {
        progress.push_back(text);
    }
};

/// A server link of the test's own, with a scripted browser and a recording delegate.
class ServerManagerTestBase : public LinkTest {
  protected:
    void SetUp() override {
        LinkTest::SetUp();
        link_ = std::make_unique<ServerManager>();
        link_->setServiceBrowser(std::make_unique<FakeServiceBrowser>(browserLog_));
        link_->setDelegate(&recorder_);
    }
    void TearDown() override {
        link_.reset();
        LinkTest::TearDown();
    }
    /// Discovery finds `name` and resolves it to `addresses`.
    void resolveTo(const std::string& name, std::vector<Bytes> addresses) {
        ASSERT_NE(browserLog_->delegate, nullptr);
        browserLog_->delegate->serviceFound(name);
        browserLog_->delegate->serviceResolved({name, "stage.local", 57576, std::move(addresses)});
    }
    /// Waits for the link's report of its `count`th drop or failed attempt.
    bool waitForDisconnects(size_t count) {
        return waitFor([&] { return recorder_.disconnects.size() >= count; });
    }

    std::shared_ptr<FakeServiceBrowser::Log> browserLog_ =
        std::make_shared<FakeServiceBrowser::Log>();
    LinkRecorder recorder_;
    std::unique_ptr<ServerManager> link_;
};

}  // namespace quenbril::test
