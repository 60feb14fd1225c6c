// Feeds arbitrary bytes to the defaults store as its file: loading must never crash, and
// whatever was loaded (or moved aside) must leave a store that can save.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace {

void emptyFolder();

const std::string& folder() {
    // Never destroyed: the exit handler below still needs it.
    static const std::string* path = [] {
        char pattern[] = "/tmp/quenbril-fuzz-defaults-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        std::atexit([] {
            emptyFolder();
            rmdir(folder().c_str());
        });
        return new std::string(pattern);
    }();
    return *path;
}

void emptyFolder() {
    DIR* dir = opendir(folder().c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((folder() + "/" + name).c_str());
    }
    closedir(dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quenbril::setLogLevel(quenbril::LogLevel::None);
    emptyFolder();
    const std::string file = folder() + "/Fuzz.plist";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);

    quenbril::UserDefaults defaults(folder(), "Fuzz");
    (void)defaults.boolForKey("soloOn");
    (void)defaults.stringForKey("manualIP");
    (void)defaults.arrayForKey("chanList");
    if (!defaults.setInteger(1, "fuzzed")) std::abort();
    quenbril::UserDefaults reloaded(folder(), "Fuzz");
    if (reloaded.integerForKey("fuzzed") != 1) std::abort();
    return 0;
}
