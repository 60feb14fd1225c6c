#pragma once

#include <cstddef>

namespace quenbril {

/// A guard run before libplist parses a binary plist from outside. libplist parses nested
/// arrays and dictionaries recursively without a bound, so a few megabytes of nesting overflow
/// the stack. It also copies a shared object wherever it is referenced, so a few hundred bytes
/// of arrays that each hold the next one twice make billions of nodes. This walks the object
/// table without recursion (each shared object once) and answers whether the plist's nesting
/// (counted from its top object) stays within `maxDepth`, and the nodes libplist would make
/// (every reference, a dictionary's keys included, and the top) within `maxElements`.
class BinaryPlistNesting {
  public:
    enum class Result {
        Within,
        TooDeep,
        /// More nodes than `maxElements`, or more objects in the table (a writer writes only
        /// the objects it references, so that many objects make at least that many nodes).
        TooManyElements,
        /// What it cannot vouch for: a damaged trailer or offset table, a container whose
        /// references run outside the object data, a reference out of range, or a container
        /// that contains itself.
        Damaged
    };
    static Result check(const void* bytes, size_t length, int maxDepth, size_t maxElements);
    static bool within(const void* bytes, size_t length, int maxDepth, size_t maxElements) {
        return check(bytes, length, maxDepth, maxElements) == Result::Within;
    }
};

}  // namespace quenbril
