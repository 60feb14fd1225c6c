#include "platform/serial/TerminalSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quenbril::terminalspeed {

bool setCustomSpeed(int fd, uint32_t baud) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return false;
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT);
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

std::optional<uint32_t> currentSpeed(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return std::nullopt;
    return settings.c_ospeed;
}

}  // namespace quenbril::terminalspeed
