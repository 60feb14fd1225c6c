#include "ZurIrirur/ZIZurIrirur.h"

#include <algorithm>
#include <cctype>

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {

SharedInstance<ZIZurIrirur> shared;

}  // namespace

void ZIZurIrirur::start(const std::string& appSecret, const Services& services) {
    sharedInstance().startWithServices(appSecret, services);
}

ZIZurIrirur& ZIZurIrirur::sharedInstance() { return shared.get(); }

void ZIZurIrirur::resetSharedInstance() { shared.reset(); }

bool ZIZurIrirur::startWithServices(const std::string& appSecret, const Services& services) {
    Services toStart;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_) return false;
        if (!isValidAppSecret(appSecret)) {
            // The secret itself is not logged: it is the application's, not the log's.
            log(LogLevel::Error,
                "[ZurIrirur] The app secret is not 36 characters of 8-4-4-4-12 hexadecimal "
                "digits; telemetry not started");
            return false;
        }
        for (const ZIService* service : services) {
            if (service && std::find(toStart.begin(), toStart.end(), service) == toStart.end()) {
                toStart.push_back(service);
            }
        }
        started_ = true;
        startedServices_ = toStart;
    }

    std::string names;
    for (const ZIService* service : toStart) {
        if (!names.empty()) names += ", ";
        names += service->name();
    }
    QLOG("[ZurIrirur] Started with %s; telemetry stays on this machine",
         names.empty() ? "no services" : names.c_str());
    // The services start outside the lock, so that one may ask the SDK about itself.
    for (const ZIService* service : toStart) service->start();
    return true;
}

bool ZIZurIrirur::isStarted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

ZIZurIrirur::Services ZIZurIrirur::startedServices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startedServices_;
}

bool ZIZurIrirur::isValidAppSecret(const std::string& secret) {
    if (secret.size() != 36) return false;
    for (size_t i = 0; i < secret.size(); ++i) {
        bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        unsigned char c = static_cast<unsigned char>(secret[i]);
        if (hyphenPlace ? c != '-' : !std::isxdigit(c)) return false;
    }
    return true;
}

}  // namespace quenbril
