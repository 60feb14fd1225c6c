#pragma once

#include <string>

#include "foundation/DescriptorWatch.h"
#include "platform/serial/SerialDeviceSource.h"

namespace quenbril {

/// A folder of links to serial devices, watched with inotify: a link that appears is a device
/// that arrived, one that goes is a device removed. The folder stands as the registry for the
/// links in it, so a port opens the link's path. Devices that make no uevents (pseudo-terminal
/// pairs, adapters behind a helper that links them) become visible this way.
class LinkFolderSource : public SerialDeviceSource {
  public:
    explicit LinkFolderSource(std::string folder);
    ~LinkFolderSource() override;

    const std::string& folder() const { return folder_; }

    std::vector<SerialDevice> enumerate() override;
    std::optional<SerialDevice> find(const std::string& path) override;
    bool start(Handlers handlers) override;
    void stop() override;

  private:
    void drainEvents();
    SerialDevice deviceNamed(const std::string& name) const;

    std::string folder_;
    int inotify_ = -1;
    Handlers handlers_;
    DescriptorWatch watch_;
};

}  // namespace quenbril
