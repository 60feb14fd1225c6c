#include "MonitorApp/settings/MicCheckState.h"

#include "foundation/RunLoop.h"

namespace quenbril {

MicCheckState::MicCheckState() : time_{RunLoop::main().now()} {}

}  // namespace quenbril
