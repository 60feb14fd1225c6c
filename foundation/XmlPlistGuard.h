#pragma once

#include <cstddef>

namespace quenbril {

/// A guard run before libplist parses an XML plist from outside, against what its parser does
/// not bound. It builds any nesting it is given and frees the tree recursively, so a few
/// megabytes of nested elements overflow the stack; and it decodes the entity references of a
/// text in time that grows with their square (a 64 MiB file of "&amp;" would take hours). This
/// reads the markup without recursion and answers whether the elements' nesting stays within
/// `maxDepth`, their number within `maxElements` (libplist spends time and about a hundred bytes
/// on each, and a file of empty elements is mostly elements), and each element's text within
/// kMaxEntities escaped characters: its references,
/// and the characters a writer escapes again ('>' written plainly; '&', '<' and '>' in a CDATA
/// section), so that whatever passes writes back as XML that passes.
///
/// It reads a strict subset of XML, so that libplist can never see more nesting than it counts:
/// elements with double-quoted attributes, comments, CDATA sections, processing instructions and
/// a document type without an internal subset. Anything else is refused as damaged, as is a
/// closing tag that names another element than the one open.
class XmlPlistGuard {
  public:
    /// Far more than a name, a note or a message holds; decoded in about a millisecond.
    static constexpr size_t kMaxEntities = 4096;

    enum class Result { Within, TooDeep, TooManyElements, TooManyEntities, Damaged };
    /// Every element counts once, the empty ones (<true/>) and <plist> included.
    static Result check(const void* bytes, size_t length, int maxDepth, size_t maxElements);
};

}  // namespace quenbril
