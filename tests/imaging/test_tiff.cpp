// TIFF pages: every compression for every image format, multi-page files,
// the tags we write, files libtiff's own tools write and read.
#include <tiffio.h>

#include <algorithm>
#include <array>

#include "CodecTestUtil.h"
#include "imaging/EnTifGr.h"

namespace {

bool IsTiffOrImaging(const Exception& e) {
  return dynamic_cast<const ETiffError*>(&e) || dynamic_cast<const EImagingError*>(&e);
}

std::unique_ptr<TTiffGraphic> Reload(const std::string& data, int index = 1) {
  auto g = std::make_unique<TTiffGraphic>();
  TMemoryStream s(data);
  g->SetImageIndex(index);
  g->LoadFromStream(s);
  return g;
}

bool Allowed(int format, int c) {
  if (format == ifBlackWhite) return c != tcJPEG;
  if (c == tcJPEG) return format == ifGray256 || format == ifTrueColor;
  return c == tcNone || c == tcPackbits || c == tcZLib;
}

// Tag values as libtiff reads them from a file of ours.
struct Tags {
  uint16_t compression = 0, photometric = 0, bps = 0, spp = 0, unit = 0;
  uint32_t rps = 0;
  float xres = 0;
  std::string software, date;
};
Tags ReadTags(const std::string& data) {
  TMemoryStream s(data);
  TIFF* t = TiffOpenStream(s, 0);
  Tags tags;
  if (!t) return tags;
  char* text = nullptr;
  TIFFGetField(t, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &tags.photometric);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &tags.bps);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &tags.spp);
  TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &tags.unit);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &tags.xres);
  TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &tags.rps);
  if (TIFFGetField(t, TIFFTAG_SOFTWARE, &text)) tags.software = text;
  if (TIFFGetField(t, TIFFTAG_DATETIME, &text)) tags.date = text;
  TIFFClose(t);
  return tags;
}

// A file being written through libtiff with the fields every test file shares.
TIFF* OpenTiffToWrite(TMemoryStream& s, uint32_t w, uint32_t h, uint16_t bps, uint16_t spp, uint16_t photometric,
                      uint16_t compression) {
  TIFF* t = TiffOpenStream(s, 1);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  return t;
}

// A one-strip file written straight through libtiff, as other programs write them.
std::string ForeignTiff(uint32_t w, uint32_t h, uint16_t bps, uint16_t spp, uint16_t photometric,
                        uint16_t compression, const std::vector<uint8_t>& pixels,
                        const std::vector<uint16_t>& colormap = {}) {
  TMemoryStream s;
  TIFF* t = OpenTiffToWrite(s, w, h, bps, spp, photometric, compression);
  if (spp == 2) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (!colormap.empty()) {
    const size_t n = colormap.size() / 3;
    TIFFSetField(t, TIFFTAG_COLORMAP, colormap.data(), colormap.data() + n, colormap.data() + 2 * n);
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
  TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(pixels.data()), tmsize_t(pixels.size()));
  TIFFClose(t);
  return s.Data();
}

}  // namespace

TEST(Tiff, LayoutsOtherProgramsWrite) {
  // Group 4 marked min-is-black still reads set bits as black.
  auto g4 = Reload(ForeignTiff(8, 2, 1, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_CCITTFAX4, {0xF0, 0x00}));
  EXPECT_EQ(g4->GetPixelRGB(0, 0), 0u);
  EXPECT_EQ(g4->GetPixelRGB(7, 0), 0xFFFFFFu);
  EXPECT_EQ(g4->GetPixelRGB(0, 1), 0xFFFFFFu);

  // A 1-bit palette is widened to 16 colours, keeping its two colours.
  std::vector<uint16_t> map = {65535, 0, 0, 0, 0, 65535};  // red, blue
  auto pal = Reload(ForeignTiff(10, 1, 1, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, {0x40, 0x80}, map));
  EXPECT_EQ(pal->ImageFormat(), ifColor16);
  EXPECT_EQ(PixelsIndex(*pal), (std::vector<int>{0, 1, 0, 0, 0, 0, 0, 0, 1, 0}));
  EXPECT_EQ(pal->GetPixelRGB(1, 0), 0x0000FFu);
  EXPECT_EQ(pal->GetPixelRGB(0, 0), 0xFF0000u);

  // Sixteen bits per sample go through libtiff's RGBA reader.
  std::vector<uint8_t> rgb16 = {0xFF, 0xFF, 0x80, 0x80, 0x10, 0x10};
  auto deep = Reload(ForeignTiff(1, 1, 16, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, rgb16));
  EXPECT_EQ(deep->ImageFormat(), ifTrueColor);
  EXPECT_EQ(deep->GetPixelRGB(0, 0), 0xFF8010u);

  // Grey with an extra sample has no image format of its own.
  EXPECT_IMAGING_ERROR(Reload(ForeignTiff(3, 1, 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE,
                                          {1, 2, 3, 4, 5, 6})),
                       "ETiffError Unsupported bit count: 16");
}

TEST(Tiff, EveryCompressionForEveryFormat) {
  TTiffGraphic::SetClock([] { return EncodeDate(2026, 3, 4) + EncodeTime(17, 5, 9, 0); });
  for (int format = ifBlackWhite; format <= ifTrueColor; ++format) {
    for (int c = tcNone; c <= tcJPEG; ++c) {
      SCOPED_TRACE(std::to_string(format) + " " + CompressionName(c));
      TTiffGraphic img;
      FillPattern(img, format);
      if (!Allowed(format, c)) {
        const int before = img.Compression();
        EXPECT_IMAGING_ERROR(img.SetCompression(c),
                             CompressionName(c) + " compression not supported with " +
                                 ImageFormatName(format) + " images");
        EXPECT_EQ(img.Compression(), before);
        continue;
      }
      img.SetCompression(c);
      const std::string file = Saved(img);
      auto back = Reload(file);
      EXPECT_EQ(back->ImageFormat(), format);
      EXPECT_EQ(back->Compression(), c);
      if (c == tcJPEG) {
        // Lossy: close, not equal.
        const auto a = PixelsRGB(img), b = PixelsRGB(*back);
        for (size_t i = 0; i < a.size(); ++i)
          for (int k = 0; k < 24; k += 8)
            ASSERT_LE(std::abs(int((a[i] >> k) & 0xFF) - int((b[i] >> k) & 0xFF)), 64) << i;
      } else {
        ExpectSamePicture(img, *back);
      }
      const Tags t = ReadTags(file);
      EXPECT_EQ(t.software, "Calvessa Image Library");
      EXPECT_EQ(t.date, "2026:03:04 17:05:09");
      EXPECT_EQ(t.unit, RESUNIT_INCH);
      EXPECT_FLOAT_EQ(t.xres, 300);
      const bool ccitt = c >= tcGroup3_1D && c <= tcGroup4;
      const uint16_t photometric[] = {uint16_t(ccitt ? 0 : 1), 1, 1, 3, 3, 2};
      EXPECT_EQ(t.photometric, photometric[format]);
      EXPECT_EQ(t.spp, format == ifTrueColor ? 3 : 1);
      if (c == tcZLib) {
        EXPECT_EQ(t.compression, 32946);
      }
    }
  }
  TTiffGraphic::SetClock(nullptr);
}

TEST(Tiff, DateStampKeepsItsLayoutWhateverTheDesktopsSeparators) {
  const TFormatSettings saved = DefaultFormatSettings();
  DefaultFormatSettings().TimeSeparator = '.';
  DefaultFormatSettings().DateSeparator = '/';
  TTiffGraphic::SetClock([] { return EncodeDate(2026, 3, 4) + EncodeTime(7, 5, 9, 0); });
  for (int format : {ifBlackWhite, ifTrueColor}) {
    TTiffGraphic img;
    FillPattern(img, format);
    EXPECT_EQ(ReadTags(Saved(img)).date, "2026:03:04 07:05:09") << format;
  }
  TTiffGraphic::SetClock(nullptr);
  DefaultFormatSettings() = saved;
}

TEST(Tiff, WhiteFirstBlackAndWhiteIsNotSavedNegative) {
  TLogPalette whiteBlack = *DefaultPalette(ifBlackWhite);
  std::swap(whiteBlack.palPalEntry[0], whiteBlack.palPalEntry[1]);
  for (int c : {tcNone, tcGroup4}) {
    TTiffGraphic img;
    img.NewImage(16, 3, ifBlackWhite, &whiteBlack, 200, 200);
    img.SetPixelIndex(2, 1, 1);
    img.SetCompression(c);
    auto back = Reload(Saved(img));
    EXPECT_EQ(PixelsRGB(*back), PixelsRGB(img));
  }
}

TEST(Tiff, AppendingMakesPagesAndEachLoads) {
  TMemoryStream s;
  std::vector<std::unique_ptr<TTiffGraphic>> pages;
  for (int format : {ifBlackWhite, ifColor16, ifTrueColor, ifGray256}) {
    auto p = std::make_unique<TTiffGraphic>();
    FillPattern(*p, format, 10 + format, 5 + format);
    p->AppendImageToStream(s);
    pages.push_back(std::move(p));
  }
  TTiffGraphic r;
  s.SetPosition(0);
  EXPECT_EQ(r.ImageCountInStream(s), 4);
  for (int i = 1; i <= 4; ++i) ExpectSamePicture(*pages[size_t(i - 1)], *Reload(s.Data(), i));
  TTiffGraphic all;
  all.SetLoadAllFrames(true);
  s.SetPosition(0);
  all.LoadFromStream(s);
  EXPECT_EQ(all.FrameCount(), 4);
  // A page inside a larger stream loads from its own start.
  TMemoryStream inner("xyz" + s.Data());
  inner.SetPosition(3);
  TTiffGraphic third;
  third.SetImageIndex(3);
  third.LoadFromStream(inner);
  ExpectSamePicture(*pages[2], third);
}

TEST(Tiff, HostileFilesRaiseTheirError) {
  for (int c : {tcGroup4, tcPackbits, tcZLib}) {
    TTiffGraphic img;
    // (Not a palette image: libtiff reads a cut colour map as min-is-black.)
    FillPattern(img, c == tcGroup4 ? ifBlackWhite : ifGray256);
    img.SetCompression(c);
    ExpectHostileInputsRaise<TTiffGraphic>(Saved(img), IsTiffOrImaging, 150);
  }
  TTiffGraphic img;
  FillPattern(img, ifTrueColor);
  img.SetCompression(tcJPEG);
  ExpectHostileInputsRaise<TTiffGraphic>(Saved(img), IsTiffOrImaging, 150);
  TMemoryStream junk(std::string(100, 'j'));
  EXPECT_IMAGING_ERROR(img.LoadFromStream(junk), "ETiffError TIFFOpen");
}

TEST(Tiff, FilesOfLibtiffsToolsAndOurs) {
  ToolDir dir;
  TTiffGraphic bw;
  FillPattern(bw, ifBlackWhite, 64, 40);
  bw.SaveToFile(dir.Path("g4.tif"));
  ASSERT_EQ(dir.Run("tiffinfo g4.tif"), 0);
  EXPECT_NE(dir.Read("out.txt").find("CCITT Group 4"), std::string::npos);
  EXPECT_NE(dir.Read("out.txt").find("Calvessa Image Library"), std::string::npos);

  // tiffcp rewrites our pages; we read what it writes.
  ASSERT_EQ(dir.Run("tiffcp -c none g4.tif none.tif"), 0);
  TTiffGraphic fromNone;
  fromNone.LoadFromFile(dir.Path("none.tif"));
  EXPECT_EQ(PixelsRGB(fromNone), PixelsRGB(bw));

  TTiffGraphic colour;
  FillPattern(colour, ifTrueColor, 30, 20);
  colour.SetCompression(tcNone);
  colour.SaveToFile(dir.Path("rgb.tif"));
  ASSERT_EQ(dir.Run("tiffcp -c lzw rgb.tif lzw.tif && tiffcp -c zip rgb.tif zip.tif && tiffcp -c "
                    "jpeg -r 16 rgb.tif jpeg.tif && tiffcp -c none rgb.tif rgb2.tif && tiffcp "
                    "rgb.tif g4.tif both.tif"),
            0);
  TTiffGraphic zip;
  zip.LoadFromFile(dir.Path("zip.tif"));  // tag 8
  ExpectSamePicture(colour, zip);
  TTiffGraphic jpeg;
  jpeg.LoadFromFile(dir.Path("jpeg.tif"));  // subsampled YCbCr
  EXPECT_EQ(jpeg.ImageFormat(), ifTrueColor);
  EXPECT_EQ(jpeg.Width(), 30);
  EXPECT_LE(std::abs(int(RgbGreen(jpeg.GetPixelRGB(10, 10))) - int(RgbGreen(colour.GetPixelRGB(10, 10)))), 24);
  TTiffGraphic both;
  both.SetImageIndex(2);
  both.LoadFromFile(dir.Path("both.tif"));
  EXPECT_EQ(PixelsRGB(both), PixelsRGB(bw));
  TTiffGraphic lzw;
  EXPECT_IMAGING_ERROR(lzw.LoadFromFile(dir.Path("lzw.tif")), "LZW compression not supported");
}

namespace {
// A little-endian file of one strip and one directory built byte by byte, for
// tag values libtiff's writer refuses. Entries are (tag, type, value), count 1.
std::string RawTiff(std::vector<std::array<uint32_t, 3>> entries, const std::string& strip) {
  std::string f = "II*";
  f += '\0';
  auto u16 = [&](uint32_t v) { f += char(v & 0xFF), f += char(v >> 8 & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t ifd = uint32_t(8 + strip.size() + strip.size() % 2);
  u32(ifd);
  f += strip;
  if (strip.size() % 2) f += '\0';
  entries.push_back({TIFFTAG_STRIPOFFSETS, TIFF_LONG, 8});
  entries.push_back({TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, uint32_t(strip.size())});
  std::sort(entries.begin(), entries.end());
  u16(uint32_t(entries.size()));
  for (const auto& [tag, type, value] : entries) {
    u16(tag), u16(type), u32(1);
    if (type == TIFF_SHORT) u16(value), u16(0);
    else u32(value);
  }
  u32(0);
  return f;
}
}  // namespace

TEST(Tiff, HugeSampleTagsRaiseInsteadOfOverflowing) {
  const std::string file = RawTiff({{TIFFTAG_IMAGEWIDTH, TIFF_SHORT, 1},
                                    {TIFFTAG_IMAGELENGTH, TIFF_SHORT, 1},
                                    {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 65535},
                                    {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 65535},
                                    {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, PHOTOMETRIC_RGB},
                                    {TIFFTAG_COMPRESSION, TIFF_SHORT, COMPRESSION_NONE},
                                    {TIFFTAG_ROWSPERSTRIP, TIFF_SHORT, 1}},
                                   std::string(64, '\x55'));
  EXPECT_THROW(Reload(file), ETiffError);
}

namespace {

using SampleFn = std::function<uint8_t(uint32_t x, uint32_t y, int sample)>;

// A tiled file: tiles of 16 x 16 over a picture that does not fill the last
// ones. Sixteen-bit samples repeat the byte the function gives.
std::string TiledTiff(uint32_t w, uint32_t h, uint16_t bps, uint16_t spp, uint16_t photometric,
                      const SampleFn& sample, const std::vector<uint16_t>& colormap = {}) {
  TMemoryStream s;
  TIFF* t = OpenTiffToWrite(s, w, h, bps, spp, photometric, COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
  if (!colormap.empty()) {
    const size_t n = colormap.size() / 3;
    TIFFSetField(t, TIFFTAG_COLORMAP, colormap.data(), colormap.data() + n, colormap.data() + 2 * n);
  }
  const uint32_t rowBytes = (16 * bps * spp + 7) / 8;
  std::vector<uint8_t> tile(size_t(TIFFTileSize(t)));
  for (uint32_t ty = 0; ty < h; ty += 16)
    for (uint32_t tx = 0; tx < w; tx += 16) {
      std::fill(tile.begin(), tile.end(), 0);
      for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x)
          for (int c = 0; c < spp; ++c) {
            const uint32_t bit = (x * spp + uint32_t(c)) * bps;
            const uint8_t v = sample(tx + x, ty + y, c);
            uint8_t* p = tile.data() + y * rowBytes + bit / 8;
            if (bps >= 8) std::fill(p, p + bps / 8, v);
            else *p |= uint8_t((v & ((1 << bps) - 1)) << (8 - bps - bit % 8));
          }
      TIFFWriteTile(t, tile.data(), tx, ty, 0, 0);
    }
  TIFFClose(t);
  return s.Data();
}

}  // namespace

TEST(Tiff, UncompressedTiledFilesLoadTileByTile) {
  const SampleFn grey = [](uint32_t x, uint32_t y, int c) { return uint8_t(x * 5 + y * 3 + c * 40); };
  auto g = Reload(TiledTiff(40, 20, 8, 1, PHOTOMETRIC_MINISBLACK, grey));
  EXPECT_EQ(g->ImageFormat(), ifGray256);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(g->GetPixelIndex(x, y), grey(uint32_t(x), uint32_t(y), 0)) << x << "," << y;

  auto rgb = Reload(TiledTiff(40, 20, 8, 3, PHOTOMETRIC_RGB, grey));
  EXPECT_EQ(rgb->ImageFormat(), ifTrueColor);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(rgb->GetPixelRGB(x, y), MakeRgbTriple(grey(uint32_t(x), uint32_t(y), 0), grey(uint32_t(x), uint32_t(y), 1),
                                                      grey(uint32_t(x), uint32_t(y), 2)))
          << x << "," << y;

  // Min-is-white bits: a set bit is black.
  const SampleFn diagonal = [](uint32_t x, uint32_t y, int) { return uint8_t(x == y); };
  auto bw = Reload(TiledTiff(35, 18, 1, 1, PHOTOMETRIC_MINISWHITE, diagonal));
  EXPECT_EQ(bw->ImageFormat(), ifBlackWhite);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 35; ++x) ASSERT_EQ(bw->GetPixelRGB(x, y), x == y ? 0u : 0xFFFFFFu) << x << "," << y;

  std::vector<uint16_t> map(48);
  for (int i = 0; i < 16; ++i) map[size_t(i)] = map[size_t(16 + i)] = uint16_t(i * 4369), map[size_t(32 + i)] = 0;
  const SampleFn nibble = [](uint32_t x, uint32_t y, int) { return uint8_t((x + 2 * y) % 16); };
  auto pal = Reload(TiledTiff(33, 17, 4, 1, PHOTOMETRIC_PALETTE, nibble, map));
  EXPECT_EQ(pal->ImageFormat(), ifColor16);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 33; ++x) ASSERT_EQ(pal->GetPixelIndex(x, y), int((x + 2 * y) % 16)) << x << "," << y;

  // Sixteen bits per sample still go through the RGBA reader.
  auto deep = Reload(TiledTiff(40, 20, 16, 3, PHOTOMETRIC_RGB, grey));
  EXPECT_EQ(deep->ImageFormat(), ifTrueColor);
  EXPECT_EQ(deep->GetPixelRGB(37, 19), MakeRgbTriple(grey(37, 19, 0), grey(37, 19, 1), grey(37, 19, 2)));

  ExpectHostileInputsRaise<TTiffGraphic>(TiledTiff(40, 20, 8, 3, PHOTOMETRIC_RGB, grey), IsTiffOrImaging, 150);
}

TEST(Tiff, Group3WithoutEolCodesLoads) {
  // The fax mode makes libtiff's encoder leave out the EOL codes (and the
  // closing EOL run), as some fax programs do.
  const uint32_t w = 61, h = 9;
  auto bit = [](uint32_t x, uint32_t y) { return (x * 7 + y * 3) % 5 == 0 || x / 9 == y; };
  for (int mode : {FAXMODE_NOEOL, FAXMODE_NOEOL | FAXMODE_NORTC}) {
    SCOPED_TRACE(mode);
    TMemoryStream s;
    TIFF* t = TiffOpenStream(s, 1);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_FAXMODE, mode);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t row[8] = {};
      for (uint32_t x = 0; x < w; ++x)
        if (bit(x, y)) row[x / 8] |= uint8_t(0x80 >> x % 8);
      TIFFWriteScanline(t, row, y, 0);
    }
    TIFFClose(t);
    auto g = Reload(s.Data());
    EXPECT_EQ(g->Compression(), tcGroup3_1D);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(g->GetPixelRGB(int(x), int(y)), bit(x, y) ? 0u : 0xFFFFFFu) << x << "," << y;
  }
}
