#include "foundation/BuildTimeScale.h"

#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUENBRIL_THREAD_SANITIZER 1
#endif
#if __has_feature(address_sanitizer)
#define QUENBRIL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QUENBRIL_THREAD_SANITIZER 1
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUENBRIL_ADDRESS_SANITIZER 1
#endif

namespace quenbril {

namespace {

double slowdownOfThisBuild() {
#if defined(QUENBRIL_THREAD_SANITIZER)
    return 10.0;
#elif defined(QUENBRIL_ADDRESS_SANITIZER)
    return 5.0;
#else
    return 1.0;
#endif
}

double readScale() {
    if (const char* given = std::getenv("QUENBRIL_TEST_TIME_SCALE")) {
        char* end = nullptr;
        double scale = std::strtod(given, &end);
        if (end != given && scale > 0) return scale;
    }
    return slowdownOfThisBuild();
}

}  // namespace

double buildTimeScale() {
    static const double scale = readScale();
    return scale;
}

}  // namespace quenbril
