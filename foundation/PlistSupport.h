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

/// Walks an array's items in order. libplist's indexed look-up costs about a microsecond an
/// item; its iterator is nearly free.
class PlistArrayCursor {
  public:
    explicit PlistArrayCursor(plist_t array) : array_(array) {
        plist_array_new_iter(array, &iter_);
    }
    ~PlistArrayCursor() { std::free(iter_); }
    PlistArrayCursor(const PlistArrayCursor&) = delete;
    PlistArrayCursor& operator=(const PlistArrayCursor&) = delete;

    /// Null after the last item.
    plist_t next() {
        plist_t item = nullptr;
        if (iter_) plist_array_next_item(array_, iter_, &item);
        return item;
    }

  private:
    plist_t array_;
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
