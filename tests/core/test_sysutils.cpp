#include <gtest/gtest.h>

#include "core/Colors.h"
#include "core/Exception.h"
#include "core/Guid.h"
#include "core/SysUtils.h"

namespace {

TEST(SysUtils, StrToIntFollowsTheFrameworkRules) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -7"), -7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "abc", "12a", "2147483648", "1 ", "-", "$"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  try {
    StrToInt("abc");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(StrToIntDef("x", 9), 9);
}

TEST(SysUtils, MulDivRoundsHalfAwayFromZero) {
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(5, -1, 2), -3);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);
  EXPECT_EQ(MulDiv(100000, 100000, 100), 100000000);  // needs the 64-bit product
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 4, 1), -1);
}

TEST(SysUtils, TrimAndCase) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(UpperCase("abC1"), "ABC1");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(Format("%s-%03d", "x", 7), "x-007");
}

TEST(SysUtils, ExtractFileExtTakesTheLastDotOfTheNamePart) {
  EXPECT_EQ(ExtractFileExt("scan.tif"), ".tif");
  EXPECT_EQ(ExtractFileExt("/tmp/pages.tar.GZ"), ".GZ");  // the last dot; case kept
  EXPECT_EQ(ExtractFileExt("README"), "");
  EXPECT_EQ(ExtractFileExt(""), "");
  EXPECT_EQ(ExtractFileExt("/home/u/x.d/readme"), "");  // a dot in a folder is no extension
  EXPECT_EQ(ExtractFileExt("C:\\a.b\\readme"), "");
  EXPECT_EQ(ExtractFileExt("in\\page.pcx"), ".pcx");
  EXPECT_EQ(ExtractFileExt("/home/u/.profile"), ".profile");
  EXPECT_EQ(ExtractFileExt("name."), ".");
}

TEST(Guid, ParsesOnlyTheBracedFormAndPrintsUpperCase) {
  TGUID g;
  ASSERT_TRUE(TryStringToGUID("{6b29fc40-ca47-1067-b31d-00dd010662da}", g));
  EXPECT_EQ(GUIDToString(g), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
  ASSERT_TRUE(TryStringToGUID("{00000000-0000-0000-0000-000000000000}", g));
  EXPECT_EQ(g, TGUID{});
  for (const char* bad : {"6b29fc40-ca47-1067-b31d-00dd010662da", "{6b29fc40-ca47-1067-b31d-00dd010662dz}",
                          "{6b29fc40xca47-1067-b31d-00dd010662da}", "{}", "abc"}) {
    EXPECT_FALSE(TryStringToGUID(bad, g)) << bad;
  }
  TGUID a = CreateGuid(), b = CreateGuid();
  EXPECT_NE(a, b);
  TGUID back;
  ASSERT_TRUE(TryStringToGUID(GUIDToString(a), back));
  EXPECT_EQ(back, a);
}

TEST(Colors, ResolvesSystemColoursFromTheTable) {
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(236, 233, 216));
  EXPECT_EQ(ColorToRGB(TColor(0x8000000F)), RGB(236, 233, 216));  // older spelling
  EXPECT_EQ(ColorToRGB(clHighlight), RGB(49, 106, 197));
  EXPECT_EQ(ColorToRGB(clRed), clRed);
  EXPECT_EQ(ColorToRGB(clNone), clNone);
  EXPECT_EQ(static_cast<uint32_t>(clWindow), 0xFF000005u);
  EXPECT_EQ(GetBValue(RGB(1, 2, 3)), 3);
}

}  // namespace
