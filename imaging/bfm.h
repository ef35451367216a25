#pragma once
// The library's own bitmap format module: Bitmap, PCX and Targa read and write
// on streams through a table of per-format routines. Routines return result
// codes and never raise; bfm_err gives their texts. Offsets count from the
// start of the stream.
#include <cstddef>
#include <cstdint>

#include "core/ByteIO.h"
#include "core/Streams.h"

enum : int {
  BFM_OK = 0,
  BFM_ERR_MEM = 1,
  BFM_ERR_NOT_SUPP = 2,
  BFM_ERR_BAD_OPT = 3,
  BFM_ERR_NOT_FOUND = 4,
  BFM_ERR_MAGIC = 5,
  BFM_ERR_SIZE = 6,
  BFM_ERR_READ = 7,
  BFM_ERR_WRITE = 8,
  BFM_ERR_BAD_ARG = 9,
};

// Each format's own codes; bfm_err asks the format for their texts.
enum : int {
  BFM_ERR_BMP_PLANES = 300,       // planes not 1
  BFM_ERR_BMP_BITCOUNT = 301,     // bit count not 1, 4, 8 or 24
  BFM_ERR_BMP_CBFIX = 302,        // info header size not one of the known ones
  BFM_ERR_BMP_COMPRESSION = 303,  // not uncompressed, RLE4 or RLE8
  BFM_ERR_BMP_INDEX = 304,        // fewer bitmaps than the index asks for

  BFM_ERR_TGA_BPP = 400,          // pixel depth the image type does not allow
  BFM_ERR_TGA_COMPRESSION = 401,  // unknown image type
  BFM_ERR_TGA_MAP_ENTRY = 402,    // colour map entries not 24 bits
  BFM_ERR_TGA_SHORT = 403,        // fewer bytes than the header's pixels need

  BFM_ERR_PCX_VERSION = 700,      // version byte past the known ones
  BFM_ERR_PCX_ENCODING = 701,     // encoding byte not 1 (run-length)
  BFM_ERR_PCX_PLANES = 702,       // bits per plane and planes not a known pair
  BFM_ERR_PCX_TRAILER = 703,      // 256-colour palette trailer missing or cut
};

// What a format read from its header, kept for the palette and data reads.
struct BfmPrivate {
  int32_t version, planes, bitsPerPlane, bytesPerLine;  // PCX
  int32_t trunc;                                         // PCX "trunc"
  int32_t idLength, mapType, imageType, mapFirst, mapLength, mapEntryBits, depth, descriptor;  // Targa
  int64_t base, offBits;                                 // Bitmap
  int32_t cbFix, compression, colorsUsed, inv, invb, topDown;  // Bitmap
};

struct BFM {
  int32_t w, h, bpp;
  BfmPrivate priv;
};

struct BfmRgb {
  uint8_t r, g, b;
};

struct BFMFT {
  const char* shortName;
  const char* longName;
  const char* extensions;
  uint32_t flags;  // bits 0-3 read 1/4/8/24 bits, bits 4-7 write them
};

// Bytes per row of pixel data: width * bits rounded up to 32 bits.
int64_t BfmRowBytes(int64_t width, int bpp);

int bfm_init();
int bfm_deinit();
int bfm_query_n_filetypes(int* n);
int bfm_guess_filetype(const char* fileName, int* index);
int bfm_query_filetype(int index, BFMFT* ft);
int bfm_read_header(const char* fileName, TStream* stream, int index, BFM* header,
                    const char* options);
int bfm_read_palette(TStream* stream, int index, BFM* header, BfmRgb* palette);
// Data holds dataSize bytes, at least height * BfmRowBytes(width, bpp).
int bfm_read_data(TStream* stream, int index, BFM* header, uint8_t* data, size_t dataSize);
int bfm_write(const char* fileName, TStream* stream, int index, BFM* header,
              const BfmRgb* palette, const uint8_t* data, const char* options);
const char* bfm_err(int code);

// Whole-word option search, without regard to case; words are separated by
// blanks, tabs or commas.
bool BfmHasOption(const char* options, const char* word);

// Per-format routines (bfmPcx.cpp, bfmTga.cpp, bfmBmp.cpp).
namespace bfmfmt {
int PcxHeader(TStream& s, BFM& h, const char* options);
int PcxPalette(TStream& s, BFM& h, BfmRgb* palette);
int PcxData(TStream& s, BFM& h, uint8_t* data, size_t dataSize);
int PcxWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data,
             const char* options);
int TgaHeader(TStream& s, BFM& h, const char* options);
int TgaPalette(TStream& s, BFM& h, BfmRgb* palette);
int TgaData(TStream& s, BFM& h, uint8_t* data, size_t dataSize);
int TgaWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data,
             const char* options);
int BmpHeader(TStream& s, BFM& h, const char* options);
int BmpPalette(TStream& s, BFM& h, BfmRgb* palette);
int BmpData(TStream& s, BFM& h, uint8_t* data, size_t dataSize);
int BmpWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data,
             const char* options);

// The next byte of a stream, or -1 at its end, read 16 KiB at a time; a
// stream in memory is scanned where it lies, and counts as read to its end.
class ReadAhead {
 public:
  explicit ReadAhead(TStream& s);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  int Next() {
    if (pos_ == fill_ && !Refill()) return -1;
    ++consumed_;
    return data_[pos_++];
  }
  int64_t Consumed() const { return consumed_; }
  // The bytes read ahead and not yet taken, for a caller that scans them in
  // place; Take(n) takes the first n.
  const uint8_t* Buffered() const { return data_ + pos_; }
  int64_t BufferedCount() const { return fill_ - pos_; }
  void Take(int64_t n) {
    pos_ += n;
    consumed_ += n;
  }

 private:
  bool Refill();
  TStream& s_;
  uint8_t buf_[16384];
  const uint8_t* data_ = buf_;
  int64_t pos_ = 0, fill_ = 0;
  int64_t consumed_ = 0;
};

// Bytes left in the stream from a position (0 when it lies past the end).
int64_t BytesFrom(TStream& s, int64_t pos);
// Reads exactly n bytes at the current position.
bool ReadExact(TStream& s, void* p, int64_t n);
bool WriteExact(TStream& s, const void* p, int64_t n);
}  // namespace bfmfmt
