#pragma once

namespace quenbril {

/// A telemetry service as the SDK's start takes it: the stand-in for a service's class object.
/// Each service class holds one as its `kService`; the SDK knows a service by that object's
/// address, so it cannot be copied.
class ZIService {
  public:
    using StartHook = void (*)();

    constexpr ZIService(const char* name, StartHook startHook = nullptr)
        : name_(name), startHook_(startHook) {}
    ZIService(const ZIService&) = delete;
    ZIService& operator=(const ZIService&) = delete;

    /// The service class's name ("ZIAnalytics").
    const char* name() const { return name_; }

    /// Does what starting the service asks, if anything.
    void start() const {
        if (startHook_) startHook_();
    }

  private:
    const char* name_;
    StartHook startHook_;
};

}  // namespace quenbril
