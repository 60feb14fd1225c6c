#include "MonitorApp/ViewController.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"

namespace quenbril {

ViewController::ViewController(QWidget* parent) : QWidget(parent) {}

ViewController::~ViewController() = default;

void ViewController::updateChannelStrips() {
    ChannelStripManager::sharedInstance().updateChannels();
}

void ViewController::updateStatusMessage() {}

bool ViewController::linkConnected() const { return false; }

}  // namespace quenbril
