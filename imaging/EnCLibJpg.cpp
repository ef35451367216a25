#include "imaging/EnCLib.h"

#include <cstring>

#include <jerror.h>

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
