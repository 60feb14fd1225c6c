// DispatchSocket: the data path. Reads and writes are queued and served one at a time per
// side, in order, from a read and a write source on the connected descriptor.

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "foundation/dispatch/TimerSource.h"
#include "sockets/DispatchReadPacket.h"
#include "sockets/DispatchSocket.h"
#include "sockets/DispatchWritePacket.h"
#include "sockets/TLSEngine.h"

namespace quenbril {

namespace {

/// The most a fixed-length read takes off the descriptor beyond its own bytes.
constexpr size_t kMaxReadAhead = 64 * 1024;

DispatchReadPacket* asRead(const std::shared_ptr<DispatchSocketPacket>& packet) {
    return packet && packet->kind() == DispatchSocketPacket::Kind::Read
               ? static_cast<DispatchReadPacket*>(packet.get())
               : nullptr;
}

DispatchWritePacket* asWrite(const std::shared_ptr<DispatchSocketPacket>& packet) {
    return packet && packet->kind() == DispatchSocketPacket::Kind::Write
               ? static_cast<DispatchWritePacket*>(packet.get())
               : nullptr;
}

/// Moves the first `length` bytes read ahead into the read.
void takeFromPreBuffer(DispatchSocketPreBuffer& preBuffer, DispatchReadPacket& p, size_t length) {
    p.ensureRoom(length);
    std::memcpy(p.writePointer(), preBuffer.readBuffer(), length);
    preBuffer.didRead(length);
    p.bytesDone += length;
}

}  // namespace

// ---- queueing ----

void DispatchSocket::readDataWithTimeout(double timeout, long tag) {
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                         size_t offset, long tag) {
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                         size_t offset, size_t maxLength, long tag) {
    if (buffer && offset > buffer->size()) return;
    queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                   Bytes{}, tag));
}

void DispatchSocket::readDataToLength(size_t length, double timeout, long tag) {
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void DispatchSocket::readDataToLength(size_t length, double timeout, std::shared_ptr<Bytes> buffer,
                                      size_t offset, long tag) {
    if (length == 0) return;
    if (buffer && offset > buffer->size()) return;
    queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, 0, timeout, length,
                                                   Bytes{}, tag));
}

void DispatchSocket::readDataToData(const Bytes& term, double timeout, long tag) {
    readDataToData(term, timeout, nullptr, 0, 0, tag);
}

void DispatchSocket::readDataToData(const Bytes& term, double timeout,
                                    std::shared_ptr<Bytes> buffer, size_t offset, long tag) {
    readDataToData(term, timeout, std::move(buffer), offset, 0, tag);
}

void DispatchSocket::readDataToData(const Bytes& term, double timeout, size_t maxLength, long tag) {
    readDataToData(term, timeout, nullptr, 0, maxLength, tag);
}

void DispatchSocket::readDataToData(const Bytes& term, double timeout,
                                    std::shared_ptr<Bytes> buffer, size_t offset, size_t maxLength,
                                    long tag) {
    if (term.empty()) return;
    if (buffer && offset > buffer->size()) return;
    if (maxLength > 0 && maxLength < term.size()) return;
    queueRead(std::make_shared<DispatchReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                   term, tag));
}

// Reads and writes are queued with runSoon: from an idle socket, a read that bytes already waiting
// can satisfy completes within the call (its delegate call posted at once), with no trip through
// the socket queue's thread.
void DispatchSocket::queueRead(std::shared_ptr<DispatchReadPacket> packet) {
    runSoon([this, packet = std::move(packet)] {
        DelegateCallBatch batch(*this);
        if ((flags_ & flagStarted) && !(flags_ & flagNoNewIO)) {
            readQueue_.push_back(packet);
            maybeDequeueRead();
        }
    });
}

void DispatchSocket::writeData(Bytes data, double timeout, long tag) {
    if (data.empty()) return;
    writeData(std::make_shared<const Bytes>(std::move(data)), timeout, tag);
}

void DispatchSocket::writeData(std::shared_ptr<const Bytes> data, double timeout, long tag) {
    if (!data || data->empty()) return;
    auto packet = std::make_shared<DispatchWritePacket>(std::move(data), timeout, tag);
    runSoon([this, packet = std::move(packet)] {
        if ((flags_ & flagStarted) && !(flags_ & flagNoNewIO)) {
            writeQueue_.push_back(packet);
            maybeDequeueWrite();
        }
    });
}

float DispatchSocket::progressOfReadReturningTag(long* tag, uint64_t* done, uint64_t* total) const {
    float result = NAN;
    long t = 0;
    uint64_t d = 0, n = 0;
    runSync([&] {
        DispatchReadPacket* p = asRead(currentRead_);
        if (!p) return;
        t = p->tag;
        d = p->bytesDone;
        n = p->readLength;
        result = n > 0 ? static_cast<float>(static_cast<double>(d) / static_cast<double>(n)) : 1.0f;
    });
    if (tag) *tag = t;
    if (done) *done = d;
    if (total) *total = n;
    return result;
}

float DispatchSocket::progressOfWriteReturningTag(long* tag, uint64_t* done,
                                                  uint64_t* total) const {
    float result = NAN;
    long t = 0;
    uint64_t d = 0, n = 0;
    runSync([&] {
        DispatchWritePacket* p = asWrite(currentWrite_);
        if (!p) return;
        t = p->tag;
        d = p->bytesDone;
        n = p->buffer->size();
        result = static_cast<float>(static_cast<double>(d) / static_cast<double>(n));
    });
    if (tag) *tag = t;
    if (done) *done = d;
    if (total) *total = n;
    return result;
}

// ---- sources ----

int DispatchSocket::connectedFD() const {
    if (socket4FD_ != -1) return socket4FD_;
    if (socket6FD_ != -1) return socket6FD_;
    return socketUN_;
}

void DispatchSocket::createSources(int fd) {
    // The descriptor closes once both sources have let it go (their cancels, on the socket
    // queue, also of a suspended source).
    auto descriptor = dispatch::SharedDescriptor::adopt(fd);
    readSource_ = dispatch::DescriptorSource::makeRead(descriptor, socketQueue_);
    writeSource_ = dispatch::DescriptorSource::makeWrite(std::move(descriptor), socketQueue_);
    std::weak_ptr<DispatchSocket> weak = weak_from_this();
    readSource_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->readSourceFired();
    });
    writeSource_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->writeSourceFired();
    });
    setSourcesDeliverInPlace(true);
    flags_ |= flagReadSourceSuspended | flagWriteSourceSuspended;
}

void DispatchSocket::setSourcesDeliverInPlace(bool inPlace) {
    // The handlers only read or write what the descriptor has, without waiting, so the epoll
    // thread may run them when the socket queue is idle: the bytes then reach the delegate queue
    // in one hop. A handshake's key work is too long for the epoll thread, and stays off it.
    if (readSource_) readSource_->setDeliversInPlace(inPlace);
    if (writeSource_) writeSource_->setDeliversInPlace(inPlace);
}

void DispatchSocket::readSourceFired() {
    if (!readSource_) return;
    DelegateCallBatch batch(*this);
    socketFDBytesAvailable_ = readSource_->data();
    if (socketFDBytesAvailable_ > 0) {
        doReadData();
    } else {
        doReadEOF();
    }
}

void DispatchSocket::writeSourceFired() {
    if (!writeSource_) return;
    DelegateCallBatch batch(*this);
    if (!(flags_ & flagConnected)) {
        connectReady();
        return;
    }
    flags_ |= flagCanAcceptBytes;
    doWriteData();
}

void DispatchSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd) {
    // An accepted socket may have been closed before this ran.
    if (!(flags_ & flagConnected) || fd < 0) return;
    if (!readSource_) createSources(fd);
    socketFDBytesAvailable_ = 0;
    resumeReadSource();
    suspendWriteSource();
    flags_ |= flagCanAcceptBytes;
}

void DispatchSocket::suspendReadSource() {
    if (readSource_ && !(flags_ & flagReadSourceSuspended)) {
        readSource_->suspend();
        flags_ |= flagReadSourceSuspended;
    }
}

void DispatchSocket::resumeReadSource() {
    if (readSource_ && (flags_ & flagReadSourceSuspended)) {
        readSource_->resume();
        flags_ &= ~flagReadSourceSuspended;
    }
}

void DispatchSocket::suspendWriteSource() {
    if (writeSource_ && !(flags_ & flagWriteSourceSuspended)) {
        writeSource_->suspend();
        flags_ |= flagWriteSourceSuspended;
    }
}

void DispatchSocket::resumeWriteSource() {
    if (writeSource_ && (flags_ & flagWriteSourceSuspended)) {
        writeSource_->resume();
        flags_ &= ~flagWriteSourceSuspended;
    }
}

// ---- reading ----

void DispatchSocket::maybeDequeueRead() {
    if (currentRead_ || !(flags_ & flagConnected)) return;
    if (!readQueue_.empty()) {
        currentRead_ = std::move(readQueue_.front());
        readQueue_.pop_front();
        if (DispatchReadPacket* p = asRead(currentRead_)) {
            setupTimerWithTimeout(IOSide::Read, p->timeout);
            doReadData();
        } else {
            flags_ |= flagReadTLSStarting;
            maybeStartTLS();
        }
    } else if (flags_ & flagCloseAfterReads) {
        maybeClose();
    } else if (flags_ & flagSecure) {
        // Decrypt what waits, and keep listening so that a close by the peer is noticed.
        flushSSLBuffers();
        if (preBuffer_.availableBytes() == 0) resumeReadSource();
    }
}

void DispatchSocket::doReadData() {
    if (!currentRead_ || (flags_ & flagReadsPaused)) {
        flushSSLBuffers();
        // Leave pending bytes in the kernel; a running source would fire without end.
        if (socketFDBytesAvailable_ > 0) suspendReadSource();
        return;
    }
    const uint64_t estimate = estimatedBytesAvailable();
    const bool hasBytesAvailable = estimate > 0;
    if (!hasBytesAvailable && preBuffer_.availableBytes() == 0) {
        resumeReadSource();
        return;
    }
    if (flags_ & flagReadTLSStarting) {
        // Only the handshake reads now, once both sides have reached the switch.
        if ((flags_ & flagWriteTLSStarting) && lastSSLHandshakeError_ == TLSEngine::WouldBlock) {
            sslContinueHandshake();
        } else {
            suspendReadSource();
        }
        return;
    }
    DispatchReadPacket& p = *asRead(currentRead_);

    bool done = false;
    bool waiting = false;
    bool socketEOF = false;
    // The engine gave all it was asked for: it may hold more than this pass took.
    bool engineFilledRead = false;
    std::optional<Error> error;
    size_t totalBytesRead = 0;

    // 1. Bytes read ahead earlier serve this read first.
    if (preBuffer_.availableBytes() > 0) {
        size_t n;
        if (p.isTermRead()) {
            n = p.readLengthForTermWithPreBuffer(preBuffer_.readBuffer(),
                                                 preBuffer_.availableBytes(), &done);
        } else {
            n = p.readLengthForNonTermWithHint(preBuffer_.availableBytes());
        }
        takeFromPreBuffer(preBuffer_, p, n);
        totalBytesRead += n;
        if (p.readLength > 0) {
            done = p.bytesDone == p.readLength;
        } else if (p.isTermRead()) {
            if (!done && p.maxLength > 0 && p.bytesDone >= p.maxLength) {
                error = readMaxedOutError();
            }
        } else if (p.maxLength > 0 && p.bytesDone == p.maxLength) {
            done = true;
        }
    }

    // 2. Then the descriptor, sized by what the source reported.
    if (!done && !error && !(flags_ & flagReadEOF) && hasBytesAvailable) {
        bool readIntoPreBuffer = false;
        const bool secure = flags_ & flagSecure;
        // Decrypted bytes may outnumber what the descriptor reported: read generously.
        const size_t secureLength =
            estimate > 32768 ? static_cast<size_t>(estimate) + 16384 : 32768;
        size_t bytesToRead =
            secure           ? p.optimalReadLengthWithDefault(secureLength, &readIntoPreBuffer)
            : p.isTermRead() ? p.readLengthForTermWithHint(estimate, &readIntoPreBuffer)
                             : p.readLengthForNonTermWithHint(estimate);
        uint8_t* target;
        if (readIntoPreBuffer) {
            preBuffer_.ensureCapacityForWrite(bytesToRead);
            target = preBuffer_.writeBuffer();
        } else {
            p.ensureRoom(bytesToRead);
            target = p.writePointer();
        }
        // A fixed-length read that the descriptor holds more than takes the rest into the
        // pre-buffer in the same call: the reads queued after it (a frame's body after its
        // header, the next frame) then complete from memory, without a call of their own.
        const size_t readAhead =
            !secure && p.readLength > 0 && preBuffer_.availableBytes() == 0 &&
                    estimate > bytesToRead
                ? std::min<size_t>(static_cast<size_t>(estimate) - bytesToRead, kMaxReadAhead)
                : 0;
        size_t bytesRead = 0;
        ssize_t result = 0;
        if (readAhead > 0) {
            preBuffer_.ensureCapacityForWrite(readAhead);
            iovec parts[2] = {{target, bytesToRead}, {preBuffer_.writeBuffer(), readAhead}};
            result = ::readv(connectedFD(), parts, 2);
        } else if (bytesToRead > 0 && !secure) {
            result = ::read(connectedFD(), target, bytesToRead);
        }
        if (secure) {
            int status = bytesToRead > 0 ? sslReadInto(target, bytesToRead, &bytesRead) : 0;
            if (status == TLSEngine::Success) {
                engineFilledRead = bytesToRead > 0;
            } else if (status == TLSEngine::WouldBlock) {
                waiting = true;
            } else if (status == TLSEngine::ClosedGracefully || status == TLSEngine::ClosedAbort) {
                socketEOF = true;
                sslErrCode_ = status;
            } else if (status != 0) {
                error = sslError(status);
            }
        } else if (bytesToRead == 0) {
            // Nothing can be taken (a maximum reached): not an end of stream.
        } else if (result < 0) {
            if (errno == EWOULDBLOCK || errno == EAGAIN) {
                waiting = true;
            } else {
                error = errnoErrorWithReason("Error in read() function");
            }
            socketFDBytesAvailable_ = 0;
        } else if (result == 0) {
            socketEOF = true;
            socketFDBytesAvailable_ = 0;
        } else {
            bytesRead = static_cast<size_t>(result);
            if (bytesRead < bytesToRead + readAhead) {
                socketFDBytesAvailable_ = 0;
            } else {
                socketFDBytesAvailable_ -= std::min<uint64_t>(bytesRead, socketFDBytesAvailable_);
            }
            if (socketFDBytesAvailable_ == 0) waiting = true;
            if (bytesRead > bytesToRead) {
                preBuffer_.didWrite(bytesRead - bytesToRead);
                bytesRead = bytesToRead;
            }
        }

        if (bytesRead > 0) {
            if (p.readLength > 0) {
                p.bytesDone += bytesRead;
                totalBytesRead += bytesRead;
                done = p.bytesDone == p.readLength;
            } else if (p.isTermRead()) {
                if (readIntoPreBuffer) {
                    preBuffer_.didWrite(bytesRead);
                    size_t n = p.readLengthForTermWithPreBuffer(preBuffer_.readBuffer(),
                                                                preBuffer_.availableBytes(), &done);
                    takeFromPreBuffer(preBuffer_, p, n);
                    totalBytesRead += n;
                } else {
                    long overflow = p.searchForTermAfterPreBuffering(bytesRead);
                    if (overflow < 0) {
                        p.bytesDone += bytesRead;
                        totalBytesRead += bytesRead;
                    } else {
                        // The bytes after the terminator wait for the next read.
                        size_t underflow = bytesRead - static_cast<size_t>(overflow);
                        preBuffer_.ensureCapacityForWrite(static_cast<size_t>(overflow));
                        std::memcpy(preBuffer_.writeBuffer(), p.writePointer() + underflow,
                                    static_cast<size_t>(overflow));
                        preBuffer_.didWrite(static_cast<size_t>(overflow));
                        p.bytesDone += underflow;
                        totalBytesRead += underflow;
                        done = true;
                    }
                }
                if (!done && p.maxLength > 0 && p.bytesDone >= p.maxLength) {
                    error = readMaxedOutError();
                }
            } else {
                p.bytesDone += bytesRead;
                totalBytesRead += bytesRead;
                done = true;
            }
        }
    }

    // An everything-available read is satisfied by whatever came from the pre-buffer.
    if (!done && p.readLength == 0 && !p.isTermRead() && totalBytesRead > 0) done = true;

    if (done) {
        completeCurrentRead();
        if (!error &&
            ((!socketEOF && !(flags_ & flagReadEOF)) || preBuffer_.availableBytes() > 0)) {
            maybeDequeueRead();
        }
    } else if (totalBytesRead > 0) {
        long tag = p.tag;
        notifyDelegate([totalBytesRead, tag](DispatchSocketDelegate& d, DispatchSocket* sock) {
            d.socketDidReadPartialDataOfLength(sock, totalBytesRead, tag);
        });
    }

    if (error) {
        closeWithError(error);
    } else if (!(flags_ & flagConnected)) {
        // Closed meanwhile (by a read that was dequeued above).
    } else if (socketEOF) {
        doReadEOF();
    } else if (waiting) {
        resumeReadSource();
    } else if (done && !currentRead_ && socketFDBytesAvailable_ > 0) {
        // Bytes wait and no read does: the next read takes them straight from the descriptor.
        // Listening meanwhile would only wake the epoll thread and this queue for nothing.
        suspendReadSource();
    } else if (!done && engineFilledRead && estimatedBytesAvailable() > 0) {
        // The engine holds more bytes, read off the descriptor already: no descriptor event
        // will announce them, so the read goes on from them now.
        runAsync([this] { doReadData(); });
    } else if (!done && !hasBytesAvailable && !(flags_ & flagReadEOF)) {
        // The bytes read ahead did not satisfy the read, and nothing else waits: the rest comes
        // from the descriptor, whose source was suspended if bytes came while no read was queued.
        resumeReadSource();
    } else if (!done && (flags_ & flagReadEOF) && preBuffer_.availableBytes() == 0) {
        // The stream ended, and what it held is taken: the rest of this read never comes.
        doReadEOF();
    }
}

void DispatchSocket::doReadEOF() {
    flags_ |= flagReadEOF;
    flushSSLBuffers();
    if (flags_ & (flagReadTLSStarting | flagWriteTLSStarting)) {
        closeWithError(sslError(TLSEngine::ClosedAbort));
        return;
    }
    if (flags_ & flagReadStreamClosed) {
        suspendReadSource();
        return;
    }
    if (preBuffer_.availableBytes() > 0) {
        // What was read ahead can still satisfy reads.
        suspendReadSource();
        return;
    }
    if (config_ & configKeepOpenOnReadEOF) {
        pollfd pfd{connectedFD(), POLLOUT, 0};
        ::poll(&pfd, 1, 0);
        if (pfd.revents & POLLOUT) {
            flags_ |= flagReadStreamClosed;
            notifyDelegate([](DispatchSocketDelegate& d, DispatchSocket* sock) {
                d.socketDidCloseReadStream(sock);
            });
            suspendReadSource();
            return;
        }
    }
    if (sslErrCode_ != 0 && sslErrCode_ != TLSEngine::ClosedGracefully) {
        closeWithError(sslError(sslErrCode_));
    } else {
        closeWithError(connectionClosedError());
    }
}

void DispatchSocket::completeCurrentRead() {
    DispatchReadPacket& p = *asRead(currentRead_);
    Bytes result;
    if (p.bufferOwner) {
        p.buffer->resize(p.bytesDone);
        result = std::move(*p.buffer);
    } else {
        size_t used = p.startOffset + p.bytesDone;
        if (p.buffer->size() > p.originalBufferLength && p.buffer->size() > used) {
            p.buffer->resize(std::max(p.originalBufferLength, used));
        }
        auto first = p.buffer->begin() + static_cast<std::ptrdiff_t>(p.startOffset);
        result.assign(first, first + static_cast<std::ptrdiff_t>(p.bytesDone));
    }
    long tag = p.tag;
    notifyDelegate(
        [data = std::move(result), tag](DispatchSocketDelegate& d, DispatchSocket* sock) {
            d.socketDidReadData(sock, data, tag);
        });
    endCurrentPacket(IOSide::Read);
}

// ---- writing ----

void DispatchSocket::maybeDequeueWrite() {
    if (currentWrite_ || !(flags_ & flagConnected)) return;
    if (!writeQueue_.empty()) {
        currentWrite_ = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        if (DispatchWritePacket* p = asWrite(currentWrite_)) {
            setupTimerWithTimeout(IOSide::Write, p->timeout);
            doWriteData();
        } else {
            flags_ |= flagWriteTLSStarting;
            maybeStartTLS();
        }
    } else if (flags_ & flagCloseAfterWrites) {
        maybeClose();
    }
}

void DispatchSocket::doWriteData() {
    if (!currentWrite_ || (flags_ & flagWritesPaused)) {
        // A writable descriptor would fire without end.
        if (flags_ & flagCanAcceptBytes) suspendWriteSource();
        return;
    }
    if (!(flags_ & flagCanAcceptBytes)) {
        resumeWriteSource();
        return;
    }
    if (flags_ & flagWriteTLSStarting) {
        // Only the handshake writes now; the engine resumes the source when it must wait.
        suspendWriteSource();
        if ((flags_ & flagReadTLSStarting) && lastSSLHandshakeError_ == TLSEngine::WouldBlock) {
            sslContinueHandshake();
        }
        return;
    }
    DispatchWritePacket& p = *asWrite(currentWrite_);

    bool waiting = false;
    std::optional<Error> error;
    size_t bytesWritten = 0;
    postBatchedDelegateCalls();
    // MSG_NOSIGNAL: a peer that went away gives an error here, never a signal that ends the
    // process.
    ssize_t result = (flags_ & flagSecure) ? 0
                                           : ::send(connectedFD(), p.buffer->data() + p.bytesDone,
                                                    p.buffer->size() - p.bytesDone, MSG_NOSIGNAL);
    if (flags_ & flagSecure) {
        sslWritePacket(p, &bytesWritten, &waiting, &error);
    } else if (result < 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN) {
            waiting = true;
        } else {
            error = errnoErrorWithReason("Error in write() function");
        }
    } else {
        bytesWritten = static_cast<size_t>(result);
    }

    if (waiting) {
        flags_ &= ~flagCanAcceptBytes;
        resumeWriteSource();
    }

    bool done = false;
    if (bytesWritten > 0) {
        p.bytesDone += bytesWritten;
        done = p.bytesDone == p.buffer->size();
    }

    if (done) {
        completeCurrentWrite();
        // The next write starts on a later turn of the queue; with none queued and no close
        // waiting for the writes, that turn would do nothing, and is not worth a wake-up.
        if (!error && (!writeQueue_.empty() || (flags_ & flagCloseAfterWrites))) {
            runAsync([this] { maybeDequeueWrite(); });
        }
    } else {
        if (!waiting && !error) {
            // The descriptor took part of the data: wait until it is writable again.
            flags_ &= ~flagCanAcceptBytes;
            resumeWriteSource();
        }
        if (bytesWritten > 0) {
            long tag = p.tag;
            notifyDelegate([bytesWritten, tag](DispatchSocketDelegate& d, DispatchSocket* sock) {
                d.socketDidWritePartialDataOfLength(sock, bytesWritten, tag);
            });
        }
    }

    if (error) closeWithError(error);
}

void DispatchSocket::completeCurrentWrite() {
    long tag = asWrite(currentWrite_)->tag;
    notifyDelegate([tag](DispatchSocketDelegate& d, DispatchSocket* sock) {
        d.socketDidWriteDataWithTag(sock, tag);
    });
    endCurrentPacket(IOSide::Write);
}

// ---- time-outs (the same for reads and writes) ----

namespace {

/// What a time-out needs of the current read or write packet; `timeout` is null when there is
/// none (or when the TLS packet is current).
struct TimedPacket {
    double* timeout = nullptr;
    long tag = 0;
    size_t bytesDone = 0;
};

TimedPacket timedPacket(const std::shared_ptr<DispatchSocketPacket>& packet) {
    if (DispatchReadPacket* p = asRead(packet)) return {&p->timeout, p->tag, p->bytesDone};
    if (DispatchWritePacket* p = asWrite(packet)) return {&p->timeout, p->tag, p->bytesDone};
    return {};
}

}  // namespace

std::shared_ptr<DispatchSocketPacket>& DispatchSocket::currentPacket(IOSide side) {
    return side == IOSide::Read ? currentRead_ : currentWrite_;
}

std::shared_ptr<dispatch::TimerSource>& DispatchSocket::timerOf(IOSide side) {
    return side == IOSide::Read ? readTimer_ : writeTimer_;
}

void DispatchSocket::endCurrentPacket(IOSide side) {
    // The side's timer stays set: the next packet will most likely use it.
    ioDeadline_[static_cast<int>(side)] = kNoDeadline;
    if (side == IOSide::Read && handshakeTimer_) {
        handshakeTimer_->cancel();
        handshakeTimer_.reset();
    }
    currentPacket(side).reset();
}

void DispatchSocket::setupTimerWithTimeout(IOSide side, double timeout) {
    const int s = static_cast<int>(side);
    if (timeout < 0) {
        ioDeadline_[s] = kNoDeadline;
        return;
    }
    auto& timer = timerOf(side);
    if (!timer) {
        timer = startTimer(timeout, [side](DispatchSocket& socket) { socket.ioTimerFired(side); });
        ioDeadline_[s] = ioTimerRingsAt_[s] = timer->now() + timeout;
        return;
    }
    ioDeadline_[s] = timer->now() + timeout;
    // A timer that rings by the deadline will look at it then.
    if (ioTimerRingsAt_[s] > ioDeadline_[s]) armIOTimer(side, timeout);
}

void DispatchSocket::armIOTimer(IOSide side, double seconds) {
    auto& timer = timerOf(side);
    if (!timer) return;
    ioTimerRingsAt_[static_cast<int>(side)] = timer->now() + seconds;
    timer->setTimer(seconds);
}

void DispatchSocket::ioTimerFired(IOSide side) {
    const int s = static_cast<int>(side);
    ioTimerRingsAt_[s] = kNoDeadline;
    auto& timer = timerOf(side);
    if (!timer || !currentPacket(side) || ioDeadline_[s] == kNoDeadline) return;
    const double left = ioDeadline_[s] - timer->now();
    if (left > 1e-9) {  // not rounding noise
        armIOTimer(side, left);
        return;
    }
    if (side == IOSide::Write) {
        // Before it is judged, the write moves what the descriptor takes now: a peer that kept
        // reading while this process was kept from the CPU, or while a large send buffer drained
        // short of the level that wakes the writer, would be blamed for a stall otherwise. The
        // progress reaches the delegate before the question does.
        const std::shared_ptr<DispatchSocketPacket> packet = currentWrite_;
        writeWhatTheDescriptorTakes();
        if (currentWrite_ != packet) return;  // done, or closed by an error
    }
    doTimeout(side);
}

void DispatchSocket::writeWhatTheDescriptorTakes() {
    if (flags_ & (flagWritesPaused | flagWriteTLSStarting)) return;
    if (!asWrite(currentWrite_)) return;
    flags_ |= flagCanAcceptBytes;
    doWriteData();
}

void DispatchSocket::cancelIOTimers() {
    for (IOSide side : {IOSide::Read, IOSide::Write}) {
        if (auto& timer = timerOf(side)) {
            timer->cancel();
            timer.reset();
        }
        ioDeadline_[static_cast<int>(side)] = kNoDeadline;
        ioTimerRingsAt_[static_cast<int>(side)] = kNoDeadline;
    }
}

void DispatchSocket::doTimeout(IOSide side) {
    const bool reading = side == IOSide::Read;
    flags_ |= reading ? flagReadsPaused : flagWritesPaused;
    TimedPacket p = timedPacket(currentPacket(side));
    if (!p.timeout || !delegateQueue_ || !delegate_.live()) {
        doTimeoutWithExtension(side, 0);
        return;
    }
    long tag = p.tag;
    double elapsed = *p.timeout;
    size_t bytesDone = p.bytesDone;
    DelegateRef ref = delegate_;
    std::shared_ptr<DispatchSocket> self = shared_from_this();
    postToDelegateQueue([ref, self, side, reading, tag, elapsed, bytesDone] {
        std::optional<double> extension;
        if (auto alive = ref.token.lock()) {
            DispatchSocketDelegate& d = *ref.ptr;
            extension =
                reading ? d.socketShouldTimeoutReadWithTag(self.get(), tag, elapsed, bytesDone)
                        : d.socketShouldTimeoutWriteWithTag(self.get(), tag, elapsed, bytesDone);
        }
        double x = extension.value_or(0);
        self->runAsync([s = self.get(), side, x] { s->doTimeoutWithExtension(side, x); });
    });
}

void DispatchSocket::doTimeoutWithExtension(IOSide side, double extension) {
    const bool reading = side == IOSide::Read;
    TimedPacket p = timedPacket(currentPacket(side));
    if (!p.timeout) return;
    if (extension > 0) {
        *p.timeout += extension;
        if (auto& timer = timerOf(side)) {
            ioDeadline_[static_cast<int>(side)] = timer->now() + extension;
            armIOTimer(side, extension);
        }
        flags_ &= reading ? ~flagReadsPaused : ~flagWritesPaused;
        reading ? doReadData() : doWriteData();
    } else {
        closeWithError(reading ? readTimeoutError() : writeTimeoutError());
    }
}

}  // namespace quenbril
