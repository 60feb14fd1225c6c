#include "foundation/BuildTimeScale.h"

#include <cstdlib>

namespace quenbril {

namespace {

double readScale() {
    if (const char* given = std::getenv("QUENBRIL_TEST_TIME_SCALE")) {
        char* end = nullptr;
        double scale = std::strtod(given, &end);
        if (end != given && scale > 0) return scale;
    }
    return QUENBRIL_TIME_SCALE;  // the build's own, set where it is configured
}

}  // namespace

double buildTimeScale() {
    static const double scale = readScale();
    return scale;
}

}  // namespace quenbril
