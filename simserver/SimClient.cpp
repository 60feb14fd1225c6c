#include "simserver/SimClient.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "foundation/Log.h"

namespace quenbril {

namespace {
constexpr long kReadTag = 1;
// Kernel send buffer of a remote's connection: enough for a second of stereo stream, small
// enough that a remote that stops reading shows up in our own queue soon.
constexpr int kSendBufferBytes = 256 * 1024;
}  // namespace

SimClient::SimClient(uint64_t id, std::shared_ptr<DispatchSocket> socket, Owner* owner,
                     std::function<double()> clock, double frameTimeout)
    : id_(id),
      socket_(std::move(socket)),
      owner_(owner),
      clock_(std::move(clock)),
      frameTimeout_(frameTimeout) {
    host_ = socket_->connectedHost().value_or("?");
    address_ = host_ + ":" + std::to_string(socket_->connectedPort());
    socket_->synchronouslySetDelegate(this);
    socket_->performBlock([this] {
        int fd = socket_->socketFD();
        if (fd < 0) return;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        int size = kSendBufferBytes;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
}

SimClient::~SimClient() {
    if (socket_) {
        socket_->synchronouslySetDelegate(nullptr);
        socket_->disconnect();
    }
}

void SimClient::start() { socket_->readDataWithTimeout(-1, kReadTag); }

bool SimClient::send(const std::shared_ptr<const Bytes>& frame) {
    if (!open_ || frame->empty()) return open_;
    if (queuedBytes_ + frame->size() > kMaxQueuedBytes) return false;
    queuedBytes_ += frame->size();
    pendingWrites_.push_back(frame->size());
    socket_->writeData(frame, kWriteTimeout, 0);
    return true;
}

void SimClient::close() {
    if (!open_) return;
    open_ = false;
    socket_->disconnect();
}

bool SimClient::readStalled(double now) const {
    return frameBegun_ && now - *frameBegun_ > frameTimeout_;
}

void SimClient::socketDidReadData(DispatchSocket*, const Bytes& data, long) {
    if (!open_) return;
    reader_.feed(data.data(), data.size());
    // A complete header with no body byte yet is a frame in progress too.
    if (!reader_.inFrame()) {
        frameBegun_.reset();
    } else if (!frameBegun_ || reader_.hasFrame()) {
        // The frame in progress began within these bytes.
        frameBegun_ = clock_();
    }
    if (reader_.hasFrame() || reader_.failed()) owner_->clientHasFrames(*this);
    if (open_ && !reader_.failed()) socket_->readDataWithTimeout(-1, kReadTag);
}

void SimClient::socketDidWriteDataWithTag(DispatchSocket*, long) {
    if (pendingWrites_.empty()) return;
    queuedBytes_ -= pendingWrites_.front();
    pendingWrites_.pop_front();
}

void SimClient::socketDidDisconnect(DispatchSocket*, const std::optional<Error>& error) {
    open_ = false;
    owner_->clientDisconnected(*this, error);
}

}  // namespace quenbril
