#pragma once

namespace quenbril {

/// User-default keys that the server link, the connection dialog and the main window share.
namespace ClientDefaultsKeys {
inline constexpr const char* kClientID = "clientID";
inline constexpr const char* kClientName = "clientName";
inline constexpr const char* kUseManualIP = "useManualIP";
inline constexpr const char* kManualIP = "manualIP";
}  // namespace ClientDefaultsKeys

}  // namespace quenbril
