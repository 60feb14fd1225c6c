#include "MonitorApp/panels/PlayerFile.h"

#include "foundation/PropertyListFile.h"

namespace quenbril {

namespace {

constexpr PropertyListFile kFile(PlayerFile::kErrorDomain, PlayerFile::kMaxFileSize, "players");

std::optional<Array> playersOf(const std::optional<Value>& root, const std::string& path,
                               Error* error) {
    if (!root) return std::nullopt;
    const Array* players = kFile.rootArray(*root, path, error);
    if (!players) return std::nullopt;
    return *players;
}

}  // namespace

std::optional<Array> PlayerFile::read(const std::string& path, Error* error) {
    return playersOf(kFile.read(path, error), path, error);
}

std::optional<Array> PlayerFile::fromBytes(const Bytes& bytes, const std::string& path,
                                           Error* error) {
    return playersOf(kFile.fromBytes(bytes, path, error), path, error);
}

bool PlayerFile::write(const Array& players, const std::string& path, Error* error) {
    return kFile.write(Value(players), path, error);
}

}  // namespace quenbril
