#include "platform/serial/ModemControl.h"

#include <sys/ioctl.h>

#include <cerrno>

namespace quenbril {

int ModemControl::get(int fd, int& bits) { return ioctl(fd, TIOCMGET, &bits) == 0 ? 0 : errno; }

int ModemControl::set(int fd, int bits) { return ioctl(fd, TIOCMSET, &bits) == 0 ? 0 : errno; }

std::shared_ptr<ModemControl> ModemControl::tty() {
    static const auto shared = std::make_shared<ModemControl>();
    return shared;
}

}  // namespace quenbril
