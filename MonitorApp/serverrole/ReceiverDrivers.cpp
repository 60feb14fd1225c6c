#include "MonitorApp/serverrole/ReceiverDrivers.h"

#include "MonitorApp/serverrole/EMHandler.h"
#include "MonitorApp/serverrole/LectrosonicsHandler.h"
#include "MonitorApp/serverrole/SonyHandler.h"
#include "MonitorApp/serverrole/UHFRHandler.h"
#include "MonitorApp/serverrole/VozodHandler.h"
#include "MonitorApp/serverrole/WisycomHandler.h"

namespace quenbril {

WirelessManager::Drivers makeReceiverDrivers(const UdpEndpointFactory& udp) {
    WirelessManager::Drivers d;
    d.vozod = std::make_unique<VozodHandler>();
    d.uhfr = std::make_unique<UHFRHandler>(udp);
    d.em = std::make_unique<EMHandler>(udp);
    d.wisycom = std::make_unique<WisycomHandler>();
    d.sony = std::make_unique<SonyHandler>(udp);
    d.lectrosonics = std::make_unique<LectrosonicsHandler>();
    return d;
}

}  // namespace quenbril
