#pragma once

#include "foundation/BuildTimeScale.h"

namespace quenbril::test {

/// The factor a test's real-time limits are stretched by in this build (1 in a plain build,
/// several times more under the sanitizers; QUENBRIL_TEST_TIME_SCALE replaces it). A limit that
/// only bounds a wait for an event is written for a plain build and scaled here, in one place.
inline double timeScale() { return buildTimeScale(); }
inline double scaledSeconds(double seconds) { return seconds * timeScale(); }
inline int scaledMs(int milliseconds) { return static_cast<int>(milliseconds * timeScale()); }

}  // namespace quenbril::test
