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
    // The serial core gives every port its type; 0 is an empty legacy slot (ttyS1..ttyS31 with
    // no UART behind them). Its driver shows as "port" or "serial8250", so the type decides.
    if (serialType && *serialType == 0) return false;
    if (driver == "serial8250" && !serialType) return false;
    return true;
}

}  // namespace quenbril
