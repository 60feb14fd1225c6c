// Feeds arbitrary bytes to the keyed unarchiver, with a decoder registered for a custom class so
// the registered-decoder path is reached too. Any crash, leak, hang or unbounded allocation is a
// fault; a refused archive is the normal outcome.
#include <cstddef>
#include <cstdint>

#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/Log.h"

namespace {

const quenbril::ArchiveClassRegistry& registry() {
    static quenbril::ArchiveClassRegistry* r = [] {
        auto* reg = new quenbril::ArchiveClassRegistry;
        auto decode = [](quenbril::KeyedDecoder& coder) -> std::optional<quenbril::Value> {
            quenbril::Dictionary d;
            d.set("sender", coder.decodeObject("sender"));
            d.set("message", coder.decodeObject("message"));
            d.set("messageType", coder.decodeInt32("messageType"));
            d.set("date", coder.decodeObject("date"));
            d.set("flag", coder.decodeBool("flag"));
            d.set("ratio", coder.decodeDouble("ratio"));
            if (auto bytes = coder.decodeBytes("NS.uuidbytes")) d.set("bytes", *bytes);
            return quenbril::Value(std::move(d));
        };
        for (const char* name : {"Note", "NSURL", "NSUUID", "ChatMessage"}) {
            reg->registerDecoder(name, decode);
        }
        return reg;
    }();
    return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    quenbril::Error error;
    auto value = quenbril::KeyedUnarchiver::unarchive(data, size, registry(), &error);
    // What was decoded must be writable again (registered objects decode to plain values here).
    if (value) quenbril::KeyedArchiver::archivedData(*value);
    return 0;
}
