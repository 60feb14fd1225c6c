#pragma once

// The Sony DWX receiver protocol as a plain module: requests are built and replies parsed
// through a table of functions, and results reach the caller through three callbacks.

#include <cstddef>
#include <cstdint>

namespace quenbril {

/// The protocol module's function table, private state and callbacks, one per receiver.
struct WMAPI {
    int (*init)(WMAPI* api, const char* host, void* ref) = nullptr;
    int (*exit)(WMAPI* api) = nullptr;
    int (*get)(WMAPI* api, uint8_t* buffer, size_t size) = nullptr;
    int (*set)(WMAPI* api, const uint8_t* bytes, size_t length) = nullptr;
    int (*get_connection_type)(WMAPI* api) = nullptr;
    int (*get_connection_port)(WMAPI* api) = nullptr;
    const char* (*get_connection_host)(WMAPI* api) = nullptr;
    /// The module's private state.
    void* pdata = nullptr;
    /// The caller's object, handed back to every callback.
    void* ref = nullptr;
    /// Channel 1 or 2 and its battery in percent.
    void (*callback_battery)(int channel, int percent, void* ref) = nullptr;
    /// Channel 1 or 2, the RF levels of antennas A and B, and the active antenna: 1 A, 2 B,
    /// -1 when the channel is absent.
    void (*callback_rf_level)(int channel, int levelA, int levelB, int active, void* ref) = nullptr;
    /// Index 0 is the receiver's own name, 1 and 2 the channel names.
    void (*callback_name)(int index, const char* text, void* ref) = nullptr;
};

namespace sony {
constexpr int kConnectionTCP = 1;
constexpr int kConnectionUDP = 2;
constexpr int kUdpPort = 51010;
constexpr int kTcpPort = 51000;
constexpr size_t kRequestSize = 10;
/// A status reply must reach the presence byte of channel 2.
constexpr size_t kStatusSize = 287;
constexpr uint8_t kReplySwitch = 11;
constexpr uint8_t kReplyStatus = 16;
/// Host text kept, without its terminating zero.
constexpr size_t kMaxHost = 255;
}  // namespace sony

/// Fills the table, clears the callbacks and allocates the private state for `host` (UDP,
/// port 51010, sequence 0); -1 when the state cannot be allocated.
int sony_dwx_init(WMAPI* api, const char* host, void* ref);
/// Frees the private state; the table may be initialised again.
int sony_dwx_exit(WMAPI* api);
/// Writes the next request and returns its length (10); -1 when `size` is below 10.
int sony_dwx_get_buffer(WMAPI* api, uint8_t* buffer, size_t size);
/// Parses one reply and reports it through the callbacks; returns 0.
int sony_dwx_set_buffer(WMAPI* api, const uint8_t* bytes, size_t length);
int sony_dwx_get_connection_type(WMAPI* api);
int sony_dwx_get_connection_port(WMAPI* api);
const char* sony_dwx_get_connection_host(WMAPI* api);

}  // namespace quenbril
