#pragma once

#include <string>
#include <vector>

namespace quenbril {

/// The receivers a strip can be given, by name: the receiver registry's sorted device names.
/// The remote knows no receivers, so the application gives the editor none.
class ReceiverNames {
  public:
    virtual ~ReceiverNames() = default;
    virtual std::vector<std::string> deviceNames() const = 0;
};

}  // namespace quenbril
