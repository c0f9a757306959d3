// The bound every process-wide cache of the verification road relies on:
// whatever is put in, no more entries and no more weight than allowed stay.
#include <gtest/gtest.h>

#include <string>

#include "platform/stores/bounded_cache.h"

namespace zorbelu::stores {
namespace {

TEST(core_BoundedCache, KeepsItsBoundsAndDropsTheLeastRecentlyUsed) {
    BoundedCache<int, std::string> cache(3, 10);
    cache.Insert(1, "a", 2);
    cache.Insert(2, "b", 2);
    cache.Insert(3, "c", 2);
    EXPECT_TRUE(cache.Find(1));  // 2 is now the least recently used
    cache.Insert(4, "d", 2);     // one entry too many
    EXPECT_FALSE(cache.Find(2));
    cache.Put(1, "A", 6);  // replacing counts the new weight only: 6 + 2 + 2 = 10
    EXPECT_EQ(cache.Find(1), "A");
    EXPECT_TRUE(cache.Find(3) && cache.Find(4));
    cache.Insert(5, "e", 1);  // 11 > 10: the least recently used (1) goes
    EXPECT_FALSE(cache.Find(1));
    EXPECT_EQ(cache.Insert(6, "heavy", 11), "heavy");  // answered, never kept
    EXPECT_FALSE(cache.Find(6));
    EXPECT_EQ(cache.Insert(3, "other", 1), "c");  // the value kept first stays
}

}  // namespace
}  // namespace zorbelu::stores
