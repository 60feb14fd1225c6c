#include "foundation/BinaryPlistNesting.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/ScratchVector.h"

namespace quenbril {

namespace {

constexpr size_t kHeaderSize = 8;  // "bplist00"
constexpr size_t kTrailerSize = 32;

uint64_t readBigEndian(const uint8_t* p, size_t width) {
    // References and offsets are mostly one or two bytes wide.
    if (width == 1) return p[0];
    if (width == 2) return uint64_t{p[0]} << 8 | p[1];
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
    return v;
}

class Walker {
  public:
    Walker(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    using Result = BinaryPlistNesting::Result;

    Result run(int maxDepth, size_t maxElements) {
        if (length_ < kHeaderSize + kTrailerSize || std::memcmp(data_, "bplist", 6) != 0) {
            return Result::Damaged;
        }
        const uint8_t* trailer = data_ + length_ - kTrailerSize;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        uint64_t top = readBigEndian(trailer + 16, 8);
        offsetTable_ = readBigEndian(trailer + 24, 8);
        dataEnd_ = offsetTable_;
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return Result::Damaged;
        }
        if (offsetTable_ < kHeaderSize || offsetTable_ > length_ - kTrailerSize) {
            return Result::Damaged;
        }
        if (objectCount_ == 0 || top >= objectCount_ ||
            objectCount_ > (length_ - kTrailerSize - offsetTable_) / offsetSize_) {
            return Result::Damaged;
        }
        if (objectCount_ > maxElements) return Result::TooManyElements;
        // 0 unvisited, 1 on the path, otherwise 2 + the height below the object.
        state_.assign(objectCount_, 0);
        nodes_.assign(objectCount_, 0);
        return walk(top, maxDepth, maxElements);
    }

  private:
    struct Frame {
        uint64_t object;
        uint64_t refs;   // offset of the object's references
        uint64_t count;  // references to visit
        uint64_t next;
        uint32_t height;
        uint64_t nodes;  // the object's node and those of the references visited so far
    };

    /// The references of a container object, or count 0 for anything else.
    bool container(uint64_t object, uint64_t& refs, uint64_t& count) {
        uint64_t offset = readBigEndian(data_ + offsetTable_ + object * offsetSize_, offsetSize_);
        if (offset < kHeaderSize || offset >= dataEnd_) return false;
        uint8_t marker = data_[offset];
        uint8_t type = marker >> 4;
        count = 0;
        if (type != 0xA && type != 0xC && type != 0xD) return true;
        count = marker & 0x0F;
        refs = offset + 1;
        if (count == 0x0F) {
            if (refs >= dataEnd_ || (data_[refs] & 0xF0) != 0x10) return false;
            size_t width = size_t{1} << (data_[refs] & 0x0F);
            if (width > 8 || refs + 1 + width > dataEnd_) return false;
            count = readBigEndian(data_ + refs + 1, width);
            refs += 1 + width;
        }
        if (type == 0xD) {
            if (count > (dataEnd_ - refs) / 2) return false;
            count *= 2;
        }
        return count <= (dataEnd_ - refs) / refSize_;
    }

    Result walk(uint64_t top, int maxDepth, size_t maxElements) {
        ScratchVector<Frame, Frame> pathScratch;
        std::vector<Frame>& path = pathScratch.items;
        // Adds the nodes of a finished object to its container's count; the container's own
        // count stays within maxElements, which keeps every count within 32 bits.
        auto add = [&](uint64_t nodes) {
            if (path.empty()) return nodes <= maxElements;
            path.back().nodes += nodes;
            return path.back().nodes <= maxElements;
        };
        auto enter = [&](uint64_t object) {
            uint64_t refs = 0, count = 0;
            if (!container(object, refs, count)) return Result::Damaged;
            if (count == 0) {
                state_[object] = 2;
                nodes_[object] = 1;
                return add(1) ? Result::Within : Result::TooManyElements;
            }
            if (path.size() >= static_cast<size_t>(maxDepth)) return Result::TooDeep;
            state_[object] = 1;
            path.push_back({object, refs, count, 0, 0, 1});
            return Result::Within;
        };
        if (Result r = enter(top); r != Result::Within) return r;
        while (!path.empty()) {
            Frame& frame = path.back();
            if (frame.next == frame.count) {
                uint32_t height = frame.height + 1;
                const uint64_t nodes = frame.nodes;
                state_[frame.object] = static_cast<uint16_t>(height + 2);
                nodes_[frame.object] = static_cast<uint32_t>(nodes);
                path.pop_back();
                if (!path.empty() && height > path.back().height) path.back().height = height;
                if (!add(nodes)) return Result::TooManyElements;
                continue;
            }
            uint64_t child = readBigEndian(data_ + frame.refs + frame.next * refSize_, refSize_);
            ++frame.next;
            if (child >= objectCount_) return Result::Damaged;
            uint32_t state = state_[child];
            if (state == 1) return Result::Damaged;  // contains itself
            if (state == 0) {
                if (Result r = enter(child); r != Result::Within) return r;
                continue;
            }
            uint32_t height = state - 2;
            if (path.size() + height > static_cast<size_t>(maxDepth)) return Result::TooDeep;
            if (height > frame.height) frame.height = height;
            // A shared object: libplist makes its nodes again here.
            if (!add(nodes_[child])) return Result::TooManyElements;
        }
        return Result::Within;
    }

    const uint8_t* data_;
    size_t length_;
    size_t offsetSize_ = 0, refSize_ = 0;
    uint64_t objectCount_ = 0, offsetTable_ = 0, dataEnd_ = 0;
    struct StateTag;
    ScratchVector<uint16_t, StateTag> stateScratch_;
    std::vector<uint16_t>& state_ = stateScratch_.items;
    // The nodes of each finished object as libplist would make them.
    struct NodesTag;
    ScratchVector<uint32_t, NodesTag> nodesScratch_;
    std::vector<uint32_t>& nodes_ = nodesScratch_.items;
};

}  // namespace

BinaryPlistNesting::Result BinaryPlistNesting::check(const void* bytes, size_t length, int maxDepth,
                                                     size_t maxElements) {
    // Heights are kept in 16 bits, node counts in 32.
    if (!bytes || maxDepth < 1 || maxDepth > 60000) return Result::Damaged;
    maxElements = std::min<size_t>(maxElements, UINT32_MAX);
    return Walker(static_cast<const uint8_t*>(bytes), length).run(maxDepth, maxElements);
}

}  // namespace quenbril
