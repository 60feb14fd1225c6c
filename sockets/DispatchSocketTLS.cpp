// DispatchSocket: the switch to TLS and the encrypted data path. The engine runs only on the
// socket queue; its transport is the connected descriptor, read ahead into `sslPreBuffer_`.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/dispatch/DescriptorSource.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"
#include "sockets/DispatchWritePacket.h"
#include "sockets/TLSEngine.h"
#include "sockets/TLSTrust.h"

namespace quenbril {

namespace {

/// The largest piece handed to the engine at once, and the usual size of an encrypted read.
constexpr size_t kSSLChunk = 32768;

const char* const kNoTrustDecider =
    "DispatchSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
    "implement socket:shouldTrustPeer:";

}  // namespace

void DispatchSocket::startTLS(Dictionary settings, double timeout) {
    auto packet = std::make_shared<DispatchSpecialPacket>(std::move(settings), timeout);
    runAsync([this, packet = std::move(packet)] {
        if (!(flags_ & flagStarted) || (flags_ & (flagNoNewIO | flagTLSQueued))) return;
        readQueue_.push_back(packet);
        writeQueue_.push_back(packet);
        flags_ |= flagTLSQueued;
        maybeDequeueRead();
        maybeDequeueWrite();
    });
}

void DispatchSocket::maybeStartTLS() {
    // Everything queued before the switch has been read and written once both sides wait at it.
    if ((flags_ & flagReadTLSStarting) && (flags_ & flagWriteTLSStarting)) sslStartTLS();
}

void DispatchSocket::sslStartTLS() {
    if (!currentRead_ || currentRead_->kind() != DispatchSocketPacket::Kind::Special) {
        closeWithError(otherError("Logic error"));
        return;
    }
    const auto& packet = static_cast<const DispatchSpecialPacket&>(*currentRead_);
    std::string failure;
    sslContext_ = TLSEngine::make(
        packet.tlsSettings,
        [this](uint8_t* buffer, size_t length, size_t* processed) {
            return sslReadWithBuffer(buffer, length, processed);
        },
        [this](const uint8_t* buffer, size_t length, size_t* processed) {
            return sslWriteWithBuffer(buffer, length, processed);
        },
        &failure);
    if (!sslContext_) {
        closeWithError(otherError(failure));
        return;
    }
    // Bytes that arrived after the clear-text reads belong to the handshake: the engine gets
    // them first.
    sslPreBuffer_ = DispatchSocketPreBuffer(4096);
    if (size_t waiting = preBuffer_.availableBytes(); waiting > 0) {
        sslPreBuffer_.ensureCapacityForWrite(waiting);
        std::memcpy(sslPreBuffer_.writeBuffer(), preBuffer_.readBuffer(), waiting);
        sslPreBuffer_.didWrite(waiting);
        preBuffer_.reset();
    }
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
    setSourcesDeliverInPlace(false);
    // The handshake has a timer of its own (the read timer serves every read with one deadline
    // at a time); the end of the switch's packet cancels it, as a close does.
    if (packet.timeout >= 0) {
        handshakeTimer_ =
            startTimer(packet.timeout, [](DispatchSocket& s) { s.sslHandshakeTimedOut(); });
    }
    sslContinueHandshake();
}

void DispatchSocket::sslHandshakeTimedOut() {
    if (!sslContext_ || (flags_ & flagSecure) || !currentRead_ ||
        currentRead_->kind() != DispatchSocketPacket::Kind::Special) {
        return;
    }
    closeWithError(Error::make(kErrorDomain, ReadTimeoutError, kTLSHandshakeTimedOut));
}

void DispatchSocket::sslContinueHandshake() {
    const int status = sslContext_->handshake();
    lastSSLHandshakeError_ = status;
    if (status == TLSEngine::TrustPending) {
        sslAskDelegateForTrust();
    } else if (status == TLSEngine::WouldBlock) {
        // The transport resumed the source the engine waits for.
    } else if (status != TLSEngine::Success) {
        closeWithError(sslError(status));
    } else {
        flags_ &= ~(flagReadTLSStarting | flagWriteTLSStarting);
        flags_ |= flagSecure;
        setSourcesDeliverInPlace(true);
        notifyDelegate(
            [](DispatchSocketDelegate& d, DispatchSocket* sock) { d.socketDidSecure(sock); });
        endCurrentPacket(IOSide::Read);
        endCurrentPacket(IOSide::Write);
        maybeDequeueRead();
        maybeDequeueWrite();
    }
}

void DispatchSocket::sslAskDelegateForTrust() {
    std::shared_ptr<TLSTrust> trust = sslContext_->copyPeerTrust();
    if (!trust) {
        closeWithError(sslError(TLSEngine::TrustPending));
        return;
    }
    if (!delegateQueue_ || !delegate_.live()) {
        closeWithError(otherError(kNoTrustDecider));
        return;
    }
    // The answer may come from any thread, late or twice: it goes through the socket queue, and
    // only an answer carrying the current state index counts.
    const int aStateIndex = stateIndex_;
    std::weak_ptr<DispatchSocket> weak = weak_from_this();
    QueuePtr socketQueue = socketQueue_;
    std::function<void(bool)> completion = [weak, socketQueue, aStateIndex](bool shouldTrust) {
        socketQueue->async([weak, shouldTrust, aStateIndex] {
            if (auto self = weak.lock()) self->sslShouldTrustPeer(shouldTrust, aStateIndex);
        });
    };
    DelegateRef ref = delegate_;
    std::shared_ptr<DispatchSocket> self = shared_from_this();
    postToDelegateQueue([ref, self, trust, completion, aStateIndex] {
        bool deciding = false;
        if (auto alive = ref.token.lock()) {
            deciding = ref.ptr->socketDidReceiveTrust(self.get(), trust, completion);
        }
        if (!deciding) {
            self->runAsync(
                [s = self.get(), aStateIndex] { s->sslCloseUnansweredTrust(aStateIndex); });
        }
    });
}

void DispatchSocket::sslCloseUnansweredTrust(int aStateIndex) {
    if (aStateIndex != stateIndex_ || !sslContext_) return;
    closeWithError(otherError(kNoTrustDecider));
}

void DispatchSocket::sslShouldTrustPeer(bool shouldTrust, int aStateIndex) {
    if (aStateIndex != stateIndex_ || !sslContext_) return;
    ++stateIndex_;
    if (shouldTrust) {
        sslContext_->trustPeer();
        sslContinueHandshake();
    } else {
        closeWithError(sslError(TLSEngine::PeerBadCertificate));
    }
}

// ---- the engine's transport ----

int DispatchSocket::sslReadWithBuffer(uint8_t* buffer, size_t length, size_t* processed) {
    *processed = 0;
    if (socketFDBytesAvailable_ == 0 && sslPreBuffer_.availableBytes() == 0) {
        resumeReadSource();
        return TLSEngine::WouldBlock;
    }
    size_t total = std::min(length, sslPreBuffer_.availableBytes());
    if (total > 0) {
        std::memcpy(buffer, sslPreBuffer_.readBuffer(), total);
        sslPreBuffer_.didRead(total);
    }
    if (total == length) {
        *processed = total;
        return TLSEngine::Success;
    }
    int status = TLSEngine::WouldBlock;
    if (socketFDBytesAvailable_ > 0) {
        const size_t wanted = length - total;
        const size_t available = static_cast<size_t>(socketFDBytesAvailable_);
        const bool readAhead = available > wanted;
        uint8_t* target;
        size_t toRead;
        if (readAhead) {
            sslPreBuffer_.ensureCapacityForWrite(available);
            target = sslPreBuffer_.writeBuffer();
            toRead = available;
        } else {
            target = buffer + total;
            toRead = wanted;
        }
        ssize_t result = ::read(connectedFD(), target, toRead);
        if (result < 0) {
            socketFDBytesAvailable_ = 0;
            status = (errno == EWOULDBLOCK || errno == EAGAIN) ? TLSEngine::WouldBlock
                                                               : TLSEngine::ClosedAbort;
        } else if (result == 0) {
            socketFDBytesAvailable_ = 0;
            status = TLSEngine::ClosedAbort;
        } else {
            const auto count = static_cast<size_t>(result);
            socketFDBytesAvailable_ -= std::min<uint64_t>(count, socketFDBytesAvailable_);
            if (readAhead) {
                sslPreBuffer_.didWrite(count);
                const size_t taken = std::min(count, wanted);
                std::memcpy(buffer + total, sslPreBuffer_.readBuffer(), taken);
                sslPreBuffer_.didRead(taken);
                total += taken;
            } else {
                total += count;
            }
            status = total == length ? TLSEngine::Success : TLSEngine::WouldBlock;
        }
    }
    // The engine waits for more: make sure the descriptor's next bytes are heard of.
    if (status == TLSEngine::WouldBlock && socketFDBytesAvailable_ == 0) resumeReadSource();
    *processed = total;
    return status;
}

int DispatchSocket::sslWriteWithBuffer(const uint8_t* buffer, size_t length, size_t* processed) {
    *processed = 0;
    if (!(flags_ & flagCanAcceptBytes)) {
        resumeWriteSource();
        return TLSEngine::WouldBlock;
    }
    postBatchedDelegateCalls();  // before the peer can answer
    ssize_t result = ::send(connectedFD(), buffer, length, MSG_NOSIGNAL);
    if (result <= 0) {
        const bool wouldBlock = result == 0 || errno == EWOULDBLOCK || errno == EAGAIN;
        flags_ &= ~flagCanAcceptBytes;
        if (!wouldBlock) return TLSEngine::ClosedAbort;
        // Heard of again when the descriptor takes bytes.
        resumeWriteSource();
        return TLSEngine::WouldBlock;
    }
    *processed = static_cast<size_t>(result);
    return *processed == length ? TLSEngine::Success : TLSEngine::WouldBlock;
}

// ---- the encrypted data path ----

uint64_t DispatchSocket::estimatedBytesAvailable() const {
    uint64_t estimate = socketFDBytesAvailable_;
    if ((flags_ & flagSecure) && sslContext_) {
        estimate += sslPreBuffer_.availableBytes() + sslContext_->bufferedReadBytes();
    }
    return estimate;
}

void DispatchSocket::flushSSLBuffers() {
    if (!sslContext_ || !(flags_ & flagSecure) || preBuffer_.availableBytes() > 0) return;
    for (uint64_t estimate = estimatedBytesAvailable(); estimate > 0;
         estimate = estimatedBytesAvailable()) {
        const auto length = static_cast<size_t>(estimate);
        preBuffer_.ensureCapacityForWrite(length);
        size_t decrypted = 0;
        int status = sslContext_->read(preBuffer_.writeBuffer(), length, &decrypted);
        preBuffer_.didWrite(decrypted);
        if (status != TLSEngine::Success) break;
    }
}

int DispatchSocket::sslReadInto(uint8_t* target, size_t length, size_t* bytesRead) {
    size_t total = 0;
    int status = TLSEngine::Success;
    // The engine may succeed with fewer bytes than asked: ask again until the length is met.
    while (total < length) {
        size_t count = 0;
        status = sslContext_->read(target + total, length - total, &count);
        total += count;
        if (status != TLSEngine::Success) break;
    }
    *bytesRead = total;
    return status;
}

void DispatchSocket::sslWritePacket(DispatchWritePacket& p, size_t* bytesWritten, bool* waiting,
                                    std::optional<Error>* error) {
    const size_t size = p.buffer->size();
    bool hasNewDataToWrite = true;
    if (sslWriteCachedLength_ > 0) {
        // The engine holds an interrupted record: send it again from the same bytes first.
        size_t processed = 0;
        int status =
            sslContext_->write(p.buffer->data() + p.bytesDone, sslWriteCachedLength_, &processed);
        if (status == TLSEngine::Success) {
            *bytesWritten = sslWriteCachedLength_;
            sslWriteCachedLength_ = 0;
            hasNewDataToWrite = p.bytesDone + *bytesWritten < size;
        } else {
            hasNewDataToWrite = false;
            if (status == TLSEngine::WouldBlock) {
                *waiting = true;
            } else {
                *error = sslError(status);
            }
        }
    }
    if (!hasNewDataToWrite) return;
    size_t offset = p.bytesDone + *bytesWritten;
    while (offset < size) {
        const size_t chunk = std::min(size - offset, kSSLChunk);
        size_t processed = 0;
        int status = sslContext_->write(p.buffer->data() + offset, chunk, &processed);
        if (status == TLSEngine::Success) {
            *bytesWritten += processed;
            offset += processed;
        } else {
            if (status == TLSEngine::WouldBlock) {
                *waiting = true;
                sslWriteCachedLength_ = chunk;
            } else {
                *error = sslError(status);
            }
            break;
        }
    }
}

void DispatchSocket::sslClose() {
    if (!sslContext_) return;
    if (flags_ & flagSecure) {
        // close_notify goes out if the descriptor takes it now; nobody waits for the peer's.
        flags_ |= flagCanAcceptBytes;
        sslContext_->close();
    }
    sslContext_.reset();
    sslPreBuffer_ = DispatchSocketPreBuffer(0);
    sslWriteCachedLength_ = 0;
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
}

}  // namespace quenbril
