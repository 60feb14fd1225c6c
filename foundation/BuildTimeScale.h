#pragma once

namespace quenbril {

/// How many times longer the same work may take in this build than in a plain optimised one: the
/// sanitizers check every memory access (ThreadSanitizer every synchronisation too) in a build
/// without optimisation, which makes each step several times slower. Real-time limits that only
/// bound a wait, such as a test's time-outs, are stretched by it, so that a slow build on a busy
/// machine is not taken for a stuck one. The build sets it (QUENBRIL_TIME_SCALE in
/// CMakeLists.txt, which stretches ctest's time-outs too); a positive number in the environment's
/// QUENBRIL_TEST_TIME_SCALE replaces it.
double buildTimeScale();

}  // namespace quenbril
