#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/KeyedDecoder.h"
#include "foundation/KeyedEncoder.h"
#include "foundation/Value.h"

namespace quenbril {

/// Decoders and encoders of the archived classes beyond the built-in value classes, by class
/// name. The chat model registers "ChatMessage" here, for instance.
///
/// Thread-safe: registering and looking up may happen on any thread at any time. A decoder or
/// encoder runs outside the registry's lock, so it may use the registry itself.
class ArchiveClassRegistry {
  public:
    /// Reads one object. Answers the decoded value (often a `std::shared_ptr<const Object>` of
    /// the decoder's own class, or a plain value), or nothing when the object cannot be
    /// decoded (the archive then fails naming the class).
    using Decoder = std::function<std::optional<Value>(KeyedDecoder&)>;
    /// Writes one object's members; false when it cannot (the archive then fails).
    using Encoder = std::function<bool(const Object&, KeyedEncoder&)>;

    struct EncoderEntry {
        Encoder encode;
        /// The "$classes" chain written for the class: the class name first, then its
        /// superclasses, ending with "NSObject".
        std::vector<std::string> classes;
    };

    /// The registry the archiver and unarchiver use unless they are given another.
    static ArchiveClassRegistry& shared();

    ArchiveClassRegistry() = default;
    ArchiveClassRegistry(const ArchiveClassRegistry&) = delete;
    ArchiveClassRegistry& operator=(const ArchiveClassRegistry&) = delete;

    /// Replaces any decoder of that class name. The built-in value classes (NSDictionary,
    /// NSArray, NSString, NSData and their mutable forms, NSDate, NSNull, NSColor) are always
    /// decoded by the unarchiver itself.
    void registerDecoder(const std::string& className, Decoder decoder);
    /// Replaces any encoder of that class name; objects whose `className()` is this name are
    /// written through it. `superclasses` follow the class name in "$classes".
    void registerEncoder(const std::string& className, Encoder encoder,
                         std::vector<std::string> superclasses = {"NSObject"});
    bool removeDecoder(std::string_view className);
    bool removeEncoder(std::string_view className);

    std::shared_ptr<const Decoder> decoder(std::string_view className) const;
    std::shared_ptr<const EncoderEntry> encoder(std::string_view className) const;

  private:
    mutable std::shared_mutex mutex_;
    std::map<std::string, std::shared_ptr<const Decoder>, std::less<>> decoders_;
    std::map<std::string, std::shared_ptr<const EncoderEntry>, std::less<>> encoders_;
};

}  // namespace quenbril
