#include "foundation/dispatch/SharedDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace quenbril::dispatch {

std::shared_ptr<SharedDescriptor> SharedDescriptor::adopt(int fd) {
    return std::make_shared<SharedDescriptor>(fd);
}

SharedDescriptor::SharedDescriptor(int fd) : fd_(fd) {}

SharedDescriptor::~SharedDescriptor() {
    // Linux releases the number even when close() fails.
    closed_.set_value(::close(fd_) == 0 ? 0 : errno);
}

int SharedDescriptor::closeWhenReleased(std::shared_ptr<SharedDescriptor> descriptor) {
    if (!descriptor) return 0;
    std::future<int> closed = descriptor->closed_.get_future();
    descriptor.reset();
    return closed.get();
}

}  // namespace quenbril::dispatch
