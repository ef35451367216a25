#include "imaging/EnTifGr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/SysUtils.h"

namespace {

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr Open(TStream& stream, int mode) {
  TIFF* t = TiffOpenStream(stream, mode);
  if (!t) RaiseTiffError("TIFFOpen");
  return TiffPtr(t);
}

std::function<TDateTime()>& Clock() {
  static std::function<TDateTime()> clock = [] { return Now(); };
  return clock;
}

// Compressions each image format may be written with, as a bit set.
uint32_t AllowedCompressions(int format) {
  switch (format) {
    case ifBlackWhite: return 0b0111111;
    case ifGray256:
    case ifTrueColor: return 0b1100011;
  }
  return 0b0100011;
}

uint16_t TagOf(TTiffCompression c) {
  switch (c) {
    case tcNone: return COMPRESSION_NONE;
    case tcPackbits: return COMPRESSION_PACKBITS;
    case tcGroup3_1D:
    case tcGroup3_2D: return COMPRESSION_CCITTFAX3;
    case tcGroup4: return COMPRESSION_CCITTFAX4;
    case tcZLib: return COMPRESSION_DEFLATE;
    case tcJPEG: return COMPRESSION_JPEG;
  }
  return COMPRESSION_NONE;
}

int CompressionOfTag(TIFF* tif, uint16_t tag) {
  switch (tag) {
    case COMPRESSION_NONE: return tcNone;
    case COMPRESSION_PACKBITS: return tcPackbits;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW: return tcGroup3_1D;
    case COMPRESSION_CCITTFAX3:
      return (TiffGetField<uint32_t>(tif, TIFFTAG_GROUP3OPTIONS) & 1) ? tcGroup3_2D : tcGroup3_1D;
    case COMPRESSION_CCITTFAX4: return tcGroup4;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return tcZLib;  // other writers use 8 for the same scheme
    case COMPRESSION_JPEG: return tcJPEG;
  }
  RaiseTiffError(Format("Unsupported compression tag, %d", int(tag)));
}

bool IsCcitt(uint16_t c) {
  return c == COMPRESSION_CCITTRLE || c == COMPRESSION_CCITTFAX3 || c == COMPRESSION_CCITTFAX4 ||
         c == COMPRESSION_CCITTRLEW;
}

int Dpi(float res, uint16_t unit) {
  double d = unit == RESUNIT_INCH ? res : res * 2.54;
  if (!(d > 0) || d > 65535) return 0;  // absent or nonsense: the screen's
  return int(RoundHalfEven(d));
}

// Sizes from hostile tags saturate instead of wrapping.
int64_t Product(int64_t a, int64_t b) {
  int64_t r;
  return __builtin_mul_overflow(a, b, &r) ? INT64_MAX : r;
}
int64_t Sum(std::initializer_list<int64_t> terms) {
  int64_t total = 0;
  for (int64_t t : terms)
    if (__builtin_add_overflow(total, t, &total)) return INT64_MAX;
  return total;
}

// Group 3 data starts with an EOL code (at least eleven zero bits) unless the
// writer left them out; the first two raw bytes tell.
bool Group3WithoutEol(TIFF* tif, uint16_t compression, bool tiled) {
  if (compression != COMPRESSION_CCITTFAX3 ||
      (TiffGetFieldDefaulted<uint32_t>(tif, TIFFTAG_GROUP3OPTIONS, 0) & GROUP3OPT_2DENCODING))
    return false;
  uint8_t head[2] = {};
  const tmsize_t n = tiled ? TIFFReadRawTile(tif, 0, head, 2) : TIFFReadRawStrip(tif, 0, head, 2);
  if (n != 2) return false;
  const bool lsbFirst = TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) ==
                        FILLORDER_LSB2MSB;
  return head[0] != 0 || (head[1] & (lsbFirst ? 0x07 : 0xE0)) != 0;
}

// Inverted sixteen bytes at a time: a plain byte loop stays scalar at -O2.
void InvertBytes(uint8_t* dst, const uint8_t* src, size_t n) {
  typedef uint8_t Block __attribute__((vector_size(16)));
  size_t i = 0;
  for (; i + sizeof(Block) <= n; i += sizeof(Block)) {
    Block b;
    std::memcpy(&b, src + i, sizeof b);
    b = ~b;
    std::memcpy(dst + i, &b, sizeof b);
  }
  for (; i < n; ++i) dst[i] = uint8_t(~src[i]);
}

// Tag 306 has one fixed layout, whatever the desktop's date settings.
std::string TiffDateTime(TDateTime t) {
  int y, mo, d, h, mi, sec, ms;
  DecodeDate(t, y, mo, d);
  DecodeTime(t, h, mi, sec, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", y, mo, d, h, mi, sec);
  return text;
}

int Brightness(const TPaletteEntry& e) { return 30 * e.peRed + 60 * e.peGreen + 10 * e.peBlue; }

}  // namespace

std::string CompressionName(int compression) {
  static const char* const kNames[] = {"None",          "Packbits",          "CCITT Group 3, 1D",
                                       "CCITT Group 3, 2D", "CCITT Group 4", "ZLib",
                                       "JPEG"};
  return compression >= 0 && compression <= 6 ? kNames[compression] : "";
}

void TTiffGraphic::SetClock(std::function<TDateTime()> clock) {
  Clock() = clock ? std::move(clock) : [] { return Now(); };
}

void TTiffGraphic::SetCompression(int value) {
  if (value < 0 || value > tcJPEG || !(AllowedCompressions(ImageFormat()) & (1u << value)))
    throw EImagingError(Format("%s compression not supported with %s images",
                               CompressionName(value).c_str(),
                               ImageFormatName(ImageFormat()).c_str()));
  compression_ = TTiffCompression(value);
}

void TTiffGraphic::NewImage(int width, int height, int imageFormat, const TLogPalette* palette,
                            int xDpi, int yDpi) {
  TDibGraphic::NewImage(width, height, imageFormat, palette, xDpi, yDpi);
  SetCompression(imageFormat == ifBlackWhite ? tcGroup4 : tcPackbits);
}

void TTiffGraphic::Assign(const TDibGraphic* source) {
  TDibGraphic::Assign(source);
  if (auto* t = dynamic_cast<const TTiffGraphic*>(source)) rowsPerStrip_ = t->rowsPerStrip_;
}

int TTiffGraphic::ImageCountInStream(TStream& stream) {
  TiffPtr tif = Open(stream, 0);
  return TiffDirectoryCount(tif.get());
}

void TTiffGraphic::LoadImageFromStream(TStream& stream, int index) {
  // libtiff reads a strip with a seek and a read of its own; a file small
  // enough is read in one go instead, as the tools map theirs.
  constexpr int64_t kReadWhole = int64_t(16) << 20;
  const bool inMemory = dynamic_cast<TMemoryStream*>(&stream) != nullptr;
  if (stream.Position() == 0 && (inMemory || stream.Size() > kReadWhole))
    return ReadImage(stream, index);
  // Offsets in the file count from its own start.
  TMemoryStream page;
  page.SetSize(stream.Size() - stream.Position());
  stream.ReadBuffer(page.Memory(), page.Size());
  ReadImage(page, index);
}

void TTiffGraphic::SaveToStream(TStream& stream) {
  const bool fax =
      compression_ == tcGroup3_1D || compression_ == tcGroup3_2D || compression_ == tcGroup4;
  if (stream.Position() == 0 && (!fax || dynamic_cast<TMemoryStream*>(&stream)))
    return WriteImage(stream, 1);
  // Offsets in the file count from its own start. A fax page is small: coded
  // in memory, it reaches the stream in one write instead of a seek and a
  // write per strip.
  TMemoryStream file;
  WriteImage(file, 1);
  stream.WriteBuffer(file.Memory(), file.Size());
}

void TTiffGraphic::AppendImageToStream(TStream& stream) {
  if (stream.Size() == 0) return SaveToStream(stream);
  stream.SetPosition(0);
  WriteImage(stream, 2);
}

void TTiffGraphic::ReadImage(TStream& stream, int index) {
  const int64_t inputBytes = stream.Size() - stream.Position();
  TiffPtr owner = Open(stream, 0);
  TIFF* tif = owner.get();
  if (index < 1 || !TIFFSetDirectory(tif, tdir_t(index - 1))) RaiseTiffError("TIFFSetDirectory");

  const uint32_t width = TiffGetField<uint32_t>(tif, TIFFTAG_IMAGEWIDTH);
  const uint32_t length = TiffGetField<uint32_t>(tif, TIFFTAG_IMAGELENGTH);
  uint16_t photometric = TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_PHOTOMETRIC, 0);
  const uint16_t compression = TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_COMPRESSION, 1);
  const bool ccitt = IsCcitt(compression);
  uint16_t bps = 0;
  if (!TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps)) {
    if (!ccitt) RaiseTiffError("TIFFGetField: Tag = 258");
    bps = 1;
  }
  const uint16_t planar = TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_PLANARCONFIG, 1);
  const uint16_t resUnit = TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_RESOLUTIONUNIT, 2);
  const float xRes = TiffGetFieldDefaulted<float>(tif, TIFFTAG_XRESOLUTION, 0);
  const float yRes = TiffGetFieldDefaulted<float>(tif, TIFFTAG_YRESOLUTION, 0);
  // Samples per pixel come from their tag: subsampled scanline sizes would
  // give fractions.
  const uint16_t spp = std::max<uint16_t>(1, TiffGetFieldDefaulted<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1));
  if (compression == COMPRESSION_LZW) RaiseLzwNotSupported();
  if (width == 0 || length == 0 || width > 0x7FFFFFFF || length > 0x7FFFFFFF)
    RaiseTiffError("TIFFGetField: Tag = 256");

  const bool tiled = TIFFIsTiled(tif);
  bool rgba = compression == COMPRESSION_JPEG || photometric == 5 || photometric == 6 || bps > 8 ||
              planar > 1;
  if (ccitt && photometric == PHOTOMETRIC_MINISBLACK) photometric = PHOTOMETRIC_MINISWHITE;

  int format = ifTrueColor;
  bool invert = false;
  TLogPalette palette{};
  const TLogPalette* pal = nullptr;
  if (photometric == PHOTOMETRIC_PALETTE) {
    format = bps < 5 ? ifColor16 : ifColor256;
    uint16_t *r, *g, *b;
    TiffGetField3(tif, TIFFTAG_COLORMAP, &r, &g, &b);
    const int n = bps >= 8 ? 256 : 1 << bps;
    bool wide = false;
    for (int i = 0; i < n; ++i) wide = wide || r[i] >= 256 || g[i] >= 256 || b[i] >= 256;
    auto scale = [&](uint16_t v) { return uint8_t(wide ? v * 255 / 65535 : v & 0xFF); };
    palette.palVersion = 0x300;
    palette.palNumEntries = uint16_t(format == ifColor16 ? 16 : 256);
    for (int i = 0; i < n; ++i) palette.palPalEntry[i] = {scale(r[i]), scale(g[i]), scale(b[i]), 0};
    pal = &palette;
  } else if (photometric <= PHOTOMETRIC_MINISBLACK && (bps == 1 || bps == 4 || bps == 8)) {
    format = bps == 1 ? ifBlackWhite : bps == 4 ? ifGray16 : ifGray256;
    invert = photometric == PHOTOMETRIC_MINISWHITE;
  } else if (!(bps == 8 && spp >= 3 && photometric == PHOTOMETRIC_RGB)) {
    // Anything the strip copy cannot map goes through libtiff's RGBA reader.
    rgba = true;
  }
  // The RGBA reader already turns min-is-white into white.
  if (rgba) invert = false;

  const int xDpi = Dpi(xRes, resUnit), yDpi = Dpi(yRes, resUnit);
  const int64_t rowBytes = BytesPerRow(width, ImageFormatBits(format));
  const int64_t scanBytes = rgba ? 0 : int64_t(TIFFScanlineSize64(tif));
  uint32_t tileWidth = 0, tileLength = 0;
  int64_t tileBytes = 0;
  if (tiled) {
    tileWidth = TiffGetField<uint32_t>(tif, TIFFTAG_TILEWIDTH);
    tileLength = TiffGetField<uint32_t>(tif, TIFFTAG_TILELENGTH);
    tileBytes = int64_t(std::min<uint64_t>(TIFFTileSize64(tif), INT64_MAX / 4));
    if (tileWidth == 0 || tileLength == 0 || tileBytes <= 0) RaiseTiffError("TIFFTileSize");
  }
  const uint32_t bandRows = std::min(tileLength, length);
  int64_t need = Sum({Product(rowBytes, length), Product(scanBytes, length),
                      rgba ? Product(Product(width, length), 4) : 0,
                      tiled ? Sum({tileBytes, Product(scanBytes, bandRows)}) : 0});
  if (!DecodedSizeFits(need, inputBytes)) RaiseTiffError("TIFFReadDirectory");

  // Both tags are 16-bit: their product can pass the int range.
  const int bitsPerPixel = int(std::min<int64_t>(int64_t(bps) * spp, 24));
  if (!rgba && bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24)
    RaiseTiffError(Format("Unsupported bit count: %d", bitsPerPixel));
  // Rows are copied only when their pixels have the image's own width; a
  // 1-bit palette is widened to 4 bits.
  const bool widen = !rgba && format == ifColor16 && bitsPerPixel == 1;
  if (!rgba && format != ifTrueColor && !widen && bitsPerPixel != ImageFormatBits(format))
    RaiseTiffError(Format("Unsupported bit count: %d", bitsPerPixel));

  NewImage(int(width), int(length), format, pal, xDpi, yDpi);
  SetCompression(CompressionOfTag(tif, compression));
  uint32_t rps = TiffGetFieldDefaulted<uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, length);
  rowsPerStrip_ = std::clamp<uint32_t>(rps, 1, length);

  const int w = int(width), h = int(length);
  if (ccitt && Group3WithoutEol(tif, compression, tiled)) {
    // Read as the run-length scheme, which expects no EOL codes, without its
    // byte alignment of rows.
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTRLE) ||
        !TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_NORTC | FAXMODE_NOEOL))
      RaiseTiffError("TIFFSetField: Tag = 259");
  }

  if (rgba) {
    std::vector<uint32_t> raster(size_t(width) * length);
    // libtiff's RGBA reader refuses uncompressed tiles whose size is no
    // multiple of 1024 unless its read buffer is exactly one tile.
    std::vector<uint8_t> tileBuffer;
    if (tiled && compression == COMPRESSION_NONE) {
      tileBuffer.resize(size_t(tileBytes));
      if (!TIFFReadBufferSetup(tif, tileBuffer.data(), tileBytes)) RaiseTiffError("TIFFReadBufferSetup");
    }
    if (!TIFFReadRGBAImage(tif, width, length, raster.data(), 1)) RaiseTiffError("TIFFReadRGBAImage");
    std::vector<uint8_t> bgr(size_t(w) * 3);
    for (int r = 0; r < h; ++r) {
      const uint32_t* src = raster.data() + size_t(r) * width;  // bottom row first
      for (int x = 0; x < w; ++x) {
        bgr[3 * x] = uint8_t(TIFFGetB(src[x]));
        bgr[3 * x + 1] = uint8_t(TIFFGetG(src[x]));
        bgr[3 * x + 2] = uint8_t(TIFFGetR(src[x]));
      }
      WriteRowRGB(h - 1 - r, bgr.data());
    }
  } else {
    const tmsize_t scan = TIFFScanlineSize(tif);
    if (scan <= 0) RaiseTiffError("TIFFScanlineSize");
    auto copyRow = [&](const uint8_t* src, int y) {
      uint8_t* dst = ScanLine(y);
      if (widen) {
        for (int x = 0; x < w; ++x) {
          const int v = (src[x / 8] >> (7 - x % 8)) & 1;
          dst[x / 2] = uint8_t((x & 1) ? (dst[x / 2] & 0xF0) | v : (dst[x / 2] & 0x0F) | v << 4);
        }
      } else if (format == ifTrueColor) {
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = src + size_t(x) * spp;
          dst[3 * x] = p[2];
          dst[3 * x + 1] = p[1];
          dst[3 * x + 2] = p[0];
        }
      } else if (invert) {
        // Inverted as it is copied, padding and all, while the row is in the cache.
        const size_t n = size_t(std::min<int64_t>(scan, rowBytes));
        InvertBytes(dst, src, n);
        std::memset(dst + n, 0xFF, size_t(rowBytes) - n);
      } else {
        std::memcpy(dst, src, size_t(std::min<int64_t>(scan, rowBytes)));
      }
    };
    if (format == ifTrueColor && scan < tmsize_t(w) * spp) RaiseTiffError("TIFFScanlineSize");
    if (tiled) {
      // A band of whole rows, one tile high, is filled tile by tile.
      const int64_t tileRow = int64_t(TIFFTileRowSize64(tif));
      if (tileRow <= 0 || (uint64_t(tileWidth) * uint64_t(bps) * spp) % 8 != 0)
        RaiseTiffError("TIFFTileRowSize");
      std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
      std::vector<uint8_t> band(size_t(scan) * bandRows);
      for (uint32_t row = 0; row < length; row += tileLength) {
        const uint32_t n = std::min(tileLength, length - row);
        for (uint32_t col = 0; col < width; col += tileWidth) {
          if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, col, row, 0, 0), tile.data(), tileBytes) < 0)
            RaiseTiffError("TIFFReadEncodedTile");
          const int64_t at = int64_t(col) / tileWidth * tileRow;
          const size_t count = size_t(std::min<int64_t>(tileRow, scan - at));
          for (uint32_t i = 0; i < n; ++i)
            std::memcpy(band.data() + size_t(i) * scan + at, tile.data() + size_t(i) * tileRow, count);
        }
        for (uint32_t i = 0; i < n; ++i) copyRow(band.data() + size_t(i) * scan, int(row + i));
      }
    } else {
      std::vector<uint8_t> strip(size_t(scan) * rowsPerStrip_);
      for (uint32_t row = 0; row < length; row += rowsPerStrip_) {
        const uint32_t n = std::min(rowsPerStrip_, length - row);
        if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, row, 0), strip.data(),
                                 tmsize_t(n) * scan) < 0)
          RaiseTiffError("TIFFReadEncodedStrip");
        for (uint32_t i = 0; i < n; ++i) copyRow(strip.data() + size_t(i) * scan, int(row + i));
      }
    }
  }
}

void TTiffGraphic::WriteImage(TStream& stream, int mode) {
  if (IsEmpty()) throw EImagingError("The image is empty");
  TiffPtr owner = Open(stream, mode);
  TIFF* tif = owner.get();
  const int format = ImageFormat();
  const bool ccitt =
      compression_ == tcGroup3_1D || compression_ == tcGroup3_2D || compression_ == tcGroup4;
  uint32_t rps = compression_ == tcJPEG ? 8 : rowsPerStrip_;
  if (rps > 0) TiffSetIntField(tif, TIFFTAG_ROWSPERSTRIP, int(rps));
  TiffSetIntField(tif, TIFFTAG_COMPRESSION, TagOf(compression_));
  if (compression_ == tcGroup3_1D || compression_ == tcGroup3_2D)
    TiffSetIntField(tif, TIFFTAG_GROUP3OPTIONS, compression_ == tcGroup3_2D ? 1 : 0);
  TiffSetIntField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TiffSetField(tif, TIFFTAG_SOFTWARE, "Calvessa Image Library");
  TiffSetField(tif, TIFFTAG_DATETIME, TiffDateTime(Clock()()).c_str());
  TiffSetIntField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TiffSetFloatField(tif, TIFFTAG_XRESOLUTION, XDotsPerInch());
  TiffSetFloatField(tif, TIFFTAG_YRESOLUTION, YDotsPerInch());
  TiffSetIntField(tif, TIFFTAG_IMAGEWIDTH, Width());
  TiffSetIntField(tif, TIFFTAG_IMAGELENGTH, Height());

  std::vector<uint16_t> map;
  switch (format) {
    case ifBlackWhite:
      TiffSetIntField(tif, TIFFTAG_BITSPERSAMPLE, 1);
      TiffSetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TiffSetIntField(tif, TIFFTAG_PHOTOMETRIC, ccitt ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
      break;
    case ifGray16:
    case ifGray256:
      TiffSetIntField(tif, TIFFTAG_BITSPERSAMPLE, ImageFormatBits(format));
      TiffSetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TiffSetIntField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      break;
    case ifColor16:
    case ifColor256: {
      const int bits = ImageFormatBits(format);
      TiffSetIntField(tif, TIFFTAG_BITSPERSAMPLE, bits);
      TiffSetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TiffSetIntField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
      // libtiff copies 2^bits entries per component, so the map always has them.
      const int n = 1 << bits;
      map.assign(size_t(n) * 3, 0);
      const TLogPalette& lp = LogPalette();
      for (int i = 0; i < std::min<int>(n, lp.palNumEntries); ++i) {
        map[size_t(i)] = uint16_t(lp.palPalEntry[i].peRed * 257);
        map[size_t(n + i)] = uint16_t(lp.palPalEntry[i].peGreen * 257);
        map[size_t(2 * n + i)] = uint16_t(lp.palPalEntry[i].peBlue * 257);
      }
      TiffSetColormap(tif, map.data(), map.data() + n, map.data() + 2 * n);
      break;
    }
    default:
      TiffSetIntField(tif, TIFFTAG_BITSPERSAMPLE, 8);
      TiffSetIntField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
      TiffSetIntField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  }

  // A (white, black) palette would otherwise be saved as a negative.
  bool invert = ccitt;
  if (format == ifBlackWhite && Brightness(LogPalette().palPalEntry[0]) >
                                   Brightness(LogPalette().palPalEntry[1]))
    invert = !invert;
  if (ccitt && rps > 0) {
    // The fax coders work row by row either way; whole strips, as the tools
    // write them, save libtiff's per-row bookkeeping and give the same bytes.
    const tmsize_t scan = TIFFScanlineSize(tif);
    const size_t rowBytes = size_t(RowBytes());
    if (scan <= 0 || size_t(scan) > rowBytes) RaiseTiffError("TIFFScanlineSize");
    std::vector<uint8_t> strip(size_t(scan) * std::min<uint32_t>(rps, uint32_t(Height())));
    for (uint32_t top = 0; top < uint32_t(Height()); top += rps) {
      const uint32_t n = std::min(rps, uint32_t(Height()) - top);
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* src = ScanLine(int(top + i));
        uint8_t* dst = strip.data() + size_t(i) * size_t(scan);
        if (invert)
          InvertBytes(dst, src, size_t(scan));
        else
          std::memcpy(dst, src, size_t(scan));
      }
      if (TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, top, 0), strip.data(), tmsize_t(n) * scan) < 0)
        RaiseTiffError("TIFFWriteEncodedStrip");
    }
    if (!TIFFWriteDirectory(tif)) RaiseTiffError("TIFFWriteDirectory");
    return;
  }
  std::vector<uint8_t> row(static_cast<size_t>(RowBytes()));
  for (int y = 0; y < Height(); ++y) {
    uint8_t* src = ScanLine(y);
    if (format == ifBlackWhite && invert) {
      InvertBytes(row.data(), src, row.size());
      src = row.data();
    } else if (format == ifTrueColor) {
      std::memcpy(row.data(), src, row.size());
      SwapRedBlue(row.data(), Width() * 3);
      src = row.data();
    }
    if (TIFFWriteScanline(tif, src, uint32_t(y), 0) < 0) RaiseTiffError("TIFFWriteScanLine");
  }
  if (!TIFFWriteDirectory(tif)) RaiseTiffError("TIFFWriteDirectory");
}
