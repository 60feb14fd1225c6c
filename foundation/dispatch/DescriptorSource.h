#pragma once

#include "foundation/dispatch/Source.h"

namespace quenbril::dispatch {

/// A read or write source on a descriptor, watched by the one epoll thread of the process; its
/// handler runs on its queue.
///
/// Events are one-shot: after the handler has run, the source is re-armed, so a descriptor that
/// stays readable fires again (once per handler run) until it is read, or the source suspended.
///
/// data() in the handler:
/// - read source: the bytes readable (FIONREAD) at the time the handler runs; 0 means end of
///   stream on a stream socket, pipe or terminal. A listening socket reports 1 (FIONREAD does not
///   apply to it). A datagram socket reports at least 1, so an empty datagram is not taken for an
///   end of stream. A socket with a pending error reports 1 (the read meets the error). When the
///   bytes that raised the event were read before the handler ran, the event is dropped (the
///   handler is not called with a false 0) and the source re-armed.
/// - write source: 1 (writable).
///
/// One read and one write source per descriptor. The source never closes the descriptor: close it
/// in the cancel handler (after every source on it has been cancelled).
class DescriptorSource : public Source {
  public:
    enum class Type { Read, Write };

    static std::shared_ptr<DescriptorSource> makeRead(int fd, QueuePtr queue);
    static std::shared_ptr<DescriptorSource> makeWrite(int fd, QueuePtr queue);

    ~DescriptorSource() override;

    int handle() const { return fd_; }
    Type type() const { return type_; }

    DescriptorSource(int fd, Type type, QueuePtr queue);  // use makeRead / makeWrite

  private:
    std::optional<uint64_t> measure(uint64_t pending) override;
    void arm() override;
    void disarm() override;
    const int fd_;
    const Type type_;
    bool datagram_ = false;
    std::mutex registrationMutex_;
    uint64_t registration_ = 0;
    bool disarmed_ = false;
};

}  // namespace quenbril::dispatch
