#pragma once

#include <cstddef>

namespace quenbril {

/// A guard run before libplist parses a binary plist from outside. libplist parses nested
/// arrays and dictionaries recursively without a bound, so a few megabytes of nesting overflow
/// the stack. This walks the object table without recursion and answers whether the plist's
/// nesting (counted from its top object) stays within `maxDepth`.
class BinaryPlistNesting {
  public:
    enum class Result {
        Within,
        TooDeep,
        /// What it cannot vouch for: a damaged trailer or offset table, a container whose
        /// references run outside the object data, a reference out of range, or a container
        /// that contains itself.
        Damaged
    };
    static Result check(const void* bytes, size_t length, int maxDepth);
    static bool within(const void* bytes, size_t length, int maxDepth) {
        return check(bytes, length, maxDepth) == Result::Within;
    }
};

}  // namespace quenbril
