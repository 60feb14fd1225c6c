#pragma once

#include <chrono>

#include "foundation/BuildTimeScale.h"

namespace quenbril::test {

/// The factor a test's real-time limits are stretched by in this build (1 in a plain build,
/// several times more under the sanitizers; QUENBRIL_TEST_TIME_SCALE replaces it). A limit that
/// only bounds a wait for an event is written for a plain build and scaled here, in one place.
inline double timeScale() { return buildTimeScale(); }
inline double scaledSeconds(double seconds) { return seconds * timeScale(); }
inline int scaledMs(int milliseconds) { return static_cast<int>(milliseconds * timeScale()); }
/// scaledSeconds() as a duration, for a deadline or a wait_for().
inline std::chrono::duration<double> scaledDuration(double seconds) {
    return std::chrono::duration<double>(scaledSeconds(seconds));
}

}  // namespace quenbril::test
