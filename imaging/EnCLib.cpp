#include "imaging/EnCLib.h"

#include <cstring>

#include <jerror.h>

#include "imaging/EnDiGrph.h"

void RaiseTiffError(const std::string& text) { throw ETiffError("ETiffError " + text); }

bool DecodedSizeFits(int64_t decodedBytes, int64_t inputBytes) {
  constexpr int64_t kSlack = int64_t(1) << 20;
  return decodedBytes >= 0 && decodedBytes <= kSlack + inputBytes * 4096;
}


// --- TIFF ---------------------------------------------------------------------

namespace {

struct TiffClient {
  TStream* stream;
  int64_t base;
};

// Stream errors come back as the failure values libtiff expects; no C++
// exception may cross its C frames.
tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t size) {
  try {
    return tmsize_t(static_cast<TiffClient*>(h)->stream->Read(buf, size));
  } catch (...) {
    return -1;
  }
}

tmsize_t TiffWrite(thandle_t h, void* buf, tmsize_t size) {
  try {
    return tmsize_t(static_cast<TiffClient*>(h)->stream->Write(buf, size));
  } catch (...) {
    return -1;
  }
}

toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  auto* c = static_cast<TiffClient*>(h);
  try {
    int64_t pos;
    if (whence == SEEK_SET) pos = c->stream->Seek(c->base + int64_t(off), soBeginning);
    else if (whence == SEEK_CUR) pos = c->stream->Seek(int64_t(off), soCurrent);
    else pos = c->stream->Seek(int64_t(off), soEnd);
    return toff_t(pos - c->base);
  } catch (...) {
    return toff_t(-1);
  }
}

int TiffClose(thandle_t h) {
  delete static_cast<TiffClient*>(h);
  return 0;
}

toff_t TiffSize(thandle_t h) {
  auto* c = static_cast<TiffClient*>(h);
  try {
    return toff_t(c->stream->Size() - c->base);
  } catch (...) {
    return 0;
  }
}

int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffSilent(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TIFF* TiffOpenStream(TStream& stream, int mode) {
  static const char* const kModes[] = {"r", "w", "a"};
  if (mode < 0 || mode > 2) return nullptr;
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffSilent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffSilent, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(256) << 20);
  auto* client = new TiffClient{&stream, stream.Position()};
  // "m": no memory mapping, the stream is read through the procedures.
  std::string m = std::string(kModes[mode]) + "m";
  TIFF* tif = TIFFClientOpenExt("", m.c_str(), client, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                TiffSize, TiffMap, TiffUnmap, opts);
  TIFFOpenOptionsFree(opts);
  // A refused open cleans up without the close procedure, so the client is ours to free.
  if (!tif) delete client;
  return tif;
}

int TiffDirectoryCount(TIFF* tif) {
  if (!TIFFSetDirectory(tif, 0)) return 0;
  int n = 1;
  // libtiff stops at a directory loop, so a hostile chain ends.
  while (TIFFReadDirectory(tif)) ++n;
  return n;
}

void TiffGetField3(TIFF* tif, uint32_t tag, uint16_t** a, uint16_t** b, uint16_t** c) {
  if (!TIFFGetField(tif, tag, a, b, c)) RaiseTiffError("TIFFGetField3: Tag = " + std::to_string(tag));
}

void TiffSetIntField(TIFF* tif, uint32_t tag, int value) {
  if (!TIFFSetField(tif, tag, value)) RaiseTiffError("TIFFSetIntField: Tag = " + std::to_string(tag));
}

void TiffSetFloatField(TIFF* tif, uint32_t tag, double value) {
  if (!TIFFSetField(tif, tag, value))
    RaiseTiffError("TIFFSetFloatField: Tag = " + std::to_string(tag));
}

void TiffSetField(TIFF* tif, uint32_t tag, const char* value) {
  if (!TIFFSetField(tif, tag, value)) RaiseTiffError("TIFFSetField: Tag = " + std::to_string(tag));
}

void TiffSetColormap(TIFF* tif, uint16_t* red, uint16_t* green, uint16_t* blue) {
  if (!TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue)) RaiseTiffError("TIFFSetColormap");
}

// --- JPEG ---------------------------------------------------------------------

namespace {

void JpegErrorExit(j_common_ptr c) {
  auto* e = reinterpret_cast<JpegErrorManager*>(c->err);
  c->err->format_message(c, e->message);
  longjmp(e->jump, 1);
}

void JpegSilent(j_common_ptr) {}

void InstallErrorManager(JpegErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.output_message = JpegSilent;
}

}  // namespace

// The source and destination managers find their object through client_data.
namespace {
void SrcInit(j_decompress_ptr) {}
}  // namespace

TJpegDecompress::TJpegDecompress(TStream& stream) : stream_(stream) {
  InstallErrorManager(err_);
  info_.err = &err_.pub;
  if (!JpegGuard(err_, [&] { jpeg_create_decompress(&info_); })) Raise();
  created_ = true;
  info_.client_data = this;
  src_.init_source = SrcInit;
  src_.fill_input_buffer = [](j_decompress_ptr c) -> boolean {
    auto* self = static_cast<TJpegDecompress*>(c->client_data);
    int64_t n = -1;
    try {
      n = self->stream_.Read(self->buffer_, sizeof self->buffer_);
    } catch (...) {
      n = -1;
    }
    // A short file fails instead of decoding a grey tail.
    if (n <= 0) ERREXIT(c, JERR_INPUT_EOF);
    c->src->next_input_byte = self->buffer_;
    c->src->bytes_in_buffer = size_t(n);
    return TRUE;
  };
  src_.skip_input_data = [](j_decompress_ptr c, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* s = c->src;
    while (count > long(s->bytes_in_buffer)) {
      count -= long(s->bytes_in_buffer);
      s->bytes_in_buffer = 0;
      s->fill_input_buffer(c);
    }
    s->next_input_byte += count;
    s->bytes_in_buffer -= size_t(count);
  };
  src_.resync_to_restart = jpeg_resync_to_restart;
  src_.term_source = [](j_decompress_ptr) {};
  info_.src = &src_;
}

TJpegDecompress::~TJpegDecompress() {
  if (created_) jpeg_destroy_decompress(&info_);
}

void TJpegDecompress::Raise() { throw EJpegError(err_.message); }

void TJpegDecompress::ReadHeader() {
  if (!JpegGuard(err_, [&] { jpeg_read_header(&info_, TRUE); })) Raise();
}

JpegImageInfo TJpegDecompress::GetImageInfo() const {
  return {int(info_.output_width), int(info_.output_height), info_.output_components,
          info_.density_unit,      info_.X_density,          info_.Y_density,
          int(info_.jpeg_color_space)};
}

void TJpegDecompress::SetOutColorSpace(J_COLOR_SPACE space) { info_.out_color_space = space; }

void TJpegDecompress::Start() {
  if (!JpegGuard(err_, [&] { jpeg_start_decompress(&info_); })) Raise();
}

void TJpegDecompress::ReadRows(uint8_t* first, ptrdiff_t stride, int rows, bool swapRedBlue) {
  const int width = int(info_.output_width);
  const bool ok = JpegGuard(err_, [&] {
    for (int y = 0; y < rows; ++y) {
      JSAMPROW row = first + y * stride;
      jpeg_read_scanlines(&info_, &row, 1);
      if (swapRedBlue)
        for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
  });
  if (!ok) Raise();
}

void TJpegDecompress::Finish() {
  if (!JpegGuard(err_, [&] { jpeg_finish_decompress(&info_); })) Raise();
}

TJpegCompress::TJpegCompress(TStream& stream) : stream_(stream) {
  InstallErrorManager(err_);
  info_.err = &err_.pub;
  if (!JpegGuard(err_, [&] { jpeg_create_compress(&info_); })) Raise();
  created_ = true;
  info_.client_data = this;
  dest_.init_destination = [](j_compress_ptr c) {
    auto* self = static_cast<TJpegCompress*>(c->client_data);
    c->dest->next_output_byte = self->buffer_;
    c->dest->free_in_buffer = sizeof self->buffer_;
  };
  dest_.empty_output_buffer = [](j_compress_ptr c) -> boolean {
    auto* self = static_cast<TJpegCompress*>(c->client_data);
    bool ok = false;
    try {
      ok = self->stream_.Write(self->buffer_, sizeof self->buffer_) == int64_t(sizeof self->buffer_);
    } catch (...) {
      ok = false;
    }
    if (!ok) ERREXIT(c, JERR_FILE_WRITE);
    c->dest->next_output_byte = self->buffer_;
    c->dest->free_in_buffer = sizeof self->buffer_;
    return TRUE;
  };
  dest_.term_destination = [](j_compress_ptr c) {
    auto* self = static_cast<TJpegCompress*>(c->client_data);
    const int64_t n = int64_t(sizeof self->buffer_ - c->dest->free_in_buffer);
    bool ok = false;
    try {
      ok = self->stream_.Write(self->buffer_, n) == n;
    } catch (...) {
      ok = false;
    }
    if (!ok) ERREXIT(c, JERR_FILE_WRITE);
  };
  info_.dest = &dest_;
}

TJpegCompress::~TJpegCompress() {
  if (created_) jpeg_destroy_compress(&info_);
}

void TJpegCompress::Raise() { throw EJpegError(err_.message); }

void TJpegCompress::SetCompressParams(int width, int height, int components, int densityUnit,
                                      int xDensity, int yDensity, J_COLOR_SPACE inColorSpace,
                                      int quality, bool progressive, bool optimize) {
  info_.image_width = JDIMENSION(width);
  info_.image_height = JDIMENSION(height);
  info_.input_components = components;
  info_.in_color_space = inColorSpace;
  rowSize_ = size_t(width) * size_t(components);
  row_ = std::make_unique<uint8_t[]>(rowSize_);
  const bool ok = JpegGuard(err_, [&] {
    jpeg_set_defaults(&info_);
    info_.density_unit = UINT8(densityUnit);
    info_.X_density = UINT16(xDensity);
    info_.Y_density = UINT16(yDensity);
    jpeg_set_quality(&info_, quality, TRUE);
    if (progressive) jpeg_simple_progression(&info_);
    info_.optimize_coding = optimize ? TRUE : FALSE;
  });
  if (!ok) Raise();
}

void TJpegCompress::Start() {
  if (!JpegGuard(err_, [&] { jpeg_start_compress(&info_, TRUE); })) Raise();
}

void TJpegCompress::WriteRows(const uint8_t* first, ptrdiff_t stride, int rows, bool swapRedBlue) {
  uint8_t* buf = row_.get();
  const size_t n = rowSize_;
  const bool ok = JpegGuard(err_, [&] {
    for (int y = 0; y < rows; ++y) {
      // libjpeg only reads the rows it is given.
      JSAMPROW row = const_cast<uint8_t*>(first + y * stride);
      if (swapRedBlue) {
        std::memcpy(buf, row, n);
        for (size_t x = 0; x + 2 < n; x += 3) std::swap(buf[x], buf[x + 2]);
        row = buf;
      }
      jpeg_write_scanlines(&info_, &row, 1);
    }
  });
  if (!ok) Raise();
}

void TJpegCompress::Finish() {
  if (!JpegGuard(err_, [&] { jpeg_finish_compress(&info_); })) Raise();
}

// --- PNG ----------------------------------------------------------------------

namespace {

void PngError(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngErrorContext*>(png_get_error_ptr(png));
  std::snprintf(ctx->message, sizeof ctx->message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep data, size_t length) {
  auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = stream->Read(data, int64_t(length)) == int64_t(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "Read Error");
}

void PngWrite(png_structp png, png_bytep data, size_t length) {
  auto* stream = static_cast<TStream*>(png_get_io_ptr(png));
  bool ok = false;
  try {
    ok = stream->Write(data, int64_t(length)) == int64_t(length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "Write Error");
}

void PngFlush(png_structp) {}

}  // namespace

TPngHandle::TPngHandle(bool write, TStream& stream) : write_(write) {
  png = write ? png_create_write_struct(PNG_LIBPNG_VER_STRING, &err_, PngError, PngWarning)
              : png_create_read_struct(PNG_LIBPNG_VER_STRING, &err_, PngError, PngWarning);
  if (!png)
    throw EPNGError(write ? "png_create_write_struct failed" : "png_create_read_struct failed");
  info = png_create_info_struct(png);
  if (!info) {
    if (write) png_destroy_write_struct(&png, nullptr);
    else png_destroy_read_struct(&png, nullptr, nullptr);
    throw EPNGError("png_create_info_struct failed");
  }
  if (write) png_set_write_fn(png, &stream, PngWrite, PngFlush);
  else png_set_read_fn(png, &stream, PngRead);
}

TPngHandle::~TPngHandle() {
  if (write_) png_destroy_write_struct(&png, &info);
  else png_destroy_read_struct(&png, &info, nullptr);
}

void TPngHandle::Raise() const { throw EPNGError(err_.message); }
