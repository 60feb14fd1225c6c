#pragma once

// Recorders the main-window and chat tests share: the notifications of one name, and the texts
// of modal alerts.

#include <string>
#include <vector>

#include "MonitorApp/mainwindow/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

namespace quenbril {

/// Records the user info of every notification of one name.
class NotificationRecorder {
  public:
    explicit NotificationRecorder(const std::string& name)
        : observer_(NotificationCenter::defaultCenter().addObserver(
              name, [this](const Notification& n) { posted.push_back(n.userInfo); })) {}
    std::vector<Dictionary> posted;

  private:
    NotificationObserver observer_;
};

/// Records the text of every alert instead of showing it.
class RecordingAlerts : public AlertPresenter {
  public:
    void runModal(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

}  // namespace quenbril
