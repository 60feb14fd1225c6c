#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenbril {

/// The command line of the server stand-in.
struct SimOptions {
    static constexpr uint16_t kDefaultPort = 57576;
    static constexpr int kDefaultChannels = 16;
    /// The strip byte frames of the link hold at most this many strips.
    static constexpr int kMaxChannels = 128;
    static constexpr const char* kVersion = "1.0.0";
    /// A frame begun must be complete within this many seconds (the link's read time-out).
    static constexpr double kDefaultFrameTimeout = 5.0;
    /// The longest snapshot interval accepted: a day.
    static constexpr double kMaxSnapshotInterval = 86400;

    /// 0: a port the system picks (printed on stderr once listening).
    uint16_t port = kDefaultPort;
    int channels = kDefaultChannels;
    /// The announced service name; empty: "Quenbril stand-in on <host name>".
    std::string name;
    bool publish = true;
    bool help = false;
    bool version = false;
    /// Seconds between two moves to the next snapshot; 0: the active snapshot stays.
    double snapshotInterval = 0;
    /// Not a flag: tests shorten it.
    double frameTimeout = kDefaultFrameTimeout;

    /// Parses `args` (without the program name). Nothing, and `error` set, for an unknown
    /// flag, a missing or malformed value, or a value out of range.
    static std::optional<SimOptions> parse(const std::vector<std::string>& args,
                                           std::string* error);
    static std::string usage(const std::string& program);
    /// The start-up line that tells the user how a remote reaches a stand-in listening on
    /// `port`: a remote's manual address always uses kDefaultPort, so another port is reached
    /// through the announcement only (or by tests, which connect to it directly).
    static std::string connectHint(uint16_t port, bool announced);
};

}  // namespace quenbril
