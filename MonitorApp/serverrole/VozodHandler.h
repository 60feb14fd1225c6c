#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MonitorApp/serverrole/ReceiverDriver.h"
#include "MonitorApp/serverrole/VozodCodec.h"
#include "MonitorApp/serverrole/VozodServiceSearch.h"
#include "foundation/Timer.h"
#include "sockets/DispatchSocketDelegate.h"

namespace quenbril {

class DispatchSocket;

/// The registry's driver of Vozod networked receivers (types 0, 1 and 8): one TCP connection to
/// port 2202 of each, channel names asked every pass, batteries every kAskInterval seconds and
/// metering samples pushed by the receiver. Main thread only.
class VozodHandler : public ReceiverDriver, public DispatchSocketDelegate {
  public:
    static constexpr double kAskInterval = 1.0;
    static constexpr double kReadTimeout = 5.0;

    /// Starts the battery timer on the main run loop. `makeBrowser` makes the service search's
    /// browser at its first use (the Avahi one when empty).
    explicit VozodHandler(VozodServiceSearch::BrowserFactory makeBrowser = {});
    ~VozodHandler() override;

    void connectTo(WirelessManager& registry) override;
    void askData();
    size_t connectedCount() const;
    size_t connectingCount() const;

    void socketDidConnectToHost(DispatchSocket* sock, const std::string& host,
                                uint16_t port) override;
    void socketDidReadData(DispatchSocket* sock, const Bytes& data, long tag) override;
    void socketDidDisconnect(DispatchSocket* sock, const std::optional<Error>& error) override;

    /// One complete line of a receiver at `host` (public for the fuzz target).
    void processLine(const std::string& line, const std::string& host, DispatchSocket* sock);
    /// Looks for receivers announcing the service `type` and logs where they are; nothing in
    /// the system calls it, and nothing connects to what it finds.
    void searchForDevices(const std::string& type) { search_.searchForDevices(type); }
    const VozodServiceSearch& serviceSearch() const { return search_; }

    /// Tests and the fuzz target: the registry lines are handled into.
    void setRegistry(WirelessManager* registry) { registry_ = registry; }

  private:
    struct Connection {
        std::shared_ptr<DispatchSocket> socket;
        /// The address connected to: a connecting socket has no connected host yet.
        std::string host;
        vozod::LineAssembler lines;
        bool connected = false;
        bool reading = false;
    };

    void write(DispatchSocket* sock, const std::string& text);
    /// Queues a read unless one is outstanding.
    void read(Connection& c);

    Timer askTimer_;
    VozodServiceSearch search_;
    WirelessManager* registry_ = nullptr;
    std::map<DispatchSocket*, Connection> connections_;
};

}  // namespace quenbril
