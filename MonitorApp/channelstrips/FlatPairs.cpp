#include "MonitorApp/channelstrips/FlatPairs.h"

#include "foundation/Log.h"

namespace quenbril {

void forEachIdValuePair(const Array& values, const char* what,
                        const std::function<void(int64_t, const Value&)>& apply) {
    std::optional<int64_t> pending;
    for (const Value& element : values) {
        if (pending) {
            const int64_t id = *pending;
            pending.reset();
            apply(id, element);
            continue;
        }
        const std::optional<int64_t> id = element.longLongValue();
        if (!id) {
            log(LogLevel::Warning, "%s: skipped an id of kind %s", what,
                Value::kindName(element.kind()));
            continue;
        }
        if (*id != 0) {
            pending = id;
        }
    }
}

}  // namespace quenbril
