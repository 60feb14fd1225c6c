// Feeds arbitrary bytes as a whole ".wip" receiver list file through its reader (the bounded
// read, the property list, the check of every entry). None may crash, and a list that was read
// must write back as a file that reads again to the same list.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/serverrole/receiverlist/ReceiverListFile.h"
#include "foundation/Log.h"
#include "fuzz/FuzzFiles.h"

namespace {
std::string folder;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    folder = quenbril::fuzz::useTemporarySettingsHome("wip");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    const std::string path = folder + "/input.wip";
    fuzz::putFile(path, data, size);
    Error error;
    std::optional<ReceiverListFile::Receivers> receivers = ReceiverListFile::read(path, &error);
    if (!receivers) {
        if (error.description.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    const std::string out = folder + "/output.wip";
    if (!ReceiverListFile::write(*receivers, out, nullptr)) std::abort();
    std::optional<ReceiverListFile::Receivers> again = ReceiverListFile::read(out, nullptr);
    if (!again || ReceiverListFile::toArray(*again) != ReceiverListFile::toArray(*receivers)) {
        std::abort();
    }
    return 0;
}
