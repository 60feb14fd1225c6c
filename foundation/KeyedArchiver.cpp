#include "foundation/KeyedArchiver.h"

#include <charconv>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/PlistSupport.h"

namespace quenbril {

namespace {

/// Strings go into the plist as UTF-8 that libplist turns into UTF-16 where needed; it cannot
/// carry NUL characters and mangles invalid UTF-8, so both are refused rather than changed.
bool isPlistText(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned char c = *p;
        if (c == 0) return false;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        static constexpr uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

std::string colorComponents(const Color& c) {
    std::string text;
    char buf[32];
    const double parts[] = {c.red, c.green, c.blue, c.alpha};
    for (int i = 0; i < 4; ++i) {
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, parts[i]);
        if (i) text += ' ';
        text.append(buf, ec == std::errc() ? end : buf);
    }
    return text;
}

class Writer;

/// The registered encoders' view of the object being written.
class MemberCoder final : public KeyedEncoder {
  public:
    MemberCoder(Writer& writer, plist_t members, int depth)
        : writer_(writer), members_(members), depth_(depth) {}

    void encodeObject(std::string_view key, const Value& value) override;
    void encodeInt64(std::string_view key, int64_t value) override {
        set(key, plist_new_uint(static_cast<uint64_t>(value)));
    }
    void encodeBool(std::string_view key, bool value) override { set(key, plist_new_bool(value)); }
    void encodeDouble(std::string_view key, double value) override {
        set(key, plist_new_real(value));
    }
    void encodeBytes(std::string_view key, const Bytes& bytes) override {
        set(key, plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    void fail(std::string description) override;
    bool failed() const override { return failed_; }

  private:
    bool validKey(std::string_view key);
    void set(std::string_view key, plist_t node) {
        PlistPtr owner(node);
        if (!validKey(key)) return;
        plist_dict_set_item(members_, std::string(key).c_str(), owner.release());
    }

    Writer& writer_;
    plist_t members_;
    int depth_;
    bool failed_ = false;
};

class Writer {
  public:
    explicit Writer(const ArchiveClassRegistry& registry) : registry_(registry) {
        objects_.push_back(plist_new_string("$null"));
    }
    ~Writer() {
        for (plist_t p : objects_) {
            if (p) plist_free(p);
        }
    }

    /// Writes `value` as an object; a null value becomes "$null" when `nullAsNil`, otherwise an
    /// NSNull object (collections cannot hold nil).
    bool encode(const Value& value, int depth, bool nullAsNil, uint64_t& uid);

    bool fail(int code, std::string text) {
        if (!failed_) {
            failed_ = true;
            error_ = Error::make(KeyedArchiver::kErrorDomain, code, std::move(text));
        }
        return false;
    }
    const Error& error() const { return error_; }

    /// Keeps values a registered encoder made on the fly alive until the archive is written:
    /// strings and shared values are remembered by address.
    const Value& keep(const Value& value) {
        keepAlive_.push_back(value);
        return keepAlive_.back();
    }

    std::optional<Bytes> finish(uint64_t rootUid) {
        if (objects_.size() > std::numeric_limits<uint32_t>::max()) {
            fail(KeyedArchiver::kUnsupportedValue, "too many objects for one archive");
            return std::nullopt;
        }
        PlistPtr archive(plist_new_dict());
        plist_dict_set_item(archive.get(), "$version", plist_new_uint(100000));
        plist_dict_set_item(archive.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "root", plist_new_uid(rootUid));
        plist_dict_set_item(archive.get(), "$top", top);
        plist_t objects = plist_new_array();
        for (plist_t& p : objects_) {
            plist_array_append_item(objects, p);
            p = nullptr;
        }
        plist_dict_set_item(archive.get(), "$objects", objects);
        std::optional<Bytes> bytes = plistBytes(archive.get(), true);
        if (!bytes) fail(KeyedArchiver::kUnsupportedValue, "libplist could not write the archive");
        return bytes;
    }

  private:
    uint64_t add(plist_t node) {
        objects_.push_back(node);
        return objects_.size() - 1;
    }
    uint64_t reserve() { return add(nullptr); }

    uint64_t classUid(const std::string& name, const std::vector<std::string>& chain) {
        auto it = classes_.find(name);
        if (it != classes_.end()) return it->second;
        plist_t entry = plist_new_dict();
        plist_dict_set_item(entry, "$classname", plist_new_string(name.c_str()));
        plist_t list = plist_new_array();
        for (const std::string& c : chain)
            plist_array_append_item(list, plist_new_string(c.c_str()));
        plist_dict_set_item(entry, "$classes", list);
        uint64_t uid = add(entry);
        classes_.emplace(name, uid);
        return uid;
    }
    uint64_t builtinClassUid(const char* name) {
        auto it = classes_.find(name);
        if (it != classes_.end()) return it->second;
        return classUid(name, {name, "NSObject"});
    }

    uint64_t number(int kind, uint64_t bits, plist_t (*make)(uint64_t)) {
        auto [it, inserted] = numbers_.try_emplace({kind, bits}, 0);
        if (inserted) it->second = add(make(bits));
        return it->second;
    }

    bool encodeArray(const Array& array, int depth, uint64_t uid);
    bool encodeDictionary(const Dictionary& dictionary, int depth, uint64_t uid);
    bool encodeObject(const Object& object, int depth, uint64_t& uid);

    const ArchiveClassRegistry& registry_;
    std::vector<plist_t> objects_;
    std::unordered_map<std::string_view, uint64_t> strings_;
    std::map<std::pair<int, uint64_t>, uint64_t> numbers_;
    std::unordered_map<const void*, uint64_t> shared_;
    std::unordered_map<std::string, uint64_t> classes_;
    std::unordered_set<const Object*> inProgress_;
    std::deque<Value> keepAlive_;  // a deque: references to kept values stay valid
    uint64_t nsNull_ = 0;
    bool failed_ = false;
    Error error_;
};

bool Writer::encode(const Value& value, int depth, bool nullAsNil, uint64_t& uid) {
    if (depth > KeyedArchiver::kMaxDepth) {
        return fail(KeyedArchiver::kTooDeep, "value nested too deeply for an archive");
    }
    switch (value.kind()) {
        case Value::Kind::Null:
            if (nullAsNil) {
                uid = 0;
            } else {
                if (!nsNull_) {
                    plist_t object = plist_new_dict();
                    plist_dict_set_item(object, "$class", plist_new_uid(builtinClassUid("NSNull")));
                    nsNull_ = add(object);
                }
                uid = nsNull_;
            }
            return true;
        case Value::Kind::Bool:
            uid = number(0, *value.boolValue(), [](uint64_t b) { return plist_new_bool(b != 0); });
            return true;
        case Value::Kind::Integer:
            uid = number(1, static_cast<uint64_t>(*value.longLongValue()), plist_new_uint);
            return true;
        case Value::Kind::Real: {
            double d = *value.doubleValue();
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            uid = number(2, bits, [](uint64_t b) {
                double x;
                std::memcpy(&x, &b, sizeof x);
                return plist_new_real(x);
            });
            return true;
        }
        case Value::Kind::String: {
            const std::string& s = *value.stringValue();
            auto it = strings_.find(s);
            if (it != strings_.end()) {
                uid = it->second;
                return true;
            }
            if (!isPlistText(s)) {
                return fail(KeyedArchiver::kUnsupportedValue,
                            "a string holds NUL or is not valid UTF-8");
            }
            uid = add(plist_new_string(s.c_str()));
            strings_.emplace(s, uid);
            return true;
        }
        case Value::Kind::Data: {
            const Bytes* bytes = value.dataValue();
            auto [it, inserted] = shared_.try_emplace(bytes, 0);
            if (inserted) {
                it->second = add(
                    plist_new_data(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
            }
            uid = it->second;
            return true;
        }
        case Value::Kind::Date: {
            plist_t object = plist_new_dict();
            plist_dict_set_item(object, "NS.time", plist_new_real(*value.dateValue()));
            plist_dict_set_item(object, "$class", plist_new_uid(builtinClassUid("NSDate")));
            uid = add(object);
            return true;
        }
        case Value::Kind::Color: {
            std::string text = colorComponents(*value.colorValue());
            plist_t object = plist_new_dict();
            plist_dict_set_item(object, "NSColorSpace", plist_new_uint(2));
            // The components are stored NUL-terminated.
            plist_dict_set_item(object, "NSRGB", plist_new_data(text.c_str(), text.size() + 1));
            plist_dict_set_item(object, "$class", plist_new_uid(builtinClassUid("NSColor")));
            uid = add(object);
            return true;
        }
        case Value::Kind::Array: {
            const Array* array = value.arrayValue();
            auto it = shared_.find(array);
            if (it != shared_.end()) {
                uid = it->second;
                return true;
            }
            uid = reserve();
            shared_.emplace(array, uid);
            return encodeArray(*array, depth, uid);
        }
        case Value::Kind::Dictionary: {
            const Dictionary* dictionary = value.dictionaryValue();
            auto it = shared_.find(dictionary);
            if (it != shared_.end()) {
                uid = it->second;
                return true;
            }
            uid = reserve();
            shared_.emplace(dictionary, uid);
            return encodeDictionary(*dictionary, depth, uid);
        }
        case Value::Kind::Object:
            return encodeObject(**value.objectValue(), depth, uid);
        case Value::Kind::Uid:
            break;
    }
    return fail(KeyedArchiver::kUnsupportedValue,
                std::string("a keyed archive cannot hold a ") + Value::kindName(value.kind()));
}

bool Writer::encodeArray(const Array& array, int depth, uint64_t uid) {
    PlistPtr members(plist_new_array());
    for (const Value& element : array) {
        uint64_t member = 0;
        if (!encode(element, depth + 1, false, member)) return false;
        plist_array_append_item(members.get(), plist_new_uid(member));
    }
    plist_t object = plist_new_dict();
    plist_dict_set_item(object, "NS.objects", members.release());
    plist_dict_set_item(object, "$class", plist_new_uid(builtinClassUid("NSArray")));
    objects_[uid] = object;
    return true;
}

bool Writer::encodeDictionary(const Dictionary& dictionary, int depth, uint64_t uid) {
    PlistPtr keys(plist_new_array());
    PlistPtr values(plist_new_array());
    for (const auto& [key, value] : dictionary) {
        uint64_t k = 0, v = 0;
        if (!encode(key, depth + 1, false, k) || !encode(value, depth + 1, false, v)) return false;
        plist_array_append_item(keys.get(), plist_new_uid(k));
        plist_array_append_item(values.get(), plist_new_uid(v));
    }
    plist_t object = plist_new_dict();
    plist_dict_set_item(object, "NS.keys", keys.release());
    plist_dict_set_item(object, "NS.objects", values.release());
    plist_dict_set_item(object, "$class", plist_new_uid(builtinClassUid("NSDictionary")));
    objects_[uid] = object;
    return true;
}

bool Writer::encodeObject(const Object& object, int depth, uint64_t& uid) {
    auto it = shared_.find(&object);
    if (it != shared_.end()) {
        if (inProgress_.count(&object)) {
            return fail(KeyedArchiver::kTooDeep,
                        "an object of class " + object.className() + " contains itself");
        }
        uid = it->second;
        return true;
    }
    std::string name = object.className();
    auto entry = registry_.encoder(name);
    if (!entry) {
        return fail(KeyedArchiver::kUnknownClass, "no encoder for objects of class " + name);
    }
    uid = reserve();
    shared_.emplace(&object, uid);
    inProgress_.insert(&object);
    PlistPtr members(plist_new_dict());
    MemberCoder coder(*this, members.get(), depth);
    bool ok = false;
    try {
        ok = entry->encode(object, coder) && !coder.failed();
    } catch (const std::exception& e) {
        fail(KeyedArchiver::kEncoderFailed, "the encoder of " + name + " failed: " + e.what());
    }
    inProgress_.erase(&object);
    if (!ok) {
        return fail(KeyedArchiver::kEncoderFailed, "the encoder of " + name + " failed");
    }
    plist_dict_set_item(members.get(), "$class", plist_new_uid(classUid(name, entry->classes)));
    objects_[uid] = members.release();
    return true;
}

void MemberCoder::encodeObject(std::string_view key, const Value& value) {
    if (!validKey(key)) return;
    uint64_t uid = 0;
    if (!writer_.encode(writer_.keep(value), depth_ + 1, true, uid)) {
        failed_ = true;
        return;
    }
    plist_dict_set_item(members_, std::string(key).c_str(), plist_new_uid(uid));
}

void MemberCoder::fail(std::string description) {
    failed_ = true;
    writer_.fail(KeyedArchiver::kEncoderFailed, std::move(description));
}

bool MemberCoder::validKey(std::string_view key) {
    if (key.empty() || key.front() == '$' || key.find('\0') != std::string_view::npos ||
        !isPlistText(key)) {
        failed_ = true;
        writer_.fail(KeyedArchiver::kUnsupportedValue,
                     "an archived member key is empty, begins with $ or is not text");
        return false;
    }
    return true;
}

}  // namespace

std::optional<Bytes> KeyedArchiver::archivedData(const Value& root, Error* error) {
    return archivedData(root, ArchiveClassRegistry::shared(), error);
}

std::optional<Bytes> KeyedArchiver::archivedData(const Value& root,
                                                 const ArchiveClassRegistry& registry,
                                                 Error* error) {
    Writer writer(registry);
    uint64_t rootUid = 0;
    std::optional<Bytes> bytes;
    if (writer.encode(root, 0, true, rootUid)) bytes = writer.finish(rootUid);
    if (!bytes && error) *error = writer.error();
    return bytes;
}

}  // namespace quenbril
