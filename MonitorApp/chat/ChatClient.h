#pragma once

#include <optional>
#include <string>

namespace quenbril {

/// One user known to the chat, as the server lists them ("ChatClients").
struct ChatClient {
    std::optional<std::string> chatName;
    std::optional<std::string> ip;
    std::optional<std::string> status;
    std::optional<std::string> uuid;
};

}  // namespace quenbril
