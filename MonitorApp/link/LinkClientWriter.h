#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

class DispatchSocket;

/// The write side of a server's connection to one remote, with a bound on what may wait to go
/// out. A remote that stops reading must not make the server hold ever more of its frames, nor
/// stall the others: once more than the bound would be queued the write is refused and the
/// owner drops the remote.
///
/// Frames wait here and go to the socket a few at a time (about kHandedBytes), so that a
/// message that repeats a whole state (the notebook, the chat history, a list the server sends
/// again on every change) can still be replaced while it waits: a newer copy of the same state
/// takes the place of the older one, and a remote that reads more slowly than the state changes
/// gets fewer copies instead of a queue that fills. At most one copy of a state waits; one more
/// may be on its way in the socket.
///
/// The owner tells the writer of every finished write (`didWrite`, from the socket's
/// `socketDidWriteDataWithTag`). Any thread may write; the queue is kept under a lock.
class LinkClientWriter {
  public:
    /// What one remote may have waiting: about two seconds of a 128-strip level stream and
    /// the audio stream together, many times over.
    static constexpr size_t kMaxQueuedBytes = 2 * 1024 * 1024;
    /// Kernel send buffer of a remote's connection: enough for a second of stereo stream,
    /// small enough that a remote that stops reading shows in the writer's count soon.
    static constexpr int kSendBufferBytes = 256 * 1024;
    /// Bytes handed to the socket ahead of its writes: more frames are handed once fewer than
    /// this are on their way (at least one message always is).
    static constexpr size_t kHandedBytes = 64 * 1024;

    struct Part {
        std::shared_ptr<const Bytes> bytes;
        long tag = 0;
    };

    /// Sets the connection's options for frames (no coalescing delay, the send buffer above).
    explicit LinkClientWriter(std::shared_ptr<DispatchSocket> socket,
                              size_t maxQueuedBytes = kMaxQueuedBytes);

    /// Queues `parts` in order as separate writes of one message, all or none: false (nothing
    /// queued) when they would take the queue past the bound. Empty parts are skipped. A
    /// non-empty `state` names the whole state the message repeats: a waiting message of the
    /// same state is replaced by this one, in its place.
    bool write(std::initializer_list<Part> parts, double timeout, std::string_view state = {});
    bool write(std::shared_ptr<const Bytes> bytes, double timeout, long tag,
               std::string_view state = {}) {
        return write({Part{std::move(bytes), tag}}, timeout, state);
    }
    /// One handed write has finished.
    void didWrite();
    /// Bytes not yet written: waiting here and handed to the socket.
    size_t queuedBytes() const;
    /// Messages waiting here, not yet handed to the socket.
    size_t waitingMessages() const;

  private:
    struct Message {
        std::vector<Part> parts;
        double timeout = -1;
        std::string state;
        size_t bytes = 0;
    };

    /// Hands waiting messages to the socket while fewer than kHandedBytes are on their way.
    /// Lock held.
    void handOff();

    std::shared_ptr<DispatchSocket> socket_;
    size_t maxQueuedBytes_;
    mutable std::mutex mutex_;
    std::deque<Message> waiting_;
    /// Sizes of the writes handed to the socket, in order.
    std::deque<size_t> handed_;
    size_t handedBytes_ = 0;
    size_t queuedBytes_ = 0;
};

}  // namespace quenbril
