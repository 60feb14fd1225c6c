#include <gtest/gtest.h>

#include "foundation/BinaryPlistNesting.h"
#include "foundation/KeyedUnarchiver.h"
#include "foundation/PropertyList.h"
#include "tests/foundation/TestSupport.h"

namespace quenbril {
namespace {

void putBigEndian(Bytes& out, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/// A binary plist of `count` arrays, array i holding the objects `children(i)`, with 4-byte
/// references and offsets (so deep nesting costs few bytes per level).
template <typename Children>
Bytes arrays(uint64_t count, Children children) {
    Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (uint64_t i = 0; i < count; ++i) {
        offsets.push_back(out.size());
        std::vector<uint64_t> refs = children(i);
        if (refs.size() < 15) {
            out.push_back(static_cast<uint8_t>(0xA0 | refs.size()));
        } else {
            out.push_back(0xAF);
            out.push_back(0x12);
            putBigEndian(out, refs.size(), 4);
        }
        for (uint64_t r : refs) putBigEndian(out, r, 4);
    }
    uint64_t table = out.size();
    for (uint64_t o : offsets) putBigEndian(out, o, 4);
    out.insert(out.end(), 6, 0);
    out.push_back(4);
    out.push_back(4);
    putBigEndian(out, count, 8);
    putBigEndian(out, 0, 8);
    putBigEndian(out, table, 8);
    return out;
}

Bytes chain(uint64_t levels) {
    return arrays(levels, [levels](uint64_t i) {
        return i + 1 < levels ? std::vector<uint64_t>{i + 1} : std::vector<uint64_t>{};
    });
}

constexpr size_t kNoBound = SIZE_MAX;

bool within(const Bytes& b, int depth) {
    return BinaryPlistNesting::within(b.data(), b.size(), depth, kNoBound);
}

TEST(BinaryPlistNesting, MeasuresNestingFromTheTopObject) {
    EXPECT_TRUE(within(chain(100), 100));
    EXPECT_FALSE(within(chain(100), 98));
    // libplist reads what passes.
    EXPECT_TRUE(PropertyList::read(chain(100)));
}

TEST(BinaryPlistNesting, RealFilesPass) {
    for (const char* name : {"simpleDict.plist", "note.plist", "ax_statechange.bin",
                             "NSKeyedUnarchiver-ComplexTest.plist", "circularReference.plist"}) {
        EXPECT_TRUE(within(test::archiveFixture(name), KeyedUnarchiver::kMaxPlistNesting)) << name;
    }
    Bytes written = *PropertyList::write(
        Value(Dictionary{{"a", Array{Dictionary{{"b", Array{1, 2}}}, "x"}}, {"c", 3}}),
        PropertyList::Format::Binary);
    EXPECT_TRUE(within(written, 4));
    EXPECT_FALSE(within(written, 3));
}

TEST(BinaryPlistNesting, NestingThatWouldOverflowLibplistsStackIsRefusedEverywhere) {
    Bytes deep = chain(400000);  // about 3.6 MB: enough to crash a recursive parse
    EXPECT_EQ(BinaryPlistNesting::check(deep.data(), deep.size(), 512, kNoBound),
              BinaryPlistNesting::Result::TooDeep);
    Error error;
    EXPECT_FALSE(PropertyList::read(deep, &error));
    // 400,000 objects are past the bound on elements as well, which is checked first.
    EXPECT_EQ(error.code, PropertyList::kTooLarge);
    EXPECT_FALSE(KeyedUnarchiver::unarchive(deep, &error));
    EXPECT_EQ(error.code, KeyedUnarchiver::kNotAnArchive);
}

/// Arrays that each hold the next one twice, `levels` of them above an empty one: tiny as a
/// graph, 2^(levels + 1) - 1 nodes as the tree libplist makes of it.
Bytes doubling(uint64_t levels) {
    return arrays(levels + 1, [levels](uint64_t i) {
        return i < levels ? std::vector<uint64_t>{i + 1, i + 1} : std::vector<uint64_t>{};
    });
}

size_t nodes(const Value& v) {
    size_t n = 1;
    if (const Array* a = v.arrayValue()) {
        for (const Value& item : *a) n += nodes(item);
    }
    if (const Dictionary* d = v.dictionaryValue()) {
        for (const auto& [key, item] : *d) n += 1 + nodes(item);
    }
    return n;
}

TEST(BinaryPlistNesting, SharedObjectsAreWalkedOnceAndCyclesRefused) {
    // 2^60 paths, 60 levels: walked in no time, and far too large.
    Bytes deep = doubling(60);
    EXPECT_EQ(BinaryPlistNesting::check(deep.data(), deep.size(), 64, kNoBound),
              BinaryPlistNesting::Result::TooManyElements);
    EXPECT_EQ(BinaryPlistNesting::check(deep.data(), deep.size(), 50, kNoBound),
              BinaryPlistNesting::Result::TooDeep);
    Bytes cycle = arrays(2, [](uint64_t i) { return std::vector<uint64_t>{1 - i}; });
    EXPECT_EQ(BinaryPlistNesting::check(cycle.data(), cycle.size(), 64, kNoBound),
              BinaryPlistNesting::Result::Damaged);
}

TEST(BinaryPlistNesting, CountsTheNodesLibplistMakesSharedObjectsWhereverTheyAreUsed) {
    auto check = [](const Bytes& b, size_t elements) {
        return BinaryPlistNesting::check(b.data(), b.size(), 64, elements);
    };
    using Result = BinaryPlistNesting::Result;
    const Bytes shared = doubling(12);
    const size_t expanded = (size_t{1} << 13) - 1;
    ASSERT_LT(shared.size(), 256u);
    EXPECT_EQ(check(shared, expanded), Result::Within);
    EXPECT_EQ(check(shared, expanded - 1), Result::TooManyElements);
    auto read = PropertyList::read(shared);
    ASSERT_TRUE(read);
    EXPECT_EQ(nodes(*read), expanded) << "the count is libplist's";

    // A dictionary's keys are nodes too; the writer shares the equal values.
    const Value dictionary = Dictionary{{"a", Array{true, true}}, {"b", true}, {"c", "a"}};
    const Bytes written = *PropertyList::write(dictionary, PropertyList::Format::Binary);
    EXPECT_EQ(nodes(dictionary), 9u);
    EXPECT_EQ(check(written, 9), Result::Within);
    EXPECT_EQ(check(written, 8), Result::TooManyElements);
    // The table is bounded as well: a writer writes no object it does not use.
    const Bytes unused = arrays(20, [](uint64_t) { return std::vector<uint64_t>{}; });
    EXPECT_EQ(check(unused, 20), Result::Within);
    EXPECT_EQ(check(unused, 19), Result::TooManyElements);

    // Real archives hold fewer nodes than bytes.
    for (const char* name : {"simpleDict.plist", "note.plist", "ax_statechange.bin",
                             "NSKeyedUnarchiver-ComplexTest.plist", "circularReference.plist"}) {
        const Bytes archive = test::archiveFixture(name);
        EXPECT_EQ(check(archive, archive.size()), Result::Within) << name;
    }
}

TEST(BinaryPlistNesting, APlistThatExpandsBeyondTheBoundIsRefusedBeforeLibplistReadsIt) {
    // About 300 bytes that libplist would make a million nodes of; ten levels more take all
    // the memory there is.
    const Bytes expanding = doubling(19);
    Error error;
    EXPECT_FALSE(PropertyList::read(expanding, &error));
    EXPECT_EQ(error.code, PropertyList::kTooLarge) << error.description;
}

TEST(BinaryPlistNesting, DamagedTablesAreRefused) {
    Bytes good = chain(3);
    EXPECT_TRUE(within(good, 8));
    Bytes badRef = arrays(2, [](uint64_t i) { return std::vector<uint64_t>{i == 0 ? 7u : 0u}; });
    EXPECT_FALSE(within(badRef, 8));
    Bytes longCount = arrays(1, [](uint64_t) { return std::vector<uint64_t>(20, 0); });
    longCount[10] = 0xFF;  // the 4-byte count claims far more references than there are
    EXPECT_FALSE(within(longCount, 8));
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(BinaryPlistNesting::within(good.data(), n, 8, kNoBound)) << n;
    }
    Bytes badTrailer = good;
    badTrailer[badTrailer.size() - 25] = 9;  // reference size 9
    EXPECT_FALSE(within(badTrailer, 8));
}

}  // namespace
}  // namespace quenbril
