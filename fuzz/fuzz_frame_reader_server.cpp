#include "fuzz/FrameReaderFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return quenbril::fuzzFrameReader(quenbril::LinkPeer::Server, data, size);
}
