#pragma once

#include <cstddef>

namespace quenbril {

/// The bytes of resources/images/DropImageHere.tiff, embedded at build time.
extern const unsigned char kDropImageHereTiff[];
extern const size_t kDropImageHereTiffSize;

}  // namespace quenbril
