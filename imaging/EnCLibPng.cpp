#include "imaging/EnCLib.h"

#include <cstdio>

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
