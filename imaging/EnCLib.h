#pragma once
// The codec layer: libtiff, libjpeg and libpng over our streams. Library errors
// come back as C++ exceptions; the long jumps the libraries need stay inside
// the guards below, whose callers keep no C++ objects alive across them.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "core/Exception.h"
#include "core/Streams.h"

class ETiffError : public Exception {
 public:
  using Exception::Exception;
};
class EJpegError : public Exception {
 public:
  using Exception::Exception;
};
class EPNGError : public Exception {
 public:
  using Exception::Exception;
};

// ETiffError with the class name, a blank and the failing call or tag.
[[noreturn]] void RaiseTiffError(const std::string& text);

// Decoders refuse images whose pixels would need more memory than their input
// could describe (1 MiB plus 4096 bytes per input byte, beyond what a blank
// Group 4 or deflated page needs), so a tiny hostile header cannot make us
// allocate gigabytes.
bool DecodedSizeFits(int64_t decodedBytes, int64_t inputBytes);

// --- TIFF ---------------------------------------------------------------------

// Mode 0, 1, 2: read, write, append. Offsets count from the stream's position
// at open; closing leaves the stream with its owner. libtiff's own errors and
// warnings are silent. Returns nullptr when libtiff refuses the stream.
TIFF* TiffOpenStream(TStream& stream, int mode);
int TiffDirectoryCount(TIFF* tif);

template <typename T>
T TiffGetField(TIFF* tif, uint32_t tag) {
  T v{};
  if (!TIFFGetField(tif, tag, &v)) RaiseTiffError("TIFFGetField: Tag = " + std::to_string(tag));
  return v;
}
template <typename T>
T TiffGetFieldDefaulted(TIFF* tif, uint32_t tag, T fallback) {
  T v{};
  return TIFFGetField(tif, tag, &v) ? v : fallback;
}
void TiffGetField3(TIFF* tif, uint32_t tag, uint16_t** a, uint16_t** b, uint16_t** c);
void TiffSetIntField(TIFF* tif, uint32_t tag, int value);
void TiffSetFloatField(TIFF* tif, uint32_t tag, double value);
void TiffSetField(TIFF* tif, uint32_t tag, const char* value);
void TiffSetColormap(TIFF* tif, uint16_t* red, uint16_t* green, uint16_t* blue);

// --- JPEG ---------------------------------------------------------------------

struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// Runs fn, plain code calling libjpeg, under the error manager's jump buffer;
// false when libjpeg failed (the message is in err.message).
template <typename Fn>
bool JpegGuard(JpegErrorManager& err, Fn&& fn) {
  if (setjmp(err.jump)) return false;
  fn();
  return true;
}

struct JpegImageInfo {
  int width, height, components, densityUnit, xDensity, yDensity, colorSpace;
};

// A decompressor reading from a stream; errors raise EJpegError with
// libjpeg's message. A stream that ends early is an error, not a grey tail.
class TJpegDecompress {
 public:
  explicit TJpegDecompress(TStream& stream);
  ~TJpegDecompress();
  TJpegDecompress(const TJpegDecompress&) = delete;
  TJpegDecompress& operator=(const TJpegDecompress&) = delete;
  void ReadHeader();
  JpegImageInfo GetImageInfo() const;
  void SetOutColorSpace(J_COLOR_SPACE space);
  void Start();
  // Rows top first; row y at first + y * stride; red and blue exchanged when asked.
  void ReadRows(uint8_t* first, ptrdiff_t stride, int rows, bool swapRedBlue);
  void Finish();
  j_decompress_ptr Info() { return &info_; }

 private:
  [[noreturn]] void Raise();
  jpeg_decompress_struct info_{};
  JpegErrorManager err_{};
  jpeg_source_mgr src_{};
  TStream& stream_;
  JOCTET buffer_[65536];
  bool created_ = false;
};

class TJpegCompress {
 public:
  explicit TJpegCompress(TStream& stream);
  ~TJpegCompress();
  TJpegCompress(const TJpegCompress&) = delete;
  TJpegCompress& operator=(const TJpegCompress&) = delete;
  void SetCompressParams(int width, int height, int components, int densityUnit, int xDensity,
                         int yDensity, J_COLOR_SPACE inColorSpace, int quality, bool progressive,
                         bool optimize);
  void Start();
  void WriteRows(const uint8_t* first, ptrdiff_t stride, int rows, bool swapRedBlue);
  void Finish();

 private:
  [[noreturn]] void Raise();
  jpeg_compress_struct info_{};
  JpegErrorManager err_{};
  jpeg_destination_mgr dest_{};
  TStream& stream_;
  JOCTET buffer_[65536];
  std::unique_ptr<uint8_t[]> row_;
  size_t rowSize_ = 0;
  bool created_ = false;
};

// --- PNG ----------------------------------------------------------------------

// The error text libpng gave; warnings are dropped.
struct PngErrorContext {
  char message[256];
};

template <typename Fn>
bool PngGuard(png_structp png, Fn&& fn) {
  if (setjmp(png_jmpbuf(png))) return false;
  fn();
  return true;
}

// Read and write structures with our error handlers and stream callbacks; the
// destructor destroys them.
class TPngHandle {
 public:
  TPngHandle(bool write, TStream& stream);
  ~TPngHandle();
  TPngHandle(const TPngHandle&) = delete;
  TPngHandle& operator=(const TPngHandle&) = delete;
  png_structp png = nullptr;
  png_infop info = nullptr;
  [[noreturn]] void Raise() const;

 private:
  bool write_;
  PngErrorContext err_{};
};
