#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>

#include "foundation/Value.h"

namespace quenbril {

class DispatchSocket;

/// The write side of a server's connection to one remote, with a bound on what may wait to go
/// out. A remote that stops reading must not make the server hold ever more of its frames, nor
/// stall the others: once more than the bound would be queued the write is refused and the
/// owner drops the remote.
///
/// The owner tells the writer of every finished write (`didWrite`, from the socket's
/// `socketDidWriteDataWithTag`). Any thread may write; the count is kept under a lock.
class LinkClientWriter {
  public:
    /// What one remote may have waiting: about two seconds of a 128-strip level stream and
    /// the audio stream together, many times over.
    static constexpr size_t kMaxQueuedBytes = 2 * 1024 * 1024;
    /// Kernel send buffer of a remote's connection: enough for a second of stereo stream,
    /// small enough that a remote that stops reading shows in the writer's count soon.
    static constexpr int kSendBufferBytes = 256 * 1024;

    struct Part {
        std::shared_ptr<const Bytes> bytes;
        long tag = 0;
    };

    /// Sets the connection's options for frames (no coalescing delay, the send buffer above).
    explicit LinkClientWriter(std::shared_ptr<DispatchSocket> socket,
                              size_t maxQueuedBytes = kMaxQueuedBytes);

    /// Queues `parts` in order as separate writes, all or none: false (nothing queued) when
    /// they would take the queue past the bound. Empty parts are skipped.
    bool write(std::initializer_list<Part> parts, double timeout);
    bool write(std::shared_ptr<const Bytes> bytes, double timeout, long tag) {
        return write({Part{std::move(bytes), tag}}, timeout);
    }
    /// One queued write has finished.
    void didWrite();
    size_t queuedBytes() const;

  private:
    std::shared_ptr<DispatchSocket> socket_;
    size_t maxQueuedBytes_;
    mutable std::mutex mutex_;
    std::deque<size_t> pending_;
    size_t queuedBytes_ = 0;
};

}  // namespace quenbril
