// serverrole_host: the server role composed from the project's classes, for the end-to-end
// tests. It captures the default (JACK) interface with one strip per channel name given,
// polls the receivers given with the six receiver drivers and its own G3 search, hosts remotes
// on a free port and does as test code what the application leaves to no one: the opening
// messages to each new remote, the warning pass each second and slot 0's stream to the first
// remote.
//
// Its main loop keeps a virtual clock that follows real time; SIGUSR1 moves it on by
// kSkipSeconds at once, so the tests reach the registry's silence limits without waiting.
//
//     serverrole_host RECEIVERS INTERFACE_IP NAME...
// prints "serverrole_host listening on port N" on stderr and stops on SIGTERM or SIGINT.
// RECEIVERS is a comma-separated list of ADDRESS[/TYPE], TYPE a device type of the stored
// receiver list (G3 when left out).

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/DispatchUdpEndpoint.h"
#include "MonitorApp/serverrole/ReceiverDrivers.h"
#include "MonitorApp/serverrole/RemoteClientManager.h"
#include "MonitorApp/serverrole/ServerRoleHostLinks.h"
#include "MonitorApp/serverrole/WirelessManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/ManualRunLoop.h"
#include "foundation/UserDefaults.h"

using namespace quenbril;

namespace {

constexpr double kSkipSeconds = 6.0;
constexpr double kMasterVersion = 3.8;

std::atomic<bool> stopRequested{false};
std::atomic<int> skipsRequested{0};

void onStop(int) { stopRequested.store(true); }
void onSkip(int) { skipsRequested.fetch_add(1); }

// What a remote is told when it connects, and slot 0's stream to the first one.
class Opening : public ClientManagerDelegate {
  public:
    Opening(ClientManager& host, RemoteClientManager& clients) : host_(host), clients_(clients) {}

    void connected(DispatchSocket* client) override {
        ChannelStripManager& strips = ChannelStripManager::sharedInstance();
        host_.sendDictionaryTo(client, LinkMessageBuilder::message(LinkCommand::kChannels,
                                                                   Value(strips.propertyArray())));
        host_.sendDictionaryTo(client, LinkMessageBuilder::message(LinkCommand::kMasterVersion,
                                                                   Value(kMasterVersion)));
        host_.sendDictionaryTo(
            client, LinkMessageBuilder::message(LinkCommand::kInitialDataReady, Value(true)));
        if (streamedIP_) return;
        for (const auto& [ip, socket] : host_.socketIPs()) {
            if (socket == client) streamTo(client, ip);
        }
    }

    /// A streamed remote that leaves (a connection dialog's probe does) frees slot 0 for the
    /// next one. The host keeps one connection per address: when a remote connected again
    /// before its probe's leave was handled (a busy machine), the probe's leave names no
    /// address, and that remote, still here, takes slot 0 now as it would have on connecting.
    void disconnected(const std::optional<Error>& /*error*/,
                      const std::optional<std::string>& /*ip*/) override {
        if (!streamedIP_ || host_.streamHost()) return;  // the streamed connection is still here
        clients_.removeClient(*streamedIP_);
        streamedIP_.reset();
        std::fprintf(stderr, "slot 0 is free again\n");
        for (const auto& [ip, socket] : host_.socketIPs()) {
            streamTo(socket, ip);
            break;
        }
    }

  private:
    void streamTo(DispatchSocket* client, const std::string& ip) {
        streamedIP_ = ip;
        clients_.updateWithCurrentControllers();
        clients_.addClient(ip, 0);
        clients_.startStreamTo(ip);
        // Joining switched the slot's strips off: the first strip is heard in its mix.
        auto& controllers = clients_.client(0).channelStripControllers();
        if (!controllers.empty()) {
            controllers[0]->state().setChannelState(ChannelStripState::kActive);
        }
        host_.startStreamTo(client);
        std::fprintf(stderr, "slot 0 streams to %s\n", ip.c_str());
    }

    ClientManager& host_;
    RemoteClientManager& clients_;
    std::optional<std::string> streamedIP_;
};

/// "a/4,b" -> [[a, 4], [b, 3]].
Array receiverList(const std::string& text) {
    Array list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t slash = entry.find('/');
        const int64_t type = slash == std::string::npos ? static_cast<int64_t>(WirelessDevice::kG3)
                                                        : std::atoll(entry.c_str() + slash + 1);
        if (!entry.empty()) {
            list.push_back(Value(Array{Value(entry.substr(0, slash)), Value(type)}));
        }
        start = end + 1;
    }
    return list;
}

Array stripList(const std::vector<std::string>& names) {
    Array list;
    for (size_t k = 0; k < names.size(); ++k) {
        Dictionary d;
        d.set("name", Value("Strip " + std::to_string(k + 1)));
        d.set("wirelessName", Value(names[k]));
        d.set("panel", Value("A"));
        d.set("audioInput", Value(static_cast<int64_t>(k)));
        d.set("pan", Value(0));
        d.set("gain", Value(0));
        d.set("scpEnabled", Value(true));
        d.set("rfWarnEnabled", Value(true));
        d.set("channelEnabled", Value(true));
        d.set("csID", Value(static_cast<int64_t>(1000 + k)));
        d.set("audioHistory", Value(true));
        list.push_back(Value(std::move(d)));
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: serverrole_host RECEIVERS INTERFACE_IP NAME...\n");
        return 2;
    }
    const std::string receivers = argv[1];
    const std::string interfaceIP = argv[2];
    const std::vector<std::string> names(argv + 3, argv + argc);
    signal(SIGTERM, onStop);
    signal(SIGINT, onStop);
    signal(SIGUSR1, onSkip);
    signal(SIGPIPE, SIG_IGN);

    ManualRunLoop loop;
    RunLoop::setMain(&loop);

    // The role for this run: the server's.
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    settings.setActAsClient(false);
    settings.setStreamingMode(1);
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setObject(Value(receiverList(receivers)), WirelessManager::kReceiverListKey);

    ChannelStripManager& strips = ChannelStripManager::sharedInstance();
    strips.initFromProperyArray(stripList(names));
    for (auto& controller : strips.controllers()) {
        controller->state().setChannelState(ChannelStripState::kActive);
    }

    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    RemoteClientManager clients(
        engine.outputChannels(), [&](int channel) { engine.setOutputChannel(channel); }, defaults);

    ClientManager::Services hosting;
    hosting.port = 0;
    hosting.interface = "127.0.0.1";
    ClientManager host(std::move(hosting));
    Opening opening(host, clients);
    host.setDelegate(&opening);
    ClientManager::setSharedInstance(&host);

    WirelessManager::Services polling;
    polling.defaults = &defaults;
    polling.interfaces = [interfaceIP] {
        return std::optional<std::vector<NetworkInterface>>(
            std::vector<NetworkInterface>{{"lo", interfaceIP, "255.0.0.0"}});
    };
    polling.drivers = makeReceiverDrivers(makeDispatchUdpEndpoint);
    WirelessManager registry(std::move(polling));
    WirelessManager::setSharedInstance(&registry);

    ServerRoleHostLinks links(clients, &host, &registry);
    engine.setStrips(&strips);
    engine.setLinks(&links);
    const int channels = engine.initializeEngineWithCurrentDevices();
    engine.mapChannels();
    std::fprintf(stderr, "captures %d channels at %.0f Hz\n", channels, engine.sampleRate());

    host.startListening();
    registry.startDiscovery();
    Timer warnings = loop.scheduleTimer(1.0, true, [&strips] { strips.updateWarnings(); });
    std::fprintf(stderr, "serverrole_host listening on port %u\n",
                 static_cast<unsigned>(host.listeningPort()));

    using clock = std::chrono::steady_clock;
    auto last = clock::now();
    while (!stopRequested.load()) {
        loop.runUntil([] { return stopRequested.load() || skipsRequested.load() > 0; }, 0.002);
        const auto now = clock::now();
        double step = std::chrono::duration<double>(now - last).count();
        last = now;
        const int skips = skipsRequested.exchange(0);
        if (skips > 0) {
            step += skips * kSkipSeconds;
            std::fprintf(stderr, "skipping %.1f s\n", skips * kSkipSeconds);
        }
        loop.advance(step);
    }

    warnings.invalidate();
    engine.stopListening();
    engine.setLinks(nullptr);
    engine.setStrips(nullptr);
    ClientManager::setSharedInstance(nullptr);
    WirelessManager::setSharedInstance(nullptr);
    RunLoop::setMain(nullptr);
    std::fprintf(stderr, "serverrole_host stopped\n");
    std::_Exit(0);
}
