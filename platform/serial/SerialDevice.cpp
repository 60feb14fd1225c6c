#include "platform/serial/SerialDevice.h"

#include <cctype>

namespace quenbril {

namespace {

size_t suffixStart(const std::string& name) {
    size_t start = name.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
    return start;
}

}  // namespace

std::string SerialDevice::baseName() const { return name.substr(0, suffixStart(name)); }

std::string SerialDevice::suffix() const { return name.substr(suffixStart(name)); }

}  // namespace quenbril
