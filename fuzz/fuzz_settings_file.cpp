// Feeds arbitrary bytes as a ".qcf" settings file through the import: the bounded read, the
// property list, and each part applied to the stores it fills. None may crash, and the settings
// made afterwards must write back as a file that reads again.
#include <cstdint>
#include <cstdlib>

#include "MonitorApp/app/SettingsFile.h"
#include "foundation/Log.h"
#include "fuzz/FuzzFiles.h"

namespace {
std::string folder;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    folder = quenbril::fuzz::useTemporarySettingsHome("qcf");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenbril;
    const std::string path = folder + "/input.qcf";
    fuzz::putFile(path, data, size);
    std::optional<Dictionary> settings = SettingsFile::read(path, nullptr);
    if (!settings) return 0;
    SettingsFile::apply(*settings);
    const std::string out = folder + "/output.qcf";
    if (!SettingsFile::write(SettingsFile::make(), out, nullptr)) std::abort();
    if (!SettingsFile::read(out, nullptr)) std::abort();
    return 0;
}
