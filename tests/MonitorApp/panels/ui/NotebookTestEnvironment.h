#pragma once

#include <QLocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "MonitorApp/panels/NotebookManager.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"

namespace quenbril {

/// StripTest with a fresh notebook, the US English locale and the UTC zone, so that times read
/// the same on every machine.
class NotebookTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        setenv("TZ", "UTC", 1);
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        NotebookManager::resetSharedInstance();
        settings().setChatUsername("alice");
    }
    void TearDown() override {
        NotebookManager::resetSharedInstance();
        StripTest::TearDown();
    }

    static NotebookManager& notebook() { return NotebookManager::sharedInstance(); }

    /// A server note. `time` is seconds since 2001-01-01.
    static std::shared_ptr<TimelineEntry> note(int32_t teID, int64_t csID, const std::string& text,
                                               const std::string& creator = "bob",
                                               SMPTETimecode ltc = {1, 2, 3, 4},
                                               double time = 3600.0 * 13 + 62) {
        auto entry = std::make_shared<TimelineEntry>();
        entry->setTeID(teID);
        entry->setCsID(csID);
        entry->setNote(text);
        entry->setCreator(creator);
        entry->setLtc(ltc);
        entry->setTime(time);
        return entry;
    }

    /// Strip `csID` becomes the timecode strip, whose source has sent `tc`.
    void timecodeStrip(int64_t csID, SMPTETimecode tc) {
        ChannelStripManager::controllerByID(csID)->model().setWirelessName("LTC Timecode");
        LTCManager::sharedInstance().tcReceived(Dictionary{{"Command", "LTC"},
                                                           {"CSID", csID},
                                                           {"ReceiveTime", loop_->now()},
                                                           {"SendTime", loop_->now()},
                                                           {"FPS", 25},
                                                           {"Hours", tc.hours},
                                                           {"Minutes", tc.mins},
                                                           {"Seconds", tc.secs},
                                                           {"Frames", tc.frame}});
    }
};

}  // namespace quenbril
