#include <gtest/gtest.h>

#include "FakeDeviceFixture.h"
#include "MonitorApp/ATAudio/ATAudioDevice.h"

namespace quenbril::test {
namespace {

using ATAudioDeviceTest = FakeDeviceFixture;

TEST_F(ATAudioDeviceTest, ChannelsOfEveryStreamAreSummedAndListsFollowThem) {
    AudioBackendDevice interface;
    interface.name = "Interface";
    interface.hostAPI = "Fake";
    interface.inputStreams = {2, 8};
    interface.outputStreams = {2};
    backend_.addDevice(interface);
    addDevice("Speakers", 0, 2);

    const auto all = ATAudioDevice::devices();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].inputChannelCount(), 10);
    EXPECT_EQ(all[0].manufacturer(), "Fake");
    EXPECT_EQ(all[0].UID(), "Fake:Interface");

    // A device without inputs is listed, but not as an input.
    const auto inputs = ATAudioDevice::inputDevices();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].name(), "Interface");
    EXPECT_EQ(ATAudioDevice::outputDevices().size(), 2u);

    int seen = 0;
    ATAudioDevice::enumerateDevicesUsingBlock([&](const ATAudioDevice&, bool& stop) {
        ++seen;
        stop = true;
    });
    EXPECT_EQ(seen, 1);
}

TEST_F(ATAudioDeviceTest, DevicesAreEqualByUIDAndEqualNamesAreNumbered) {
    addDevice("USB Audio", 2, 2);
    addDevice("USB Audio", 2, 2);
    const auto first = ATAudioDevice::devices();
    EXPECT_EQ(first[0].UID(), "Fake:USB Audio");
    EXPECT_EQ(first[1].UID(), "Fake:USB Audio#2");
    EXPECT_FALSE(first[0] == first[1]);

    // A later enumeration, where the host numbers the devices differently, finds the same ones.
    backend_.removeAllDevices();
    addDevice("Other", 0, 2);
    addDevice("USB Audio", 2, 2);
    addDevice("USB Audio", 2, 2);
    ASSERT_TRUE(backend_.refresh());
    const auto again = ATAudioDevice::deviceWithUID("Fake:USB Audio#2");
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(*again == first[1]);
    EXPECT_EQ(again->deviceID(), 2u);
    EXPECT_NE(again->description().find("UID: Fake:USB Audio#2"), std::string::npos);
}

TEST_F(ATAudioDeviceTest, NoDefaultDeviceOnAMachineWithoutOne) {
    EXPECT_FALSE(ATAudioDevice::currentOutputDevice().has_value());
    EXPECT_FALSE(ATAudioDevice::currentInputDevice().has_value());
    backend_.setDefaultOutputDevice(addDevice("Speakers", 0, 2));
    ASSERT_TRUE(backend_.refresh());
    EXPECT_EQ(ATAudioDevice::currentOutputDevice()->name(), "Speakers");
}

}  // namespace
}  // namespace quenbril::test
