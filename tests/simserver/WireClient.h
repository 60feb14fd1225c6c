#pragma once

// A remote's side of the link for the end-to-end tests: a plain blocking TCP socket with
// short time-outs, the project's frame writer, byte-fed frame reader and codec.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "foundation/Value.h"
#include "tests/support/Eventually.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {

/// Seconds a remote waits for its next level frame (the stand-in sends one every 0.1 s), or for
/// what the stand-in sends within a tick or two, before it counts the stand-in as fallen silent:
/// a gap the stand-in must never leave, even on a machine loaded to twice its cores. 3 s in a
/// plain build.
inline const double kFrameWait = scaledSeconds(3.0);
/// Seconds a test waits for what must come but may take long on a loaded machine (a whole
/// initial state, a close, the end of a flood): only a stuck test waits this long.
inline const double kPatience = scaledSeconds(20.0);

class WireClient {
  public:
    /// `receiveBuffer` > 0 shrinks the socket's receive buffer (a remote that reads slowly).
    explicit WireClient(uint16_t port, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~WireClient() { ::close(fd_); }
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    bool connected() const { return connected_; }
    /// Shuts down the sending side only: the remote reads on.
    void shutdownSending() { ::shutdown(fd_, SHUT_WR); }

    bool sendRaw(const Bytes& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool send(const Dictionary& message) {
        auto frame = LinkCodec::encodeFrame(message, LinkPeer::Remote);
        return frame && sendRaw(*frame);
    }

    /// The next message, waiting at most `timeout` seconds; nothing on time-out or end of
    /// stream. Frames that do not decode are skipped.
    std::optional<Dictionary> next(double timeout = kFrameWait) {
        auto deadline = clock::now() + std::chrono::duration<double>(timeout);
        for (;;) {
            while (auto frame = reader_.takeFrame()) {
                if (auto m = LinkCodec::decodeBody(frame->body)) return m;
            }
            if (eof_ || !readSome(left(deadline))) return std::nullopt;
        }
    }

    /// The next message with this command, skipping others; nothing on time-out.
    std::optional<Dictionary> waitFor(std::string_view command, double timeout = kFrameWait) {
        auto deadline = clock::now() + std::chrono::duration<double>(timeout);
        while (auto m = next(left(deadline))) {
            if (commandOf(*m) == command) return m;
        }
        return std::nullopt;
    }

    /// waitFor() that fails the test (and answers an empty message) when nothing comes.
    Dictionary expect(std::string_view command, double timeout = kFrameWait) {
        auto m = waitFor(command, timeout);
        if (!m) ADD_FAILURE() << "no \"" << command << "\" within " << timeout << " s";
        return m.value_or(Dictionary{});
    }

    /// Reads and throws away everything until the peer closes (true) or `timeout` passes.
    bool waitForClose(double timeout) {
        auto deadline = clock::now() + std::chrono::duration<double>(timeout);
        while (!eof_ && left(deadline) > 0) next(left(deadline));
        return eof_;
    }

    /// Reads and throws away, undecoded, what has come; false once the peer closed.
    bool discard() {
        uint8_t buf[65536];
        for (;;) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0) eof_ = true;
            if (n <= 0) return !eof_;
        }
    }

    /// Takes at most `maxBytes` of what has come, without waiting; its frames are kept for
    /// next(). A remote that reads slowly. False once the peer closed.
    bool trickle(size_t maxBytes) {
        uint8_t buf[65536];
        ssize_t n = ::recv(fd_, buf, std::min(maxBytes, sizeof buf), MSG_DONTWAIT);
        if (n == 0) eof_ = true;
        if (n > 0) {
            received_ += static_cast<size_t>(n);
            reader_.feed(buf, static_cast<size_t>(n));
        }
        return !eof_;
    }

    /// Bytes read so far (discard() not counted).
    size_t bytesReceived() const { return received_; }

    static std::string commandOf(const Dictionary& m) {
        const std::string* s = m["Command"].stringValue();
        return s ? *s : std::string();
    }

  private:
    using clock = std::chrono::steady_clock;

    static double left(auto deadline) {
        return std::chrono::duration<double>(deadline - clock::now()).count();
    }

    bool readSome(double timeout) {
        if (timeout <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout * 1000) + 1) <= 0) return false;
        uint8_t buf[65536];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        received_ += static_cast<size_t>(n);
        reader_.feed(buf, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    std::atomic<size_t> received_{0};
    LinkFrameReader reader_{LinkPeer::Remote};
};

}  // namespace quenbril::test
