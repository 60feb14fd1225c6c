#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace quenbril::test {

/// Set (to "1") in the environment of a test binary that runs inside an Avahi sandbox.
inline constexpr const char* kAvahiSandboxVariable = "QUENBRIL_AVAHI_SANDBOX";
/// Set to the reason when no sandbox could be made.
inline constexpr const char* kAvahiSandboxMissingVariable = "QUENBRIL_AVAHI_SANDBOX_MISSING";

/// Set to the sandbox's state folder inside the sandbox.
inline constexpr const char* kAvahiSandboxDirVariable = "QUENBRIL_AVAHI_SANDBOX_DIR";

inline bool inAvahiSandbox() {
    const char* value = std::getenv(kAvahiSandboxVariable);
    return value && value[0] == '1';
}

/// Inside the sandbox: stops its avahi-daemon and starts a new one, as a daemon restart that
/// drops every client would. True once the new daemon is up.
bool restartAvahiDaemon();

}  // namespace quenbril::test

/// First line of every `net` test: skips it where no Avahi sandbox could be made.
#define QUENBRIL_REQUIRE_AVAHI_SANDBOX()                                                   \
    do {                                                                                   \
        if (!::quenbril::test::inAvahiSandbox()) {                                         \
            const char* why = std::getenv(::quenbril::test::kAvahiSandboxMissingVariable); \
            GTEST_SKIP() << "no Avahi sandbox: " << (why ? why : "not started");           \
        }                                                                                  \
    } while (false)
