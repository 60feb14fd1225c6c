#include "RizUdidadIzezozure/ZIAnalytics.h"

namespace quenbril {

const ZIService ZIAnalytics::kService{"ZIAnalytics"};

}  // namespace quenbril
