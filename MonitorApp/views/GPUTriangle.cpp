#include "MonitorApp/views/GPUTriangle.h"

namespace quenbril {

const LevelVertex* GPUTriangle::vertices() {
    static const LevelVertex vertex{0, 0, {1, 0}, kWhiteLevelColor};
    return &vertex;
}

}  // namespace quenbril
