#include "MonitorApp/chat/ui/ChatButtonViewController.h"

#include <QComboBox>

namespace quenbril {

ChatButtonViewController::ChatButtonViewController(QWidget* parent) : QWidget(parent) {}

ChatButtonViewController::~ChatButtonViewController() = default;

void ChatButtonViewController::viewDidLoad() {}

void ChatButtonViewController::viewDidAppear() {}

void ChatButtonViewController::viewWillDisappear() {}

void ChatButtonViewController::resizeButtons() {}

void ChatButtonViewController::updateButtonText(const std::string& /*text*/) {}

void ChatButtonViewController::lock(bool /*locked*/) {}

std::string ChatButtonViewController::recipient() const {
    return chatTargetRef_ ? chatTargetRef_->currentText().toStdString() : std::string();
}

}  // namespace quenbril
