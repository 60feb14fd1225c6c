#pragma once

#include <cstddef>

namespace quenbril {

/// A guard run before libplist parses an XML plist from outside. libplist builds any nesting
/// it is given and frees the tree recursively, so a few megabytes of nested elements overflow
/// the stack. This reads the markup without recursion and answers whether the elements' nesting
/// stays within `maxDepth`.
///
/// It reads a strict subset of XML, so that libplist can never see more nesting than it counts:
/// elements with double-quoted attributes, comments, CDATA sections, processing instructions and
/// a document type without an internal subset. Anything else is refused as damaged, as is a
/// closing tag that names another element than the one open.
class XmlPlistNesting {
  public:
    enum class Result { Within, TooDeep, Damaged };
    static Result check(const void* bytes, size_t length, int maxDepth);
};

}  // namespace quenbril
