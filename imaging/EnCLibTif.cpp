#include "imaging/EnCLib.h"

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
