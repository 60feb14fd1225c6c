#include "foundation/Value.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quenbril {

namespace {

template <typename Int>
Int saturatingFromDouble(double d) {
    if (std::isnan(d)) return 0;
    // The largest double below 2^63 is exactly representable; compare against the bounds as
    // doubles so the conversion itself can never overflow.
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (d <= lo) return std::numeric_limits<Int>::min();
    if (d >= hi) return std::numeric_limits<Int>::max();
    return static_cast<Int>(d);
}

int compareNumbers(const Value& a, const Value& b) {
    if (a.isReal() || b.isReal()) {
        double x = *a.doubleValue(), y = *b.doubleValue();
        if (x < y) return -1;
        if (x > y) return 1;
        if (x == y) return 0;
        // NaN sorts after every number and equals itself, so maps stay well ordered.
        return std::isnan(x) ? (std::isnan(y) ? 0 : 1) : -1;
    }
    int64_t x = *a.longLongValue(), y = *b.longLongValue();
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Joins by appending: g++ 12 warns wrongly (-Wrestrict) on `"literal" + std::string` at -O2.
std::string wrapped(const char* before, const std::string& text, const char* after) {
    std::string s(before);
    s.append(text).append(after);
    return s;
}

int kindRank(Value::Kind k) {
    // Integers and reals share a rank: they are one kind for ordering.
    return k == Value::Kind::Real ? static_cast<int>(Value::Kind::Integer) : static_cast<int>(k);
}

template <typename T>
int threeWay(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

Value::Value(Array a) : storage_(std::make_shared<const Array>(std::move(a))) {}
Value::Value(Dictionary d) : storage_(std::make_shared<const Dictionary>(std::move(d))) {}

Value Value::data(const void* bytes, size_t length) {
    auto p = static_cast<const uint8_t*>(bytes);
    return Value(Bytes(p, p + length));
}

const Value& Value::null() {
    static const Value nullValue;
    return nullValue;
}

std::optional<bool> Value::boolValue() const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(storage_);
        case Kind::Integer:
            return std::get<int64_t>(storage_) != 0;
        case Kind::Real:
            return std::get<double>(storage_) != 0.0;
        default:
            return std::nullopt;
    }
}

std::optional<int64_t> Value::longLongValue() const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(storage_) ? 1 : 0;
        case Kind::Integer:
            return std::get<int64_t>(storage_);
        case Kind::Real:
            return saturatingFromDouble<int64_t>(std::get<double>(storage_));
        default:
            return std::nullopt;
    }
}

std::optional<int32_t> Value::intValue() const {
    switch (kind()) {
        case Kind::Bool:
        case Kind::Integer:
            // Wider integers keep their low 32 bits, as a number object's intValue does.
            return static_cast<int32_t>(static_cast<uint32_t>(*longLongValue()));
        case Kind::Real:
            return saturatingFromDouble<int32_t>(std::get<double>(storage_));
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::doubleValue() const {
    switch (kind()) {
        case Kind::Bool:
            return std::get<bool>(storage_) ? 1.0 : 0.0;
        case Kind::Integer:
            return static_cast<double>(std::get<int64_t>(storage_));
        case Kind::Real:
            return std::get<double>(storage_);
        default:
            return std::nullopt;
    }
}

std::optional<float> Value::floatValue() const {
    auto d = doubleValue();
    if (!d) return std::nullopt;
    // Beyond the range of a float the conversion is undefined: it reads as an infinity.
    if (*d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (*d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(*d);
}

const std::string* Value::stringValue() const {
    auto p = std::get_if<std::shared_ptr<const std::string>>(&storage_);
    return p ? p->get() : nullptr;
}

std::optional<std::string> Value::optionalString() const {
    if (const std::string* s = stringValue()) return *s;
    return std::nullopt;
}

const Bytes* Value::dataValue() const {
    auto p = std::get_if<std::shared_ptr<const Bytes>>(&storage_);
    return p ? p->get() : nullptr;
}

const Array* Value::arrayValue() const {
    auto p = std::get_if<std::shared_ptr<const Array>>(&storage_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::dictionaryValue() const {
    auto p = std::get_if<std::shared_ptr<const Dictionary>>(&storage_);
    return p ? p->get() : nullptr;
}

std::optional<double> Value::dateValue() const {
    auto p = std::get_if<Date>(&storage_);
    if (!p) return std::nullopt;
    return p->secondsSinceReferenceDate;
}

std::optional<uint64_t> Value::uidValue() const {
    auto p = std::get_if<Uid>(&storage_);
    if (!p) return std::nullopt;
    return p->index;
}

std::optional<Color> Value::colorValue() const {
    auto p = std::get_if<Color>(&storage_);
    if (!p) return std::nullopt;
    return *p;
}

const std::shared_ptr<const Object>* Value::objectValue() const {
    return std::get_if<std::shared_ptr<const Object>>(&storage_);
}

const Value& Value::operator[](std::string_view key) const {
    auto d = dictionaryValue();
    return d ? (*d)[key] : null();
}

const Value& Value::operator[](const Value& key) const {
    auto d = dictionaryValue();
    return d ? (*d)[key] : null();
}

const Value& Value::at(size_t index) const {
    auto a = arrayValue();
    return a && index < a->size() ? (*a)[index] : null();
}

size_t Value::count() const {
    if (auto a = arrayValue()) return a->size();
    if (auto d = dictionaryValue()) return d->size();
    if (auto b = dataValue()) return b->size();
    return 0;
}

namespace {

// The `T` that `storage` holds, made empty when it holds another kind and copied first when
// another value shares it.
template <class T, class Storage>
T& soleOwned(Storage& storage) {
    auto p = std::get_if<std::shared_ptr<const T>>(&storage);
    if (!p) {
        p = &storage.template emplace<std::shared_ptr<const T>>(std::make_shared<const T>());
    } else if (p->use_count() > 1) {
        *p = std::make_shared<const T>(**p);
    }
    // Sole owner now: changing the shared storage is safe.
    return const_cast<T&>(**p);
}

}  // namespace

Array& Value::mutableArray() { return soleOwned<Array>(storage_); }

Dictionary& Value::mutableDictionary() { return soleOwned<Dictionary>(storage_); }

bool Value::operator==(const Value& other) const { return compare(*this, other) == 0; }

int Value::compare(const Value& a, const Value& b) {
    int ra = kindRank(a.kind()), rb = kindRank(b.kind());
    if (ra != rb) return ra < rb ? -1 : 1;
    switch (a.kind()) {
        case Kind::Null:
            return 0;
        case Kind::Bool:
            return threeWay(std::get<bool>(a.storage_), std::get<bool>(b.storage_));
        case Kind::Integer:
        case Kind::Real:
            return compareNumbers(a, b);
        case Kind::String: {
            const std::string *x = a.stringValue(), *y = b.stringValue();
            if (x == y) return 0;  // one shared string, as decoded archives share their keys
            int c = x->compare(*y);
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case Kind::Data:
            return threeWay(*a.dataValue(), *b.dataValue());
        case Kind::Date:
            return threeWay(*a.dateValue(), *b.dateValue());
        case Kind::Array: {
            const Array &x = *a.arrayValue(), &y = *b.arrayValue();
            for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
                if (int c = compare(x[i], y[i])) return c;
            }
            return threeWay(x.size(), y.size());
        }
        case Kind::Dictionary: {
            const Dictionary &x = *a.dictionaryValue(), &y = *b.dictionaryValue();
            auto i = x.begin(), j = y.begin();
            for (; i != x.end() && j != y.end(); ++i, ++j) {
                if (int c = compare(i->first, j->first)) return c;
                if (int c = compare(i->second, j->second)) return c;
            }
            return threeWay(x.size(), y.size());
        }
        case Kind::Uid:
            return threeWay(*a.uidValue(), *b.uidValue());
        case Kind::Color: {
            Color x = *a.colorValue(), y = *b.colorValue();
            if (int c = threeWay(x.red, y.red)) return c;
            if (int c = threeWay(x.green, y.green)) return c;
            if (int c = threeWay(x.blue, y.blue)) return c;
            return threeWay(x.alpha, y.alpha);
        }
        case Kind::Object: {
            const Object &x = **a.objectValue(), &y = **b.objectValue();
            if (x.isEqual(y)) return 0;
            return threeWay(static_cast<const void*>(&x), static_cast<const void*>(&y));
        }
    }
    return 0;
}

const char* Value::kindName(Kind kind) {
    static const char* const names[] = {"null", "bool",  "integer",    "real", "string", "data",
                                        "date", "array", "dictionary", "uid",  "color",  "object"};
    return names[static_cast<int>(kind)];
}

std::string Value::description() const {
    char buf[64];
    switch (kind()) {
        case Kind::Null:
            return "null";
        case Kind::Bool:
            return *boolValue() ? "true" : "false";
        case Kind::Integer:
            return std::to_string(*longLongValue());
        case Kind::Real:
            std::snprintf(buf, sizeof buf, "%g", *doubleValue());
            return buf;
        case Kind::String:
            return wrapped("\"", *stringValue(), "\"");
        case Kind::Data:
            return wrapped("<", std::to_string(dataValue()->size()), " bytes>");
        case Kind::Date:
            std::snprintf(buf, sizeof buf, "date(%.3f)", *dateValue());
            return buf;
        case Kind::Uid:
            return wrapped("uid(", std::to_string(*uidValue()), ")");
        case Kind::Color: {
            Color c = *colorValue();
            std::snprintf(buf, sizeof buf, "rgba(%g, %g, %g, %g)", c.red, c.green, c.blue, c.alpha);
            return buf;
        }
        case Kind::Object:
            return wrapped("<", (*objectValue())->className(), ">");
        case Kind::Array: {
            std::string s = "[";
            for (const auto& v : *arrayValue()) s += (s.size() > 1 ? ", " : "") + v.description();
            return s + "]";
        }
        case Kind::Dictionary: {
            std::string s = "{";
            for (const auto& [k, v] : *dictionaryValue()) {
                s += (s.size() > 1 ? ", " : "") + k.description() + ": " + v.description();
            }
            return s + "}";
        }
    }
    return {};
}

int ValueLess::compareToString(const Value& a, std::string_view b) {
    if (const std::string* s = a.stringValue()) {
        int c = std::string_view(*s).compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return kindRank(a.kind()) < kindRank(Value::Kind::String) ? -1 : 1;
}

namespace {

bool keysEqual(const Value& a, const Value& b) { return Value::compare(a, b) == 0; }

bool sortedWithoutDuplicates(const Dictionary::Entries& entries) {
    for (size_t i = 1; i < entries.size(); ++i) {
        if (!ValueLess()(entries[i - 1].first, entries[i].first)) return false;
    }
    return true;
}

// Sorts by key, keeping of equal keys the first (`keepLast` false) or the last.
void sortAndDeduplicate(Dictionary::Entries& entries, bool keepLast) {
    if (sortedWithoutDuplicates(entries)) return;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return ValueLess()(a.first, b.first); });
    size_t out = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (out > 0 && keysEqual(entries[out - 1].first, entries[i].first)) {
            if (keepLast) entries[out - 1].second = std::move(entries[i].second);
            continue;
        }
        if (out != i) entries[out] = std::move(entries[i]);
        ++out;
    }
    entries.resize(out);
}

}  // namespace

Dictionary::Dictionary(std::initializer_list<Entry> entries) : entries_(entries) {
    sortAndDeduplicate(entries_, false);
}

Dictionary Dictionary::fromEntries(Entries entries) {
    Dictionary d;
    d.entries_ = std::move(entries);
    sortAndDeduplicate(d.entries_, true);
    return d;
}

template <class Key>
Dictionary::Entries::const_iterator Dictionary::lowerBound(const Key& key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const Entry& e, const Key& k) { return ValueLess()(e.first, k); });
}

template <class Key>
const Value* Dictionary::find(const Key& key) const {
    auto it = lowerBound(key);
    if (it == entries_.end() || ValueLess()(key, it->first)) return nullptr;
    return &it->second;
}

void Dictionary::set(Value key, Value value) {
    if (entries_.empty() || ValueLess()(entries_.back().first, key)) {
        entries_.emplace_back(std::move(key), std::move(value));
        return;
    }
    auto at = entries_.begin() + (lowerBound(key) - entries_.cbegin());
    if (!ValueLess()(key, at->first)) {
        at->second = std::move(value);
    } else {
        entries_.emplace(at, std::move(key), std::move(value));
    }
}

void Dictionary::erase(const Value& key) {
    auto at = lowerBound(key);
    if (at != entries_.end() && !ValueLess()(key, at->first)) entries_.erase(at);
}

bool Dictionary::contains(const Value& key) const { return find(key) != nullptr; }

bool Dictionary::contains(std::string_view key) const { return find(key) != nullptr; }

const Value& Dictionary::operator[](std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : Value::null();
}

const Value& Dictionary::operator[](const Value& key) const {
    const Value* v = find(key);
    return v ? *v : Value::null();
}

}  // namespace quenbril
