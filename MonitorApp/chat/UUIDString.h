#pragma once

#include <string>

namespace quenbril {

/// Fresh identifiers in the form the chat uses: random (version 4) UUIDs written in upper case,
/// 36 characters ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
class UUIDString {
  public:
    static std::string make();
};

}  // namespace quenbril
