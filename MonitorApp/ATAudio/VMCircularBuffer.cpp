#include "MonitorApp/ATAudio/VMCircularBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace quenbril {

namespace {

constexpr int kRetries = 3;

const char* fileName() {
    const char* slash = std::strrchr(__FILE__, '/');
    return slash ? slash + 1 : __FILE__;
}

void printFailure(int line, const char* step, int error) {
    log(LogLevel::Error, "%s:%d: %s: %s", fileName(), line, step, std::strerror(error));
}

enum class Attempt { Done, Retry };

// One try at a file of `length` bytes mapped at `base` and again right behind it. The file lives
// only in memory and only as long as its two mappings; its descriptor is closed at once.
Attempt mapTwice(VMCircularBuffer* ring, int32_t length, bool last, bool* ok) {
    const size_t size = static_cast<size_t>(length);
    const int fd = memfd_create("VMCircularBuffer", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int error = errno;
        if (fd >= 0) close(fd);
        if (!last) return Attempt::Retry;
        printFailure(__LINE__, "Buffer allocation", error);
        return Attempt::Done;
    }
    // Reserving both halves first guarantees that the second copy can sit right behind the first.
    void* base = mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        const int error = errno;
        close(fd);
        if (!last) return Attempt::Retry;
        printFailure(__LINE__, "Buffer allocation", error);
        return Attempt::Done;
    }
    auto* first = static_cast<uint8_t*>(base);
    void* low = mmap(first, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    if (low == MAP_FAILED) {
        const int error = errno;
        munmap(base, 2 * size);
        close(fd);
        if (!last) return Attempt::Retry;
        printFailure(__LINE__, "Buffer allocation", error);
        return Attempt::Done;
    }
    void* high = mmap(first + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    const int error = errno;
    close(fd);
    if (high == MAP_FAILED) {
        munmap(base, 2 * size);
        if (!last) return Attempt::Retry;
        printFailure(__LINE__, "Remap buffer memory", error);
        return Attempt::Done;
    }
    if (high != first + size) {
        munmap(base, 2 * size);
        if (!last) return Attempt::Retry;
        log(LogLevel::Error, "Couldn't map buffer memory to end of buffer");
        return Attempt::Done;
    }
    ring->buffer = first;
    ring->length = length;
    ring->head = 0;
    ring->tail = 0;
    ring->fillCount.store(0, std::memory_order_release);
    *ok = true;
    return Attempt::Done;
}

}  // namespace

bool VMCircularBufferInit(VMCircularBuffer* ring, int32_t length) {
    const int64_t page = sysconf(_SC_PAGESIZE);
    const int64_t rounded = length <= 0 ? page : (int64_t{length} + page - 1) / page * page;
    if (rounded > INT32_MAX) {
        log(LogLevel::Error, "%s:%d: %s: %s", fileName(), __LINE__, "Buffer allocation",
            std::strerror(EINVAL));
        return false;
    }
    bool ok = false;
    for (int attempt = 0; attempt <= kRetries; ++attempt) {
        if (mapTwice(ring, static_cast<int32_t>(rounded), attempt == kRetries, &ok) ==
            Attempt::Done) {
            break;
        }
    }
    return ok;
}

void VMCircularBufferCleanup(VMCircularBuffer* ring) {
    if (ring->buffer) munmap(ring->buffer, 2 * static_cast<size_t>(ring->length));
    ring->buffer = nullptr;
    ring->length = 0;
    ring->head = 0;
    ring->tail = 0;
    ring->fillCount.store(0, std::memory_order_release);
}

void VMCircularBufferClear(VMCircularBuffer* ring) {
    int32_t held = 0;
    VMCircularBufferTail(ring, &held);
    if (held > 0) VMCircularBufferConsume(ring, held);
}

}  // namespace quenbril
