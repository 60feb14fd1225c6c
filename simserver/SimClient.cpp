#include "simserver/SimClient.h"

#include <poll.h>
#include <sys/ioctl.h>

#include "foundation/Log.h"

namespace quenbril {

namespace {
constexpr long kReadTag = 1;
}  // namespace

bool SimClient::peerHasClosed(DispatchSocket& socket) {
    if (socket.isDisconnected()) return true;
    int fd = socket.socketFD();
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (fd < 0 || ::poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLERR | POLLHUP)) return true;
    // The end of the stream with nothing before it: the peer closed, or only shut down its
    // sending side and reads on. That counts only where the socket ends a connection at the
    // end of its stream anyway (its default).
    if (!socket.autoDisconnectOnClosedReadStream() || !(p.revents & POLLRDHUP)) return false;
    int unread = 0;
    return ::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0;
}

SimClient::SimClient(uint64_t id, std::shared_ptr<DispatchSocket> socket, Owner* owner,
                     std::function<double()> clock, double frameTimeout)
    : id_(id),
      socket_(std::move(socket)),
      owner_(owner),
      clock_(std::move(clock)),
      frameTimeout_(frameTimeout),
      writer_(socket_) {
    // The peer may have closed before this object took the socket over: the close was then
    // told to the listener's delegate, never to this object. Looking and taking over are one
    // step on the socket's queue, so either the peer has closed by now or this object hears of
    // its close.
    uint16_t port = 0;
    socket_->performBlock([&] {
        open_ = !peerHasClosed(*socket_);
        // A connection closed already is not taken over: nothing it does reaches this object.
        if (!open_) return;
        socket_->synchronouslySetDelegate(this);
        host_ = socket_->connectedHost().value_or("?");
        port = socket_->connectedPort();
    });
    address_ = host_ + ":" + std::to_string(port);
}

SimClient::~SimClient() {
    if (socket_) {
        socket_->synchronouslySetDelegate(nullptr);
        socket_->disconnect();
    }
}

void SimClient::readMore() {
    if (!open_ || reading_ || reader_.failed()) return;
    // While this remote's frames waited to be handled its bytes were not read: that time is
    // not the remote's.
    if (reader_.inFrame()) frameBytesAt_ = clock_();
    reading_ = true;
    socket_->readDataWithTimeout(-1, nullptr, 0, kMaxReadBytes, kReadTag);
}

bool SimClient::send(const std::shared_ptr<const Bytes>& frame, std::string_view state) {
    if (!open_ || frame->empty()) return open_;
    return writer_.write(frame, kWriteTimeout, 0, state);
}

void SimClient::close() {
    if (!open_) return;
    open_ = false;
    socket_->disconnect();
}

bool SimClient::readStalled(double now) const {
    return reading_ && frameBytesAt_ && now - *frameBytesAt_ > frameTimeout_;
}

void SimClient::socketDidReadData(DispatchSocket*, const Bytes& data, long) {
    reading_ = false;
    if (!open_) return;
    reader_.feed(data.data(), data.size());
    // The deadline counts from the frame's last bytes: one that keeps arriving over a slow
    // link is read to its end. A complete header with no body byte yet is a frame in progress.
    if (reader_.inFrame()) {
        frameBytesAt_ = clock_();
    } else {
        frameBytesAt_.reset();
    }
    if (reader_.hasFrame() || reader_.failed()) {
        owner_->clientHasFrames(*this);
    } else {
        readMore();
    }
}

void SimClient::socketDidWriteDataWithTag(DispatchSocket*, long) { writer_.didWrite(); }

void SimClient::socketDidWritePartialDataOfLength(DispatchSocket*, size_t, long) {
    writeProgress_.progressed();
}

std::optional<double> SimClient::socketShouldTimeoutWriteWithTag(DispatchSocket*, long, double,
                                                                 size_t) {
    // A remote behind a slow link takes a large frame as fast as it can: the write goes on
    // while its bytes move. One that stops reading is cut off, and its queue's bound drops it.
    return writeProgress_.extension();
}

void SimClient::socketDidDisconnect(DispatchSocket*, const std::optional<Error>& error) {
    open_ = false;
    owner_->clientDisconnected(*this, error);
}

}  // namespace quenbril
