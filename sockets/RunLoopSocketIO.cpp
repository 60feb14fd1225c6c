// The queued reads and writes of RunLoopSocket, the switch to TLS and the progress queries.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/RunLoop.h"
#include "sockets/DispatchSocket.h"
#include "sockets/RunLoopSocket.h"

namespace quenbril {

using ReadPacketPtr = std::shared_ptr<ReadPacket>;
using WritePacketPtr = std::shared_ptr<RunLoopWritePacket>;
using TLSStartPacketPtr = std::shared_ptr<RunLoopTLSStartPacket>;

// ---- queueing reads ----

void RunLoopSocket::readDataWithTimeout(double timeout, long tag) {
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                        size_t offset, long tag) {
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataWithTimeout(double timeout, std::shared_ptr<Bytes> buffer,
                                        size_t offset, size_t maxLength, long tag) {
    if (offset > (buffer ? buffer->size() : 0)) return;
    queueRead(std::make_shared<ReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                           Bytes{}, tag));
}

void RunLoopSocket::readDataToLength(size_t length, double timeout, long tag) {
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void RunLoopSocket::readDataToLength(size_t length, double timeout, std::shared_ptr<Bytes> buffer,
                                     size_t offset, long tag) {
    if (length == 0 || offset > (buffer ? buffer->size() : 0)) return;
    queueRead(
        std::make_shared<ReadPacket>(std::move(buffer), offset, 0, timeout, length, Bytes{}, tag));
}

void RunLoopSocket::readDataToData(const Bytes& term, double timeout, long tag) {
    readDataToData(term, timeout, nullptr, 0, 0, tag);
}

void RunLoopSocket::readDataToData(const Bytes& term, double timeout, std::shared_ptr<Bytes> buffer,
                                   size_t offset, long tag) {
    readDataToData(term, timeout, std::move(buffer), offset, 0, tag);
}

void RunLoopSocket::readDataToData(const Bytes& term, double timeout, size_t maxLength, long tag) {
    readDataToData(term, timeout, nullptr, 0, maxLength, tag);
}

void RunLoopSocket::readDataToData(const Bytes& term, double timeout, std::shared_ptr<Bytes> buffer,
                                   size_t offset, size_t maxLength, long tag) {
    if (term.empty() || (maxLength > 0 && maxLength < term.size())) return;
    if (offset > (buffer ? buffer->size() : 0)) return;
    queueRead(
        std::make_shared<ReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, term, tag));
}

void RunLoopSocket::queueRead(std::shared_ptr<ReadPacket> packet) {
    if (flags_ & flagForbidReadsWrites) return;
    readQueue_.emplace_back(std::move(packet));
    scheduleDequeueRead();
}

void RunLoopSocket::scheduleDequeueRead() {
    if (flags_ & flagDequeueReadScheduled) return;
    flags_ |= flagDequeueReadScheduled;
    perform(&RunLoopSocket::maybeDequeueRead);
}

void RunLoopSocket::maybeDequeueRead() {
    flags_ &= ~flagDequeueReadScheduled;
    if (currentRead_ || !streams_) return;
    if (!readQueue_.empty()) {
        currentRead_ = std::move(readQueue_.front());
        readQueue_.pop_front();
        if (std::holds_alternative<TLSStartPacketPtr>(*currentRead_)) {
            flags_ |= flagStartingReadTLS;
            maybeStartTLS();
            return;
        }
        const auto& packet = std::get<ReadPacketPtr>(*currentRead_);
        if (packet->timeout >= 0) {
            readTimer_.start(*runLoop_, packet->timeout, attached(), [this] { doReadTimeout(); });
        }
        doBytesAvailable();
    } else if (flags_ & flagDisconnectAfterReads) {
        if (!(flags_ & flagDisconnectAfterWrites) || (writeQueue_.empty() && !currentWrite_)) {
            disconnect();
        }
    }
}

// ---- reading ----

ssize_t RunLoopSocket::readIntoBuffer(uint8_t* buffer, size_t length) {
    if (!partialReadBuffer_.empty()) {
        size_t n = std::min(length, partialReadBuffer_.size());
        std::memcpy(buffer, partialReadBuffer_.data(), n);
        partialReadBuffer_.erase(partialReadBuffer_.begin(), partialReadBuffer_.begin() + n);
        return static_cast<ssize_t>(n);
    }
    flags_ &= ~flagSocketHasBytesAvailable;
    return streams_->read(buffer, length);
}

void RunLoopSocket::doBytesAvailable() {
    if (!currentRead_ || !streams_) return;
    auto* current = std::get_if<ReadPacketPtr>(&*currentRead_);
    if (!current) return;
    auto self = shared_from_this();
    ReadPacketPtr packet = *current;
    ReadPacket& p = *packet;
    // A read-all pass takes what was there when it began, so a peer that keeps sending can
    // neither grow the buffer without bound nor keep the loop here.
    size_t passLimit = SIZE_MAX;
    if (p.isReadAll()) {
        size_t there = partialReadBuffer_.size() + streams_->bytesAvailableHint();
        passLimit = std::clamp<size_t>(there, 1, kMaxReadAllPass);
    }
    auto available = [&] {
        return (flags_ & flagSocketHasBytesAvailable) || !partialReadBuffer_.empty() ||
               (streams_ && streams_->hasBytesAvailable());
    };
    size_t totalBytesRead = 0;
    bool done = false, streamFailed = false, maxedOut = false;
    while (!done && !streamFailed && !maxedOut && streams_ && available()) {
        if (totalBytesRead >= passLimit) break;
        bool didPreBuffer = false, fromPreBuffer = false, found = false;
        size_t count;
        if (p.isTermRead()) {
            if (!partialReadBuffer_.empty()) {
                count = p.readLengthForTermWithPreBuffer(partialReadBuffer_.data(),
                                                         partialReadBuffer_.size(), &found);
                // Not found, all of it: the maximum-length check below ends the read.
                if (!found) count = partialReadBuffer_.size();
                fromPreBuffer = true;
            } else if (flags_ & flagEnablePreBuffering) {
                count = p.prebufferReadLengthForTerm();
                didPreBuffer = true;
            } else {
                count = p.readLengthForTerm();
            }
        } else {
            count = p.readLengthForNonTerm();
            if (p.isReadAll()) count = std::min(count, passLimit - totalBytesRead);
        }
        p.ensureRoom(count);
        ssize_t result = readIntoBuffer(p.writePointer(), count);
        if (result < 0) {
            streamFailed = true;
            break;
        }
        if (result == 0) break;  // nothing there after all, or the end (its event follows)
        // A chunk read ahead may run past the terminator.
        long overflow = didPreBuffer ? p.searchForTermAfterPreBuffering(size_t(result)) : -1;
        p.bytesDone += static_cast<size_t>(result);
        totalBytesRead += static_cast<size_t>(result);
        if (p.readLength > 0) {
            done = p.bytesDone == p.readLength;
        } else if (p.isTermRead()) {
            size_t termLength = p.term.size();
            if (didPreBuffer) {
                if (overflow > 0) {
                    auto end = p.buffer->begin() + p.startOffset + p.bytesDone;
                    partialReadBuffer_.insert(partialReadBuffer_.end(), end - overflow, end);
                    p.bytesDone -= static_cast<size_t>(overflow);
                }
                done = overflow >= 0;
            } else if (fromPreBuffer) {
                done = found;
            } else {
                done = p.bytesDone >= termLength &&
                       std::memcmp(p.writePointer() - termLength, p.term.data(), termLength) == 0;
            }
            if (!done && p.maxLength > 0 && p.bytesDone >= p.maxLength) maxedOut = true;
        } else if (p.maxLength > 0 && p.bytesDone >= p.maxLength) {
            done = true;
        }
    }
    if (p.isReadAll() && p.bytesDone > 0) done = true;
    if (done) {
        completeCurrentRead();
        if (!streamFailed) scheduleDequeueRead();
    } else if (totalBytesRead > 0 && delegate_) {
        delegate_->onSocketDidReadPartialDataOfLength(this, totalBytesRead, p.tag);
    }
    if (streamFailed) {
        closeWithError(streamError());
    } else if (maxedOut) {
        closeWithError(socketError(ReadMaxedOutError));
    }
}

void RunLoopSocket::completeCurrentRead() {
    ReadPacketPtr packet = std::get<ReadPacketPtr>(*currentRead_);
    std::span<const uint8_t> data;
    if (packet->bufferOwner) {
        packet->buffer->resize(packet->bytesDone);
        data = std::span<const uint8_t>(packet->buffer->data(), packet->bytesDone);
    } else {
        if (packet->buffer->size() > packet->originalBufferLength) {
            packet->buffer->resize(
                std::max(packet->originalBufferLength, packet->startOffset + packet->bytesDone));
        }
        data = std::span<const uint8_t>(packet->buffer->data() + packet->startOffset,
                                        packet->bytesDone);
    }
    if (delegate_) delegate_->onSocketDidReadData(this, data, packet->tag);
    if (currentRead_ && std::get_if<ReadPacketPtr>(&*currentRead_) &&
        std::get<ReadPacketPtr>(*currentRead_) == packet) {
        endCurrentRead();
    }
}

void RunLoopSocket::endCurrentRead() {
    readTimer_.invalidate();
    currentRead_.reset();
}

void RunLoopSocket::doReadTimeout() {
    if (!currentRead_ || !std::holds_alternative<ReadPacketPtr>(*currentRead_)) return;
    auto self = shared_from_this();
    ReadPacketPtr packet = std::get<ReadPacketPtr>(*currentRead_);
    std::optional<double> extension;
    if (delegate_) {
        extension = delegate_->onSocketShouldTimeoutReadWithTag(this, packet->tag, packet->timeout,
                                                                packet->bytesDone);
    }
    if (extension && *extension > 0 && currentRead_) {
        packet->timeout += *extension;
        readTimer_.start(*runLoop_, *extension, attached(), [this] { doReadTimeout(); });
    } else if (currentRead_) {
        closeWithError(socketError(ReadTimeoutError));
    }
}

// ---- writing ----

void RunLoopSocket::writeData(Bytes data, double timeout, long tag) {
    writeData(std::make_shared<const Bytes>(std::move(data)), timeout, tag);
}

void RunLoopSocket::writeData(std::shared_ptr<const Bytes> data, double timeout, long tag) {
    if (!data || data->empty() || (flags_ & flagForbidReadsWrites)) return;
    writeQueue_.emplace_back(std::make_shared<RunLoopWritePacket>(std::move(data), timeout, tag));
    scheduleDequeueWrite();
}

void RunLoopSocket::scheduleDequeueWrite() {
    if (flags_ & flagDequeueWriteScheduled) return;
    flags_ |= flagDequeueWriteScheduled;
    perform(&RunLoopSocket::maybeDequeueWrite);
}

void RunLoopSocket::maybeDequeueWrite() {
    flags_ &= ~flagDequeueWriteScheduled;
    if (currentWrite_ || !streams_) return;
    if (!writeQueue_.empty()) {
        currentWrite_ = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        if (std::holds_alternative<TLSStartPacketPtr>(*currentWrite_)) {
            flags_ |= flagStartingWriteTLS;
            maybeStartTLS();
            return;
        }
        const auto& packet = std::get<WritePacketPtr>(*currentWrite_);
        if (packet->timeout >= 0) {
            writeTimer_.start(*runLoop_, packet->timeout, attached(), [this] { doWriteTimeout(); });
        }
        doSendBytes();
    } else if (flags_ & flagDisconnectAfterWrites) {
        if (!(flags_ & flagDisconnectAfterReads) || (readQueue_.empty() && !currentRead_)) {
            disconnect();
        }
    }
}

void RunLoopSocket::doSendBytes() {
    if (!currentWrite_ || !streams_) return;
    auto* current = std::get_if<WritePacketPtr>(&*currentWrite_);
    if (!current) return;
    auto self = shared_from_this();
    WritePacketPtr packet = *current;
    const Bytes& data = *packet->buffer;
    size_t totalWritten = 0;
    bool done = false, streamFailed = false;
    while (!done && streams_ &&
           ((flags_ & flagSocketCanAcceptBytes) || streams_->canAcceptBytes())) {
        size_t count = std::min(data.size() - packet->bytesDone, kWriteChunk);
        ssize_t result = streams_->write(data.data() + packet->bytesDone, count);
        flags_ &= ~flagSocketCanAcceptBytes;
        if (result < 0) {
            streamFailed = true;
            break;
        }
        if (result == 0) break;  // no room: can-accept comes when there is
        packet->bytesDone += static_cast<size_t>(result);
        totalWritten += static_cast<size_t>(result);
        done = packet->bytesDone == data.size();
    }
    if (done) {
        completeCurrentWrite();
        scheduleDequeueWrite();
    } else if (streamFailed) {
        closeWithError(streamError());
    } else if (totalWritten > 0 && delegate_) {
        delegate_->onSocketDidWritePartialDataOfLength(this, totalWritten, packet->tag);
    }
}

void RunLoopSocket::completeCurrentWrite() {
    WritePacketPtr packet = std::get<WritePacketPtr>(*currentWrite_);
    if (delegate_) delegate_->onSocketDidWriteDataWithTag(this, packet->tag);
    if (currentWrite_ && std::get_if<WritePacketPtr>(&*currentWrite_) &&
        std::get<WritePacketPtr>(*currentWrite_) == packet) {
        endCurrentWrite();
    }
}

void RunLoopSocket::endCurrentWrite() {
    writeTimer_.invalidate();
    currentWrite_.reset();
}

void RunLoopSocket::doWriteTimeout() {
    if (!currentWrite_ || !std::holds_alternative<WritePacketPtr>(*currentWrite_)) return;
    auto self = shared_from_this();
    WritePacketPtr packet = std::get<WritePacketPtr>(*currentWrite_);
    std::optional<double> extension;
    if (delegate_) {
        extension = delegate_->onSocketShouldTimeoutWriteWithTag(this, packet->tag, packet->timeout,
                                                                 packet->bytesDone);
    }
    if (extension && *extension > 0 && currentWrite_) {
        packet->timeout += *extension;
        writeTimer_.start(*runLoop_, *extension, attached(), [this] { doWriteTimeout(); });
    } else if (currentWrite_) {
        closeWithError(socketError(WriteTimeoutError));
    }
}

// ---- TLS ----

void RunLoopSocket::startTLS(const Dictionary& settings, double timeout) {
    auto packet = std::make_shared<RunLoopTLSStartPacket>(settings, timeout);
    readQueue_.emplace_back(packet);
    writeQueue_.emplace_back(packet);
    scheduleDequeueRead();
    scheduleDequeueWrite();
}

void RunLoopSocket::maybeStartTLS() {
    if (!(flags_ & flagStartingReadTLS) || !(flags_ & flagStartingWriteTLS)) return;
    const auto& packet = std::get<TLSStartPacketPtr>(*currentRead_);
    if (!streams_ || !streams_->setSSLSettings(packet->tlsSettings)) {
        closeWithError(socketError(CFSocketError));
        return;
    }
    // The switch holds the read side, so its deadline takes the read timer; the handshake's end
    // invalidates it with the packet.
    if (packet->timeout >= 0) {
        readTimer_.start(*runLoop_, packet->timeout, attached(),
                         [this] { doTLSHandshakeTimeout(); });
    }
}

void RunLoopSocket::doTLSHandshakeTimeout() {
    if (!currentRead_ || !std::holds_alternative<TLSStartPacketPtr>(*currentRead_)) return;
    auto self = shared_from_this();
    closeWithError(
        Error::make(kErrorDomain, ReadTimeoutError, DispatchSocket::kTLSHandshakeTimedOut));
}

void RunLoopSocket::onTLSHandshakeSuccessful() {
    if (!(flags_ & flagStartingReadTLS) || !(flags_ & flagStartingWriteTLS)) return;
    flags_ &= ~(flagStartingReadTLS | flagStartingWriteTLS);
    if (delegate_) delegate_->onSocketDidSecure(this);
    endCurrentRead();
    endCurrentWrite();
    scheduleDequeueRead();
    scheduleDequeueWrite();
}

// ---- progress ----

float RunLoopSocket::progressOfReadReturningTag(long* tag, uint64_t* done, uint64_t* total) const {
    const ReadPacketPtr* packet =
        currentRead_ ? std::get_if<ReadPacketPtr>(&*currentRead_) : nullptr;
    if (tag) *tag = packet ? (*packet)->tag : 0;
    if (done) *done = packet ? (*packet)->bytesDone : 0;
    if (total) *total = packet ? (*packet)->readLength : 0;
    if (!packet) return NAN;
    if ((*packet)->readLength == 0) return 1.0f;
    return float((*packet)->bytesDone) / float((*packet)->readLength);
}

float RunLoopSocket::progressOfWriteReturningTag(long* tag, uint64_t* done, uint64_t* total) const {
    const WritePacketPtr* packet =
        currentWrite_ ? std::get_if<WritePacketPtr>(&*currentWrite_) : nullptr;
    if (tag) *tag = packet ? (*packet)->tag : 0;
    if (done) *done = packet ? (*packet)->bytesDone : 0;
    if (total) *total = packet ? (*packet)->buffer->size() : 0;
    if (!packet) return NAN;
    return float((*packet)->bytesDone) / float((*packet)->buffer->size());
}

}  // namespace quenbril
