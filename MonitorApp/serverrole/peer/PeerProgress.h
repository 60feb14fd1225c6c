#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// The progress of a resource being received: the fraction done, with one observer told of
/// every change. May be changed and observed from any thread; the observer is called on the
/// changing thread.
class PeerProgress : public Object {
  public:
    std::string className() const override { return "NSProgress"; }
    double fractionCompleted() const {
        std::lock_guard lock(mutex_);
        return fraction_;
    }
    void setFractionCompleted(double fraction) {
        std::function<void(double)> observer;
        {
            std::lock_guard lock(mutex_);
            fraction_ = fraction;
            observer = observer_;
        }
        if (observer) observer(fraction);
    }
    void setObserver(std::function<void(double)> observer) {
        std::lock_guard lock(mutex_);
        observer_ = std::move(observer);
    }

  private:
    mutable std::mutex mutex_;
    double fraction_ = 0;
    std::function<void(double)> observer_;
};

}  // namespace quenbril
