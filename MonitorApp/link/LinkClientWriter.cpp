#include "MonitorApp/link/LinkClientWriter.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

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

bool LinkClientWriter::write(std::initializer_list<Part> parts, double timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t total = 0;
    for (const Part& p : parts) total += p.bytes ? p.bytes->size() : 0;
    if (queuedBytes_ + total > maxQueuedBytes_) return false;
    for (const Part& p : parts) {
        if (!p.bytes || p.bytes->empty()) continue;
        queuedBytes_ += p.bytes->size();
        pending_.push_back(p.bytes->size());
        socket_->writeData(p.bytes, timeout, p.tag);
    }
    return true;
}

void LinkClientWriter::didWrite() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.empty()) return;
    queuedBytes_ -= pending_.front();
    pending_.pop_front();
}

size_t LinkClientWriter::queuedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queuedBytes_;
}

}  // namespace quenbril
