// quenbril-simserver: a stand-in for the monitoring server, for trying a remote on one machine
// and for the end-to-end tests.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ArchiveClassRegistry.h"
#include "foundation/Log.h"
#include "platform/discovery/AvahiDiscovery.h"
#include "simserver/SimChatMessage.h"
#include "simserver/SimOptions.h"
#include "simserver/SimServer.h"

using namespace quenbril;

namespace {
constexpr const char* kServiceType = "_quenbril._tcp.";
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = SimOptions::parse(args, &error);
    const std::string program = "quenbril-simserver";
    if (!options) {
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), error.c_str(),
                     SimOptions::usage(program).c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(SimOptions::usage(program).c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("%s %s\n", program.c_str(), SimOptions::kVersion);
        return 0;
    }

    // The signals that end the program are taken by sigwait below; every thread made from
    // here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SimChatMessage::registerEncoder(ArchiveClassRegistry::shared());

    SimServer server(*options);
    Error startError;
    if (!server.start(&startError)) {
        std::fprintf(stderr, "%s: cannot listen on port %u: %s\n", program.c_str(),
                     static_cast<unsigned>(options->port), startError.description.c_str());
        return 1;
    }
    std::fprintf(stderr, "%s %s: %d channels, listening on TCP port %u\n", program.c_str(),
                 SimOptions::kVersion, options->channels, static_cast<unsigned>(server.port()));

    std::unique_ptr<ServicePublisher> publisher;
    if (options->publish) {
        std::string name = options->name;
        if (name.empty()) {
            char host[256] = {};
            gethostname(host, sizeof host - 1);
            name = std::string("Quenbril stand-in on ") + host;
        }
        // A service name holds at most 63 bytes; cut at a character boundary.
        if (name.size() > 63) {
            size_t cut = 63;
            while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
            name.resize(cut);
        }
        publisher = makeAvahiServicePublisher();
        if (publisher->publish(name, kServiceType, server.port())) {
            std::fprintf(stderr, "Announced as \"%s\" (%s); remotes on this network find it.\n",
                         name.c_str(), kServiceType);
        } else {
            std::fprintf(stderr,
                         "Not announced on the network (is avahi-daemon running?): remotes must "
                         "use the address.\n");
            publisher.reset();
        }
    } else {
        std::fprintf(stderr, "Not announced on the network (--no-publish).\n");
    }
    std::fprintf(stderr, "%s Ctrl-C stops.\n",
                 SimOptions::connectHint(server.port(), publisher != nullptr).c_str());

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    std::fprintf(stderr, "%s: stopping (signal %d)\n", program.c_str(), signalNumber);
    if (publisher) publisher->unpublish();
    server.stop();
    return 0;
}
