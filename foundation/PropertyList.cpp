#include "foundation/PropertyList.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "foundation/BinaryPlistNesting.h"
#include "foundation/PlistSupport.h"
#include "foundation/XmlPlistGuard.h"

namespace quenbril {

namespace {

void fail(Error* error, int code, const std::string& text) {
    if (error) *error = Error::make(PropertyList::kErrorDomain, code, text);
}

std::string tooManyElementsText() {
    return "the property list holds more than " + std::to_string(PropertyList::kMaxElements) +
           " elements";
}

std::optional<Value> fromNode(plist_t node, int depth, Error* error) {
    if (depth > PropertyList::kMaxDepth) {
        fail(error, PropertyList::kTooDeep, "property list nested too deeply");
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // Binary plists store signed 64-bit integers; the bit pattern is the value.
            return Value(static_cast<int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            // Not plist_get_string_val: it asserts (ending the process) when the string holds
            // a NUL character, which damaged or hostile input may well do. The string ends at
            // the first NUL, as libplist reads some strings anyway.
            uint64_t n = 0;
            const char* s = plist_get_string_ptr(node, &n);
            return Value(s ? std::string(s, strnlen(s, n)) : std::string());
        }
        case PLIST_DATA: {
            char* d = nullptr;
            uint64_t n = 0;
            plist_get_data_val(node, &d, &n);
            Value v = Value::data(d, d ? n : 0);
            std::free(d);
            return v;
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return Value::date(sec + usec / 1e6);
        }
        case PLIST_UID: {
            uint64_t u = 0;
            plist_get_uid_val(node, &u);
            return Value(Uid{u});
        }
        case PLIST_ARRAY: {
            Array a;
            a.reserve(plist_array_get_size(node));
            PlistArrayCursor cursor(node);
            while (plist_t item = cursor.next()) {
                auto v = fromNode(item, depth + 1, error);
                if (!v) return std::nullopt;
                a.push_back(std::move(*v));
            }
            return Value(std::move(a));
        }
        case PLIST_DICT: {
            Dictionary::Entries entries;
            entries.reserve(plist_dict_get_size(node));
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            char* key = nullptr;
            plist_t item = nullptr;
            for (;;) {
                plist_dict_next_item(node, it, &key, &item);
                if (!item) break;
                auto v = fromNode(item, depth + 1, error);
                if (!v) {
                    std::free(key);
                    std::free(it);
                    return std::nullopt;
                }
                entries.emplace_back(Value(std::string(key ? key : "")), std::move(*v));
                std::free(key);
                key = nullptr;
            }
            std::free(it);
            return Value(Dictionary::fromEntries(std::move(entries)));
        }
        default:
            fail(error, PropertyList::kParseError, "unsupported property list node");
            return std::nullopt;
    }
}

PlistPtr toNode(const Value& value, int depth, Error* error) {
    if (depth > PropertyList::kMaxDepth) {
        fail(error, PropertyList::kTooDeep, "value nested too deeply for a property list");
        return nullptr;
    }
    switch (value.kind()) {
        case Value::Kind::Bool:
            return PlistPtr(plist_new_bool(*value.boolValue()));
        case Value::Kind::Integer:
            return PlistPtr(plist_new_uint(static_cast<uint64_t>(*value.longLongValue())));
        case Value::Kind::Real:
            return PlistPtr(plist_new_real(*value.doubleValue()));
        case Value::Kind::String:
            return PlistPtr(plist_new_string(value.stringValue()->c_str()));
        case Value::Kind::Data: {
            const Bytes& b = *value.dataValue();
            return PlistPtr(plist_new_data(reinterpret_cast<const char*>(b.data()), b.size()));
        }
        case Value::Kind::Date: {
            double t = *value.dateValue();
            if (!(t > std::numeric_limits<int32_t>::min() &&
                  t < std::numeric_limits<int32_t>::max())) {
                fail(error, PropertyList::kUnsupportedValue,
                     "date out of range for a property list");
                return nullptr;
            }
            double whole = std::floor(t);
            return PlistPtr(plist_new_date(static_cast<int32_t>(whole),
                                           static_cast<int32_t>(std::lround((t - whole) * 1e6))));
        }
        case Value::Kind::Uid: {
            uint64_t u = *value.uidValue();
            // libplist would silently truncate larger UIDs.
            if (u > std::numeric_limits<uint32_t>::max()) {
                fail(error, PropertyList::kUnsupportedValue, "UID above 2^32-1");
                return nullptr;
            }
            return PlistPtr(plist_new_uid(u));
        }
        case Value::Kind::Array: {
            PlistPtr a(plist_new_array());
            for (const Value& v : *value.arrayValue()) {
                PlistPtr item = toNode(v, depth + 1, error);
                if (!item) return nullptr;
                plist_array_append_item(a.get(), item.release());
            }
            return a;
        }
        case Value::Kind::Dictionary: {
            PlistPtr d(plist_new_dict());
            for (const auto& [k, v] : *value.dictionaryValue()) {
                if (!k.isString()) {
                    fail(error, PropertyList::kUnsupportedValue,
                         "property list dictionaries take string keys only");
                    return nullptr;
                }
                PlistPtr item = toNode(v, depth + 1, error);
                if (!item) return nullptr;
                plist_dict_set_item(d.get(), k.stringValue()->c_str(), item.release());
            }
            return d;
        }
        case Value::Kind::Null:
        case Value::Kind::Color:
        case Value::Kind::Object:
            break;
    }
    fail(error, PropertyList::kUnsupportedValue,
         std::string("a property list cannot hold a ") + Value::kindName(value.kind()));
    return nullptr;
}

// A string's length as XML text: '&' is written "&amp;", '<' and '>' "&lt;" and "&gt;".
uint64_t escapedLength(const std::string& text) {
    uint64_t length = text.size();
    for (char c : text) length += c == '&' ? 4 : (c == '<' || c == '>') ? 3 : 0;
    return length;
}

// The shortest lines the writer makes of `value` at `depth` (a tab each): "<true/>" and the
// like, "<string>" and "</string>" around the text, a container's opening and closing tags
// on lines of their own and its keys ("<key>" and "</key>") at its members' depth. Base64
// takes four characters for every three bytes, on lines of their own.
uint64_t xmlLinesAtLeast(const Value& value, uint64_t depth) {
    switch (value.kind()) {
        case Value::Kind::String:
            return depth + 18 + escapedLength(*value.stringValue());
        case Value::Kind::Data:
            return depth + 14 + 4 * ((value.dataValue()->size() + 2) / 3);
        case Value::Kind::Array: {
            const Array& items = *value.arrayValue();
            if (items.empty()) return depth + 8;
            uint64_t length = 2 * depth + 15;
            for (const Value& item : items) length += xmlLinesAtLeast(item, depth + 1);
            return length;
        }
        case Value::Kind::Dictionary: {
            const Dictionary& entries = *value.dictionaryValue();
            if (entries.empty()) return depth + 8;
            uint64_t length = 2 * depth + 15;
            for (const auto& [key, item] : entries) {
                const std::string* name = key.stringValue();
                length += depth + 1 + 12 + (name ? escapedLength(*name) : 0);
                length += xmlLinesAtLeast(item, depth + 1);
            }
            return length;
        }
        default:
            return depth + 8;
    }
}

// True when a binary plist holds a UTF-16 string with a NUL character. libplist asserts when it
// hands such a string out as a dictionary key, so these plists are refused before parsing.
// Anything malformed is left for libplist to refuse.
bool binaryHasNulInUtf16String(const uint8_t* bytes, size_t length) {
    constexpr size_t kHeader = 8, kTrailer = 32;
    if (length < kHeader + kTrailer) return false;
    auto readBigEndian = [&](size_t at, size_t size) {
        uint64_t v = 0;
        for (size_t i = 0; i < size; ++i) v = (v << 8) | bytes[at + i];
        return v;
    };
    const size_t trailer = length - kTrailer;
    const size_t offsetSize = bytes[trailer + 6];
    const uint64_t objects = readBigEndian(trailer + 8, 8);
    const uint64_t table = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || table > trailer ||
        objects > (trailer - table) / offsetSize) {
        return false;
    }
    for (uint64_t i = 0; i < objects; ++i) {
        uint64_t at = readBigEndian(static_cast<size_t>(table + i * offsetSize), offsetSize);
        if (at >= trailer || (bytes[at] & 0xF0) != 0x60) continue;
        uint64_t count = bytes[at] & 0x0F;
        size_t p = static_cast<size_t>(at) + 1;
        if (count == 0x0F) {
            if (p >= trailer || (bytes[p] & 0xF0) != 0x10 || (bytes[p] & 0x0F) > 3) continue;
            size_t size = size_t{1} << (bytes[p] & 0x0F);
            if (p + 1 + size > trailer) continue;
            count = readBigEndian(p + 1, size);
            p += 1 + size;
        }
        if (count > (trailer - p) / 2) continue;
        for (uint64_t c = 0; c < count; ++c) {
            if (bytes[p + 2 * c] == 0 && bytes[p + 2 * c + 1] == 0) return true;
        }
    }
    return false;
}

}  // namespace

std::optional<Value> PropertyList::read(const void* bytes, size_t length, Error* error) {
    if (length == 0 || length > std::numeric_limits<uint32_t>::max()) {
        fail(error, kParseError, "not a property list");
        return std::nullopt;
    }
    // libplist builds any nesting it is given, recursively for binary, and frees the tree
    // recursively: the nesting is measured first, without recursion. Its XML texts are decoded
    // in quadratic time: their escapes are counted first too.
    if (length >= 8 && std::memcmp(bytes, "bplist", 6) == 0) {
        switch (BinaryPlistNesting::check(bytes, length, kMaxDepth, kMaxElements)) {
            case BinaryPlistNesting::Result::Within:
                break;
            case BinaryPlistNesting::Result::TooDeep:
                fail(error, kTooDeep, "property list nested too deeply");
                return std::nullopt;
            case BinaryPlistNesting::Result::TooManyElements:
                fail(error, kTooLarge, tooManyElementsText());
                return std::nullopt;
            case BinaryPlistNesting::Result::Damaged:
                fail(error, kParseError, "a damaged binary property list");
                return std::nullopt;
        }
    } else {
        // In XML the <plist> element, and a value's own element, come on top of the nesting.
        switch (XmlPlistGuard::check(bytes, length, kMaxDepth + 2, kMaxElements + 1)) {
            case XmlPlistGuard::Result::Within:
                break;
            case XmlPlistGuard::Result::TooDeep:
                fail(error, kTooDeep, "property list nested too deeply");
                return std::nullopt;
            case XmlPlistGuard::Result::TooManyElements:
                fail(error, kTooLarge, tooManyElementsText());
                return std::nullopt;
            case XmlPlistGuard::Result::TooManyEntities:
                fail(error, kParseError,
                     "a text of the property list holds more than " +
                         std::to_string(XmlPlistGuard::kMaxEntities) + " escaped characters");
                return std::nullopt;
            case XmlPlistGuard::Result::Damaged:
                fail(error, kParseError, "not a property list, or a damaged one");
                return std::nullopt;
        }
    }
    if (length >= 8 && std::memcmp(bytes, "bplist00", 8) == 0 &&
        binaryHasNulInUtf16String(static_cast<const uint8_t*>(bytes), length)) {
        fail(error, kParseError, "a string of the property list holds a NUL character");
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(static_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    if (!root) {
        fail(error, kParseError, "not a property list, or a damaged one");
        return std::nullopt;
    }
    PlistPtr owner(root);
    return fromNode(root, 0, error);
}

std::optional<Bytes> PropertyList::write(const Value& value, Format format, Error* error) {
    PlistPtr root = toNode(value, 0, error);
    if (!root) return std::nullopt;
    std::optional<Bytes> bytes = plistBytes(root.get(), format == Format::Binary);
    if (!bytes) {
        fail(error, kUnsupportedValue, "libplist could not write the value");
        return std::nullopt;
    }
    // Nothing is written that read() would refuse: a string of more escaped characters than
    // it takes, or more elements.
    if (format == Format::Xml) {
        switch (
            XmlPlistGuard::check(bytes->data(), bytes->size(), kMaxDepth + 2, kMaxElements + 1)) {
            case XmlPlistGuard::Result::Within:
                break;
            case XmlPlistGuard::Result::TooManyElements:
                fail(error, kTooLarge, tooManyElementsText());
                return std::nullopt;
            default:
                fail(error, kUnsupportedValue,
                     "a string holds more than " + std::to_string(XmlPlistGuard::kMaxEntities) +
                         " characters that XML escapes");
                return std::nullopt;
        }
    }
    return bytes;
}

uint64_t PropertyList::xmlLengthAtLeast(const Value& value) { return xmlLinesAtLeast(value, 0); }

std::optional<Value> PropertyList::readFile(const std::string& path, Error* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(error, kFileError, "cannot open " + path);
        return std::nullopt;
    }
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return read(bytes, error);
}

}  // namespace quenbril
