#include <gtest/gtest.h>

#include "core/AnsiString.h"

namespace {

const std::string kZhong = "\xD6\xD0";  // 中 in code page 936

TEST(Cp936Text, RoundTripsChineseAndAscii) {
  AnsiString a = Cp936("系统提示 OK");
  EXPECT_EQ(a.size(), 11u);  // four double-byte characters, a blank and two letters
  EXPECT_EQ(Cp936ToUtf8(a), "系统提示 OK");
  EXPECT_EQ(Cp936("中"), kZhong);
}

TEST(Cp936Text, DropsTrailingHalfCharacter) {
  // A field cut at a byte count leaves a lead byte without its trail byte.
  EXPECT_EQ(Cp936ToUtf8("ab" + kZhong.substr(0, 1)), "ab");
  EXPECT_EQ(Cp936ToUtf8(kZhong + kZhong.substr(0, 1)), "中");
}

TEST(Cp936Text, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp936("a\xF0\x9F\x98\x80" "b"), "a?b");  // an emoji has no code page 936 form
  EXPECT_EQ(Utf8ToCp936("a\xFF" "b"), "a?b");              // broken UTF-8
}

TEST(Cp936Text, UpperCaseLeavesTrailBytesAlone) {
  // 乙 is 0xD2 0xD2; 丂 is 0x81 0x40; trail bytes in the letter range must survive.
  AnsiString s = std::string("ab\x81\x61") + "cd";  // lead 0x81 then trail 'a'
  EXPECT_EQ(AnsiUpperCase(s), std::string("AB\x81\x61") + "CD");
  EXPECT_EQ(AnsiLowerCase(std::string("AB\x81\x41Z")), std::string("ab\x81\x41z"));
}

TEST(Cp936Text, SafeCutNeverSplitsACharacter) {
  AnsiString s = "a" + kZhong + "b";
  EXPECT_EQ(Cp936SafeCut(s, 2), 1u);
  EXPECT_EQ(Cp936SafeCut(s, 3), 3u);
  EXPECT_EQ(Cp936SafeCut(s, 10), 4u);
}

}  // namespace
