#include <gtest/gtest.h>

#include "core/CappedGrowth.h"

TEST(CappedGrowth, DoublesButNeverPastTheCap) {
  EXPECT_EQ(CappedCapacity(0, 10, 1000000).value(), kMinCappedGrowth);
  EXPECT_EQ(CappedCapacity(100000, 100001, 1000000).value(), 200000u);
  EXPECT_EQ(CappedCapacity(100000, 110000, 120000).value(), 120000u);
  EXPECT_EQ(CappedCapacity(0, 10, 100).value(), 100u);
  EXPECT_EQ(CappedCapacity(500, 400, 1000).value(), 500u);  // fits: no growth
  EXPECT_FALSE(CappedCapacity(0, 101, 100).has_value());
}

TEST(CappedGrowth, AppendRefusesPastTheCapAndKeepsWhatItHas) {
  std::string buf;
  ASSERT_TRUE(AppendCapped(buf, std::string(20, 'a'), 100000));
  EXPECT_EQ(buf.capacity(), kMinCappedGrowth);
  ASSERT_TRUE(AppendCapped(buf, std::string(70000, 'a'), 100000));
  EXPECT_EQ(buf.capacity(), 100000u);  // doubling would have reserved 131072
  ASSERT_TRUE(AppendCapped(buf, std::string(29980, 'b'), 100000));
  EXPECT_EQ(buf.size(), 100000u);
  EXPECT_EQ(buf.capacity(), 100000u);
  EXPECT_FALSE(AppendCapped(buf, "c", 100000));
  EXPECT_EQ(buf.size(), 100000u);
  EXPECT_EQ(buf.back(), 'b');
}
