#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {
namespace {

TEST(Value, NumbersConvertLikeNumberObjectsAndOtherKindsAnswerNothing) {
    EXPECT_EQ(Value(42).doubleValue(), 42.0);
    EXPECT_EQ(Value(2.75).intValue(), 2);
    EXPECT_EQ(Value(-2.75).longLongValue(), -2);
    EXPECT_EQ(Value(true).intValue(), 1);
    EXPECT_EQ(Value(0.0).boolValue(), false);
    EXPECT_EQ(Value(int64_t{1} << 40).intValue(), 0) << "intValue keeps the low 32 bits";
    EXPECT_FLOAT_EQ(*Value(3).floatValue(), 3.0f);
    // Reals out of range saturate; NaN is zero.
    EXPECT_EQ(Value(1e300).longLongValue(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(Value(-1e300).intValue(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(Value(std::nan("")).intValue(), 0);

    EXPECT_FALSE(Value("12").intValue());
    EXPECT_FALSE(Value("12").boolValue());
    EXPECT_EQ(Value(12).stringValue(), nullptr);
    EXPECT_EQ(Value(12).arrayValue(), nullptr);
    EXPECT_FALSE(Value(Bytes{1, 2}).dateValue());
    EXPECT_TRUE(Value(12)["Command"].isNull());
    EXPECT_TRUE(Value(Array{1}).at(5).isNull());
}

TEST(Value, DictionaryKeysOfEveryKindKeepTheirOrderAndStringLookupsAgree) {
    // Keys set out of order, in order and again, around the string keys on both sides.
    Dictionary d;
    d.set("m", 1);
    d.set(Value(Bytes{1}), 2);
    d.set("b", 3);
    d.set(7, 4);
    d.set(true, 5);
    d.set("z", 6);
    d.set("", 7);
    d.set("m", 8);
    d.set(Value(Array{}), 9);
    d.set("z", 10);
    d.set(int64_t{-7}, 11);
    EXPECT_EQ(d.size(), 9u);
    EXPECT_EQ(d[Value(7.0)], Value(4)) << "number keys match by value";
    EXPECT_EQ(d[Value(-7)], Value(11));
    EXPECT_TRUE(d[Value("7")].isNull()) << "a string key is not a number key";
    for (const char* key : {"", "b", "m", "z"}) {
        EXPECT_EQ(d[key], d[Value(key)]) << key;
        EXPECT_EQ(d[std::string_view(key)], d[Value(key)]) << key;
        EXPECT_TRUE(d.contains(key)) << key;
    }
    EXPECT_EQ(d["m"], Value(8));
    EXPECT_EQ(d["z"], Value(10));
    for (const char* key : {"a", "c", "zz", "7", "true"}) {
        EXPECT_TRUE(d[key].isNull()) << key;
        EXPECT_FALSE(d.contains(std::string_view(key))) << key;
    }
    // Iteration stays in key order: by kind (bool, number, string, data, array), then content.
    std::vector<Value> keys;
    for (const auto& [k, v] : d) keys.push_back(k);
    std::vector<Value> expected{true, -7, 7, "", "b", "m", "z", Value(Bytes{1}), Value(Array{})};
    EXPECT_EQ(keys, expected);
}

TEST(Value, DictionariesBuiltWholeSortTheirEntriesAndKeepOneValuePerKey) {
    // Decoders hand over entries as they come: the last of equal keys wins, as with set().
    Dictionary::Entries entries;
    for (int i = 2000; i > 0; --i) entries.emplace_back(i % 1000, i);
    entries.emplace_back("k", 1);
    entries.emplace_back("k", 2);
    Dictionary built = Dictionary::fromEntries(std::move(entries));
    EXPECT_EQ(built.size(), 1001u);
    EXPECT_EQ(built[Value(0)], Value(1000));
    EXPECT_EQ(built[Value(999)], Value(999));
    EXPECT_EQ(built["k"], Value(2));
    EXPECT_EQ(built.begin()->first, Value(0));
    // A literal keeps the first of equal keys; erasing leaves the rest in order.
    Dictionary literal{{"b", 1}, {"a", 2}, {"b", 3}};
    EXPECT_EQ(literal, (Dictionary{{"a", 2}, {"b", 1}}));
    literal.erase("a");
    literal.erase("missing");
    EXPECT_EQ(literal, (Dictionary{{"b", 1}}));
}

TEST(Value, EqualityIsDeepKeepsBoolsApartAndCopiesAreIndependent) {
    EXPECT_TRUE(Value(true).isBool());
    EXPECT_FALSE(Value(true).isInteger());
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(false), Value(0));
    EXPECT_EQ(Value(1), Value(1.0)) << "integers and reals compare as numbers";
    EXPECT_EQ(Value::date(10.5), Value::date(10.5));
    EXPECT_NE(Value::date(10.5), Value(10.5));
    EXPECT_EQ(Value(Color{1, 0, 0, 1}), Value(Color{1, 0, 0, 1}));

    Value a(Dictionary{{"k", Array{1, "two", Bytes{3}}}});
    Value b = a;
    EXPECT_EQ(a, b);
    b.mutableDictionary().set("k2", 2.5);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.count(), 1u) << "changing a copy leaves the original alone";
}

}  // namespace
}  // namespace quenbril
