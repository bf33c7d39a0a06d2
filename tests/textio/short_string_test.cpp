#include "textio/short_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShortStringTest, SpaceStringTakesItsCountAsAByte) {
  EXPECT_EQ(SpaceString(3).length, 3);
  EXPECT_EQ(StringView(SpaceString(3)), "   ");
  EXPECT_EQ(SpaceString(255).length, 255);
  EXPECT_EQ(SpaceString(256).length, 0);
  EXPECT_EQ(SpaceString(300).length, 44);
  EXPECT_EQ(SpaceString(-1).length, 255);
}

TEST(ShortStringTest, CopyAndAppendCut) {
  ShortString abc = StringFrom("abcdef");
  EXPECT_EQ(StringView(CopyString(abc, 3)), "abc");
  EXPECT_EQ(StringView(CopyString(abc, 10)), "abcdef");
  EXPECT_EQ(StringView(CopyString(abc, 0)), "");
  EXPECT_EQ(StringView(CopyString(abc, -4)), "");

  ShortString s = StringFrom(std::string(250, 'a'));
  AppendString(s, abc);
  EXPECT_EQ(s.length, 255);
  EXPECT_EQ(StringView(s).substr(250), "abcde");
  AppendString(s, abc);
  EXPECT_EQ(s.length, 255);
  EXPECT_EQ(StringFrom(std::string(400, 'z')).length, 255);
}

TEST(ShortStringTest, MoveBytesHandlesOverlapBothWays) {
  char up[] = "abcdefgh";
  MoveBytes(up, up + 2, 5);  // target above source: copied backwards
  EXPECT_STREQ(up, "ababcdeh");
  char down[] = "abcdefgh";
  MoveBytes(down + 2, down, 5);
  EXPECT_STREQ(down, "cdefgfgh");
  char fill[] = "abcd";
  FillBytes(fill + 1, 2, '*');
  EXPECT_STREQ(fill, "a**d");
  FillBytes(fill, 0, '#');
  MoveBytes(up, fill, -3);
  EXPECT_STREQ(fill, "a**d");
}

}  // namespace
