#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace quenbril {

/// The mode names the run-loop sockets keep. Our loops run in one mode, the default one; the
/// common-modes name holds it. A socket whose list holds neither is attached to nothing.
struct RunLoopModes {
    static constexpr const char* kDefault = "NSDefaultRunLoopMode";
    static constexpr const char* kCommon = "kCFRunLoopCommonModes";

    static std::vector<std::string> defaults() { return {kDefault}; }

    /// True when work scheduled in `modes` runs on our loops.
    static bool runs(const std::vector<std::string>& modes) {
        return std::any_of(modes.begin(), modes.end(),
                           [](const std::string& m) { return m == kDefault || m == kCommon; });
    }
};

}  // namespace quenbril
