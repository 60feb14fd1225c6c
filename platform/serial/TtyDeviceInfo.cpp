#include "platform/serial/TtyDeviceInfo.h"

#include <regex>

namespace quenbril {

namespace {

bool isVirtualConsoleOrPty(const std::string& name) {
    // Virtual consoles (tty, tty0..tty63, console), the pty multiplexer and the legacy BSD ptys
    // (ptyp0 and ttyp0 styles) and Unix 98 slaves (pts/N).
    static const std::regex pattern(
        R"(tty[0-9]*|console|ptmx|pty[p-za-e][0-9a-f]|tty[p-za-e][0-9a-f]|pts/?[0-9]*)");
    return std::regex_match(name, pattern);
}

}  // namespace

bool TtyDeviceInfo::isSerialPort() const {
    if (!hasParent || devnode.empty()) return false;
    if (isVirtualConsoleOrPty(sysname)) return false;
    if (driver == "serial8250" && serialType.value_or(0) == 0) return false;
    return true;
}

}  // namespace quenbril
