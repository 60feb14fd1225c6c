#pragma once

// A settings folder of its own for the real quenbril program (its XDG_CONFIG_HOME), holding the
// manual address 127.0.0.1 and "continue automatically", so that the remote connects to a stand-in
// on this machine without a dialog waiting for a click. Removed with the object.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace quenbril::test {

class RemoteSettingsFolder {
  public:
    /// `clientID`: a client number stored as an earlier confirm stores the one chosen, which the
    /// remote then sends the server as it confirms (the stand-in logs "is client N").
    explicit RemoteSettingsFolder(std::optional<int> clientID = std::nullopt) {
        std::string folder = "/tmp/quenbril-remote-XXXXXX";
        if (!::mkdtemp(folder.data())) return;
        path_ = folder;
        std::filesystem::create_directories(path_ + "/Quenbril");
        const std::string client =
            clientID ? "<key>clientID</key><integer>" + std::to_string(*clientID) + "</integer>"
                     : "";
        std::ofstream(path_ + "/Quenbril/Quenbril.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" << client
            << "<key>continueAutomatically</key><true/>"
               "<key>manualIP</key><string>127.0.0.1</string>"
               "<key>useManualIP</key><integer>1</integer></dict></plist>\n";
    }
    ~RemoteSettingsFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    RemoteSettingsFolder(const RemoteSettingsFolder&) = delete;
    RemoteSettingsFolder& operator=(const RemoteSettingsFolder&) = delete;

    /// The folder to give as XDG_CONFIG_HOME; empty when none could be made.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace quenbril::test
