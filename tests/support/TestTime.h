#pragma once

// How much longer than in a plain build a test may wait for what it waits for: the sanitizer
// builds run many times slower, and CI runs them on a loaded machine. Every limit that only
// bounds a stuck test is scaled here, in one place.

#include <cstdlib>

namespace quenbril::test {

/// 1 in plain builds, larger under sanitizers, QUENBRIL_TEST_TIME_SCALE overrides.
inline double timeScale() {
    static const double scale = [] {
        if (const char* text = std::getenv("QUENBRIL_TEST_TIME_SCALE")) {
            double value = std::atof(text);
            if (value > 0) return value;
        }
#if defined(__SANITIZE_THREAD__)
        return 10.0;
#elif defined(__SANITIZE_ADDRESS__)
        return 3.0;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
        return 10.0;
#elif __has_feature(address_sanitizer)
        return 3.0;
#else
        return 1.0;
#endif
#else
        return 1.0;
#endif
    }();
    return scale;
}

inline double scaledSeconds(double s) { return s * timeScale(); }

}  // namespace quenbril::test
