#include "MonitorApp/dispatch/DispatchRules.h"

#include <cstdio>

namespace quenbril {

bool DispatchRules::registersToChat(float serverVersion) {
    return serverVersion >= kMinimumChatServerVersion;
}

std::string DispatchRules::updateAlertText(float serverVersion) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "Please update your Quenbril server. You are currently using server version "
                  "%.02f. Minimum requirement for this remote version is %.02f.",
                  static_cast<double>(serverVersion),
                  static_cast<double>(kMinimumChatServerVersion));
    return buffer;
}

std::string DispatchRules::connectedStatusText(const std::optional<std::string>& clientName) {
    if (!clientName) return "Connected to server";
    return "Connected to server as " + *clientName;
}

int32_t DispatchRules::snapshotSelection(const Array& names, int32_t orderIndex) {
    for (size_t i = 0; i < names.size(); ++i) {
        const Array* entry = names[i].arrayValue();
        if (!entry || entry->empty()) continue;
        if (entry->back().intValue() == orderIndex) return static_cast<int32_t>(i);
    }
    return static_cast<int32_t>(names.size());
}

Array DispatchRules::midiKey(int32_t channel, int32_t command, int32_t byte1, int32_t byte2) {
    return Array{channel, command, byte1, byte2};
}

std::string DispatchRules::stripLabel(const std::string& name, int32_t audioInput) {
    return name + "(" + std::to_string(static_cast<int64_t>(audioInput) + 1) + ")";
}

}  // namespace quenbril
