#pragma once

#include <future>
#include <memory>

namespace quenbril::dispatch {

/// A descriptor shared by its owner and the descriptor sources made on it, closed when the
/// last of them lets it go: a source lets go once its cancel has finished (its handlers are
/// done, and neither the epoll thread nor the main loop watches the descriptor any more), or
/// when it is dropped. A number closed earlier may go to the next open anywhere in the process
/// while a source still uses it, and a late removal from the epoll set would then change the
/// new file's registration.
class SharedDescriptor {
  public:
    /// Takes `fd` over.
    static std::shared_ptr<SharedDescriptor> adopt(int fd);
    ~SharedDescriptor();

    int fd() const { return fd_; }

    /// Lets go of the owner's share and waits until the descriptor is closed: at once when no
    /// source holds it, else as soon as the last one has let it go. Answers the errno value of
    /// the close, 0 when it succeeded. The owner cancels its sources first, and never calls
    /// this in the handler of a source on the descriptor (that source's cancel would wait for
    /// the handler to end). Once per descriptor.
    static int closeWhenReleased(std::shared_ptr<SharedDescriptor> descriptor);

    explicit SharedDescriptor(int fd);  // use adopt

  private:
    const int fd_;
    std::promise<int> closed_;
};

}  // namespace quenbril::dispatch
