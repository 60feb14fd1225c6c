#include "MonitorApp/mainwindow/LinkSenders.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/ViewController.h"

namespace quenbril {

void connectLinkSenders(LinkSender* link, ViewController& window) {
    window.setLinkSender(link);
    ChatManager::setLinkSender(link);
    window.services().models.strips.setLinkSender(link);
}

}  // namespace quenbril
