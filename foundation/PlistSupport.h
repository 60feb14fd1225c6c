#pragma once

// What foundation's own sources share for working with libplist nodes. libplist is a private
// dependency of foundation: code outside it cannot include this header.

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "foundation/Value.h"

namespace quenbril {

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

/// Walks an array's items in order. libplist's indexed look-up walks the array from its start,
/// so a long array is walked with its iterator, which costs an allocation; a short one (as most
/// of an archive's are) by index, which costs none.
class PlistArrayCursor {
  public:
    static constexpr uint32_t kIndexedItems = 16;

    explicit PlistArrayCursor(plist_t array) : array_(array), size_(plist_array_get_size(array)) {
        if (size_ > kIndexedItems) plist_array_new_iter(array, &iter_);
    }
    ~PlistArrayCursor() { std::free(iter_); }
    PlistArrayCursor(const PlistArrayCursor&) = delete;
    PlistArrayCursor& operator=(const PlistArrayCursor&) = delete;

    /// Null after the last item.
    plist_t next() {
        plist_t item = nullptr;
        if (iter_) {
            plist_array_next_item(array_, iter_, &item);
        } else if (next_ < size_ && size_ <= kIndexedItems) {
            item = plist_array_get_item(array_, next_++);
        }
        return item;
    }

  private:
    plist_t array_;
    uint32_t size_;
    uint32_t next_ = 0;
    plist_array_iter iter_ = nullptr;
};

/// `root` written as a binary or an XML property list; nothing when libplist cannot write it.
inline std::optional<Bytes> plistBytes(plist_t root, bool binary) {
    char* out = nullptr;
    uint32_t n = 0;
    if (binary) {
        plist_to_bin(root, &out, &n);
    } else {
        plist_to_xml(root, &out, &n);
    }
    if (!out) return std::nullopt;
    Bytes bytes(out, out + n);
    if (binary) {
        plist_to_bin_free(out);
    } else {
        plist_to_xml_free(out);
    }
    return bytes;
}

}  // namespace quenbril
