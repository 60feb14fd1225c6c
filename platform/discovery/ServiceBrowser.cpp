#include "platform/discovery/ServiceBrowser.h"

namespace quenbril {

ServiceBrowser::~ServiceBrowser() = default;

}  // namespace quenbril
