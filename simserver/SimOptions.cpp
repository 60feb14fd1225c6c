#include "simserver/SimOptions.h"

#include <charconv>
#include <cmath>

namespace quenbril {

namespace {

std::optional<long> number(const std::string& text) {
    long value = 0;
    auto end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> seconds(const std::string& text) {
    double value = 0;
    auto end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || text.empty() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<SimOptions> SimOptions::parse(const std::vector<std::string>& args,
                                            std::string* error) {
    SimOptions options;
    auto fail = [&](std::string text) -> std::optional<SimOptions> {
        if (error) *error = std::move(text);
        return std::nullopt;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string flag = args[i];
        std::optional<std::string> inlineValue;
        if (auto eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = flag.substr(eq + 1);
            flag = flag.substr(0, eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (flag == "--help" || flag == "-h") {
            options.help = true;
        } else if (flag == "--version") {
            options.version = true;
        } else if (flag == "--no-publish") {
            options.publish = false;
        } else if (flag == "--port") {
            auto text = value();
            if (!text) return fail("--port needs a value");
            auto port = number(*text);
            if (!port || *port < 0 || *port > 65535) return fail("bad port: " + *text);
            options.port = static_cast<uint16_t>(*port);
        } else if (flag == "--channels") {
            auto text = value();
            if (!text) return fail("--channels needs a value");
            auto n = number(*text);
            if (!n || *n < 1 || *n > kMaxChannels) {
                return fail("bad channel count (1 to " + std::to_string(kMaxChannels) +
                            "): " + *text);
            }
            options.channels = static_cast<int>(*n);
        } else if (flag == "--name") {
            auto text = value();
            if (!text || text->empty()) return fail("--name needs a value");
            options.name = *text;
        } else if (flag == "--snapshot-interval") {
            auto text = value();
            if (!text) return fail("--snapshot-interval needs a value");
            auto s = seconds(*text);
            if (!s || *s < 0 || *s > kMaxSnapshotInterval) {
                return fail("bad snapshot interval (0 to " +
                            std::to_string(static_cast<int>(kMaxSnapshotInterval)) +
                            " seconds): " + *text);
            }
            options.snapshotInterval = *s;
        } else {
            return fail("unknown argument: " + args[i]);
        }
    }
    return options;
}

std::string SimOptions::usage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "A stand-in for the monitoring server: a production of synthetic channels that "
           "Quenbril remotes\n"
           "can connect to.\n\n"
           "  --port N        TCP port to listen on (default 57576, the only port a remote's\n"
           "                  manual address reaches; other ports serve tests, or remotes that\n"
           "                  find the announcement; 0 picks a free one)\n"
           "  --channels N    number of channel strips, 1 to 128 (default 16)\n"
           "  --name NAME     the service name announced on the network\n"
           "  --no-publish    do not announce the service\n"
           "  --snapshot-interval S\n"
           "                  move to the next snapshot every S seconds and tell the remotes;\n"
           "                  the groups that are on go off, hard ones stay (default 0: the\n"
           "                  first snapshot stays active)\n"
           "  --help          show this text\n"
           "  --version       show the version\n";
}

std::string SimOptions::connectHint(uint16_t port, bool announced) {
    const std::string manual = std::to_string(kDefaultPort);
    if (port == kDefaultPort) {
        return "Point a remote at address 127.0.0.1 (the manual address of its connection "
               "dialog; remotes use port " +
               manual + ").";
    }
    std::string text = "Port " + std::to_string(port) + " is not " + manual +
                       ", the only port a remote's manual address reaches: ";
    return text + (announced ? "remotes reach this stand-in through its announcement only "
                               "(tests connect to the port directly)."
                             : "no remote reaches this stand-in unannounced (the port serves "
                               "tests, which connect to it directly).");
}

}  // namespace quenbril
