#include "platform/discovery/ServicePublisher.h"

namespace quenbril {

ServicePublisher::~ServicePublisher() = default;

}  // namespace quenbril
