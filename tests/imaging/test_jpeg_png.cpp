// JPEG and PNG pages, and files of the systems' own tools.
#include <zlib.h>

#include "CodecTestUtil.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnPngGr.h"

namespace {

bool IsJpeg(const Exception& e) { return dynamic_cast<const EJpegError*>(&e) != nullptr; }
bool IsPng(const Exception& e) { return dynamic_cast<const EPNGError*>(&e) != nullptr; }

template <typename G>
std::unique_ptr<G> Reload(const std::string& data) {
  auto g = std::make_unique<G>();
  TMemoryStream s(data);
  g->LoadFromStream(s);
  return g;
}

void ExpectClose(const TDibGraphic& a, const TDibGraphic& b, int tolerance) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  const auto pa = PixelsRGB(a), pb = PixelsRGB(b);
  int worst = 0;
  for (size_t i = 0; i < pa.size(); ++i)
    for (int k = 0; k < 24; k += 8)
      worst = std::max(worst, std::abs(int((pa[i] >> k) & 0xFF) - int((pb[i] >> k) & 0xFF)));
  EXPECT_LE(worst, tolerance);
}

// A smooth picture, which JPEG keeps close.
void Smooth(TDibGraphic& img, int format) {
  img.NewImage(48, 32, format, nullptr, 300, 300);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x)
      img.SetPixelRGB(x, y, format == ifGray256 ? MakeRgbTriple(uint8_t(x * 5), uint8_t(x * 5), uint8_t(x * 5))
                                                : MakeRgbTriple(uint8_t(x * 5), uint8_t(y * 7), 90));
}

}  // namespace

TEST(Jpeg, GreyAndColourRoundTripWithDensity) {
  for (int format : {ifGray256, ifTrueColor}) {
    TJpegGraphic img;
    Smooth(img, format);
    const std::string file = Saved(img);
    auto back = Reload<TJpegGraphic>(file);
    EXPECT_EQ(back->ImageFormat(), format);
    EXPECT_EQ(back->XDotsPerInch(), 300);
    ExpectClose(img, *back, 10);
    ExpectHostileInputsRaise<TJpegGraphic>(file, IsJpeg, 200);
  }
  // Quality 80: the first luminance quantiser is 6.
  TJpegGraphic q;
  Smooth(q, ifGray256);
  const std::string saved = Saved(q);
  const size_t dqt = saved.find("\xFF\xDB");
  ASSERT_NE(dqt, std::string::npos);
  EXPECT_EQ(uint8_t(saved[dqt + 5]), 6);

  // Dots per centimetre: 118 is 300 dpi.
  TJpegGraphic img;
  Smooth(img, ifGray256);
  std::string file = Saved(img);
  const size_t jfif = file.find("JFIF");
  ASSERT_NE(jfif, std::string::npos);
  file[jfif + 7] = 2;
  file[jfif + 8] = 0;
  file[jfif + 9] = 118;
  EXPECT_EQ(Reload<TJpegGraphic>(file)->XDotsPerInch(), 300);
  TJpegGraphic palette;
  FillPattern(palette, ifColor256);
  TMemoryStream s;
  EXPECT_IMAGING_ERROR(palette.SaveToStream(s), "JPEG image must be gray scale or true color");
}

TEST(Jpeg, FilesOfDjpegAndCjpeg) {
  ToolDir dir;
  TJpegGraphic img;
  Smooth(img, ifTrueColor);
  img.SaveToFile(dir.Path("ours.jpg"));
  ASSERT_EQ(dir.Run("djpeg -pnm ours.jpg > ours.ppm"), 0);
  EXPECT_EQ(dir.Read("ours.ppm").substr(0, 9), "P6\n48 32\n");
  ASSERT_EQ(dir.Run("cjpeg -grayscale -progressive ours.ppm > theirs.jpg"), 0);
  TJpegGraphic theirs;
  theirs.LoadFromFile(dir.Path("theirs.jpg"));
  EXPECT_EQ(theirs.ImageFormat(), ifGray256);
  EXPECT_EQ(theirs.Width(), 48);
}

TEST(Png, EveryFormatRoundTrips) {
  for (int format = ifBlackWhite; format <= ifTrueColor; ++format) {
    for (bool interlaced : {true, false}) {
      SCOPED_TRACE(format);
      TPngGraphic img;
      FillPattern(img, format);
      img.Interlaced = interlaced;
      const std::string file = Saved(img);
      auto back = Reload<TPngGraphic>(file);
      EXPECT_EQ(back->ImageFormat(), format);
      ExpectSamePicture(img, *back);
      EXPECT_NEAR(back->Gamma, 0.45455, 1e-5);
    }
  }
  // zlib level 5 by default, which its header marks as "fast" (1).
  TPngGraphic level;
  FillPattern(level, ifTrueColor);
  const std::string png = Saved(level);
  const size_t idat = png.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  EXPECT_EQ(uint8_t(png[idat + 5]) >> 6, 1);

  TPngGraphic grey;
  FillPattern(grey, ifGray16);
  grey.Transparent = true;
  TMemoryStream s;
  EXPECT_IMAGING_ERROR(grey.SaveToStream(s),
                       "Gray scale transparent PNG images are not supported.\rUse the ifColor16 or "
                       "ifColor256 image format instead.");
  TPngGraphic img;
  FillPattern(img, ifColor256);
  ExpectHostileInputsRaise<TPngGraphic>(Saved(img), IsPng, 200);
  TMemoryStream junk(std::string(40, 'p'));
  EXPECT_IMAGING_ERROR(img.LoadFromStream(junk), "PNG file is not valid or corrupted");

  // A small file claiming 100000 x 100000 pixels is refused before allocation.
  std::string big = Saved(img);
  auto putBE = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) big[at + size_t(i)] = char(v >> (24 - 8 * i));
  };
  putBE(16, 100000);
  putBE(20, 100000);
  putBE(29, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(big.data() + 12), 17)));
  TMemoryStream huge(big);
  EXPECT_IMAGING_ERROR(img.LoadFromStream(huge), "Image too big");
}

TEST(Png, FilesOfTheSystemsTools) {
  ToolDir dir;
  TPngGraphic img;
  FillPattern(img, ifTrueColor, 20, 10);
  img.Transparent = true;
  img.WriteBackground = true;
  img.SaveToFile(dir.Path("ours.png"));
  ASSERT_EQ(dir.Run("pngcheck -v ours.png"), 0) << dir.Read("out.txt");
  const std::string report = dir.Read("out.txt");
  EXPECT_NE(report.find("gAMA"), std::string::npos);
  EXPECT_NE(report.find("0.4545"), std::string::npos);
  EXPECT_NE(report.find("11811x5906 pixels/meter"), std::string::npos) << report;  // 300 dpi
  EXPECT_NE(report.find("interlaced"), std::string::npos);

  // A 2-bit grey file and a grey+alpha file, written by pnmtopng's library
  // peer: we build them with libpng directly.
  auto write = [&](const std::string& name, int depth, int type, const std::vector<uint8_t>& row) {
    FILE* f = std::fopen(dir.Path(name).c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 4, 1, depth, type, 0, 0, 0);
    png_write_info(png, info);
    png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
  };
  write("grey2.png", 2, PNG_COLOR_TYPE_GRAY, {0x1B});
  write("ga.png", 8, PNG_COLOR_TYPE_GRAY_ALPHA, {200, 255, 200, 0, 100, 128, 0, 0});
  TPngGraphic g2;
  g2.LoadFromFile(dir.Path("grey2.png"));
  EXPECT_EQ(g2.ImageFormat(), ifGray16);
  EXPECT_EQ(PixelsIndex(g2), (std::vector<int>{0, 5, 10, 15}));
  TPngGraphic ga;
  ga.LoadFromFile(dir.Path("ga.png"));
  EXPECT_EQ(ga.ImageFormat(), ifGray256);
  EXPECT_EQ(PixelsIndex(ga), (std::vector<int>{200, 0, 50, 0}));  // onto black
}

TEST(Png, PaletteImagesAreGammaCorrectedLikeGreyAndRgb) {
  // The same pictures stored as palette and as RGB or grey, each with the
  // same gAMA: the palette entries must come out as the samples do, over
  // every grey level.
  auto write = [](int type, double gamma, const std::vector<png_color>& plte, const std::vector<uint8_t>& row) {
    TMemoryStream s;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &s, [](png_structp p, png_bytep d, size_t n) {
      static_cast<TMemoryStream*>(png_get_io_ptr(p))->WriteBuffer(d, int64_t(n));
    }, nullptr);
    const size_t channels = type == PNG_COLOR_TYPE_RGB ? 3 : 1;
    png_set_IHDR(png, info, png_uint_32(row.size() / channels), 1, 8, type, 0, 0, 0);
    if (!plte.empty()) png_set_PLTE(png, info, plte.data(), int(plte.size()));
    if (gamma > 0) png_set_gAMA(png, info, gamma);
    png_write_info(png, info);
    png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return s.Data();
  };
  const std::vector<png_color> colours = {{0, 0, 0}, {64, 128, 192}, {200, 30, 90}, {255, 255, 255}};
  std::vector<uint8_t> rgbRow, greys;
  for (const png_color& c : colours) {
    rgbRow.push_back(c.red);
    rgbRow.push_back(c.green);
    rgbRow.push_back(c.blue);
  }
  std::vector<png_color> greyPlte;
  for (int i = 0; i < 256; ++i) {
    greys.push_back(uint8_t(i));
    greyPlte.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
  }
  // (0.45455 against the screen's 2.2 is too close to 1 for libpng to correct.)
  for (double gamma : {1.0, 0.3, 0.45455}) {
    SCOPED_TRACE(gamma);
    auto rgb = Reload<TPngGraphic>(write(PNG_COLOR_TYPE_RGB, gamma, {}, rgbRow));
    auto pal = Reload<TPngGraphic>(write(PNG_COLOR_TYPE_PALETTE, gamma, colours, {0, 1, 2, 3}));
    EXPECT_EQ(pal->ImageFormat(), ifColor256);
    EXPECT_EQ(PixelsRGB(*pal), PixelsRGB(*rgb));
    EXPECT_DOUBLE_EQ(pal->Gamma, gamma);
    auto grey = Reload<TPngGraphic>(write(PNG_COLOR_TYPE_GRAY, gamma, {}, greys));
    auto greyPal = Reload<TPngGraphic>(write(PNG_COLOR_TYPE_PALETTE, gamma, greyPlte, greys));
    EXPECT_EQ(PixelsRGB(*greyPal), PixelsRGB(*grey));
    if (gamma != 0.45455) {
      EXPECT_NE(PixelsRGB(*grey)[128], 0x808080u);  // corrected at all
    }
  }
  // Without gAMA nothing is corrected.
  auto plain = Reload<TPngGraphic>(write(PNG_COLOR_TYPE_PALETTE, 0, colours, {0, 1, 2, 3}));
  EXPECT_EQ(plain->GetPixelRGB(1, 0), MakeRgbTriple(64, 128, 192));
}
