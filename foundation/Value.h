#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenbril {

class Value;
class Dictionary;
using Array = std::vector<Value>;
using Bytes = std::vector<uint8_t>;

/// An RGBA colour with components in 0..1, as the colour tables and archived colours carry it.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    bool operator==(const Color&) const = default;
};

/// Seconds since 2001-01-01 00:00:00 UTC, the epoch of the link's dates.
struct Date {
    double secondsSinceReferenceDate = 0;
    bool operator==(const Date&) const = default;
};

/// A keyed-archive object reference (an index into "$objects"); only plists of archives hold these.
struct Uid {
    uint64_t index = 0;
    bool operator==(const Uid&) const = default;
};

/// Base of the objects a keyed archive may carry beyond plain values (a chat message, say).
/// The archiver's class registry encodes and decodes them by `className()`.
class Object {
  public:
    virtual ~Object() = default;
    virtual std::string className() const = 0;
    /// Two objects are equal when they are of one class and this says so; by default only
    /// the same instance is equal to itself.
    virtual bool isEqual(const Object& other) const { return this == &other; }
};

/// An immutable value as property lists, user defaults and the link carry them. Copies are cheap:
/// strings, data, arrays and dictionaries are shared until one copy is changed.
///
/// The checked accessors convert between the numeric kinds as the platform's number objects do
/// (bool, integer and real convert into each other) and answer nothing for any other kind, so a
/// caller can tell a value of the wrong kind from a missing one. Bool and integer stay distinct
/// kinds all the same: `Value(true) != Value(1)`.
class Value {
  public:
    enum class Kind {
        Null,
        Bool,
        Integer,
        Real,
        String,
        Data,
        Date,
        Array,
        Dictionary,
        Uid,
        Color,
        Object
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(int64_t{i}) {}
    Value(unsigned int i) : storage_(int64_t{i}) {}
    Value(long i) : storage_(int64_t{i}) {}
    Value(long long i) : storage_(int64_t{i}) {}
    Value(unsigned long i) : storage_(static_cast<int64_t>(i)) {}
    Value(unsigned long long i) : storage_(static_cast<int64_t>(i)) {}
    Value(double d) : storage_(d) {}
    Value(float f) : storage_(double{f}) {}
    Value(const char* s) : storage_(std::make_shared<const std::string>(s)) {}
    Value(std::string_view s) : storage_(std::make_shared<const std::string>(s)) {}
    Value(std::string s) : storage_(std::make_shared<const std::string>(std::move(s))) {}
    Value(const std::u8string& s)
        : storage_(std::make_shared<const std::string>(s.begin(), s.end())) {}
    Value(Bytes data) : storage_(std::make_shared<const Bytes>(std::move(data))) {}
    Value(Date d) : storage_(d) {}
    Value(Uid u) : storage_(u) {}
    Value(Color c) : storage_(c) {}
    Value(Array a);
    Value(Dictionary d);
    Value(std::shared_ptr<const Object> o) : storage_(std::move(o)) {}

    static Value date(double secondsSinceReferenceDate) { return Date{secondsSinceReferenceDate}; }
    static Value data(const void* bytes, size_t length);

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isBool() const { return kind() == Kind::Bool; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isReal() const { return kind() == Kind::Real; }
    /// Bool, integer or real: what the platform keeps in a number object.
    bool isNumber() const { return isBool() || isInteger() || isReal(); }
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isUid() const { return kind() == Kind::Uid; }
    bool isColor() const { return kind() == Kind::Color; }
    bool isObject() const { return kind() == Kind::Object; }

    // Numeric accessors: nothing for a non-number. Reals convert to integers by truncation
    // toward zero, saturating at the type's bounds (NaN gives 0).
    std::optional<bool> boolValue() const;
    std::optional<int32_t> intValue() const;
    std::optional<int64_t> longLongValue() const;
    std::optional<float> floatValue() const;
    std::optional<double> doubleValue() const;

    /// Null when the value is not of that kind.
    const std::string* stringValue() const;
    /// A copy of the string; nothing for any other kind.
    std::optional<std::string> optionalString() const;
    const Bytes* dataValue() const;
    const Array* arrayValue() const;
    const Dictionary* dictionaryValue() const;
    std::optional<double> dateValue() const;
    std::optional<uint64_t> uidValue() const;
    std::optional<Color> colorValue() const;
    const std::shared_ptr<const Object>* objectValue() const;

    /// Convenience look-ups: a null value when this is not a dictionary or array or has no
    /// such key or index.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& operator[](const Value& key) const;
    const Value& at(size_t index) const;
    /// Element count of an array or dictionary, bytes of data, 0 otherwise.
    size_t count() const;

    /// The value to change in place; copies it first when another value shares it.
    Array& mutableArray();
    Dictionary& mutableDictionary();

    bool operator==(const Value& other) const;
    /// A total order (by kind, then content), used for dictionary keys. Integers and reals are
    /// one kind for ordering and equality, as number objects compare.
    static int compare(const Value& a, const Value& b);

    /// A short human-readable rendering for logs and test messages.
    std::string description() const;

    static const Value& null();
    static const char* kindName(Kind kind);

  private:
    std::variant<std::monostate, bool, int64_t, double, std::shared_ptr<const std::string>,
                 std::shared_ptr<const Bytes>, Date, std::shared_ptr<const Array>,
                 std::shared_ptr<const Dictionary>, Uid, Color, std::shared_ptr<const Object>>
        storage_;
};

struct ValueLess {
    /// String keys are looked up without building a value for them.
    using is_transparent = void;
    bool operator()(const Value& a, const Value& b) const { return Value::compare(a, b) < 0; }
    bool operator()(const Value& a, std::string_view b) const { return compareToString(a, b) < 0; }
    bool operator()(std::string_view a, const Value& b) const { return compareToString(b, a) > 0; }

  private:
    /// Value::compare(a, Value(b)).
    static int compareToString(const Value& a, std::string_view b);
};

/// A dictionary whose keys are strings or numbers (the link has one keyed by numbers).
/// Iteration is in key order. Entries sit in one sorted vector: the link's dictionaries are
/// small and decoded by the thousand, so one allocation each beats a node per key.
class Dictionary {
  public:
    using Entry = std::pair<Value, Value>;
    using Entries = std::vector<Entry>;
    using const_iterator = Entries::const_iterator;

    Dictionary() = default;
    /// Of equal keys the first is kept.
    Dictionary(std::initializer_list<Entry> entries);
    /// Entries in any order, sorted in n log n; of equal keys the last is kept, as a run of
    /// `set` calls would. Decoders build through this, so no input order costs n squared.
    static Dictionary fromEntries(Entries entries);

    /// Null when there is no such key.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& operator[](const Value& key) const;
    bool contains(const Value& key) const;
    bool contains(std::string_view key) const;
    bool contains(const char* key) const { return contains(std::string_view(key)); }

    /// Keys arriving in order append in constant time; others are inserted in place.
    void set(Value key, Value value);
    void erase(const Value& key);
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    bool operator==(const Dictionary& other) const { return entries_ == other.entries_; }

  private:
    template <class Key>
    Entries::const_iterator lowerBound(const Key& key) const;
    template <class Key>
    const Value* find(const Key& key) const;

    Entries entries_;
};

}  // namespace quenbril
