#pragma once

#include <memory>

namespace quenbril {

/// Reads and writes a serial line's modem-control bits (TIOCM_RTS, TIOCM_CTS...): the tty's
/// own requests by default. Tests stand in for it, since a pseudo-terminal has no modem lines.
class ModemControl {
  public:
    virtual ~ModemControl() = default;
    /// The bits of the line behind `fd`; 0, or the errno value of the failure.
    virtual int get(int fd, int& bits);
    /// Sets the bits; 0, or the errno value of the failure.
    virtual int set(int fd, int bits);

    /// The tty's own requests (TIOCMGET, TIOCMSET), shared by every port.
    static std::shared_ptr<ModemControl> tty();
};

}  // namespace quenbril
