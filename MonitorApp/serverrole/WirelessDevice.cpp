#include "MonitorApp/serverrole/WirelessDevice.h"

#include <algorithm>
#include <limits>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/UdpEndpoint.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace quenbril {

namespace rt = receivertext;

void WirelessDevice::setActive(bool flag) {
    const bool wasActive = active_;
    active_ = flag;
    if (!flag) {
        queryTimer_.invalidate();
        if (wasActive && deviceType_ == kUHFR) {
            sendUDPData(ip_, kUHFRPort, "* METER " + channel_ + " ALL STOP", 0);
        }
        return;
    }
    if (queryTimer_.isValid()) return;
    isA_active_ = isB_active_ = isC_active_ = isD_active_ = false;
    quality_ = 0;
    doRequest();
    queryTimer_ = RunLoop::main().scheduleTimer(kRequestInterval, true, [this] { doRequest(); });
}

void WirelessDevice::doRequest() {
    if (!active_) return;
    if (deviceType_ == kG3) {
        sendUDPData(ip_, kG3Port, "Push 10 100 3\r", 0);
    } else if (deviceType_ == kUHFR) {
        sendUDPData(ip_, kUHFRPort, "* METER " + channel_ + " ALL 005 *", 0);
    }
}

void WirelessDevice::keepAlive() {
    if (active_ || deviceType_ != kUHFR) return;
    sendUDPData(ip_, kUHFRPort, "* GET " + channel_ + " CHAN_NAME *", 0);
}

void WirelessDevice::sendUDPData(const std::string& host, uint16_t port, std::string_view message,
                                 long tag) {
    if (!socket_) return;
    socket_->sendData(Bytes(message.begin(), message.end()), host, port, -1, tag);
}

void WirelessDevice::parseResponse(std::string_view reply, double now) {
    lastSeen_ = now;
    if (deviceType_ == kUHFR) {
        parseUHFRSample(reply);
    } else if (deviceType_ == kG3) {
        parseG3Push(reply);
    }
}

void WirelessDevice::parseUHFRSample(std::string_view reply) {
    const auto parts = rt::split(reply, ' ');
    if (parts.size() < 8) {
        const std::string text(reply);
        QLOG("INVALID RESPONSE FROM UHF %s", text.c_str());
        return;
    }
    const std::string_view antenna = parts[4];
    const int32_t a = rt::intValue(parts[5]);
    const int32_t b = rt::intValue(parts[6]);
    int32_t v = a;
    if (antenna == "XX") {
        isA_active_ = isB_active_ = false;
    } else if (antenna == "AX") {
        isA_active_ = true;
        isB_active_ = false;
    } else if (antenna == "XB") {
        isA_active_ = false;
        isB_active_ = true;
        v = b;
    } else if (antenna == "AB") {
        isA_active_ = isB_active_ = true;
        v = std::min(a, b);
    }
    // The meter counts down from 100 at its strongest; three steps of it make ten of ours.
    const double scaled = (100.0 - static_cast<double>(v)) * (10.0 / 3.0);
    rf_ = scaled >= 100.0 ? 100 : static_cast<int32_t>(std::max(scaled, -2147483648.0));
    const int64_t bars = rt::intValue(parts[7]);
    battery_ = parts[7] == "U" ? -1
                               : static_cast<int32_t>(std::clamp<int64_t>(
                                     bars * 20, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

void WirelessDevice::parseG3Push(std::string_view reply) {
    for (std::string_view line : rt::split(reply, '\r')) {
        const auto parts = rt::split(line, ' ');
        if (parts.size() == 4 && parts[0] == "RF") {
            rf_ = std::min(rt::intValue(parts[1]), 100);
            isA_active_ = rt::intValue(parts[2]) == 1;
            isB_active_ = !isA_active_;
        } else if (parts.size() == 2 && parts[0] == "Bat") {
            battery_ = parts[1] == "?" ? -1 : rt::intValue(parts[1]);
        }
    }
}

}  // namespace quenbril
