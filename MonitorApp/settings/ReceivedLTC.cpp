#include "MonitorApp/settings/ReceivedLTC.h"

#include "foundation/NumberRange.h"

namespace quenbril {

void ReceivedLTC::updateFromMessage(const Dictionary& m) {
    csID_ = m["CSID"].longLongValue().value_or(0);
    receiveTime_ = numberInRange(m["ReceiveTime"], -kMaxAbsoluteTime, kMaxAbsoluteTime).value_or(0);
    sendTime_ = numberInRange(m["SendTime"], -kMaxAbsoluteTime, kMaxAbsoluteTime).value_or(0);
    fps_ = m["FPS"].intValue().value_or(0);
    hours_ = m["Hours"].intValue().value_or(0);
    minutes_ = m["Minutes"].intValue().value_or(0);
    seconds_ = m["Seconds"].intValue().value_or(0);
    frames_ = m["Frames"].intValue().value_or(0);
}

}  // namespace quenbril
