#include "MonitorApp/app/AppOptions.h"

namespace quenbril {

std::optional<AppOptions> AppOptions::parse(const std::vector<std::string>& args,
                                            std::string* error) {
    AppOptions options;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            if (error) *error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    return options;
}

std::string AppOptions::usage(const std::string& program) {
    return "Usage: " + program +
           " [--help | --version]\n"
           "\n"
           "The remote of the Quenbril monitoring server: it shows the server's channel strips,\n"
           "their levels and alerts, and the crew's chat. The server and every other setting\n"
           "are chosen in the windows. Settings are kept under $XDG_CONFIG_HOME/Quenbril\n"
           "(~/.config/Quenbril when unset).\n"
           "\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n";
}

}  // namespace quenbril
