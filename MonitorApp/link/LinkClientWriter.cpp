#include "MonitorApp/link/LinkClientWriter.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

#include "sockets/DispatchSocket.h"

namespace quenbril {

LinkClientWriter::LinkClientWriter(std::shared_ptr<DispatchSocket> socket, size_t maxQueuedBytes)
    : socket_(std::move(socket)), maxQueuedBytes_(maxQueuedBytes) {
    socket_->performBlock([this] {
        int fd = socket_->socketFD();
        if (fd < 0) return;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        int size = kSendBufferBytes;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
}

bool LinkClientWriter::write(std::initializer_list<Part> parts, double timeout,
                             std::string_view state) {
    Message message;
    message.timeout = timeout;
    message.state = state;
    for (const Part& p : parts) {
        if (!p.bytes || p.bytes->empty()) continue;
        message.bytes += p.bytes->size();
        message.parts.push_back(p);
    }
    if (message.parts.empty()) return true;

    std::lock_guard<std::mutex> lock(mutex_);
    auto older = waiting_.end();
    if (!state.empty()) {
        older = std::find_if(waiting_.begin(), waiting_.end(),
                             [&](const Message& m) { return m.state == state; });
    }
    const size_t replaced = older != waiting_.end() ? older->bytes : 0;
    if (queuedBytes_ - replaced + message.bytes > maxQueuedBytes_) return false;
    queuedBytes_ = queuedBytes_ - replaced + message.bytes;
    if (older != waiting_.end()) {
        *older = std::move(message);
    } else {
        waiting_.push_back(std::move(message));
    }
    handOff();
    return true;
}

void LinkClientWriter::handOff() {
    while (!waiting_.empty() && (handed_.empty() || handedBytes_ < kHandedBytes)) {
        Message message = std::move(waiting_.front());
        waiting_.pop_front();
        for (const Part& p : message.parts) {
            handed_.push_back(p.bytes->size());
            handedBytes_ += p.bytes->size();
            socket_->writeData(p.bytes, message.timeout, p.tag);
        }
    }
}

void LinkClientWriter::didWrite() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handed_.empty()) return;
    handedBytes_ -= handed_.front();
    queuedBytes_ -= handed_.front();
    handed_.pop_front();
    handOff();
}

size_t LinkClientWriter::queuedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queuedBytes_;
}

size_t LinkClientWriter::waitingMessages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.size();
}

}  // namespace quenbril
