#pragma once

#include <QWidget>
#include <string>

#include "MonitorApp/chat/ui/ChatButtonDelegate.h"
#include "MonitorApp/mainwindow/MainWindowSeams.h"

class QComboBox;

namespace quenbril {

/// The chat window's quick-message pane: eight buttons that each send a prepared text with one
/// click to the recipient chosen in the chat window. Main thread only.
class ChatButtonViewController : public QWidget, public ChatButtons, public ChatButtonDelegate {
  public:
    /// The pane's width while shown (0 collapsed).
    static constexpr int kShownWidth = 150;

    explicit ChatButtonViewController(QWidget* parent = nullptr);
    ~ChatButtonViewController() override;

    void viewDidLoad();
    void viewDidAppear();
    void viewWillDisappear();
    /// The chat window's recipient pop-up (not owned; cleared before it goes).
    void setChatTargetRef(QComboBox* target) { chatTargetRef_ = target; }
    /// Lays the buttons out for the pane's size.
    void resizeButtons();

    void updateButtonText(const std::string& text) override;
    void lock(bool locked) override;
    std::string recipient() const override;

  private:
    QComboBox* chatTargetRef_ = nullptr;
};

}  // namespace quenbril
