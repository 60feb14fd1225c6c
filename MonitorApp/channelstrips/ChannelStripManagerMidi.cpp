#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "foundation/Log.h"
#include "platform/midi/MidiNotifications.h"

namespace quenbril {

void ChannelStripManager::startMidi() {
    connectionManager_ = std::make_unique<MidiConnectionManager>(
        "Quenbril.ConnectionManager", this,
        [this](const MidiEndpoint&, const std::vector<MidiCommand>& commands) {
            for (const MidiCommand& command : commands) {
                handleMIDICommand(command);
            }
        });
    connectionManager_->setAutomaticallySavesConfiguration(false);
    findEndpoint();
    NotificationCenter& center = services_.center;
    observers_.push_back(center.addObserver(kMidiDeviceWasAddedNotification,
                                            [this](const Notification&) { findEndpoint(); }));
    observers_.push_back(center.addObserver(kMidiDeviceWasRemovedNotification,
                                            [this](const Notification&) { findEndpoint(); }));
}

int64_t ChannelStripManager::connectionManagerShouldConnectToNewlyAddedDevice(
    MidiConnectionManager&, const MidiDevice& device) {
    size_t sources = 0;
    for (const MidiEntity& entity : device.entities()) {
        sources += entity.sources.size();
    }
    if (sources == 0) {
        return 0;
    }
    QLOG("connecting to %s", device.displayName().c_str());
    return 1;
}

void ChannelStripManager::connectionManagerDeviceWasDisconnected(MidiConnectionManager&,
                                                                 const MidiDevice&,
                                                                 const std::vector<MidiCommand>&) {}

void ChannelStripManager::handleMIDICommand(const MidiCommand& command) {
    QLOG("Received: %s\n", command.description().c_str());
    services_.center.post("MIDIEventReceived",
                          Dictionary{{"byte1", int{command.dataByte1}},
                                     {"byte2", int{command.dataByte2}},
                                     {"channel", int32_t{command.statusByte & 15}},
                                     {"command", int32_t{command.statusByte & 0xF0}}});
}

void ChannelStripManager::findEndpoint() {
    bool found = false;
    for (const MidiDevice& device : MidiDeviceManager::sharedDeviceManager().availableDevices()) {
        if (device.model().find("Launchpad") == std::string::npos) {
            continue;
        }
        for (const MidiEntity& entity : device.entities()) {
            for (const MidiDestinationEndpoint& destination : entity.destinations) {
                launchpadEndpoint_ = destination;
                found = true;
                QLOG("Launchpad found: %s:%s", destination.client.c_str(),
                     destination.port.c_str());
                updateLaunchpad();
            }
        }
    }
    if (!found) {
        launchpadEndpoint_.reset();
        QLOG("No Launchpad found");
    }
}

void ChannelStripManager::midiDeviceLongClick(const Notification& notification) {
    clientLongClickedChannel(notification.userInfo["index"].intValue().value_or(0));
}

}  // namespace quenbril
