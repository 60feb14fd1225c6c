#pragma once

namespace quenbril {

class ATRecorder;

/// What a recorder tells its owner, on the recording thread. Both operations are optional.
class ATRecorderDelegate {
  public:
    virtual ~ATRecorderDelegate() = default;
    /// After every block written.
    virtual void recorderUpdatedCurrentTime(ATRecorder& /*recorder*/) {}
    /// Once, after the file was closed.
    virtual void recorderDidClose(ATRecorder& /*recorder*/) {}
};

}  // namespace quenbril
