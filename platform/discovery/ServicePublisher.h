#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace quenbril {

/// Announces one service on the local network for as long as it is published.
class ServicePublisher {
  public:
    virtual ~ServicePublisher();

    /// Announces `name` (empty: the host's name) of `type` ("_quenbril._tcp.") on `port` (host
    /// order), replacing an earlier announcement of this publisher. False, with a log line, when
    /// the announcement cannot be made (no daemon running, an invalid name or type). When another
    /// host already holds the name, the announcement goes on under the daemon's alternative name.
    virtual bool publish(const std::string& name, const std::string& type, uint16_t port) = 0;
    /// The TXT record of the announcement (key=value strings), for this and later
    /// announcements; one already made is announced again with it.
    virtual void setTXTRecord(const std::map<std::string, std::string>& record) = 0;
    /// Withdraws the announcement; nothing when none is made.
    virtual void unpublish() = 0;
};

}  // namespace quenbril
