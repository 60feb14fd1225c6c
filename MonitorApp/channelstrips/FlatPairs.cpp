#include "MonitorApp/channelstrips/FlatPairs.h"

#include "foundation/Log.h"

namespace quenbril {

void forEachIdValuePair(const Array& values, const char* what,
                        const std::function<void(int64_t, const Value&)>& apply) {
    bool idPending = false;
    int64_t pending = 0;
    for (const Value& element : values) {
        if (idPending) {
            idPending = false;
            apply(pending, element);
            continue;
        }
        const std::optional<int64_t> id = element.longLongValue();
        if (!id) {
            log(LogLevel::Warning, "%s: skipped an id of kind %s", what,
                Value::kindName(element.kind()));
            continue;
        }
        if (*id != 0) {
            pending = *id;
            idPending = true;
        }
    }
}

}  // namespace quenbril
