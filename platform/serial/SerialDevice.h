#pragma once

#include <string>

namespace quenbril {

/// One serial device as the device registry knows it: its device node and its kernel name.
/// Linux has one node per device, so the callout and dial-in paths are both the node.
struct SerialDevice {
    /// The device node, or the link to it in a watched link folder.
    std::string path;
    /// The kernel name ("ttyUSB0"), or the link's file name.
    std::string name;

    static constexpr const char* kServiceType = "IOSerialStream";

    const std::string& calloutPath() const { return path; }
    const std::string& dialinPath() const { return path; }
    /// The name's letters before its trailing digits ("ttyUSB").
    std::string baseName() const;
    /// The name's trailing digits ("0"); empty when it ends in a letter.
    std::string suffix() const;

    bool operator==(const SerialDevice&) const = default;
};

}  // namespace quenbril
