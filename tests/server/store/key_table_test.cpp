// The import's flat key tables against std::map, on keys in the orders and patterns a file may
// bring: every key found with its first value, none found that was not added, through growth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "server/store/key_table.h"

namespace eft::server {
namespace {

// Every key in one block, the worst a hash can do: the table must still tell them apart.
struct OneBlock {
    std::uint64_t operator()(std::int32_t) const { return 0; }
};

struct KeysCase {
    const char* name;
    std::vector<std::int32_t> (*keys)();
    std::size_t reserved;  // 0: the table grows from nothing
};

std::vector<std::int32_t> stepping(std::int32_t from, std::int32_t step, int count) {
    std::vector<std::int32_t> keys;
    for (int n = 0; n < count; ++n) keys.push_back(from + n * step);
    return keys;
}

const KeysCase kKeys[] = {
    {"InOrder", [] { return stepping(100000, 1, 50000); }, 0},
    {"InOrderReserved", [] { return stepping(100000, 1, 50000); }, 50000},
    {"ReservedTooFew", [] { return stepping(1, 1, 50000); }, 1000},
    {"Backwards", [] { return stepping(2000000, -1, 50000); }, 0},
    {"StepOfABlock", [] { return stepping(7, 64, 20000); }, 0},
    {"StepOfTheTable", [] { return stepping(3, 1 << 16, 20000); }, 0},
    {"Shuffled",
     [] {
         std::vector<std::int32_t> keys = stepping(1, 3, 50000);
         std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
         return keys;
     },
     0},
    {"Extremes", [] { return std::vector<std::int32_t>{0, -1, 2147483647, -2147483647 - 1, 1, 63, 64}; }, 0},
};

class KeyTableTest : public ::testing::TestWithParam<KeysCase> {};

template <typename Hash>
void check(const KeysCase& c) {
    KeyTable<std::int32_t, std::uint64_t, Hash> table;
    table.reserve(c.reserved);
    std::map<std::int32_t, std::uint64_t> expected;
    const std::vector<std::int32_t> keys = c.keys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto [value, added] = table.tryEmplace(keys[i], i);
        ASSERT_TRUE(added) << keys[i];
        ASSERT_EQ(*value, i);
        expected.emplace(keys[i], i);
    }
    EXPECT_EQ(table.size(), expected.size());
    for (const auto& [key, first] : expected) {
        const auto [value, added] = table.tryEmplace(key, first + 1);
        EXPECT_FALSE(added) << key;
        EXPECT_EQ(*value, first) << key;
        ASSERT_NE(table.find(key), nullptr) << key;
        EXPECT_EQ(*table.find(key), first);
    }
    EXPECT_EQ(table.size(), expected.size());
    // Neighbours of every key that were never added.
    for (const auto& [key, first] : expected) {
        for (const std::int64_t near : {std::int64_t{key} - 2, std::int64_t{key} + 2, std::int64_t{key} ^ 0x40000}) {
            if (near >= INT32_MIN && near <= INT32_MAX && !expected.contains(static_cast<std::int32_t>(near))) {
                EXPECT_FALSE(table.contains(static_cast<std::int32_t>(near))) << near;
            }
        }
    }
}

TEST_P(KeyTableTest, FindsEveryKeyWithItsFirstValueAndNoOther) { check<IdHash>(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Keys, KeyTableTest, ::testing::ValuesIn(kKeys),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyTable, KeysAllInOneBlockAreToldApart) {
    check<OneBlock>({"OneBlock", [] { return stepping(1, 5, 3000); }, 0});
}

TEST(KeyTable, AnEmptyTableFindsNothing) {
    IdTable<char> table;
    EXPECT_FALSE(table.contains(0));
    table.reserve(100);
    EXPECT_FALSE(table.contains(0));
    EXPECT_EQ(table.size(), 0u);
}

}  // namespace
}  // namespace eft::server
