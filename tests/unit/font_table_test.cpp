#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fonts/font_table.h"
#include "test_support.h"

namespace {

using Pairs = std::vector<std::pair<String, String>>;

Pairs walk(const FontTable& table) {
    Pairs pairs;
    font_table_walk(table, [&](const String& key, const String& value) { pairs.emplace_back(key, value); });
    return pairs;
}

TEST(FontTableHash, WorkedValues) {
    struct { String key; uint32_t hash; uint32_t bucket; } cases[] = {
        {u"", 0x811C9DC5u, 1},
        {u"a", 0x050C5D7Eu, 15},
        {u"abc", 0x439C2F4Bu, 5},
        {u"ABCDEFGHIJ", 0x8A0678EEu, 0x8A0678EEu % 17},
        {u"AXCXEXGXIX", 0x8A0678EEu, 0x8A0678EEu % 17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("key " + readable(c.key));
        EXPECT_EQ(font_table_hash(c.key), c.hash);
        EXPECT_EQ(font_table_hash(c.key) % font_table_bucket_count, c.bucket);
    }
}

TEST(FontTableHash, StrideSamplesLongKeys) {
    // 20 to 29 units: every third unit; units 1 and 2 do not count.
    String key(25, u'k');
    String changed = key;
    changed[1] = u'x';
    changed[2] = u'y';
    EXPECT_EQ(font_table_hash(key), font_table_hash(changed));
    changed[3] = u'z';
    EXPECT_NE(font_table_hash(key), font_table_hash(changed));
}

TEST(FontTableWalk, OrderIsBucketThenNewestFirst) {
    struct { std::vector<String> keys; std::vector<String> order; } cases[] = {
        {{u"FontA", u"FontB", u"FontC"}, {u"FontB", u"FontC", u"FontA"}},
        {{u"Font18", u"Font24", u"Font4"}, {u"Font4", u"Font24", u"Font18"}},
        // 9, 18 and 19 units, around the lengths where the hash's stride changes.
        {{u"Serif-Pro", u"Sans-Pro9", u"Condensed-Bold-018", u"Condensed-Bold-Ita", u"Condensed-Bold-0019",
          u"Mono-Light-Italic19"},
         {u"Mono-Light-Italic19", u"Condensed-Bold-0019", u"Sans-Pro9", u"Serif-Pro", u"Condensed-Bold-018",
          u"Condensed-Bold-Ita"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("keys set " + readable(c.keys));
        FontTable table;
        for (const String& key : c.keys) font_table_set(table, key, key + u".ttf");
        Pairs pairs = walk(table);
        ASSERT_EQ(pairs.size(), c.order.size());
        for (size_t i = 0; i < pairs.size(); ++i) {
            EXPECT_EQ(pairs[i].first, c.order[i]);
            EXPECT_EQ(pairs[i].second, c.order[i] + u".ttf");
        }
    }
}

TEST(FontTableSet, ReplacedValueKeepsItsPlace) {
    FontTable table;
    font_table_set(table, u"Font18", u"first");
    font_table_set(table, u"Font24", u"x");
    font_table_set(table, u"Font18", u"second");
    EXPECT_EQ(walk(table), (Pairs{{u"Font24", u"x"}, {u"Font18", u"second"}}));
    EXPECT_EQ(table.entries.size(), 2u);
}

TEST(FontTableSet, KeysDifferingInCaseAreTwoEntries) {
    FontTable table;
    font_table_set(table, u"Sans", u"1");
    font_table_set(table, u"sans", u"2");
    EXPECT_EQ(walk(table).size(), 2u);
}

TEST(FontTableSet, FullCollisionsAreToldApartByKey) {
    FontTable table;
    font_table_set(table, u"ABCDEFGHIJ", u"1");
    font_table_set(table, u"AXCXEXGXIX", u"2");
    font_table_set(table, u"ABCDEFGHIJ", u"3");
    EXPECT_EQ(walk(table), (Pairs{{u"AXCXEXGXIX", u"2"}, {u"ABCDEFGHIJ", u"3"}}));
}

TEST(FontTableSet, EmptyKeyIsAnEntryInBucketOne) {
    FontTable table;
    font_table_set(table, u"a", u"fifteen");
    font_table_set(table, u"", u"one");
    EXPECT_EQ(walk(table), (Pairs{{u"", u"one"}, {u"a", u"fifteen"}}));
}

TEST(FontTableCreate, EmptyTableWalksNothing) {
    FontTable table;
    EXPECT_TRUE(walk(table).empty());
}

}  // namespace
