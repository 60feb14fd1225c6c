#include "MonitorApp/serverrole/SonyDwx.h"

#include <cstring>
#include <new>

namespace quenbril {
namespace {

struct SonyState {
    char host[sony::kMaxHost + 1] = {};
    int32_t connectionType = sony::kConnectionUDP;
    int32_t port = sony::kUdpPort;
    uint8_t sequence = 0;
};

SonyState* state(WMAPI* api) { return api ? static_cast<SonyState*>(api->pdata) : nullptr; }

// Channel 2's fields lie this far after channel 1's.
constexpr size_t kChannelStride = 114;
constexpr size_t kReceiverName = 16;
constexpr size_t kAntenna = 63;
constexpr size_t kLevelA = 64;
constexpr size_t kLevelB = 65;
constexpr size_t kBattery = 130;
constexpr size_t kChannelName = 145;
constexpr size_t kPresent = 172;
constexpr size_t kNameField = 16;

// A zero-padded name field as text: at most its 16 bytes, up to the first zero.
void nameAt(const uint8_t* bytes, size_t offset, char (&out)[kNameField + 1]) {
    size_t n = 0;
    while (n < kNameField && bytes[offset + n] != 0) ++n;
    std::memcpy(out, bytes + offset, n);
    out[n] = '\0';
}

}  // namespace

int sony_dwx_init(WMAPI* api, const char* host, void* ref) {
    if (!api) return -1;
    api->init = sony_dwx_init;
    api->exit = sony_dwx_exit;
    api->get = sony_dwx_get_buffer;
    api->set = sony_dwx_set_buffer;
    api->get_connection_type = sony_dwx_get_connection_type;
    api->get_connection_port = sony_dwx_get_connection_port;
    api->get_connection_host = sony_dwx_get_connection_host;
    api->callback_battery = nullptr;
    api->callback_rf_level = nullptr;
    api->callback_name = nullptr;
    api->ref = ref;
    auto* s = new (std::nothrow) SonyState;
    api->pdata = s;
    if (!s) return -1;
    if (host) {
        const size_t n = strnlen(host, sony::kMaxHost);
        std::memcpy(s->host, host, n);
        s->host[n] = '\0';
    }
    return 0;
}

int sony_dwx_exit(WMAPI* api) {
    if (!api) return -1;
    delete state(api);
    api->pdata = nullptr;
    return 0;
}

int sony_dwx_get_buffer(WMAPI* api, uint8_t* buffer, size_t size) {
    SonyState* s = state(api);
    if (!s || !buffer || size < sony::kRequestSize) return -1;
    const bool udp = s->connectionType == sony::kConnectionUDP;
    s->sequence = static_cast<uint8_t>(s->sequence + 1);
    const uint8_t request[8] = {
        0x01, s->sequence, 0x00, uint8_t(udp ? 0x01 : 0x00), uint8_t(udp ? 0x0B : 0x10),
        0x00, 0x01,        0x00};
    unsigned sum = 0;
    for (size_t i = 0; i < 8; ++i) {
        buffer[i] = request[i];
        sum += request[i];
    }
    const auto checksum = static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
    buffer[8] = static_cast<uint8_t>(checksum >> 8);
    buffer[9] = static_cast<uint8_t>(checksum & 0xFF);
    return static_cast<int>(sony::kRequestSize);
}

int sony_dwx_set_buffer(WMAPI* api, const uint8_t* bytes, size_t length) {
    SonyState* s = state(api);
    if (!s || !bytes || length < 5) return 0;
    const uint8_t type = bytes[4];
    if (type == sony::kReplySwitch) {
        if (s->connectionType == sony::kConnectionUDP) {
            s->connectionType = sony::kConnectionTCP;
            s->port = sony::kTcpPort;
        }
        return 0;
    }
    if (type != sony::kReplyStatus || length < sony::kStatusSize) return 0;
    const bool present[2] = {bytes[kPresent] != 0, bytes[kPresent + kChannelStride] != 0};
    if (api->callback_name) {
        char name[kNameField + 1];
        nameAt(bytes, kReceiverName, name);
        api->callback_name(0, name, api->ref);
        for (int ch = 0; ch < 2; ++ch) {
            if (!present[ch]) continue;
            nameAt(bytes, kChannelName + ch * kChannelStride, name);
            api->callback_name(ch + 1, name, api->ref);
        }
    }
    if (api->callback_battery) {
        for (int ch = 0; ch < 2; ++ch) {
            if (!present[ch]) continue;
            const int steps = bytes[kBattery + ch * kChannelStride] & 31;
            api->callback_battery(ch + 1, 100 - steps * 5, api->ref);
        }
    }
    if (api->callback_rf_level) {
        for (int ch = 0; ch < 2; ++ch) {
            const size_t base = ch * kChannelStride;
            const int a = bytes[kLevelA + base];
            const int b = bytes[kLevelB + base];
            const int active = !present[ch] ? -1 : (bytes[kAntenna + base] == a ? 1 : 2);
            api->callback_rf_level(ch + 1, a, b, active, api->ref);
        }
    }
    return 0;
}

int sony_dwx_get_connection_type(WMAPI* api) {
    SonyState* s = state(api);
    return s ? s->connectionType : -1;
}

int sony_dwx_get_connection_port(WMAPI* api) {
    SonyState* s = state(api);
    return s ? s->port : -1;
}

const char* sony_dwx_get_connection_host(WMAPI* api) {
    SonyState* s = state(api);
    return s ? s->host : nullptr;
}

}  // namespace quenbril
