#include "foundation/dispatch/DescriptorSource.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "foundation/RunLoop.h"
#include "foundation/dispatch/Reactor.h"

namespace quenbril::dispatch {

namespace {

std::shared_ptr<DescriptorSource> make(int fd, std::shared_ptr<SharedDescriptor> descriptor,
                                       DescriptorSource::Type type, QueuePtr queue) {
    return std::make_shared<DescriptorSource>(fd, std::move(descriptor), type, std::move(queue));
}

}  // namespace

std::shared_ptr<DescriptorSource> DescriptorSource::makeRead(
    std::shared_ptr<SharedDescriptor> descriptor, QueuePtr queue) {
    int fd = descriptor->fd();
    return make(fd, std::move(descriptor), Type::Read, std::move(queue));
}

std::shared_ptr<DescriptorSource> DescriptorSource::makeWrite(
    std::shared_ptr<SharedDescriptor> descriptor, QueuePtr queue) {
    int fd = descriptor->fd();
    return make(fd, std::move(descriptor), Type::Write, std::move(queue));
}

std::shared_ptr<DescriptorSource> DescriptorSource::makeRead(int fd, QueuePtr queue) {
    return make(fd, nullptr, Type::Read, std::move(queue));
}

std::shared_ptr<DescriptorSource> DescriptorSource::makeWrite(int fd, QueuePtr queue) {
    return make(fd, nullptr, Type::Write, std::move(queue));
}

DescriptorSource::DescriptorSource(int fd, std::shared_ptr<SharedDescriptor> descriptor, Type type,
                                   QueuePtr queue)
    : Source(std::move(queue)),
      fd_(fd),
      descriptor_(std::move(descriptor)),
      type_(type),
      watchedByMainLoop_(this->queue() && this->queue()->kind() == Queue::Kind::Main) {
    int socketType = 0;
    socklen_t length = sizeof socketType;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &socketType, &length) == 0) {
        datagram_ = socketType == SOCK_DGRAM || socketType == SOCK_SEQPACKET;
    }
}

DescriptorSource::~DescriptorSource() {
    std::lock_guard lock(registrationMutex_);
    if (registration_) Reactor::shared().removeDescriptor(registration_);
}

void DescriptorSource::arm() {
    if (watchedByMainLoop_) {
        armWatch();
        return;
    }
    std::lock_guard lock(registrationMutex_);
    if (disarmed_) return;
    if (registration_ == 0) {
        // Registered on first arming: the callback needs a weak reference to this source.
        std::weak_ptr<Source> weak = weak_from_this();
        registration_ = Reactor::shared().addDescriptor(fd_, type_ == Type::Write, [weak, this] {
            if (auto self = weak.lock()) signal(1);
        });
    }
    Reactor::shared().arm(registration_);
}

void DescriptorSource::disarm() {
    DescriptorWatch watch;  // cancelled once the lock is let go, before this returns
    std::lock_guard lock(registrationMutex_);
    disarmed_ = true;
    wantsEvent_ = false;
    watch = std::move(watch_);
    if (registration_) Reactor::shared().removeDescriptor(registration_);
    registration_ = 0;
}

void DescriptorSource::cancelFinished() {
    // Outside the lock: the last share closes the descriptor. disarm() has run by now.
    std::shared_ptr<SharedDescriptor> released;
    std::lock_guard lock(registrationMutex_);
    released = std::move(descriptor_);
}

void DescriptorSource::armWatch() {
    {
        std::lock_guard lock(registrationMutex_);
        if (disarmed_) return;
        wantsEvent_ = true;
        if (watch_.isActive()) return;
        if (RunLoop::main().isCurrentThread()) {
            startWatch();
            return;
        }
        if (startPosted_) return;
        startPosted_ = true;
    }
    // A loop makes its watches on its own thread.
    RunLoop::postToMain([weak = weak_from_this(), this] {
        if (auto self = weak.lock()) {
            std::lock_guard lock(registrationMutex_);
            startPosted_ = false;
            if (!disarmed_ && wantsEvent_ && !watch_.isActive()) startWatch();
        }
    });
}

void DescriptorSource::startWatch() {
    std::weak_ptr<Source> weak = weak_from_this();
    auto condition =
        type_ == Type::Write ? RunLoop::Condition::Writable : RunLoop::Condition::Readable;
    watch_ = RunLoop::main().watchDescriptor(fd_, condition, [weak, this] {
        if (auto self = weak.lock()) watchFired();
    });
}

void DescriptorSource::watchFired() {
    DescriptorWatch idle;  // cancelled once the lock is let go
    {
        std::lock_guard lock(registrationMutex_);
        if (disarmed_ || !wantsEvent_) {
            // A readiness seen after a cancel, or while the event waits: the watch would only
            // fire again at once.
            idle = std::move(watch_);
            return;
        }
        wantsEvent_ = false;
    }
    // On the main thread, outside any block: the handler runs here (unless suspended or busy),
    // and re-arms when it is done.
    signal(1, true);
    std::lock_guard lock(registrationMutex_);
    if (!wantsEvent_) idle = std::move(watch_);
}

std::optional<uint64_t> DescriptorSource::measure(uint64_t) {
    if (type_ == Type::Write) return 1;
    int available = 0;
    // Not applicable (a listening socket, some special files): readable, amount unknown.
    if (ioctl(fd_, FIONREAD, &available) < 0) return 1;
    if (available > 0) return uint64_t(available);
    // Nothing queued: end of stream, an empty datagram, a pending error, or the bytes were read
    // since the event (then it is spurious, and reporting 0 would fake an end of stream).
    char byte;
    ssize_t n = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return datagram_ ? 1 : 0;
    if (n > 0) {
        if (ioctl(fd_, FIONREAD, &available) < 0) return 1;
        return uint64_t(std::max(available, 1));
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    if (errno != ENOTSOCK) return 1;  // the reader meets the error
    // Not a socket (a pipe, a terminal): readable with nothing queued means the writer is gone.
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return std::nullopt;
    if (ioctl(fd_, FIONREAD, &available) == 0 && available > 0) return uint64_t(available);
    return 0;
}

}  // namespace quenbril::dispatch
