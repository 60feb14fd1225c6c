#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// What the server link tells its owner (the main window controller), on the main thread.
class ServerManagerDelegate {
  public:
    virtual ~ServerManagerDelegate() = default;

    /// The link is up; `host` is the address the socket reports.
    virtual void connectedToServer(const std::string& /*host*/) {}
    /// The link dropped or an attempt failed; the socket's error, or none for an orderly close.
    virtual void disconnectedFromServer(const std::optional<Error>& /*error*/) {}
    /// One decoded message: a dictionary with a "Command".
    virtual void messageReceivedFromServer(const Value& /*message*/) {}
    /// Never sent by the link.
    virtual void updateLevelsFromServer(const uint8_t* /*bytes*/, int /*length*/) {}
    /// Never sent by the link.
    virtual void foundHostFromServer(const std::string& /*host*/) {}
    /// Progress of an attempt: "Conn to <address>...", "Resolving address...",
    /// "Found <host> connecting...".
    virtual void updateConnectMessageFromServer(const std::string& /*text*/) {}
    /// The server cannot be found automatically on the network (no service discovery, or it
    /// failed): only a manual address can reach it.
    virtual void discoveryUnavailable(const Error& /*error*/) {}
};

}  // namespace quenbril
