#pragma once

#include <memory>

#include "platform/discovery/ServiceBrowser.h"
#include "platform/discovery/ServicePublisher.h"

namespace quenbril {

/// The backends on the Avahi daemon (over its system bus). Each object runs its own Avahi
/// thread; the browser hands its results to the main queue.
std::unique_ptr<ServiceBrowser> makeAvahiServiceBrowser();
std::unique_ptr<ServicePublisher> makeAvahiServicePublisher();

}  // namespace quenbril
