#pragma once

#include "ZurIrirur/ZIService.h"

namespace quenbril {

/// The analytics service. It records nothing: the application only names it when it starts the
/// telemetry SDK, before the crash service.
class ZIAnalytics {
  public:
    static const ZIService kService;
};

}  // namespace quenbril
