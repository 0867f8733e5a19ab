#include "brixa/core/pointer_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

using brixa::PointerMap;

void* key(uintptr_t value) { return reinterpret_cast<void*>(value); }

TEST(PointerMap, HashFollowsTheShiftAndAddMix) {
  // Worked out independently from the mixing steps on 32-bit values.
  struct Case {
    uintptr_t key;
    uint32_t hash;
  } cases[] = {{0x0, 0xff83ef00u}, {0x1, 0xff83cee7u}, {0x1000, 0xfe1d70d1u}, {0xdeadbeef, 0xb621324du},
               {0x7ffc12345678, 0x41f1bf7bu}};
  for (const auto& c : cases) EXPECT_EQ(PointerMap::hash(key(c.key)), c.hash) << std::hex << c.key;
}

TEST(PointerMap, InsertFindReplaceRemove) {
  PointerMap map;
  int a = 1, b = 2;
  EXPECT_FALSE(map.contains(&a));
  EXPECT_EQ(map.find(&a), nullptr);
  map.insert(&a, &a);
  map.insert(&b, &a);
  map.insert(&b, &b);  // an existing key takes the new value
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.find(&b), &b);
  EXPECT_EQ(map.remove(&a), &a);
  EXPECT_EQ(map.remove(&a), nullptr);
  EXPECT_FALSE(map.contains(&a));
  EXPECT_TRUE(map.contains(&b));
  EXPECT_EQ(map.size(), 1u);
}

TEST(PointerMap, DoublesPastThreeQuartersAndKeepsEveryEntry) {
  PointerMap map;
  EXPECT_EQ(map.bucket_count(), 2048u);
  // Keys that collide in the low bits stress the chains as well as the growth.
  for (uintptr_t i = 1; i <= 1536; ++i) map.insert(key(i * 4096), key(i));
  EXPECT_EQ(map.bucket_count(), 2048u) << "1536 entries is exactly three quarters";
  map.insert(key(1537 * 4096), key(1537));
  EXPECT_EQ(map.bucket_count(), 4096u);
  for (uintptr_t i = 1; i <= 1537; ++i) ASSERT_EQ(map.find(key(i * 4096)), key(i));
  for (uintptr_t i = 1; i <= 1537; ++i) map.remove(key(i * 4096));
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.bucket_count(), 4096u) << "removing does not shrink the table";
}

TEST(PointerMap, WalkVisitsEveryEntryUntilTheVisitorStops) {
  PointerMap map;
  for (uintptr_t i = 1; i <= 100; ++i) map.insert(key(i), key(i));
  std::set<uintptr_t> seen;
  map.walk([&](const void* k, void*) {
    seen.insert(reinterpret_cast<uintptr_t>(k));
    return true;
  });
  EXPECT_EQ(seen.size(), 100u);
  int visits = 0;
  map.walk([&](const void*, void*) { return ++visits < 10; });
  EXPECT_EQ(visits, 10);
}

}  // namespace
