#include "MonitorApp/serverrole/peer/PeerOutputStream.h"

#include "foundation/Log.h"
#include "foundation/dispatch/Queue.h"
#include "sockets/DispatchSocket.h"

namespace quenbril {

namespace {

constexpr double kConnectTimeout = 5.0;

}  // namespace

PeerOutputStream::PeerOutputStream(std::string name, std::string host, uint16_t port, Bytes opening)
    : name_(std::move(name)), host_(std::move(host)), port_(port), opening_(std::move(opening)) {}

PeerOutputStream::~PeerOutputStream() {
    if (socket_) socket_->disconnect();
}

void PeerOutputStream::open() {
    if (socket_ || closed_) return;
    socket_ = DispatchSocket::make(this, dispatch::Queue::main());
    Error error;
    if (!socket_->connectToHost(host_, port_, kConnectTimeout, &error)) {
        QLOG("Stream %s could not connect: %s", name_.c_str(), error.description.c_str());
        socket_.reset();
        closed_ = true;
        // Events never come from inside a call.
        dispatch::Queue::main()->async([token = std::weak_ptr<int>(alive_), this] {
            if (token.lock()) event(kErrorOccurred);
        });
    }
}

long PeerOutputStream::write(const uint8_t* bytes, size_t length) {
    if (!isOpen()) return -1;
    if (queued_ >= kMaxQueued) {
        full_ = true;
        return 0;
    }
    const size_t taken = std::min(length, kMaxQueued - queued_);
    if (taken == 0) return 0;
    queued_ += taken;
    // A write's tag is its length, so that a finished write tells how much has left the queue.
    socket_->writeData(Bytes(bytes, bytes + taken), -1, static_cast<long>(taken));
    return static_cast<long>(taken);
}

void PeerOutputStream::close() {
    delegate_ = nullptr;
    closed_ = true;
    if (socket_) socket_->disconnectAfterWriting();
}

void PeerOutputStream::socketDidConnectToHost(DispatchSocket*, const std::string&, uint16_t) {
    if (closed_) return;
    connected_ = true;
    socket_->writeData(opening_, -1, 0);
    event(kOpenCompleted);
    event(kHasSpaceAvailable);
}

void PeerOutputStream::socketDidWriteDataWithTag(DispatchSocket*, long tag) {
    queued_ -= std::min(queued_, static_cast<size_t>(tag));
    if (full_ && queued_ < kMaxQueued / 2) {
        full_ = false;
        event(kHasSpaceAvailable);
    }
}

void PeerOutputStream::socketDidDisconnect(DispatchSocket*, const std::optional<Error>& error) {
    const bool wasOpen = isOpen() || (!connected_ && !closed_);
    connected_ = false;
    queued_ = 0;
    if (!wasOpen) return;
    closed_ = true;
    event(error ? kErrorOccurred : kEndEncountered);
}

void PeerOutputStream::event(int code) {
    if (delegate_) delegate_->streamHandleEvent(this, code);
}

}  // namespace quenbril
