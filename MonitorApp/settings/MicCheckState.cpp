#include "MonitorApp/settings/MicCheckState.h"

#include "foundation/RunLoop.h"

namespace quenbril {

MicCheckState::MicCheckState() : time_(Date{RunLoop::main().now()}) {}

}  // namespace quenbril
