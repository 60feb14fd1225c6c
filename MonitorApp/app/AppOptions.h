#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenbril {

/// The application's command line: `--help` and `--version`, nothing else.
struct AppOptions {
    bool help = false;
    bool version = false;

    /// Parses `args` (without the program name). Nothing, and `error` set, for any other
    /// argument.
    static std::optional<AppOptions> parse(const std::vector<std::string>& args,
                                           std::string* error);
    static std::string usage(const std::string& program);
};

}  // namespace quenbril
