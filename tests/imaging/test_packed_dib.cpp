#include <gtest/gtest.h>

#include "ImagingTestUtil.h"
#include "core/ByteIO.h"
#include "imaging/EnDiGrph.h"

namespace {
// A packed bitmap header; pels per metre 11811 is 300 dpi.
ByteWriter Header(int w, int h, int bits, uint32_t compression, uint32_t colours,
                  uint32_t imageSize = 0) {
  ByteWriter b;
  b.U32(40);
  b.I32(w);
  b.I32(h);
  b.U16(1);
  b.U16(uint16_t(bits));
  b.U32(compression);
  b.U32(imageSize);
  b.I32(11811);
  b.I32(11811);
  b.U32(colours);
  b.U32(0);
  return b;
}

void Quad(ByteWriter& b, uint8_t r, uint8_t g, uint8_t bl) {
  b.U8(bl);
  b.U8(g);
  b.U8(r);
  b.U8(0);
}
}  // namespace

TEST(PackedDib, SixteenColoursKeepTheirPalette) {
  ByteWriter b = Header(3, 2, 4, 0, 16);
  for (int i = 0; i < 16; ++i) Quad(b, uint8_t(i * 10), 0, uint8_t(255 - i));
  // Bottom row first: 0x12 0x30, then the top row 0xF0 0x00.
  for (uint8_t v : {0x12, 0x30, 0, 0, 0xF0, 0x00, 0, 0}) b.U8(v);
  TDibGraphic img;
  img.AssignFromHDIB(b.Str().data(), b.Size());
  EXPECT_EQ(img.ImageFormat(), ifColor16);
  EXPECT_EQ(img.XDotsPerInch(), 300);
  EXPECT_EQ(img.LogPalette().palNumEntries, 16);
  EXPECT_EQ(img.LogPalette().palPalEntry[5].peRed, 50);
  EXPECT_EQ(PixelsIndex(img), (std::vector<int>{15, 0, 0, 1, 2, 3}));
}

TEST(PackedDib, GreyBitmapsArriveAsColourFormats) {
  ByteWriter b = Header(1, 1, 8, 0, 0);
  for (int i = 0; i < 256; ++i) Quad(b, uint8_t(i), uint8_t(i), uint8_t(i));
  b.U32(0x00000080);
  TDibGraphic img;
  img.AssignFromHDIB(b.Str().data(), b.Size());
  EXPECT_EQ(img.ImageFormat(), ifColor256);
  EXPECT_EQ(img.GetPixelRGB(0, 0), 0x808080u);
}

TEST(PackedDib, TrueColourDepths) {
  // 32 bits, top-down: the first stored row is the top row.
  ByteWriter b = Header(2, -2, 32, 0, 0);
  for (uint32_t px : {0x00112233u, 0x00445566u, 0x00778899u, 0x00AABBCCu}) b.U32(px);
  TDibGraphic img;
  img.AssignFromHDIB(b.Str().data(), b.Size());
  EXPECT_EQ(img.ImageFormat(), ifTrueColor);
  EXPECT_EQ(PixelsRGB(img), (std::vector<RgbValue>{0x112233, 0x445566, 0x778899, 0xAABBCC}));

  // 16 bits with 5-6-5 masks after the header.
  ByteWriter c = Header(2, 1, 16, 3, 0);
  c.U32(0xF800);
  c.U32(0x07E0);
  c.U32(0x001F);
  c.U16(0xF800);  // pure red
  c.U16(0x07E0);  // pure green
  TDibGraphic bf;
  bf.AssignFromHDIB(c.Str().data(), c.Size());
  EXPECT_EQ(PixelsRGB(bf), (std::vector<RgbValue>{0xFF0000, 0x00FF00}));

  // 16 bits without masks are 5-5-5.
  ByteWriter d = Header(1, 1, 16, 0, 0);
  d.U16(0x001F);
  d.U16(0);
  TDibGraphic p555;
  p555.AssignFromHDIB(d.Str().data(), d.Size());
  EXPECT_EQ(p555.GetPixelRGB(0, 0), 0x0000FFu);
}

TEST(PackedDib, RunLengthEncoded) {
  ByteWriter pixels;
  // Bottom row: a run of 3 x index 2, a literal (1, 0, 1) padded to 16 bits whose
  // last pixel falls outside, end of line.
  for (uint8_t v : {3, 2, 0, 3, 1, 0, 1, 0, 0, 0}) pixels.U8(v);
  // Top row: delta skip of 1, a run of 1 x index 1, end of bitmap.
  for (uint8_t v : {0, 2, 1, 0, 1, 1, 0, 1}) pixels.U8(v);
  ByteWriter b = Header(5, 2, 8, 1, 3, uint32_t(pixels.Size()));
  Quad(b, 0, 0, 0);
  Quad(b, 255, 0, 0);
  Quad(b, 0, 0, 255);
  b.Bytes(pixels.Str());
  TDibGraphic img;
  img.AssignFromHDIB(b.Str().data(), b.Size());
  EXPECT_EQ(img.ImageFormat(), ifColor256);
  EXPECT_EQ(PixelsIndex(img), (std::vector<int>{0, 1, 0, 0, 0, 2, 2, 2, 1, 0}));

  // Ending the bitmap at once is a legal way to say "all background": a few
  // bytes describe a whole page, so a page's size is not judged by the byte
  // count (beyond a page it is: see the hostile blocks).
  ByteWriter blank = Header(3000, 2000, 8, 1, 2, 2);
  Quad(blank, 0, 0, 0);
  Quad(blank, 255, 255, 255);
  blank.U8(0);
  blank.U8(1);
  img.AssignFromHDIB(blank.Str().data(), blank.Size());
  EXPECT_EQ(img.Width(), 3000);
  EXPECT_EQ(img.Height(), 2000);
  EXPECT_EQ(img.GetPixelIndex(2999, 0), 0);
  EXPECT_EQ(img.GetPixelIndex(0, 1999), 0);
}

TEST(PackedDib, HostileBlocksAreRefused) {
  TDibGraphic img;
  ByteWriter shortHeader;
  shortHeader.U32(40);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(shortHeader.Str().data(), shortHeader.Size()),
                       "Invalid HDIB");
  // Pixels missing.
  ByteWriter noBits = Header(100, 100, 24, 0, 0);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(noBits.Str().data(), noBits.Size()), "Invalid HDIB");
  // A colour count far beyond the block.
  ByteWriter colours = Header(1, 1, 8, 0, 0x40000000);
  colours.Zeros(8);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(colours.Str().data(), colours.Size()), "Invalid HDIB");
  // Huge dimensions with a tiny block.
  ByteWriter huge = Header(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, 0);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(huge.Str().data(), huge.Size()), "Invalid HDIB");
  ByteWriter depth = Header(1, 1, 2, 0, 4);
  depth.Zeros(20);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(depth.Str().data(), depth.Size()),
                       "Unsupported bit count");
  ByteWriter rle = Header(4, 4, 8, 1, 1, 0);
  rle.Zeros(8);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(rle.Str().data(), rle.Size()), "Invalid HDIB");
  // A run-length literal running past the block.
  ByteWriter lit = Header(4, 1, 8, 1, 1, 4);
  Quad(lit, 0, 0, 0);
  for (uint8_t v : {0, 200, 1, 1}) lit.U8(v);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(lit.Str().data(), lit.Size()), "Invalid HDIB");
  // 1066 bytes claiming 20000 x 20000 (400 MB of pixels): runs of 255 in two
  // bytes could fill 133,000 pixels, and a page may be background, no more.
  ByteWriter claim = Header(20000, 20000, 8, 1, 256, 2);
  claim.Zeros(1024);
  claim.U8(0);
  claim.U8(1);
  ASSERT_EQ(claim.Size(), 1066u);
  EXPECT_IMAGING_ERROR(img.AssignFromHDIB(claim.Str().data(), claim.Size()), "Invalid HDIB");
  // Runs beyond the image are clipped, not written past it.
  ByteWriter over = Header(2, 1, 8, 1, 1, 6);
  Quad(over, 0, 0, 0);
  for (uint8_t v : {255, 0, 0, 2, 9, 9}) over.U8(v);
  img.AssignFromHDIB(over.Str().data(), over.Size());
  EXPECT_EQ(img.Width(), 2);
}

TEST(PackedDib, ExportRoundTrips) {
  TDibGraphic src;
  src.NewImage(3, 3, ifColor16, nullptr, 200, 200);
  src.SetPixelIndex(2, 0, 9);
  src.SetPixelIndex(0, 2, 14);
  std::string packed = src.SaveToPackedDIB();
  EXPECT_EQ(packed.size(), 40u + 16 * 4 + 3 * 4);
  TDibGraphic back;
  back.AssignFromHDIB(packed.data(), packed.size());
  EXPECT_EQ(back.ImageFormat(), ifColor16);
  EXPECT_EQ(back.XDotsPerInch(), 200);
  EXPECT_EQ(PixelsIndex(back), PixelsIndex(src));
  TDibGraphic empty;
  EXPECT_THROW(empty.SaveToPackedDIB(), EImagingError);
}

TEST(PackedDib, MutatedAndTruncatedBlocksNeverReadOutside) {
  std::vector<std::string> seeds;
  {
    TDibGraphic img;
    img.NewImage(7, 5, ifColor16, nullptr, 0, 0);
    seeds.push_back(img.SaveToPackedDIB());
  }
  ByteWriter rle = Header(6, 3, 8, 1, 2, 12);
  Quad(rle, 0, 0, 0);
  Quad(rle, 9, 9, 9);
  for (uint8_t v : {4, 1, 0, 3, 1, 0, 1, 0, 0, 2, 1, 1}) rle.U8(v);
  seeds.push_back(rle.Str());
  ByteWriter bf = Header(3, -2, 32, 3, 0);
  for (uint32_t m : {0xFF0000u, 0xFF00u, 0xFFu}) bf.U32(m);
  bf.Zeros(24);
  seeds.push_back(bf.Str());

  uint32_t state = 99;
  for (const std::string& seed : seeds) {
    for (size_t len = 0; len < seed.size(); ++len) {
      TDibGraphic img;
      try {
        img.AssignFromHDIB(seed.data(), len);
      } catch (const Exception&) {
      }
    }
    for (int round = 0; round < 500; ++round) {
      std::string m = seed;
      for (int k = 0; k < 3; ++k) {
        state = state * 1103515245u + 12345u;
        m[(state >> 8) % m.size()] = char(state >> 24);
      }
      TDibGraphic img;
      try {
        img.AssignFromHDIB(m.data(), m.size());
        ASSERT_FALSE(img.IsEmpty());
      } catch (const Exception&) {
      }
    }
  }
}
