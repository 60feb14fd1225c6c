#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/DescriptorWatch.h"
#include "foundation/Value.h"
#include "sockets/RunLoopPerforms.h"

namespace quenbril {

class RunLoop;
class TLSEngine;

/// The read and write stream of one TCP connection, served by a run loop: it connects to a host
/// (the name looked up on the global queue, then a non-blocking connect over the addresses in
/// order) or adopts a connected descriptor, and tells each side's client of the events its mask
/// asks for. It can switch to TLS; has-bytes and can-accept then come only after the handshake.
///
/// Readiness is watched only while an event will be served: has-bytes once per readiness,
/// watched again after the client reads; can-accept only while a write waits for room.
/// Use on the thread of the loop it is scheduled on. Made only through `connectTo` and `adopt`.
class RunLoopStreamPair : public std::enable_shared_from_this<RunLoopStreamPair> {
    struct Passkey {};

  public:
    enum class Side { Read, Write };
    enum class Status { NotOpen, Opening, Open, Reading, Writing, AtEnd, Closed, Error };
    enum Event : unsigned {
        OpenCompleted = 1,
        HasBytesAvailable = 2,
        CanAcceptBytes = 4,
        ErrorOccurred = 8,
        EndEncountered = 16,
    };
    /// The events the sockets ask for on each side.
    static constexpr unsigned kReadEvents = 27;
    static constexpr unsigned kWriteEvents = 29;

    enum class ErrorDomain {
        None,
        POSIX,
        MacOSStatus,
        Mach,
        NetDB,
        NetServices,
        SOCKS,
        SystemConfiguration,
        SSL,
        Custom,
    };
    /// A stream's error: its domain and code (and, for a name lookup, the resolver's text).
    struct StreamError {
        ErrorDomain domain = ErrorDomain::None;
        int32_t code = 0;
        std::string text;
    };
    using Client = std::function<void(Event)>;

    static std::shared_ptr<RunLoopStreamPair> connectTo(const std::string& host, uint16_t port);
    static std::shared_ptr<RunLoopStreamPair> adopt(int fd);
    RunLoopStreamPair(Passkey, std::string host, uint16_t port, int fd);
    ~RunLoopStreamPair();
    RunLoopStreamPair(const RunLoopStreamPair&) = delete;
    RunLoopStreamPair& operator=(const RunLoopStreamPair&) = delete;

    /// Sets (or, with a null client, removes) one side's client and the events it wants.
    void setClient(Side side, unsigned events, Client client);
    /// Serves the streams on `loop` until unschedule(); call on that loop's thread.
    void schedule(RunLoop& loop);
    void unschedule();
    bool isScheduled() const { return loop_ != nullptr; }

    /// Opens one side; both must be opened before OpenCompleted comes.
    bool open(Side side);
    /// Closes one side; the descriptor closes with the second when it should (see below).
    void close(Side side);
    Status status(Side side) const { return side == Side::Read ? readStatus_ : writeStatus_; }
    StreamError error(Side side) const;
    /// "not open", "opening", "open", "reading", "writing", "at end", "closed", "has error".
    static const char* statusWord(Status status);

    /// Bytes read (0: none now, or the end, see status), or -1 on an error.
    ssize_t read(uint8_t* buffer, size_t length);
    /// Bytes written (0: no room now; can-accept comes when there is), or -1 on an error.
    ssize_t write(const uint8_t* buffer, size_t length);
    bool hasBytesAvailable();
    bool canAcceptBytes();
    /// Bytes that a read would find now (an upper bound under TLS), for bounding a read pass.
    size_t bytesAvailableHint() const;

    /// The connected descriptor; -1 while connecting or after the close.
    int nativeHandle() const { return connected_ ? fd_ : -1; }
    void setShouldCloseNativeSocket(bool flag) { shouldCloseNative_ = flag; }
    bool shouldCloseNativeSocket() const { return shouldCloseNative_; }

    /// Switches both streams to TLS with `settings` (the TLS engine's keys); false when a
    /// setting is refused or TLS cannot run here. The handshake starts at once when open.
    bool setSSLSettings(const Dictionary& settings);

  private:
    struct LookupMailbox;

    void startLookup();
    void lookupDone(std::vector<Bytes> addresses, StreamError error);
    void tryNextAddress();
    void connectReady();
    void didOpen();
    void fail(StreamError error);
    void deliver(Side side, Event event);
    void post(Side side, Event event);
    void armRead();
    void armWrite();
    void readReady();
    void writeReady();
    bool usable(Side side) const;
    void continueHandshake();
    bool engineMoves(int status, Side side);

    std::string host_;
    uint16_t port_ = 0;
    int fd_ = -1;
    bool connected_ = false;
    bool lookupStarted_ = false;
    bool lookupFinished_ = false;
    bool shouldCloseNative_ = false;
    std::vector<Bytes> addresses_;
    size_t nextAddress_ = 0;
    Status readStatus_ = Status::NotOpen;
    Status writeStatus_ = Status::NotOpen;
    StreamError error_;
    Client readClient_, writeClient_;
    unsigned readEvents_ = 0, writeEvents_ = 0;
    RunLoop* loop_ = nullptr;
    RunLoopPerforms performs_;
    DescriptorWatch connectWatch_, readWatch_, writeWatch_;
    /// Has-bytes is watched for once per readiness: set again after each read.
    bool readArmed_ = false;
    /// A write found no room: can-accept is watched for.
    bool writeWaiting_ = false;
    std::shared_ptr<LookupMailbox> mailbox_;
    std::unique_ptr<TLSEngine> tls_;
    bool handshaking_ = false;
    /// OpenCompleted posted and not yet delivered: bit 1 the read side, bit 2 the write side.
    unsigned pendingOpenEvents_ = 0;
};

}  // namespace quenbril
