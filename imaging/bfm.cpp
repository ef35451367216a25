#include "imaging/bfm.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "core/SysUtils.h"

namespace {

using namespace bfmfmt;

struct FormatRoutines {
  BFMFT ft;
  int (*header)(TStream&, BFM&, const char*);
  int (*palette)(TStream&, BFM&, BfmRgb*);
  int (*data)(TStream&, BFM&, uint8_t*, size_t);
  int (*write)(TStream&, const BFM&, const BfmRgb*, const uint8_t*, const char*);
  const char* (*err)(int);
};

const char* BmpErr(int code) {
  switch (code) {
    case BFM_ERR_BMP_PLANES: return "number of bitmap planes is not 1";
    case BFM_ERR_BMP_BITCOUNT: return "bit count not 1, 4, 8 or 24";
    case BFM_ERR_BMP_CBFIX: return "cbFix bad";
    case BFM_ERR_BMP_COMPRESSION: return "compression type not uncompressed, RLE4 or RLE8";
    case BFM_ERR_BMP_INDEX: return "less bitmaps in file than index requested";
  }
  return nullptr;
}

const char* TgaErr(int code) {
  switch (code) {
    case BFM_ERR_TGA_BPP: return "bits per pixel not 8, 16, 24 or 32";
    case BFM_ERR_TGA_COMPRESSION: return "unsupported compression type for bits per pixel";
    case BFM_ERR_TGA_MAP_ENTRY: return "color map entry size not 24 bits per pixel";
    case BFM_ERR_TGA_SHORT: return "file shorter than its image data";
  }
  return nullptr;
}

const char* PcxErr(int code) {
  switch (code) {
    case BFM_ERR_PCX_VERSION: return "version number not 4 or 5";
    case BFM_ERR_PCX_ENCODING: return "encoding mode not 1";
    case BFM_ERR_PCX_PLANES: return "unsupported bpp/plane / plane combination";
    case BFM_ERR_PCX_TRAILER: return "corrupt file trailer";
  }
  return nullptr;
}

const FormatRoutines kFormats[3] = {
    {{"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8", 0xFF},
     BmpHeader, BmpPalette, BmpData, BmpWrite, BmpErr},
    {{"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC", 0xFF}, PcxHeader, PcxPalette, PcxData,
     PcxWrite, PcxErr},
    {{"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI", 0xCC}, TgaHeader, TgaPalette,
     TgaData, TgaWrite, TgaErr},
};
constexpr int kFormatCount = 3;

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

bool SameText(const char* a, size_t n, const char* b) {
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

// Stream failures and exhausted memory become result codes.
template <typename Fn>
int Guarded(Fn fn, int streamError) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return BFM_ERR_MEM;
  } catch (const std::exception&) {
    return streamError;
  }
}

}  // namespace

int64_t BfmRowBytes(int64_t width, int bpp) { return ((width * bpp + 31) / 32) * 4; }

bool BfmHasOption(const char* options, const char* word) {
  if (!options) return false;
  const char* p = options;
  while (*p) {
    while (*p && IsSeparator(*p)) ++p;
    const char* start = p;
    while (*p && !IsSeparator(*p)) ++p;
    if (p > start && SameText(start, size_t(p - start), word)) return true;
  }
  return false;
}

int bfm_init() { return BFM_OK; }
int bfm_deinit() { return BFM_OK; }

int bfm_query_n_filetypes(int* n) {
  if (!n) return BFM_ERR_BAD_ARG;
  *n = kFormatCount;
  return BFM_OK;
}

int bfm_guess_filetype(const char* fileName, int* index) {
  if (!fileName || !index) return BFM_ERR_BAD_ARG;
  std::string ext = ExtractFileExt(fileName);
  if (!ext.empty()) ext.erase(0, 1);
  for (int i = 0; i < kFormatCount; ++i) {
    const char* p = kFormats[i].ft.extensions;
    while (*p) {
      while (*p && IsSeparator(*p)) ++p;
      const char* start = p;
      while (*p && !IsSeparator(*p)) ++p;
      if (p > start && SameText(start, size_t(p - start), ext.c_str())) {
        *index = i;
        return BFM_OK;
      }
    }
  }
  return BFM_ERR_NOT_FOUND;
}

int bfm_query_filetype(int index, BFMFT* ft) {
  if (!ft || index < 0 || index >= kFormatCount) return BFM_ERR_BAD_ARG;
  *ft = kFormats[index].ft;
  return BFM_OK;
}

int bfm_read_header(const char* fileName, TStream* stream, int index, BFM* header,
                    const char* options) {
  if (!fileName || !stream || !header || !options || index < 0 || index >= kFormatCount)
    return BFM_ERR_BAD_ARG;
  return Guarded([&] { return kFormats[index].header(*stream, *header, options); }, BFM_ERR_READ);
}

int bfm_read_palette(TStream* stream, int index, BFM* header, BfmRgb* palette) {
  if (!stream || !header || !palette || index < 0 || index >= kFormatCount) return BFM_ERR_BAD_ARG;
  return Guarded([&] { return kFormats[index].palette(*stream, *header, palette); }, BFM_ERR_READ);
}

int bfm_read_data(TStream* stream, int index, BFM* header, uint8_t* data, size_t dataSize) {
  if (!stream || !header || !data || index < 0 || index >= kFormatCount) return BFM_ERR_BAD_ARG;
  if (header->w <= 0 || header->h <= 0 ||
      uint64_t(BfmRowBytes(header->w, header->bpp)) * uint64_t(header->h) > dataSize)
    return BFM_ERR_BAD_ARG;
  return Guarded([&] { return kFormats[index].data(*stream, *header, data, dataSize); },
                 BFM_ERR_READ);
}

int bfm_write(const char* fileName, TStream* stream, int index, BFM* header,
              const BfmRgb* palette, const uint8_t* data, const char* options) {
  if (!fileName || !stream || !header || !palette || !data || !options || index < 0 ||
      index >= kFormatCount)
    return BFM_ERR_BAD_ARG;
  const int bpp = header->bpp;
  const int slot = bpp == 1 ? 0 : bpp == 4 ? 1 : bpp == 8 ? 2 : bpp == 24 ? 3 : -1;
  if (slot < 0 || !(kFormats[index].ft.flags & (0x10u << slot))) return BFM_ERR_NOT_SUPP;
  if (header->w <= 0 || header->h <= 0) return BFM_ERR_SIZE;
  return Guarded([&] { return kFormats[index].write(*stream, *header, palette, data, options); },
                 BFM_ERR_WRITE);
}

const char* bfm_err(int code) {
  static const char* const kTexts[] = {"ok",
                                       "out of memory",
                                       "not supported",
                                       "bad option(s)",
                                       "not found",
                                       "bad magic number / signiture block",
                                       "bad bitmap size",
                                       "can't read file",
                                       "can't write file",
                                       "bad argument to bfm function"};
  if (code >= 0 && code <= 9) return kTexts[code];
  for (const FormatRoutines& f : kFormats)
    if (const char* t = f.err(code)) return t;
  return "general error";
}

namespace bfmfmt {

ReadAhead::ReadAhead(TStream& s) : s_(s) {
  if (auto* m = dynamic_cast<TMemoryStream*>(&s)) {
    const int64_t at = m->Position(), size = m->Size();
    if (at < size) {
      data_ = reinterpret_cast<const uint8_t*>(m->Memory()) + at;
      fill_ = size - at;
    }
    m->Seek(0, soEnd);
  }
}

bool ReadAhead::Refill() {
  if (data_ != buf_) return false;  // all of a stream in memory is there already
  int64_t n = s_.Read(buf_, sizeof buf_);
  pos_ = 0;
  fill_ = n > 0 ? int(n) : 0;
  return fill_ > 0;
}

int64_t BytesFrom(TStream& s, int64_t pos) {
  int64_t size = s.Size();
  return size > pos ? size - pos : 0;
}

bool ReadExact(TStream& s, void* p, int64_t n) { return s.Read(p, n) == n; }
bool WriteExact(TStream& s, const void* p, int64_t n) { return s.Write(p, n) == n; }

}  // namespace bfmfmt
