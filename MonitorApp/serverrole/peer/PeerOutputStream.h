#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/Value.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;
class PeerOutputStream;

/// Hears of a peer output stream's events, on the main queue.
class PeerStreamDelegate {
  public:
    virtual ~PeerStreamDelegate() = default;
    virtual void streamHandleEvent(PeerOutputStream* stream, int event) = 0;
};

/// A named byte stream to one peer: a connection of its own to the peer's listening port that
/// opens with a stream frame and then carries the bytes as they are written. Events reach the
/// delegate on the main queue, never from inside a call of the stream. At most kMaxQueued
/// bytes wait to be sent: a write beyond answers the bytes it took, and "space available"
/// comes when the queue has drained. Main thread only.
class PeerOutputStream : public DispatchSocketDelegate {
  public:
    enum Event {
        kOpenCompleted = 1,
        kHasBytesAvailable = 2,
        kHasSpaceAvailable = 4,
        kErrorOccurred = 8,
        kEndEncountered = 16,
    };
    static constexpr size_t kMaxQueued = 1u << 20;

    /// A stream to `host`:`port` that opens with `opening` (a stream frame).
    PeerOutputStream(std::string name, std::string host, uint16_t port, Bytes opening);
    ~PeerOutputStream() override;
    PeerOutputStream(const PeerOutputStream&) = delete;
    PeerOutputStream& operator=(const PeerOutputStream&) = delete;

    const std::string& name() const { return name_; }
    /// Not owned; cleared by close().
    void setDelegate(PeerStreamDelegate* delegate) { delegate_ = delegate; }
    /// Connects; "open completed" and then "space available" follow once connected.
    void open();
    /// Queues up to `length` bytes and answers how many it took: -1 when the stream is not open
    /// (or has failed), 0 while the queue is full.
    long write(const uint8_t* bytes, size_t length);
    /// Ends the stream once what is queued has been sent; no event follows.
    void close();
    bool isOpen() const { return connected_ && !closed_; }
    size_t queuedBytes() const { return queued_; }

    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidWriteDataWithTag(DispatchSocket* sock, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

  private:
    void event(int code);

    std::string name_;
    std::string host_;
    uint16_t port_;
    Bytes opening_;
    std::shared_ptr<DispatchSocket> socket_;
    PeerStreamDelegate* delegate_ = nullptr;
    bool connected_ = false;
    bool closed_ = false;
    bool full_ = false;
    size_t queued_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quenbril
