#pragma once

// Recorders the main-window and chat tests share: the notifications of one name, and the texts
// of modal alerts.

#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/seams/MainWindowSeams.h"
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

/// Records the text of every alert, and the window that asked, instead of showing it.
class RecordingAlerts : public AlertPresenter {
  public:
    using AlertPresenter::runModal;
    void runModal(QWidget* window, const std::string& text) override {
        windows.push_back(window);
        texts.push_back(text);
    }
    int runModal(QWidget* window, const Alert& alert) override {
        windows.push_back(window);
        alerts.push_back(alert);
        texts.push_back(alert.messageText);
        return answer;
    }
    std::vector<std::string> texts;
    std::vector<Alert> alerts;
    /// The window each alert was asked over.
    std::vector<QWidget*> windows;
    /// The button every alert answers with.
    int answer = 0;
};

/// Answers every file panel with the next scripted path (nothing once the script is used up:
/// the user cancelled) and records the requests and the windows that asked.
class RecordingFilePanel : public FilePanel {
  public:
    std::optional<std::string> runModal(QWidget* window, const Request& request) override {
        windows.push_back(window);
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::vector<std::optional<std::string>> answers;
    std::vector<Request> requests;
    std::vector<QWidget*> windows;
};

}  // namespace quenbril
