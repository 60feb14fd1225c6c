#include "foundation/SkippedElements.h"

#include "foundation/Log.h"

namespace quenbril {

SkippedElements::~SkippedElements() {
    if (count_ == 0) return;
    log(LogLevel::Warning,
        "%s: %zu element%s of the wrong kind skipped (the first: element %zu, %s)", what_.c_str(),
        count_, count_ == 1 ? "" : "s", firstIndex_, Value::kindName(firstKind_));
}

void SkippedElements::add(size_t index, const Value& element) {
    if (count_++ == 0) {
        firstIndex_ = index;
        firstKind_ = element.kind();
    }
}

}  // namespace quenbril
