// The bitmap format module and the PCX, DCX, Targa and icon classes.
#include <cstring>

#include "CodecTestUtil.h"
#include "core/ByteIO.h"
#include "imaging/EnBfm.h"
#include "imaging/EnFormats.h"
#include "imaging/EnIcoGr.h"
#include "imaging/bfm.h"

namespace {

bool IsBfm(const Exception& e) { return dynamic_cast<const EBfmError*>(&e) != nullptr; }
bool IsDcx(const Exception& e) {
  return dynamic_cast<const EDcxError*>(&e) || dynamic_cast<const EBfmError*>(&e);
}

template <typename G>
std::unique_ptr<G> Reload(const std::string& data) {
  auto g = std::make_unique<G>();
  TMemoryStream s(data);
  g->LoadFromStream(s);
  return g;
}

uint8_t Byte(const std::string& s, size_t i) { return uint8_t(s[i]); }
uint16_t U16(const std::string& s, size_t i) { return uint16_t(Byte(s, i) | Byte(s, i + 1) << 8); }

}  // namespace

TEST(Bfm, TableGuessingAndTexts) {
  int n = 0, index = -1;
  ASSERT_EQ(bfm_query_n_filetypes(&n), 0);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(bfm_guess_filetype("File.pcx", &index), 0);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(bfm_guess_filetype("c:\\x.y\\PIC.Tga", &index), 0);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(bfm_guess_filetype("a.rl8", &index), 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(bfm_guess_filetype("dir.pcx/file", &index), BFM_ERR_NOT_FOUND);
  EXPECT_EQ(bfm_guess_filetype(nullptr, &index), BFM_ERR_BAD_ARG);
  BFMFT ft{};
  ASSERT_EQ(bfm_query_filetype(2, &ft), 0);
  EXPECT_STREQ(ft.longName, "Truevision Targa/Vista bitmap");
  EXPECT_EQ(ft.flags, 0xCCu);
  EXPECT_STREQ(bfm_err(5), "bad magic number / signiture block");
  EXPECT_STREQ(bfm_err(703), "corrupt file trailer");
  EXPECT_STREQ(bfm_err(402), "color map entry size not 24 bits per pixel");
  EXPECT_STREQ(bfm_err(12345), "general error");
  EXPECT_TRUE(BfmHasOption("yup,Trunc\t16", "trunc"));
  EXPECT_FALSE(BfmHasOption("truncate", "trunc"));
}

TEST(Bfm, BitmapRoundTripsEveryDepthAndOption) {
  for (int format : {ifBlackWhite, ifColor16, ifColor256, ifTrueColor}) {
    for (const char* options : {"", "1.1"}) {
      SCOPED_TRACE(std::to_string(format) + options);
      TDibGraphic img;
      FillPattern(img, format);
      BFM h{};
      h.w = img.Width();
      h.h = img.Height();
      h.bpp = ImageFormatBits(format);
      BfmRgb pal[256] = {};
      for (int i = 0; i < img.LogPalette().palNumEntries; ++i)
        pal[i] = {img.LogPalette().palPalEntry[i].peRed, img.LogPalette().palPalEntry[i].peGreen,
                  img.LogPalette().palPalEntry[i].peBlue};
      TMemoryStream s;
      ASSERT_EQ(bfm_write("x.bmp", &s, 0, &h, pal, img.Bits(), options), 0);
      BFM r{};
      ASSERT_EQ(bfm_read_header("x.bmp", &s, 0, &r, "inv"), 0);
      EXPECT_EQ(r.w, h.w);
      EXPECT_EQ(r.h, h.h);
      EXPECT_EQ(r.bpp, h.bpp);
      BfmRgb back[256] = {};
      ASSERT_EQ(bfm_read_palette(&s, 0, &r, back), 0);
      EXPECT_EQ(std::memcmp(back, pal, sizeof(BfmRgb) << (h.bpp == 24 ? 0 : h.bpp)), 0);
      std::vector<uint8_t> data(img.ImageSize());
      ASSERT_EQ(bfm_read_data(&s, 0, &r, data.data(), data.size()), 0);
      EXPECT_EQ(std::memcmp(data.data(), img.Bits(), data.size()), 0);
      // Without "inv" the two 1-bit entries are exchanged.
      if (h.bpp == 1) {
        ASSERT_EQ(bfm_read_header("x.bmp", &s, 0, &r, ""), 0);
        ASSERT_EQ(bfm_read_palette(&s, 0, &r, back), 0);
        EXPECT_EQ(back[0].r, 255);
      }
    }
  }
  BFM h{};
  EXPECT_EQ(bfm_write("x.bmp", nullptr, 0, &h, nullptr, nullptr, ""), BFM_ERR_BAD_ARG);
  TMemoryStream junk(std::string(64, 'Q'));
  EXPECT_EQ(bfm_read_header("x.bmp", &junk, 0, &h, ""), BFM_ERR_MAGIC);
  // Width and height whose byte count passes 2^63 (found by the fuzzer).
  const unsigned char huge[] = {'B', 'M', 0x7e, 0, 0, 0, 0, 0, 0x4b, 0, 0, 0, 0, 0, 40, 0, 0, 0,
                                0xff, 0xff, 0x5f, 0x60, 0, 0x3e, 0x28, 0x8b, 1, 0, 24, 0, 0, 0,
                                0, 0, 0xf8, 0, 6, 0x57, 0, 0, 0, 0, 0x45, 0x30, 0, 0x28, 0, 0x68,
                                0x68, 0x68, 0x68, 0, 0x68, 0x68};
  TMemoryStream hostile(std::string(reinterpret_cast<const char*>(huge), sizeof huge));
  EXPECT_EQ(bfm_read_header("x.bmp", &hostile, 0, &h, ""), BFM_ERR_SIZE);
}

TEST(Pcx, EveryFormatRoundTripsWithItsResolution) {
  for (int format = ifBlackWhite; format <= ifTrueColor; ++format) {
    SCOPED_TRACE(format);
    TPcxGraphic img;
    FillPattern(img, format);
    const std::string file = Saved(img);
    EXPECT_EQ(Byte(file, 0), 10);
    EXPECT_EQ(U16(file, 12), 300);
    EXPECT_EQ(U16(file, 14), 150);
    EXPECT_EQ(U16(file, 66) % 2, 0);
    auto back = Reload<TPcxGraphic>(file);
    ExpectSamePicture(img, *back);
    // At a non-zero position it loads the same.
    TMemoryStream s("prefix" + file);
    s.SetPosition(6);
    TPcxGraphic again;
    again.LoadFromStream(s);
    ExpectSamePicture(img, again);
  }
}

TEST(Pcx, WhiteFirstPaletteInvertsAndZeroDpiKeepsTheScreens) {
  TLogPalette whiteBlack = *DefaultPalette(ifBlackWhite);
  std::swap(whiteBlack.palPalEntry[0], whiteBlack.palPalEntry[1]);
  TPcxGraphic img;
  img.NewImage(9, 2, ifBlackWhite, &whiteBlack, 0, 0);
  img.SetPixelIndex(0, 0, 1);  // black on white
  std::string file = Saved(img);
  auto back = Reload<TPcxGraphic>(file);
  EXPECT_EQ(PixelsRGB(*back), PixelsRGB(img));
  EXPECT_EQ(back->GetPixelIndex(0, 0), 0);  // black in the default sense
  file[12] = file[13] = file[14] = file[15] = 0;
  EXPECT_EQ(Reload<TPcxGraphic>(file)->XDotsPerInch(), ScreenDpi());
}

TEST(Pcx, FourBitPlanesMergeIntoPixels) {
  // 8 x 1, one bit plane per bit: pixel x is x.
  std::string file(128, '\0');
  file[0] = 10;
  file[1] = 5;
  file[2] = 1;
  file[3] = 1;
  file[8] = 7;
  file[65] = 4;
  file[66] = 2;
  for (int i = 0; i < 16; ++i) file[16 + 3 * i] = char(i * 16);
  file += std::string("\x55\x00\x33\x00\x0F\x00\x00\x00", 8);
  auto img = Reload<TPcxGraphic>(file);
  EXPECT_EQ(img->ImageFormat(), ifColor16);
  EXPECT_EQ(PixelsIndex(*img), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(RgbRed(img->GetPixelRGB(3, 0)), 48);
}

TEST(Pcx, RunsGoOnAcrossLinesAndReadAlikeFromFilesAndMemory) {
  // 16 x 3 black and white, two bytes a line: one run fills two lines and the
  // first byte of the third, and an empty run in between adds nothing.
  std::string file(128, '\0');
  file[0] = 10, file[1] = 5, file[2] = 1, file[3] = 1, file[8] = 15, file[10] = 2;
  file[65] = 1, file[66] = 2;
  file += std::string("\xC5\xAA\xC0\x77\x11", 5);
  auto runs = Reload<TPcxGraphic>(file);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(runs->ScanLine(y)[0], 0xAA) << y;
    EXPECT_EQ(runs->ScanLine(y)[1], y < 2 ? 0xAA : 0x11) << y;
  }

  // Codes split across the file's read-ahead blocks: a mix of literal bytes,
  // one-byte pairs and runs over many blocks reads the same from a file.
  TPcxGraphic img;
  img.NewImage(1001, 301, ifTrueColor, nullptr, 300, 300);
  uint32_t seed = 5;
  for (size_t i = 0; i < img.ImageSize(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t r = seed >> 24;
    img.Bits()[i] = r < 64 ? uint8_t(r) : r < 160 ? uint8_t(0xC0 | (r & 7)) : uint8_t(i / 9 % 3);
  }
  const std::string data = Saved(img);
  ASSERT_GT(data.size(), size_t(20) * 16384);
  ToolDir dir;
  dir.Write("noise.pcx", data);
  TPcxGraphic fromFile;
  fromFile.LoadFromFile(dir.Path("noise.pcx"));
  ExpectSamePicture(img, fromFile);
  ExpectSamePicture(img, *Reload<TPcxGraphic>(data));
}

namespace {
// The coded lines byte for byte, against the rule written plainly: from each
// byte, as many equal bytes as follow it up to 63 make one run; a run of one
// is the byte itself unless its top two bits would read as a code.
std::string PlainlyCoded(const std::vector<uint8_t>& line) {
  std::string out;
  for (size_t i = 0; i < line.size();) {
    size_t run = 1;
    while (i + run < line.size() && run < 63 && line[i + run] == line[i]) ++run;
    if (run > 1 || line[i] >= 0xC0) out += char(0xC0 | run);
    out += char(line[i]);
    i += run;
  }
  return out;
}
}  // namespace

TEST(Pcx, LinesAreCodedByteForByte) {
  // Runs of every length from 1 to 130 (63 and 64 among them) in a shuffled
  // order, half of them of values of 0xC0 and above, across lines of widths
  // on both sides of 64-byte steps; 24-bit pages split into three planes.
  uint32_t seed = 17;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 8; };
  for (int format : {ifGray256, ifTrueColor})
    for (int w : {1, 2, 7, 63, 64, 65, 127, 128, 129, 1001}) {
      SCOPED_TRACE(std::to_string(format) + " x " + std::to_string(w));
      TPcxGraphic img;
      img.NewImage(w, 9, format, nullptr, 300, 300);
      const int rowBytes = format == ifTrueColor ? 3 * w : w;
      int left = 0, value = 0;
      for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < rowBytes; ++x, --left) {
          if (left == 0) {
            left = 1 + int(next() % 130);
            value = int(next() % 2 ? 0xC0 + next() % 64 : next() % 0xC0);
          }
          img.ScanLine(y)[x] = uint8_t(value);
        }
      const std::string file = Saved(img);
      const int bpl = U16(file, 66), planes = Byte(file, 65);
      std::string expected;
      for (int y = 0; y < img.Height(); ++y) {
        std::vector<uint8_t> line(size_t(bpl) * planes, 0);
        const uint8_t* row = img.ScanLine(y);
        for (int x = 0; x < w; ++x)
          if (planes == 3)
            for (int c = 0; c < 3; ++c) line[size_t(c * bpl + x)] = row[3 * x + 2 - c];
          else
            line[size_t(x)] = row[x];
        expected += PlainlyCoded(line);
      }
      ASSERT_GE(file.size(), 128 + expected.size());
      EXPECT_EQ(file.substr(128, expected.size()), expected);
      // After the lines only the palette of a 256-colour page.
      EXPECT_EQ(file.size(), 128 + expected.size() + (planes == 1 ? 769 : 0));
    }
}

TEST(Pcx, HostileFilesRaiseTheirError) {
  for (int format : {ifBlackWhite, ifColor16, ifColor256, ifTrueColor}) {
    TPcxGraphic img;
    FillPattern(img, format);
    ExpectHostileInputsRaise<TPcxGraphic>(Saved(img), IsBfm);
  }
  // A small file claiming a huge picture is refused before allocation.
  TPcxGraphic img;
  FillPattern(img, ifColor256);
  std::string file = Saved(img);
  file[8] = file[9] = file[10] = file[11] = char(0xFF);
  file[66] = file[67] = char(0xFF);
  EXPECT_IMAGING_ERROR(Reload<TPcxGraphic>(file), "bfm_read_header failed. (bad bitmap size)");
}

TEST(Dcx, PagesCountLoadAppendAndFull) {
  TDcxGraphic p1, p2, p3;
  FillPattern(p1, ifBlackWhite, 20, 10);
  FillPattern(p2, ifColor256, 15, 12);
  FillPattern(p3, ifTrueColor, 9, 7);
  TMemoryStream s;
  p1.AppendImageToStream(s);
  p2.AppendImageToStream(s);
  p3.AppendImageToStream(s);
  EXPECT_EQ(U16(s.Data(), 0), 0x68B1);
  EXPECT_EQ(U16(s.Data(), 4), 4100);
  s.SetPosition(0);
  TDcxGraphic r;
  EXPECT_EQ(r.ImageCountInStream(s), 3);
  const TDibGraphic* pages[] = {&p1, &p2, &p3};
  for (int i = 1; i <= 3; ++i) {
    s.SetPosition(0);
    r.LoadImageFromStream(s, i);
    ExpectSamePicture(*pages[i - 1], r);
  }
  TDcxGraphic all;
  all.SetLoadAllFrames(true);
  s.SetPosition(0);
  all.LoadFromStream(s);
  EXPECT_EQ(all.FrameCount(), 3);

  // A table holding 1023 pages is full.
  std::string full = s.Data();
  for (int i = 3; i < 1023; ++i) PutI32LE(full.data() + 4 + 4 * i, int32_t(full.size()));
  TMemoryStream f(full);
  EXPECT_IMAGING_ERROR(p1.AppendImageToStream(f), "The DCX file header is full");
  TMemoryStream bad(std::string(5000, 'x'));
  EXPECT_IMAGING_ERROR(r.ImageCountInStream(bad), "The DCX file header is not valid");
  bad.SetPosition(0);
  EXPECT_IMAGING_ERROR(r.LoadImageFromStream(bad, 1), "The DCX file header is not valid");
  EXPECT_IMAGING_ERROR(p1.AppendImageToStream(bad), "The DCX file header is not valid");
  ExpectHostileInputsRaise<TDcxGraphic>(Saved(p2), IsDcx);
}

TEST(Targa, RoundTripsOptionsAndErrors) {
  for (int format : {ifGray256, ifColor256, ifTrueColor}) {
    TTgaGraphic img;
    FillPattern(img, format);
    const std::string file = Saved(img);
    EXPECT_EQ(Byte(file, 2), format == ifTrueColor ? 2 : 1);
    auto back = Reload<TTgaGraphic>(file);
    EXPECT_EQ(PixelsRGB(*back), PixelsRGB(img));
    ExpectHostileInputsRaise<TTgaGraphic>(file, IsBfm);
  }
  TTgaGraphic g16;
  FillPattern(g16, ifGray16);
  TMemoryStream s;
  EXPECT_IMAGING_ERROR(g16.SaveToStream(s), "TARGA image must be true color or 8 bit with palette");

  // Other depths, row orders and run-length files read back the same colours.
  TDibGraphic img;
  FillPattern(img, ifTrueColor, 5, 3);
  BFM h{};
  h.w = 5;
  h.h = 3;
  h.bpp = 24;
  BfmRgb pal[256] = {};
  for (const char* opt : {"32 ydown", "16"}) {
    TMemoryStream t;
    ASSERT_EQ(bfm_write("a.tga", &t, 2, &h, pal, img.Bits(), opt), 0);
    auto back = Reload<TTgaGraphic>(t.Data());
    for (int x = 0; x < 5; ++x) {
      const RgbValue want = img.GetPixelRGB(x, 0);
      const RgbValue got = back->GetPixelRGB(x, 0);
      EXPECT_EQ(got, opt[0] == '1' ? (want & 0xF8F8F8) : want);
    }
  }
  TMemoryStream t;
  EXPECT_EQ(bfm_write("a.tga", &t, 2, &h, pal, img.Bits(), "yup ydown"), BFM_ERR_BAD_OPT);
  // One run packet of five grey pixels, one raw packet.
  std::string rle(18, '\0');
  rle[2] = 11;
  rle[12] = 5;
  rle[14] = 2;
  rle[16] = 8;
  rle += std::string("\x84\x40\x04\x01\x02\x03\x04\x05", 8);
  auto grey = Reload<TTgaGraphic>(rle);
  EXPECT_EQ(grey->GetPixelIndex(0, 1), 0x40);
  EXPECT_EQ(grey->GetPixelIndex(4, 0), 5);
}

// A 3 x 2 grey Targa whose file pixels run 1..6 in file order, with the given origin bits.
std::string TargaWithOrigin(uint8_t descriptor) {
  std::string file(18, '\0');
  file[2] = 3;
  file[12] = 3;
  file[14] = 2;
  file[16] = 8;
  file[17] = char(descriptor);
  return file + std::string("\x01\x02\x03\x04\x05\x06", 6);
}

TEST(Targa, EveryOriginReadsTheRightWayRound) {
  struct Case {
    uint8_t descriptor;
    int topRow[3];
  } cases[] = {
      {0x00, {4, 5, 6}},  // bottom left: the file's first row is the bottom one
      {0x10, {6, 5, 4}},  // bottom right: each row runs right to left
      {0x20, {1, 2, 3}},  // top left
      {0x30, {3, 2, 1}},  // top right
  };
  for (const Case& c : cases) {
    auto img = Reload<TTgaGraphic>(TargaWithOrigin(c.descriptor));
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(img->GetPixelIndex(x, 0), c.topRow[x]) << "descriptor " << int(c.descriptor) << " x " << x;
  }
  // What the system writes stays bottom-left and reads back unchanged.
  TTgaGraphic written;
  FillPattern(written, ifTrueColor, 7, 4);
  const std::string file = Saved(written);
  EXPECT_EQ(Byte(file, 17), 0);
  EXPECT_EQ(PixelsRGB(*Reload<TTgaGraphic>(file)), PixelsRGB(written));
}

TEST(Targa, ARefusedFileSaysWhatIsWrongWithIt) {
  std::string map16 = TargaWithOrigin(0);
  map16[1] = 1;
  map16[2] = 1;
  map16[5] = 2;  // two entries of 16 bits
  map16[7] = 16;
  map16.insert(18, 4, '\0');
  EXPECT_IMAGING_ERROR(Reload<TTgaGraphic>(map16),
                       "bfm_read_header failed. (color map entry size not 24 bits per pixel)");
  std::string map15 = map16;
  map15[7] = 15;
  EXPECT_IMAGING_ERROR(Reload<TTgaGraphic>(map15),
                       "bfm_read_header failed. (color map entry size not 24 bits per pixel)");
  const std::string cut = TargaWithOrigin(0).substr(0, 21);
  EXPECT_IMAGING_ERROR(Reload<TTgaGraphic>(cut), "bfm_read_header failed. (file shorter than its image data)");
}

TEST(Icon, SavesThirtyTwoSquareAndReadsItBack) {
  TIconGraphic img;
  FillPattern(img, ifTrueColor, 40, 20);
  const std::string file = Saved(img);
  TIconGraphic back;
  TMemoryStream s(file);
  back.LoadFromStream(s);
  ASSERT_EQ(back.Width(), 32);
  ASSERT_EQ(back.Height(), 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(back.GetPixelRGB(x, y), y < 20 ? img.GetPixelRGB(x, y) : 0u) << x << "," << y;
  ExpectHostileInputsRaise<TIconGraphic>(file, [](const Exception& e) {
    return dynamic_cast<const EInvalidGraphic*>(&e) != nullptr;
  });
}

TEST(Icon, LargerBitmapHeadersAndShortMasks) {
  const auto corner = [](int x, int y) { return x + y < 5; };
  for (int bits : {8, 24, 32}) {
    for (uint32_t header : {40u, 124u}) {
      SCOPED_TRACE(std::to_string(bits) + " bits, header " + std::to_string(header));
      auto icon = Reload<TIconGraphic>(IconFile(bits, header, 16, corner));
      ASSERT_EQ(icon->Width(), 16);
      ASSERT_EQ(icon->Height(), 16);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
          ASSERT_EQ(icon->GetPixelRGB(x, y), corner(x, y) ? 0u : IconPixel(bits, x, y)) << x << "," << y;
    }
  }
  // Alpha makes the mask of a 32-bit image redundant, so a cut one is no fault;
  // other depths need theirs.
  for (int rows : {0, 7}) {
    auto cut = Reload<TIconGraphic>(IconFile(32, 124, rows, corner));
    EXPECT_EQ(cut->GetPixelRGB(0, 0), 0u);
    EXPECT_EQ(cut->GetPixelRGB(15, 15), IconPixel(32, 15, 15));
  }
  EXPECT_IMAGING_ERROR(Reload<TIconGraphic>(IconFile(24, 40, 7, corner)), "Invalid icon");
}

TEST(Registry, FormatsLoadByExtension) {
  RegisterImagingFormats();
  RegisterImagingFormats();
  const char* const kExtensions[] = {"TIF", "TIFF", "PCX", "PCC", "DCX", "TGA", "VST", "AFI",
                                     "JPG", "JPEG", "PNG"};
  for (const char* ext : kExtensions) EXPECT_NE(FindGraphicClass(ext), nullptr) << ext;
  EXPECT_EQ(FindGraphicClass("x.pcc")->description, "ZSoft PC Paintbrush");
  EXPECT_EQ(CreateGraphicForFile("a.vst")->ClassName(), "TTgaGraphic");
  EXPECT_EQ(CreateGraphicForFile("a.dcx")->ClassName(), "TDcxGraphic");
  EXPECT_EQ(FindGraphicClass("ICO"), nullptr);

  ToolDir dir;
  TPcxGraphic img;
  FillPattern(img, ifColor16);
  img.SaveToFile(dir.Path("p.pcx"));
  auto loaded = CreateGraphicForFile(dir.Path("p.pcx"));
  loaded->LoadFromFile(dir.Path("p.pcx"));
  ExpectSamePicture(img, *loaded);
}
