#include "foundation/KeyedUnarchiver.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/BinaryPlistNesting.h"
#include "foundation/Log.h"
#include "foundation/PlistSupport.h"
#include "foundation/ScratchVector.h"

namespace quenbril {

namespace {

/// The value classes decoded here without a registered decoder.
enum class Builtin : uint8_t { None, Dictionary, Array, String, Data, Date, Null, Color };

Builtin builtinClass(std::string_view name) {
    struct Entry {
        std::string_view name;
        Builtin builtin;
    };
    static constexpr Entry table[] = {
        {"NSDictionary", Builtin::Dictionary},
        {"NSMutableDictionary", Builtin::Dictionary},
        {"NSArray", Builtin::Array},
        {"NSMutableArray", Builtin::Array},
        {"NSString", Builtin::String},
        {"NSMutableString", Builtin::String},
        {"NSData", Builtin::Data},
        {"NSMutableData", Builtin::Data},
        {"NSDate", Builtin::Date},
        {"NSNull", Builtin::Null},
        {"NSColor", Builtin::Color},
    };
    for (const Entry& e : table) {
        if (e.name == name) return e.builtin;
    }
    return Builtin::None;
}

/// A resolved class entry. The names point into the parsed plist, which outlives the decode.
struct ClassInfo {
    std::string_view name;
    plist_t chain = nullptr;  ///< "$classes", checked to hold strings only
    Builtin builtin = Builtin::None;
    std::shared_ptr<const ArchiveClassRegistry::Decoder> decoder;
};

std::string_view stringOf(plist_t node) {
    uint64_t n = 0;
    const char* s = plist_get_string_ptr(node, &n);
    return s ? std::string_view(s, n) : std::string_view();
}

enum class Status { Ok, Drop, Fail };

uint64_t addWeight(uint64_t a, uint64_t b) {
    uint64_t sum = a + b;
    return sum < a ? std::numeric_limits<uint64_t>::max() : sum;
}

/// The short strings a thread decoded last (keys, commands, names), each kept once: they recur
/// in every frame of a stream, and a string found here costs no allocation. The table is small
/// and fixed: a string may sit in any of four slots from its hash's, and one that finds them
/// all taken by others replaces one of them in turn.
class ShortStrings {
  public:
    static constexpr size_t kMaxLength = 32;
    static constexpr size_t kSlots = 256;
    static constexpr size_t kWays = 4;

    static Value value(std::string_view s) {
        if (s.size() > kMaxLength) return Value(s);
        // Copies of a value share its string.
        thread_local std::array<Value, kSlots> slots;
        thread_local size_t victim = 0;
        const size_t first = std::hash<std::string_view>{}(s);
        Value* free = nullptr;
        for (size_t way = 0; way < kWays; ++way) {
            Value& slot = slots[(first + way) % kSlots];
            const std::string* kept = slot.stringValue();
            if (kept && *kept == s) return slot;
            if (!kept && !free) free = &slot;
        }
        Value& chosen = free ? *free : slots[(first + victim++ % kWays) % kSlots];
        chosen = Value(s);
        return chosen;
    }
};

/// Plain plist objects that stand for themselves: strings, numbers, data and dates.
std::optional<Value> primitive(plist_t node, uint64_t& weight) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            uint64_t n = 0;
            const char* s = plist_get_string_ptr(node, &n);
            weight = 1 + n / 16;
            return ShortStrings::value(std::string_view(s ? s : "", s ? n : 0));
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            weight = 1;
            // Binary plists store signed 64-bit integers; the bit pattern is the value.
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            weight = 1;
            return Value(d);
        }
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            weight = 1;
            return Value(b != 0);
        }
        case PLIST_DATA: {
            uint64_t n = 0;
            const char* d = plist_get_data_ptr(node, &n);
            weight = 1 + n / 16;
            return Value::data(d, d ? n : 0);
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            weight = 1;
            return Value::date(sec + usec / 1e6);
        }
        default:
            return std::nullopt;
    }
}

/// Whitespace-separated ASCII numbers, up to a NUL byte, as colour components are stored.
/// False when there are more than `max`, or one is not a finite number.
bool parseComponents(const char* p, size_t n, double* out, int max, int& count) {
    const char* end = static_cast<const char*>(std::memchr(p, 0, n));
    if (!end) end = p + n;
    count = 0;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (p < end) {
        if (isSpace(*p)) {
            ++p;
            continue;
        }
        if (count == max) return false;
        double d = 0;
        auto [next, ec] = std::from_chars(p, end, d);
        if (ec != std::errc() || !std::isfinite(d)) return false;
        if (next < end && !isSpace(*next)) return false;
        out[count++] = std::clamp(d, 0.0, 1.0);
        p = next;
    }
    return true;
}

/// Reads an archived NSColor: "NSColorSpace" 1 or 2 with "NSRGB", 3 or 4 with "NSWhite".
/// Any other space or a damaged component string answers nothing.
std::optional<Color> readColor(plist_t object) {
    plist_t spaceNode = plist_dict_get_item(object, "NSColorSpace");
    if (!spaceNode || plist_get_node_type(spaceNode) != PLIST_UINT) return std::nullopt;
    uint64_t space = 0;
    plist_get_uint_val(spaceNode, &space);
    const bool rgb = space == 1 || space == 2;
    const bool white = space == 3 || space == 4;
    if (!rgb && !white) return std::nullopt;
    plist_t data = plist_dict_get_item(object, rgb ? "NSRGB" : "NSWhite");
    if (!data || plist_get_node_type(data) != PLIST_DATA) return std::nullopt;
    uint64_t n = 0;
    const char* p = plist_get_data_ptr(data, &n);
    double c[4];
    int count = 0;
    if (!p || !parseComponents(p, n, c, rgb ? 4 : 2, count)) return std::nullopt;
    Color color;
    if (rgb) {
        if (count < 3) return std::nullopt;
        color = Color{c[0], c[1], c[2], count == 4 ? c[3] : 1.0};
    } else {
        if (count < 1) return std::nullopt;
        color = Color{c[0], c[0], c[0], count == 2 ? c[1] : 1.0};
    }
    return color;
}

class Reader {
  public:
    Reader(plist_t objects, const ArchiveClassRegistry& registry, uint64_t budget)
        : registry_(registry), budget_(budget) {
        nodes_.reserve(plist_array_get_size(objects));
        PlistArrayCursor cursor(objects);
        while (plist_t node = cursor.next()) nodes_.push_back(node);
        slots_.resize(nodes_.size());
    }

    Status decodeIndex(uint64_t index, int depth, Value& out, uint64_t& weight);

    /// Resolves a member that must be a reference.
    Status decodeReference(plist_t node, int depth, Value& out, uint64_t& weight) {
        if (plist_get_node_type(node) != PLIST_UID) {
            return fail(KeyedUnarchiver::kCorrupt, "a collection member is not a reference");
        }
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return decodeIndex(uid, depth, out, weight);
    }

    Status fail(int code, std::string text) {
        if (!failed_) {
            failed_ = true;
            errorCode_ = code;
            errorText_ = std::move(text);
        }
        return Status::Fail;
    }
    Error error() const {
        return Error::make(KeyedUnarchiver::kErrorDomain, errorCode_, errorText_);
    }

  private:
    enum class State : uint8_t { Unvisited, InProgress, Done, Dropped };
    struct Slot {
        State state = State::Unvisited;
        int32_t classIndex = -1;
        uint64_t weight = 0;
        Value value;
    };

    Status decodeInstance(plist_t object, int depth, Value& out, uint64_t& weight);
    /// Null (with the error recorded) when the class is missing, damaged or unknown.
    const ClassInfo* classOf(plist_t object);
    Status decodeDictionary(plist_t object, int depth, Value& out, uint64_t& weight);
    Status decodeArray(plist_t object, int depth, Value& out, uint64_t& weight);
    Status decodeInline(plist_t object, const char* key, plist_type kind, int depth, Value& out,
                        uint64_t& weight);
    Status decodeRegistered(const ClassInfo& info, plist_t object, int depth, Value& out,
                            uint64_t& weight);

    Status checkWeight(uint64_t weight) {
        if (weight > budget_) {
            return fail(KeyedUnarchiver::kTooLarge, "the archive's shared objects expand too far");
        }
        return Status::Ok;
    }

    friend class ObjectCoder;

    const ArchiveClassRegistry& registry_;
    uint64_t budget_;
    struct NodesTag;
    struct SlotsTag;
    struct ClassesTag;
    ScratchVector<plist_t, NodesTag> nodeScratch_;
    ScratchVector<Slot, SlotsTag> slotScratch_;
    ScratchVector<ClassInfo, ClassesTag> classScratch_;
    std::vector<plist_t>& nodes_ = nodeScratch_.items;  // "$objects", by index
    std::vector<Slot>& slots_ = slotScratch_.items;
    std::vector<ClassInfo>& classes_ = classScratch_.items;
    bool failed_ = false;
    int errorCode_ = 0;
    std::string errorText_;
};

/// The registered decoders' view of one archived object.
class ObjectCoder final : public KeyedDecoder {
  public:
    ObjectCoder(Reader& reader, const ClassInfo& info, plist_t object, int depth)
        : reader_(reader), name_(info.name), object_(object), depth_(depth) {
        classes_.push_back(name_);
        if (info.chain) {
            PlistArrayCursor cursor(info.chain);
            while (plist_t item = cursor.next()) {
                std::string_view name = stringOf(item);
                if (name != name_) classes_.emplace_back(name);
            }
        }
    }

    const std::string& className() const override { return name_; }
    const std::vector<std::string>& classes() const override { return classes_; }

    bool contains(std::string_view key) const override { return member(key) != nullptr; }

    Value decodeObject(std::string_view key) override {
        plist_t node = member(key);
        if (!node) return Value();
        uint64_t w = 0;
        if (plist_get_node_type(node) != PLIST_UID) {
            // Strings, numbers and data may sit inline where an object is read.
            if (auto v = primitive(node, w)) {
                weight_ = addWeight(weight_, w);
                return *v;
            }
            wrongKind(key, "an object");
            return Value();
        }
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        Value out;
        switch (reader_.decodeIndex(uid, depth_ + 1, out, w)) {
            case Status::Ok:
                weight_ = addWeight(weight_, w);
                return out;
            case Status::Drop:
                return Value();
            case Status::Fail:
                failed_ = true;
                return Value();
        }
        return Value();
    }

    int64_t decodeInt64(std::string_view key) override {
        plist_t node = member(key);
        if (!node) return 0;
        switch (plist_get_node_type(node)) {
            case PLIST_UINT: {
                uint64_t u = 0;
                plist_get_uint_val(node, &u);
                return static_cast<int64_t>(u);
            }
            case PLIST_BOOLEAN:
            case PLIST_REAL:
                return *number(node).longLongValue();
            default:
                wrongKind(key, "a number");
                return 0;
        }
    }

    bool decodeBool(std::string_view key) override {
        plist_t node = member(key);
        if (!node) return false;
        Value v = number(node);
        if (!v.isNumber()) {
            wrongKind(key, "a number");
            return false;
        }
        return *v.boolValue();
    }

    double decodeDouble(std::string_view key) override {
        plist_t node = member(key);
        if (!node) return 0;
        Value v = number(node);
        if (!v.isNumber()) {
            wrongKind(key, "a number");
            return 0;
        }
        return *v.doubleValue();
    }

    std::optional<Bytes> decodeBytes(std::string_view key) override {
        plist_t node = member(key);
        if (!node) return std::nullopt;
        if (plist_get_node_type(node) != PLIST_DATA) {
            wrongKind(key, "data");
            return std::nullopt;
        }
        uint64_t n = 0;
        const char* p = plist_get_data_ptr(node, &n);
        auto bytes = reinterpret_cast<const uint8_t*>(p);
        return p ? Bytes(bytes, bytes + n) : Bytes();
    }

    void fail(std::string description) override {
        failed_ = true;
        reader_.fail(KeyedUnarchiver::kDecoderFailed, name_ + ": " + description);
    }
    bool failed() const override { return failed_; }

    uint64_t weight() const { return weight_; }

  private:
    plist_t member(std::string_view key) const {
        // libplist looks keys up by C string; archive keys are short.
        std::string k(key);
        return plist_dict_get_item(object_, k.c_str());
    }

    static Value number(plist_t node) {
        uint64_t w = 0;
        switch (plist_get_node_type(node)) {
            case PLIST_UINT:
            case PLIST_REAL:
            case PLIST_BOOLEAN:
                return *primitive(node, w);
            default:
                return Value();
        }
    }

    void wrongKind(std::string_view key, const char* expected) {
        failed_ = true;
        reader_.fail(KeyedUnarchiver::kCorrupt,
                     "member \"" + std::string(key) + "\" of " + name_ + " is not " + expected);
    }

    Reader& reader_;
    std::string name_;
    std::vector<std::string> classes_;
    plist_t object_;
    int depth_;
    bool failed_ = false;
    uint64_t weight_ = 1;
};

Status Reader::decodeIndex(uint64_t index, int depth, Value& out, uint64_t& weight) {
    if (index == 0) {  // "$null": nil
        out = Value();
        weight = 1;
        return Status::Ok;
    }
    if (index >= slots_.size()) {
        return fail(KeyedUnarchiver::kCorrupt, "a reference points past the object table");
    }
    Slot& slot = slots_[index];
    switch (slot.state) {
        case State::Done:
            out = slot.value;
            weight = slot.weight;
            return Status::Ok;
        case State::Dropped:
            return Status::Drop;
        case State::InProgress:
            return fail(KeyedUnarchiver::kCycle, "an archived object contains itself");
        case State::Unvisited:
            break;
    }
    plist_t node = nodes_[index];
    Status status;
    if (plist_get_node_type(node) == PLIST_DICT) {
        if (depth > KeyedUnarchiver::kMaxDepth) {
            return fail(KeyedUnarchiver::kTooDeep, "the archive is nested too deeply");
        }
        slot.state = State::InProgress;
        status = decodeInstance(node, depth, out, weight);
    } else if (auto v = primitive(node, weight)) {
        out = std::move(*v);
        status = Status::Ok;
    } else {
        return fail(KeyedUnarchiver::kCorrupt, "the object table holds a bare array or reference");
    }
    switch (status) {
        case Status::Ok:
            slot.state = State::Done;
            slot.value = out;
            slot.weight = weight;
            break;
        case Status::Drop:
            slot.state = State::Dropped;
            break;
        case Status::Fail:
            break;
    }
    return status;
}

const ClassInfo* Reader::classOf(plist_t object) {
    plist_t ref = plist_dict_get_item(object, "$class");
    if (!ref || plist_get_node_type(ref) != PLIST_UID) {
        fail(KeyedUnarchiver::kCorrupt, "an archived object has no class");
        return nullptr;
    }
    uint64_t index = 0;
    plist_get_uid_val(ref, &index);
    if (index == 0 || index >= slots_.size()) {
        fail(KeyedUnarchiver::kCorrupt, "a class reference points outside the object table");
        return nullptr;
    }
    Slot& slot = slots_[index];
    if (slot.classIndex >= 0) return &classes_[slot.classIndex];

    plist_t entry = nodes_[index];
    plist_t nameNode = entry && plist_get_node_type(entry) == PLIST_DICT
                           ? plist_dict_get_item(entry, "$classname")
                           : nullptr;
    if (!nameNode || plist_get_node_type(nameNode) != PLIST_STRING) {
        fail(KeyedUnarchiver::kCorrupt, "a class entry has no class name");
        return nullptr;
    }
    ClassInfo info;
    info.name = stringOf(nameNode);
    plist_t chain = plist_dict_get_item(entry, "$classes");
    if (chain && plist_get_node_type(chain) != PLIST_ARRAY) {
        fail(KeyedUnarchiver::kCorrupt,
             "the class chain of " + std::string(info.name) + " is not an array");
        return nullptr;
    }
    info.chain = chain;
    // The first class along the chain that is built in or registered decodes the object, so an
    // archived subclass falls back to the nearest class known here. Built-in names are settled
    // without the registry's lock.
    std::optional<PlistArrayCursor> cursor;
    if (chain) cursor.emplace(chain);
    for (bool first = true;; first = false) {
        std::string_view name = info.name;
        if (!first) {
            plist_t item = cursor ? cursor->next() : nullptr;
            if (!item) break;
            if (plist_get_node_type(item) != PLIST_STRING) {
                fail(KeyedUnarchiver::kCorrupt,
                     "the class chain of " + std::string(info.name) + " holds a non-string");
                return nullptr;
            }
            name = stringOf(item);
        }
        if (info.builtin != Builtin::None || info.decoder) continue;  // keep checking the chain
        if ((info.builtin = builtinClass(name)) == Builtin::None)
            info.decoder = registry_.decoder(name);
    }
    if (!info.decoder && info.builtin == Builtin::None) {
        fail(KeyedUnarchiver::kUnknownClass,
             "cannot decode an object of unknown class " + std::string(info.name));
        return nullptr;
    }
    slot.classIndex = static_cast<int32_t>(classes_.size());
    classes_.push_back(std::move(info));
    return &classes_.back();
}

Status Reader::decodeInstance(plist_t object, int depth, Value& out, uint64_t& weight) {
    const ClassInfo* found = classOf(object);
    if (!found) return Status::Fail;
    // A copy: decoding the members may add classes and move the table.
    const ClassInfo info = *found;
    if (info.decoder) return decodeRegistered(info, object, depth, out, weight);
    switch (info.builtin) {
        case Builtin::Dictionary:
            return decodeDictionary(object, depth, out, weight);
        case Builtin::Array:
            return decodeArray(object, depth, out, weight);
        case Builtin::String:
            return decodeInline(object, "NS.string", PLIST_STRING, depth, out, weight);
        case Builtin::Data: {
            const char* key = plist_dict_get_item(object, "NS.data") ? "NS.data" : "NS.bytes";
            return decodeInline(object, key, PLIST_DATA, depth, out, weight);
        }
        case Builtin::Date: {
            plist_t time = plist_dict_get_item(object, "NS.time");
            weight = 1;
            if (!time) {
                out = Value::date(0);
                return Status::Ok;
            }
            auto type = plist_get_node_type(time);
            if (type != PLIST_REAL && type != PLIST_UINT) {
                return fail(KeyedUnarchiver::kCorrupt, "a date's NS.time is not a number");
            }
            uint64_t w = 0;
            out = Value::date(*primitive(time, w)->doubleValue());
            return Status::Ok;
        }
        case Builtin::Null:
            out = Value();
            weight = 1;
            return Status::Ok;
        case Builtin::Color:
            if (auto color = readColor(object)) {
                out = Value(*color);
                weight = 1;
                return Status::Ok;
            }
            log(LogLevel::Debug, "Dropped an archived colour that cannot be read");
            return Status::Drop;
        case Builtin::None:
            break;
    }
    return fail(KeyedUnarchiver::kUnknownClass,
                "cannot decode an object of class " + std::string(info.name));
}

Status Reader::decodeDictionary(plist_t object, int depth, Value& out, uint64_t& weight) {
    plist_t keys = plist_dict_get_item(object, "NS.keys");
    plist_t values = plist_dict_get_item(object, "NS.objects");
    Dictionary::Entries entries;
    weight = 1;
    if (keys || values) {
        if (!keys || !values || plist_get_node_type(keys) != PLIST_ARRAY ||
            plist_get_node_type(values) != PLIST_ARRAY) {
            return fail(KeyedUnarchiver::kCorrupt, "a dictionary's keys or objects are missing");
        }
        entries.reserve(plist_array_get_size(keys));
        PlistArrayCursor keyCursor(keys), valueCursor(values);
        for (;;) {
            plist_t keyNode = keyCursor.next();
            plist_t valueNode = valueCursor.next();
            if (!keyNode && !valueNode) break;
            if (!keyNode || !valueNode) {
                return fail(KeyedUnarchiver::kCorrupt,
                            "a dictionary's keys and objects differ in number");
            }
            Value key, value;
            uint64_t kw = 0, vw = 0;
            Status ks = decodeReference(keyNode, depth + 1, key, kw);
            if (ks == Status::Fail) return ks;
            Status vs = decodeReference(valueNode, depth + 1, value, vw);
            if (vs == Status::Fail) return vs;
            if (ks == Status::Drop || vs == Status::Drop) continue;
            weight = addWeight(weight, addWeight(kw, vw));
            if (checkWeight(weight) == Status::Fail) return Status::Fail;
            entries.emplace_back(std::move(key), std::move(value));
        }
    }
    out = Value(Dictionary::fromEntries(std::move(entries)));
    return Status::Ok;
}

Status Reader::decodeArray(plist_t object, int depth, Value& out, uint64_t& weight) {
    plist_t values = plist_dict_get_item(object, "NS.objects");
    Array array;
    weight = 1;
    if (values) {
        if (plist_get_node_type(values) != PLIST_ARRAY) {
            return fail(KeyedUnarchiver::kCorrupt, "an array's objects are not an array");
        }
        array.reserve(plist_array_get_size(values));
        PlistArrayCursor cursor(values);
        while (plist_t node = cursor.next()) {
            Value value;
            uint64_t w = 0;
            Status s = decodeReference(node, depth + 1, value, w);
            if (s == Status::Fail) return s;
            if (s == Status::Drop) continue;
            weight = addWeight(weight, w);
            if (checkWeight(weight) == Status::Fail) return Status::Fail;
            array.push_back(std::move(value));
        }
    }
    out = Value(std::move(array));
    return Status::Ok;
}

Status Reader::decodeInline(plist_t object, const char* key, plist_type kind, int depth, Value& out,
                            uint64_t& weight) {
    plist_t node = plist_dict_get_item(object, key);
    if (!node) {
        out = kind == PLIST_STRING ? Value(std::string()) : Value(Bytes());
        weight = 1;
        return Status::Ok;
    }
    auto type = plist_get_node_type(node);
    if (type == kind) {
        out = *primitive(node, weight);
        return Status::Ok;
    }
    if (type == PLIST_UID) {
        Status s = decodeReference(node, depth + 1, out, weight);
        if (s != Status::Ok) return s;
        if ((kind == PLIST_STRING && out.isString()) || (kind == PLIST_DATA && out.isData())) {
            return Status::Ok;
        }
    }
    return fail(KeyedUnarchiver::kCorrupt, std::string("member ") + key + " is of the wrong kind");
}

Status Reader::decodeRegistered(const ClassInfo& info, plist_t object, int depth, Value& out,
                                uint64_t& weight) {
    ObjectCoder coder(*this, info, object, depth);
    std::optional<Value> value;
    try {
        value = (*info.decoder)(coder);
    } catch (const std::exception& e) {
        return fail(KeyedUnarchiver::kDecoderFailed,
                    "the decoder of " + std::string(info.name) + " failed: " + e.what());
    }
    if (coder.failed()) return Status::Fail;
    if (!value) {
        return fail(KeyedUnarchiver::kDecoderFailed,
                    "the decoder of " + std::string(info.name) + " refused the object");
    }
    weight = coder.weight();
    if (checkWeight(weight) == Status::Fail) return Status::Fail;
    out = std::move(*value);
    return Status::Ok;
}

void fail(Error* error, int code, const char* text) {
    if (error) *error = Error::make(KeyedUnarchiver::kErrorDomain, code, text);
}

}  // namespace

std::optional<Value> KeyedUnarchiver::unarchive(const void* bytes, size_t length, Error* error) {
    return unarchive(bytes, length, ArchiveClassRegistry::shared(), error);
}

std::optional<Value> KeyedUnarchiver::unarchive(const void* bytes, size_t length,
                                                const ArchiveClassRegistry& registry,
                                                Error* error) {
    if (!bytes || length < 8 || length > std::numeric_limits<uint32_t>::max() ||
        std::memcmp(bytes, "bplist00", 8) != 0) {
        fail(error, kNotAnArchive, "not a binary property list");
        return std::nullopt;
    }
    switch (BinaryPlistNesting::check(bytes, length, kMaxPlistNesting, maxPlistNodes(length))) {
        case BinaryPlistNesting::Result::Within:
            break;
        case BinaryPlistNesting::Result::TooManyElements:
            fail(error, kTooLarge, "shared plist objects that would expand beyond the archive");
            return std::nullopt;
        default:
            fail(error, kNotAnArchive, "a damaged binary property list, or one nested too deeply");
            return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_bin(static_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    if (!root) {
        fail(error, kNotAnArchive, "a damaged binary property list");
        return std::nullopt;
    }
    PlistPtr owner(root);
    if (plist_get_node_type(root) != PLIST_DICT) {
        fail(error, kNotAnArchive, "not a keyed archive");
        return std::nullopt;
    }
    plist_t archiver = plist_dict_get_item(root, "$archiver");
    plist_t objects = plist_dict_get_item(root, "$objects");
    plist_t top = plist_dict_get_item(root, "$top");
    plist_t rootRef =
        top && plist_get_node_type(top) == PLIST_DICT ? plist_dict_get_item(top, "root") : nullptr;
    uint64_t n = 0;
    const char* archiverName = archiver && plist_get_node_type(archiver) == PLIST_STRING
                                   ? plist_get_string_ptr(archiver, &n)
                                   : nullptr;
    if (!archiverName || std::string_view(archiverName, n) != "NSKeyedArchiver" || !objects ||
        plist_get_node_type(objects) != PLIST_ARRAY || !rootRef ||
        plist_get_node_type(rootRef) != PLIST_UID) {
        fail(error, kNotAnArchive, "not a keyed archive");
        return std::nullopt;
    }

    Reader reader(objects, registry, expansionBudget(length));
    Value value;
    uint64_t weight = 0;
    switch (reader.decodeReference(rootRef, 0, value, weight)) {
        case Status::Ok:
            return value;
        case Status::Drop:
            fail(error, kCorrupt, "the archived root is a colour that cannot be read");
            return std::nullopt;
        case Status::Fail:
            if (error) *error = reader.error();
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quenbril
