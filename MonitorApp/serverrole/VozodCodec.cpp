#include "MonitorApp/serverrole/VozodCodec.h"

#include <algorithm>
#include <cstdlib>

#include "MonitorApp/serverrole/ReceiverText.h"
#include "MonitorApp/serverrole/WirelessDevice.h"
#include "foundation/Log.h"

namespace quenbril::vozod {

namespace rt = receivertext;

std::string meterRate(std::string_view channel) {
    return "< SET " + std::string(channel) + " METER_RATE 00200 >";
}

void LineAssembler::feed(std::string_view chunk,
                         const std::function<void(const std::string&)>& line) {
    for (const char c : chunk) {
        if (c == '<') {
            reply_.assign(1, '<');
            overflowed_ = false;
            continue;
        }
        if (overflowed_) continue;
        if (reply_.size() >= kMaxLine) {
            // The rest of an overlong line, up to the next "<", is dropped with it.
            reply_.clear();
            overflowed_ = true;
            continue;
        }
        reply_.push_back(c);
        if (c == '>') {
            const std::string complete = std::move(reply_);
            reply_.clear();
            line(complete);
        }
    }
}

std::vector<std::string> fields(std::string_view line) {
    std::vector<std::string> out;
    for (std::string_view f : rt::split(line, ' ')) out.emplace_back(f);
    return out;
}

std::optional<std::string> channelName(std::string_view line) {
    const size_t open = line.find('{');
    if (open == std::string_view::npos) return std::nullopt;
    const size_t close = line.find('}', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(line.substr(open + 1, close - open - 1));
}

int32_t batteryFromBars(int32_t bars) {
    if (bars == 255) return -1;
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{bars} * 20, INT32_MIN, INT32_MAX));
}

int32_t scaleRF(int32_t v) {
    int64_t out = v;
    if (v > 40) {
        out = int64_t{v} * 3 / 2;
    } else if (v > 20) {
        out = int64_t{v} * 5 / 4;
    }
    return static_cast<int32_t>(std::min<int64_t>(out, 100));
}

bool parseAD4D(const std::vector<std::string>& f, WirelessDevice& d) {
    const size_t n = f.size();
    if (n != 14 && n != 18 && n != 19 && n != 27) {
        QLOG("Wrong amount of parameters from Axient D!!");
        return false;
    }
    auto num = [&](size_t i) { return rt::intValue(f[i]); };
    const int32_t quality = num(4);
    d.setQuality(quality >= 0 && quality <= 5 ? quality : 0);
    const std::string& antennas = f[8];
    auto on = [&](size_t i) { return i < antennas.size() && antennas[i] != 'X'; };
    d.setIsA_active(on(0));
    d.setIsB_active(on(1));
    d.setIsC_active(on(2));
    d.setIsD_active(on(3));
    int32_t a = num(10), b = num(12), top = 0;
    if (n == 14) {
        top = std::max(a, b);
    } else if (n == 18) {
        top = std::max({a, b, num(14), num(16)});
    } else if (n == 19) {
        a = std::max(a, num(15));
        b = std::max(b, num(17));
        top = std::max(a, b);
    } else {
        a = std::max(a, num(19));
        b = std::max(b, num(21));
        top = std::max({a, b, std::max(num(14), num(23)), std::max(num(16), num(25))});
    }
    d.setRf(scaleRF(top));
    d.setRfA(scaleRF(a));
    d.setRfB(scaleRF(b));
    return true;
}

bool parseAxientULXD(const std::vector<std::string>& f, WirelessDevice& d, double now) {
    if (f.size() < 7) return false;
    d.setLastSeen(now);
    const double a = std::strtod(f[5].c_str(), nullptr);
    const double b = std::strtod(f[6].c_str(), nullptr);
    const std::string& code = f[4];
    double v = a;
    if (code == "XX") {
        d.setIsA_active(false);
        d.setIsB_active(false);
    } else if (code == "AX") {
        d.setIsA_active(true);
        d.setIsB_active(false);
    } else if (code == "XB") {
        d.setIsA_active(false);
        d.setIsB_active(true);
        if (f.size() >= 9) v = b;
    } else if (code == "AB") {
        d.setIsA_active(true);
        d.setIsB_active(true);
        v = std::max(a, b);
    }
    // Bounded below too: a receiver's text must not overflow the conversion.
    auto toInt = [](double x) {
        if (!(x == x)) return int32_t{0};
        return static_cast<int32_t>(std::clamp(x, -2147483648.0, 100.0));
    };
    d.setRf(toInt(v));
    if (d.deviceType() != 0) {
        d.setRfA(std::min(rt::intValue(f[5]), 100));
        d.setRfB(std::min(rt::intValue(f[6]), 100));
    } else if (d.isA_active()) {
        d.setRfA(d.rf());
        d.setRfB(0);
    } else {
        d.setRfA(0);
        d.setRfB(d.rf());
    }
    return true;
}

}  // namespace quenbril::vozod
