#pragma once

#include <cstdint>
#include <optional>

namespace quenbril {

/// Line speeds through the kernel's termios2 interface, which takes any speed (BOTHER). Kept
/// apart because the kernel's termios header cannot be included beside <termios.h>.
namespace terminalspeed {

/// Sets input and output speed of `fd` to `baud`; false with errno set on failure.
bool setCustomSpeed(int fd, uint32_t baud);
/// The output speed of `fd` as termios2 reports it.
std::optional<uint32_t> currentSpeed(int fd);

}  // namespace terminalspeed

}  // namespace quenbril
