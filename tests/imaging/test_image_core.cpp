#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "ImagingTestUtil.h"
#include "core/PrivateTemp.h"
#include "core/Streams.h"
#include "imaging/EnDiGrph.h"

TEST(ImageFormat, BitsNamesAndRowBytes) {
  const int bits[] = {1, 4, 8, 4, 8, 24};
  const char* names[] = {"Black and white", "16 shades of gray", "256 shades of gray",
                         "16 color",        "256 color",         "True color"};
  for (int f = 0; f <= 5; ++f) {
    EXPECT_EQ(ImageFormatBits(f), bits[f]);
    EXPECT_EQ(ImageFormatName(f), names[f]);
  }
  EXPECT_EQ(ImageFormatBits(0x80 | ifTrueColor), 24);  // only the low 7 bits count
  EXPECT_IMAGING_ERROR(ImageFormatBits(6), "Internal error: Invalid image format");
  EXPECT_EQ(ImageFormatName(6), "");
  EXPECT_EQ(BytesPerRow(1, 1), 4);
  EXPECT_EQ(BytesPerRow(33, 1), 8);
  EXPECT_EQ(BytesPerRow(3, 24), 12);
  EXPECT_EQ(BytesPerRow(9, 4), 8);
  EXPECT_EQ(BytesPerRow(0x7FFFFFFF, 32), int64_t(0x7FFFFFFF) * 4);  // past what an int holds
  EXPECT_EQ(MakeRgbTriple(0x12, 0x34, 0x56), 0x123456u);
}

TEST(ImageFormat, DefaultPalettes) {
  EXPECT_EQ(DefaultPalette(ifBlackWhite)->palPalEntry[1].peGreen, 255);
  const TLogPalette* g16 = DefaultPalette(ifGray16);
  EXPECT_EQ(g16->palNumEntries, 16);
  EXPECT_EQ(g16->palPalEntry[7].peRed, 7 * 17);
  EXPECT_EQ(DefaultPalette(ifGray256)->palPalEntry[200].peBlue, 200);
  const TLogPalette* c16 = DefaultPalette(ifColor16);
  EXPECT_EQ(c16->palNumEntries, 16);
  // 6 is the brown entry AA5500.
  EXPECT_EQ(c16->palPalEntry[6].peRed, 0xAA);
  EXPECT_EQ(c16->palPalEntry[6].peGreen, 0x55);
  EXPECT_EQ(c16->palPalEntry[6].peBlue, 0x00);
  const TLogPalette* c256 = DefaultPalette(ifColor256);
  EXPECT_EQ(c256->palNumEntries, 256);
  EXPECT_EQ(c256->palVersion, 0x300);
  auto rgb = [&](int i) {
    const TPaletteEntry& e = c256->palPalEntry[i];
    return MakeRgbTriple(e.peRed, e.peGreen, e.peBlue);
  };
  EXPECT_EQ(rgb(30), 0xE3B3B3u);
  uint32_t sum = 0;
  for (int i = 0; i < 256; ++i) sum += rgb(i) * uint32_t(i + 1);
  EXPECT_EQ(sum, 1051480178u);  // checksum of the published table
  EXPECT_EQ(DefaultPalette(ifTrueColor), nullptr);
}

TEST(Image, NewImageLayout) {
  TDibGraphic img;
  EXPECT_TRUE(img.IsEmpty());
  img.NewImage(1, 3, ifBlackWhite, nullptr, 300, 150);
  EXPECT_FALSE(img.IsEmpty());
  EXPECT_EQ(img.RowBytes(), 4);
  const TBitmapInfoHeader& h = img.BitmapInfo().bmiHeader;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biBitCount, 1);
  EXPECT_EQ(h.biSizeImage, 12u);
  EXPECT_EQ(h.biClrUsed, 2u);
  EXPECT_EQ(h.biXPelsPerMeter, 11811);
  EXPECT_EQ(img.XDotsPerInch(), 300);
  EXPECT_EQ(img.YDotsPerInch(), 150);
  EXPECT_EQ(img.BitmapInfo().bmiColors[1].rgbRed, 255);
  // Rows are stored bottom-up.
  EXPECT_EQ(img.ScanLine(0), img.Bits() + 2 * 4);
  EXPECT_EQ(img.ScanLine(2), img.Bits());

  img.NewImage(3, 2, ifTrueColor, nullptr, 0, 0);
  EXPECT_EQ(img.RowBytes(), 12);
  EXPECT_EQ(img.BitmapInfo().bmiHeader.biClrUsed, 0u);
  EXPECT_EQ(img.XDotsPerInch(), ScreenDpi());
  EXPECT_EQ(img.GetPixelRGB(2, 1), 0u);
  EXPECT_EQ(img.LogPalette().palNumEntries, 0);

  EXPECT_IMAGING_ERROR(img.SetWidth(5), "Dimensions must be change with the NewImage method");
  EXPECT_IMAGING_ERROR(img.SetHeight(5), "Dimensions must be change with the NewImage method");
  EXPECT_IMAGING_ERROR(img.NewImage(2, 2, 6, nullptr, 0, 0), "Internal error: Invalid image format");
  EXPECT_IMAGING_ERROR(img.NewImage(0, 2, ifGray256, nullptr, 0, 0), "CreateDibSection failed");
  EXPECT_IMAGING_ERROR(img.NewImage(65535, 65535, ifTrueColor, nullptr, 0, 0),
                       "CreateDibSection failed");
  EXPECT_TRUE(img.IsEmpty());
}

// Pixels a decoder leaves unwritten must read as black, also where the memory
// held another picture a moment ago: small buffers and page-sized ones, which
// come from the system differently.
TEST(Image, NewImageIsBlackOnReusedMemory) {
  auto black = [](const TDibGraphic& img) {
    return std::all_of(img.Bits(), img.Bits() + img.ImageSize(), [](uint8_t b) { return b == 0; });
  };
  for (int height : {3, 1200}) {  // 1200 rows of 3000 bytes: a page-sized buffer
    for (int round = 0; round < 3; ++round) {
      TDibGraphic img;
      img.NewImage(1000, height, ifTrueColor, nullptr, 0, 0);
      EXPECT_TRUE(black(img)) << height;
      std::memset(img.Bits(), 0xA5, img.ImageSize());
      img.NewImage(1000, height, ifTrueColor, nullptr, 0, 0);
      EXPECT_TRUE(black(img)) << height;
      std::memset(img.Bits(), 0x5A, img.ImageSize());
    }
  }
}

TEST(Image, PixelAccessPerFormat) {
  TDibGraphic bw;
  bw.NewImage(10, 2, ifBlackWhite, nullptr, 0, 0);
  bw.SetPixelIndex(0, 0, 1);
  bw.SetPixelIndex(9, 0, 7);  // any value above 0 sets the bit
  EXPECT_EQ(bw.ScanLine(0)[0], 0x80);
  EXPECT_EQ(bw.ScanLine(0)[1], 0x40);
  bw.SetPixelIndex(0, 0, 0);
  EXPECT_EQ(bw.ScanLine(0)[0], 0x00);
  EXPECT_EQ(bw.GetPixelRGB(9, 0), 0xFFFFFFu);
  bw.SetPixelRGB(3, 1, MakeRgbTriple(200, 200, 200));
  EXPECT_EQ(bw.GetPixelIndex(3, 1), 1);

  TDibGraphic g16;
  g16.NewImage(3, 1, ifGray16, nullptr, 0, 0);
  g16.SetPixelIndex(0, 0, 0xA);
  g16.SetPixelIndex(1, 0, 0x5);
  g16.SetPixelIndex(2, 0, 0x1F);  // only the nibble is kept
  EXPECT_EQ(g16.ScanLine(0)[0], 0xA5);
  EXPECT_EQ(g16.ScanLine(0)[1], 0xF0);
  EXPECT_EQ(g16.GetPixelRGB(0, 0), MakeRgbTriple(170, 170, 170));

  TDibGraphic c256;
  c256.NewImage(2, 2, ifColor256, nullptr, 0, 0);
  c256.SetPixelRGB(1, 1, MakeRgbTriple(0xFF, 0x7D, 0x00));
  EXPECT_EQ(c256.GetPixelIndex(1, 1), 42);
  c256.SetPixelRGB(0, 0, MakeRgbTriple(0xFE, 0x02, 0x01));
  EXPECT_EQ(c256.GetPixelIndex(0, 0), 40);  // FF0000
  EXPECT_EQ(c256.GetPixelRGB(0, 0), c256.PaletteColor(c256.GetPixelIndex(0, 0)));

  TDibGraphic rgb;
  rgb.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  rgb.SetPixelRGB(1, 0, 0x102030);
  const uint8_t* p = rgb.ScanLine(0) + 3;
  EXPECT_EQ(p[0], 0x30);
  EXPECT_EQ(p[1], 0x20);
  EXPECT_EQ(p[2], 0x10);
  EXPECT_EQ(rgb.GetPixelRGB(1, 0), 0x102030u);
  EXPECT_IMAGING_ERROR(rgb.GetPixelIndex(0, 0), "The image does not have a palette");
  EXPECT_IMAGING_ERROR(rgb.SetPixelIndex(0, 0, 1), "The image does not have a palette");
  EXPECT_THROW(rgb.GetPixelRGB(2, 0), EImagingError);
  EXPECT_THROW(rgb.SetPixelRGB(0, -1, 0), EImagingError);
  EXPECT_THROW(c256.SetPixelIndex(0, 2, 0), EImagingError);
}

TEST(Image, PaletteConverterCachesAndTakesFirstMinimum) {
  TLogPalette pal{};
  pal.palVersion = 0x300;
  pal.palNumEntries = 3;
  pal.palPalEntry[0] = {10, 10, 10, 0};
  pal.palPalEntry[1] = {20, 20, 20, 0};
  pal.palPalEntry[2] = {20, 20, 20, 0};
  TRgbToPaletteConverter conv(&pal);
  EXPECT_EQ(conv.NearestIndex(MakeRgbTriple(15, 15, 15)), 0);  // a tie goes to the first
  EXPECT_EQ(conv.NearestIndex(MakeRgbTriple(30, 30, 30)), 1);
  EXPECT_EQ(conv.NearestIndex(MakeRgbTriple(30, 30, 30)), 1);
  EXPECT_EQ(conv.Hits(), 1);
  EXPECT_EQ(conv.Misses(), 2);
  // Colours sharing a slot replace each other.
  EXPECT_EQ(conv.NearestIndex(MakeRgbTriple(30, 30, 30) + 1020), 1);
  EXPECT_EQ(conv.Misses(), 3);
  // The alpha byte of a colour is not part of its key.
  EXPECT_EQ(conv.NearestIndex(0xFF0A0A0Au), 0);
  TLogPalette empty{};
  TRgbToPaletteConverter none(&empty);
  EXPECT_EQ(none.NearestIndex(0x123456), 0);
}

TEST(Image, AssignCopiesEverything) {
  TDibGraphic src;
  TLogPalette pal = *DefaultPalette(ifGray16);
  pal.palPalEntry[3] = {1, 2, 3, 0};
  src.NewImage(5, 3, ifGray16, &pal, 200, 100);
  src.SetFrameDelay(50);
  src.SetPixelIndex(4, 2, 3);
  TDibGraphic copy;
  copy.Assign(&src);
  EXPECT_EQ(copy.ImageFormat(), ifGray16);
  EXPECT_EQ(copy.Width(), 5);
  EXPECT_EQ(copy.XDotsPerInch(), 200);
  EXPECT_EQ(copy.YDotsPerInch(), 100);
  EXPECT_EQ(copy.FrameDelay(), 50);
  EXPECT_EQ(copy.GetPixelRGB(4, 2), MakeRgbTriple(1, 2, 3));
  EXPECT_EQ(0, std::memcmp(copy.Bits(), src.Bits(), src.ImageSize()));
  TDibGraphic empty;
  copy.Assign(&empty);
  EXPECT_TRUE(copy.IsEmpty());
  src.Assign(nullptr);
  EXPECT_TRUE(src.IsEmpty());
}

TEST(Image, StretchDrawNearestAndSmooth) {
  TDibGraphic src;
  src.NewImage(4, 2, ifTrueColor, nullptr, 0, 0);
  FillRGB(src, {0x000000, 0x000010, 0x000020, 0x000030, 0x000040, 0x000050, 0x000060, 0x000070});
  TDibGraphic dest;
  dest.NewImage(2, 1, ifTrueColor, nullptr, 0, 0);
  dest.StretchDrawFrom(src, 2, 1, false);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{0x000050, 0x000070}));
  dest.StretchDrawFrom(src, 2, 1, true);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{0x000028, 0x000048}));
  TDibGraphic bw;
  bw.NewImage(2, 1, ifBlackWhite, nullptr, 0, 0);
  bw.StretchDrawFrom(src, 2, 1, true);
  EXPECT_EQ(PixelsIndex(bw), (std::vector<int>{0, 0}));
}

// --- registry, frames, helpers --------------------------------------------------

namespace {
// A format whose stream holds `pages` one-byte pages; page i is an i x i image.
class TPageGraphic : public TDibGraphic {
 public:
  std::string ClassName() const override { return "TPcxGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TPageGraphic>(); }
  int ImageCountInStream(TStream& s) override {
    return int(s.Size() - s.Position());
  }
  void LoadImageFromStream(TStream& s, int index) override {
    s.Seek(index - 1, soCurrent);
    uint8_t v = 0;
    s.ReadBuffer(&v, 1);
    NewImage(index, index, ifGray256, nullptr, 0, 0);
    SetPixelIndex(0, 0, v);
  }
};

TMemoryStream Pages(std::initializer_list<uint8_t> bytes) {
  TMemoryStream s;
  for (uint8_t b : bytes) s.WriteBuffer(&b, 1);
  s.SetPosition(0);
  return s;
}
}  // namespace

TEST(Registry, FindsByExtensionOrName) {
  RegisterGraphicFormat("tif", "Tagged image", [] { return std::make_unique<TPageGraphic>(); });
  const TGraphicFormat* a = FindGraphicClass("scan.TIF");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, FindGraphicClass("tif"));
  EXPECT_EQ(a, FindGraphicClass("TIF"));
  EXPECT_EQ(a, FindGraphicClass("/tmp/dir.x/page.tif"));
  EXPECT_EQ(FindGraphicClass("dir.tif/page"), nullptr);
  EXPECT_EQ(CreateGraphicForFile("a.tif")->ClassName(), "TPcxGraphic");
  EXPECT_IMAGING_ERROR(CreateGraphicForFile("c:/pics/photo.xyz"),
                       "Graphic files of .xyz format are not supported or not registered");
}

TEST(Frames, LoadAllFramesAndCurrentFrame) {
  TPageGraphic img;
  EXPECT_IMAGING_ERROR(img.AppendImageToStream(*std::make_unique<TMemoryStream>()),
                       "The TPcxGraphic format does not support multiple images");
  img.SetLoadAllFrames(true);
  int changes = 0;
  img.OnChange = [&](TDibGraphic*) { ++changes; };
  TMemoryStream three = Pages({11, 22, 33});
  img.LoadFromStream(three);
  EXPECT_EQ(img.FrameCount(), 3);
  EXPECT_EQ(img.CurrentFrame(), 1);
  EXPECT_EQ(img.Width(), 1);
  EXPECT_EQ(img.GetPixelIndex(0, 0), 11);
  img.SetCurrentFrame(3);
  EXPECT_EQ(img.Width(), 3);
  EXPECT_EQ(img.GetPixelIndex(0, 0), 33);
  EXPECT_EQ(changes, 2);
  img.NextFrame();  // after the last comes the first
  EXPECT_EQ(img.CurrentFrame(), 1);
  EXPECT_IMAGING_ERROR(img.SetCurrentFrame(0), "Frame 0 does not exist");
  EXPECT_IMAGING_ERROR(img.Frames(4), "Frame 4 does not exist");

  // A second load replaces the frames and shows its own first page.
  TMemoryStream two = Pages({44, 55});
  img.LoadFromStream(two);
  EXPECT_EQ(img.FrameCount(), 2);
  EXPECT_EQ(img.GetPixelIndex(0, 0), 44);

  // A single-page stream switches LoadAllFrames off.
  TMemoryStream one = Pages({66});
  img.LoadFromStream(one);
  EXPECT_FALSE(img.LoadAllFrames());
  EXPECT_EQ(img.GetPixelIndex(0, 0), 66);
  EXPECT_EQ(img.FrameCount(), 0);  // the two pages before it are gone
  EXPECT_EQ(img.CurrentFrame(), -1);
  img.NextFrame();
  EXPECT_EQ(img.GetPixelIndex(0, 0), 66);

  TPageGraphic second;
  second.SetImageIndex(2);
  TMemoryStream again = Pages({1, 2, 3});
  second.LoadFromStream(again);
  EXPECT_EQ(second.Width(), 2);
  EXPECT_EQ(second.FrameCount(), 0);
}

TEST(Frames, AnimateDrivesTheTimer) {
  struct FakeTimer : TFrameTimer {
    int* interval;
    explicit FakeTimer(int* i) : interval(i) {}
    void Start(int ms) override { *interval = ms; }
    void Stop() override { *interval = 0; }
  };
  int interval = -1;
  TPageGraphic img;
  img.SetFrameTimer(std::make_unique<FakeTimer>(&interval));
  img.SetAnimate(true);
  EXPECT_EQ(interval, 0);  // no frames: nothing to animate
  img.SetLoadAllFrames(true);
  TMemoryStream s = Pages({1, 2});
  img.LoadFromStream(s);
  EXPECT_EQ(interval, 200);
}

TEST(Misc, ProgressRoundingAndNames) {
  std::vector<int> seen;
  TProgressEvent h = [&](void*, uint8_t p) { seen.push_back(p); };
  int last = 255;
  for (int i = 0; i < 7; ++i) last = DoProgress(nullptr, i, 0, h, 6, last);
  EXPECT_EQ(seen, (std::vector<int>{0, 16, 33, 50, 66, 83, 100}));
  EXPECT_EQ(DoProgress(nullptr, 5, 0, nullptr, 10, 3), 0);
  seen.clear();
  EXPECT_EQ(DoProgress(nullptr, 0, 0, h, 0, 255), 100);  // empty range is complete
  EXPECT_EQ(DoProgress(nullptr, 20, 0, h, 10, 100), 100);
  EXPECT_EQ(seen, (std::vector<int>{100}));

  EXPECT_DOUBLE_EQ(RoundTo(90.0004, 3), 90.0);
  EXPECT_EQ(Ceil(-1.2), -1);
  EXPECT_EQ(Floor(-1.2), -2);
  EXPECT_EQ(Floor(3.0), 3);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_IMAGING_ERROR(RaiseLzwNotSupported(), "LZW compression not supported");
  const TDateTime when = EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 4, 0);
  const AnsiString before = DefaultFormatSettings().ShortDateFormat;
  EXPECT_EQ(DateToStrFmt("yyyy:mm:dd", when) + " " + TimeToStrFmt("hh:nn:ss", when),
            "2024:03:07 09:05:04");
  EXPECT_EQ(DefaultFormatSettings().ShortDateFormat, before);

  // Temporary names are the first free ones in the user's private folder, not created.
  const std::string first = CreateTempFile("scan", "bmp");
  EXPECT_EQ(first, PrivateTempFolder() + "scan0.bmp");
  EXPECT_FALSE(std::filesystem::exists(first));
  WritePrivateFile(first, "x");
  EXPECT_EQ(CreateTempFile("scan", ".bmp"), PrivateTempFolder() + "scan1.bmp");
  std::filesystem::remove(first);
}
