#include "imaging/EnPngGr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/Rounding.h"

namespace {

constexpr double kScreenGamma = 2.2;

int FormatOf(int depth, int colorType) {
  switch (depth) {
    case 1:
      if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_PALETTE) return ifBlackWhite;
      break;
    case 2:
    case 4:
      if (colorType == PNG_COLOR_TYPE_GRAY) return ifGray16;
      if (colorType == PNG_COLOR_TYPE_PALETTE) return ifColor16;
      break;
    case 8:
    case 16:
      if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) return ifGray256;
      if (colorType == PNG_COLOR_TYPE_RGB || colorType == PNG_COLOR_TYPE_RGB_ALPHA) return ifTrueColor;
      if (colorType == PNG_COLOR_TYPE_PALETTE) return ifColor256;
      break;
    default:
      throw EPNGError("Invalid bit depth");
  }
  throw EPNGError("Invalid color type for bit depth");
}

// libpng corrects the samples of grey and colour images but hands back the
// palette as stored, so its entries go through the table libpng would build:
// no correction when the overall gamma is within 5% of 1, else
// 255 * (v / 255) ^ (1 / (file gamma * screen gamma)), both in 1/100000.
void CorrectPalette(TLogPalette& palette, int count, png_fixed_point fileGamma) {
  constexpr double kUnit = PNG_FP_1, kThreshold = 5000;
  const double screenGamma = RoundHalfUp(kScreenGamma * kUnit);
  const double overall = RoundHalfUp(screenGamma * fileGamma / kUnit);
  if (std::abs(overall - kUnit) <= kThreshold) return;
  const double exponent = RoundHalfUp(1e15 / fileGamma / screenGamma);
  if (std::abs(exponent - kUnit) <= kThreshold) return;
  uint8_t table[256];
  for (int v = 0; v < 256; ++v)
    table[v] = v == 0 || v == 255 ? uint8_t(v)
                                  : uint8_t(RoundHalfUp(255 * std::pow(v / 255.0, exponent / kUnit)));
  for (int i = 0; i < count; ++i) {
    TPaletteEntry& e = palette.palPalEntry[i];
    e.peRed = table[e.peRed];
    e.peGreen = table[e.peGreen];
    e.peBlue = table[e.peBlue];
  }
}

png_uint_32 PelsPerMetre(int dpi) { return png_uint_32(RoundHalfEven(dpi / 0.0254)); }

}  // namespace

void TPngGraphic::LoadImageFromStream(TStream& stream, int) {
  const int64_t inputBytes = stream.Size() - stream.Position();
  uint8_t sig[8];
  if (stream.Read(sig, 8) != 8 || png_sig_cmp(sig, 0, 8))
    throw EPNGError("PNG file is not valid or corrupted");
  TPngHandle h(false, stream);
  png_structp png = h.png;
  png_infop info = h.info;
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  if (!PngGuard(png, [&] {
        png_set_sig_bytes(png, 8);
        png_read_info(png, info);
        png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
      }))
    h.Raise();
  const int format = FormatOf(depth, colorType);
  const bool unpack2 = depth == 2;
  if (interlace != PNG_INTERLACE_NONE && interlace != PNG_INTERLACE_ADAM7)
    throw EPNGError("Interlace type not valid");

  double fileGamma = 0;
  const bool hasGamma = png_get_gAMA(png, info, &fileGamma) && fileGamma > 0;
  const bool hasSrgb = png_get_valid(png, info, PNG_INFO_sRGB);
  const bool hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  const bool gammaCorrected = !hasSrgb && hasGamma && depth > 2;
  png_color_16* fileBackground = nullptr;
  const bool hasBackground = png_get_bKGD(png, info, &fileBackground) && fileBackground;
  png_uint_32 xPels = 0, yPels = 0;
  int unit = 0;
  int xDpi = 0, yDpi = 0;
  if (png_get_pHYs(png, info, &xPels, &yPels, &unit) && unit == PNG_RESOLUTION_METER) {
    xDpi = int(std::min<double>(65535, RoundHalfEven(xPels * 0.0254)));
    yDpi = int(std::min<double>(65535, RoundHalfEven(yPels * 0.0254)));
  }
  int passes = 1;
  if (!PngGuard(png, [&] {
        if (depth == 16) {
          png_set_strip_16(png);
          png_set_swap(png);
        }
        if (format == ifTrueColor) png_set_bgr(png);
        // No gAMA means no correction: a file without one is taken as it is.
        if (gammaCorrected) png_set_gamma(png, kScreenGamma, fileGamma);
        if (hasAlpha) {
          if (!hasBackground || IgnoreFileBackground) {
            png_color_16 bg{};
            bg.red = RgbRed(BackgroundColor);
            bg.green = RgbGreen(BackgroundColor);
            bg.blue = RgbBlue(BackgroundColor);
            bg.gray = uint16_t((bg.red * 30 + bg.green * 59 + bg.blue * 11) / 100);
            png_set_background(png, &bg, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
          } else {
            png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
          }
        }
        if (interlace == PNG_INTERLACE_ADAM7) passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
      }))
    h.Raise();
  if (hasGamma) Gamma = fileGamma;

  TLogPalette palette{};
  const TLogPalette* pal = nullptr;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    if (!png_get_PLTE(png, info, &entries, &count) || !entries) throw EPNGError("png_get_PLTE failed");
    const int cap = 1 << ImageFormatBits(format);
    palette.palVersion = 0x300;
    palette.palNumEntries = uint16_t(cap);
    for (int i = 0; i < std::min(count, cap); ++i)
      palette.palPalEntry[i] = {entries[i].red, entries[i].green, entries[i].blue, 0};
    // Compositing onto the background already corrected the palette.
    png_fixed_point fixedGamma = 0;
    if (gammaCorrected && !hasAlpha && png_get_gAMA_fixed(png, info, &fixedGamma) && fixedGamma > 0)
      CorrectPalette(palette, std::min(count, cap), fixedGamma);
    pal = &palette;
  }

  const size_t rowBytes = png_get_rowbytes(png, info);
  const int64_t imageRow = BytesPerRow(width, ImageFormatBits(format));
  int64_t need = imageRow * int64_t(height);
  if (unpack2) need += int64_t(rowBytes) * int64_t(height);
  if (width > 0x7FFFFFFF || height > 0x7FFFFFFF || !DecodedSizeFits(need, inputBytes))
    throw EPNGError("Image too big");
  // Rows are read straight into the image, so they must fit its rows.
  if (!unpack2 && int64_t(rowBytes) > imageRow) throw EPNGError("Invalid color type for bit depth");
  NewImage(int(width), int(height), format, pal, xDpi, yDpi);

  if (unpack2) {
    std::vector<uint8_t> data(rowBytes * height);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = data.data() + y * rowBytes;
    png_bytepp rowPtrs = rows.data();
    if (!PngGuard(png, [&] { png_read_image(png, rowPtrs); })) h.Raise();
    const int scale = format == ifGray16 ? 5 : 1;
    for (int y = 0; y < int(height); ++y)
      for (int x = 0; x < int(width); ++x)
        SetPixelIndex(x, y, ((rows[y][x / 4] >> (6 - 2 * (x % 4))) & 3) * scale);
  } else {
    uint8_t* top = ScanLine(0);
    const ptrdiff_t stride = -ptrdiff_t(RowBytes());
    const int rowsCount = int(height);
    if (!PngGuard(png, [&] {
          for (int p = 0; p < passes; ++p)
            for (int y = 0; y < rowsCount; ++y) png_read_row(png, top + y * stride, nullptr);
          png_read_end(png, nullptr);
        }))
      h.Raise();
  }
}

void TPngGraphic::SaveToStream(TStream& stream) {
  if (IsEmpty()) throw EImagingError("The image is empty");
  const int format = ImageFormat();
  const bool grey = format <= ifGray256;
  if (Transparent && grey)
    throw EPNGError(
        "Gray scale transparent PNG images are not supported.\rUse the ifColor16 or ifColor256 "
        "image format instead.");
  const int colorType = grey ? PNG_COLOR_TYPE_GRAY
                        : format == ifTrueColor ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_PALETTE;
  const int depth = format == ifTrueColor ? 8 : ImageFormatBits(format);

  png_color plte[256] = {};
  int entries = 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    entries = std::min<int>(LogPalette().palNumEntries, 1 << depth);
    for (int i = 0; i < entries; ++i)
      plte[i] = {LogPalette().palPalEntry[i].peRed, LogPalette().palPalEntry[i].peGreen,
                 LogPalette().palPalEntry[i].peBlue};
  }
  png_color_16 background{};
  if (WriteBackground) {
    if (format == ifTrueColor) {
      background.red = RgbRed(BackgroundColor);
      background.green = RgbGreen(BackgroundColor);
      background.blue = RgbBlue(BackgroundColor);
    } else {
      const int index = Converter()->NearestIndex(BackgroundColor);
      if (grey) background.gray = uint16_t(index);
      else background.index = uint8_t(index);
    }
  }
  png_color_16 transColor{};
  png_byte alpha[256];
  int alphaCount = 0;
  if (Transparent) {
    if (format == ifTrueColor) {
      transColor.red = RgbRed(TransparentColor);
      transColor.green = RgbGreen(TransparentColor);
      transColor.blue = RgbBlue(TransparentColor);
    } else {
      alphaCount = std::min(format == ifColor16 ? 16 : 256, entries);
      std::fill(alpha, alpha + 256, 255);
      const int index = Converter()->NearestIndex(TransparentColor);
      if (index < alphaCount) alpha[index] = 0;
    }
  }
  static const int kLevels[3] = {1, 5, 9};
  const int level = kLevels[std::min<int>(CompressionLevel, 2)];

  TPngHandle h(true, stream);
  png_structp png = h.png;
  png_infop info = h.info;
  const png_uint_32 width = png_uint_32(Width()), height = png_uint_32(Height());
  const png_uint_32 xPels = PelsPerMetre(XDotsPerInch()), yPels = PelsPerMetre(YDotsPerInch());
  const uint8_t* top = ScanLine(0);
  const ptrdiff_t stride = -ptrdiff_t(RowBytes());
  const int rowsCount = Height();
  const double gamma = Gamma;
  const bool interlaced = Interlaced, writeBackground = WriteBackground, transparent = Transparent;
  if (!PngGuard(png, [&] {
        png_set_IHDR(png, info, width, height, depth, colorType,
                     interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (entries) png_set_PLTE(png, info, plte, entries);
        png_set_pHYs(png, info, xPels, yPels, PNG_RESOLUTION_METER);
        png_set_gAMA(png, info, gamma);
        if (writeBackground) png_set_bKGD(png, info, &background);
        if (transparent) {
          if (colorType == PNG_COLOR_TYPE_RGB) png_set_tRNS(png, info, nullptr, 0, &transColor);
          else if (alphaCount) png_set_tRNS(png, info, alpha, alphaCount, nullptr);
        }
        png_set_compression_level(png, level);
        png_write_info(png, info);
        if (colorType == PNG_COLOR_TYPE_RGB) png_set_bgr(png);
        const int passes = interlaced ? png_set_interlace_handling(png) : 1;
        for (int p = 0; p < passes; ++p)
          for (int y = 0; y < rowsCount; ++y) png_write_row(png, top + y * stride);
        png_write_end(png, info);
      }))
    h.Raise();
}
