#include "resources/QuenbrilResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initResources() { Q_INIT_RESOURCE(quenbril); }

namespace quenbril {

void initQuenbrilResources() { initResources(); }

}  // namespace quenbril
