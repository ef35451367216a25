#include "imaging/EnBfm.h"

#include <string>
#include <vector>

#include "core/ByteIO.h"
#include "imaging/bfm.h"

namespace {

int FormatOfBits(int bits) {
  switch (bits) {
    case 1: return ifBlackWhite;
    case 4: return ifColor16;
    case 8: return ifColor256;
    case 24: return ifTrueColor;
  }
  throw EBfmError("Internal error: Invalid image format");
}

int BitsOfFormat(int format) {
  switch (format) {
    case ifBlackWhite: return 1;
    case ifGray16:
    case ifColor16: return 4;
    case ifGray256:
    case ifColor256: return 8;
    case ifTrueColor: return 24;
  }
  throw EBfmError("Internal error: Invalid image format");
}

// A page that does not start its stream is read from a copy, so that offsets
// count from the page's own start.
template <typename Fn>
void AtStart(TStream& stream, Fn load) {
  if (stream.Position() == 0) return load(stream);
  TMemoryStream copy;
  copy.CopyFrom(stream, stream.Size() - stream.Position());
  copy.SetPosition(0);
  load(copy);
}

[[noreturn]] void DcxNotValid() { throw EDcxError("The DCX file header is not valid"); }

// Table reads go through one reader whose short read is the not-valid error.
ByteReader DcxReader(TStream& s) { return ByteReader(s, DcxNotValid); }

void WriteBytes(TStream& s, const ByteWriter& w) { s.WriteBuffer(w.Str().data(), int64_t(w.Size())); }

void CheckDcxMagic(ByteReader& r) {
  if (r.U32() != TDcxGraphic::kMagic) DcxNotValid();
}

// The offsets of the pages, from the table after the magic. The table ends at
// its first 0 or where the first page begins, whichever comes first.
std::vector<uint32_t> ReadDcxTable(ByteReader& r, int64_t base) {
  std::vector<uint32_t> offsets;
  int64_t tableEnd = base + TDcxGraphic::kFirstPage;
  while (int64_t(r.Pos()) < tableEnd) {
    const uint32_t v = r.U32();
    if (v == 0) break;
    if (offsets.empty()) tableEnd = std::min<int64_t>(tableEnd, base + v);
    offsets.push_back(v);
  }
  return offsets;
}

}  // namespace

// The step that failed, then what the format module says was wrong with the file.
[[noreturn]] static void RaiseBfm(const char* step, int code) {
  throw EBfmError(std::string(step) + " (" + bfm_err(code) + ")");
}

void BfmReadImage(TStream& stream, TDibGraphic& image, const char* typeName, const char* options) {
  int index = 0;
  if (bfm_guess_filetype(typeName, &index) != BFM_OK) throw EBfmError("bfm_guess_filetype failed.");
  BFM header{};
  if (const int rc = bfm_read_header(typeName, &stream, index, &header, options); rc != BFM_OK)
    RaiseBfm("bfm_read_header failed.", rc);
  const int format = FormatOfBits(header.bpp);
  TLogPalette palette{};
  if (format != ifTrueColor) {
    BfmRgb entries[256] = {};
    if (const int rc = bfm_read_palette(&stream, index, &header, entries); rc != BFM_OK)
      RaiseBfm("bfm_read_palette failed.", rc);
    palette.palVersion = 0x300;
    palette.palNumEntries = uint16_t(1 << header.bpp);
    for (int i = 0; i < palette.palNumEntries; ++i)
      palette.palPalEntry[i] = {entries[i].r, entries[i].g, entries[i].b, 0};
  }
  image.NewImage(header.w, header.h, format, format == ifTrueColor ? nullptr : &palette, 0, 0);
  if (const int rc = bfm_read_data(&stream, index, &header, image.Bits(), image.ImageSize()); rc != BFM_OK)
    RaiseBfm("bfm_read_data failed.", rc);
}

void BfmWriteImage(TStream& stream, const TDibGraphic& image, const char* typeName) {
  int index = 0;
  if (bfm_guess_filetype(typeName, &index) != BFM_OK) throw EBfmError("bfm_guess_filetype failed.");
  if (image.IsEmpty()) throw EImagingError("The image is empty");
  BFM header{};
  header.w = image.Width();
  header.h = image.Height();
  header.bpp = BitsOfFormat(image.ImageFormat());
  BfmRgb palette[256] = {};
  if (image.ImageFormat() != ifTrueColor)
    for (int i = 0; i < image.LogPalette().palNumEntries && i < 256; ++i) {
      const TPaletteEntry& e = image.LogPalette().palPalEntry[i];
      palette[i] = {e.peRed, e.peGreen, e.peBlue};
    }
  if (bfm_write(typeName, &stream, index, &header, palette, image.Bits(), "") != BFM_OK)
    throw EBfmError("bfm_write failed.");
}

// --- PCX ----------------------------------------------------------------------

void TPcxGraphic::LoadImageFromStream(TStream& stream, int) {
  AtStart(stream, [this](TStream& s) {
    ByteReader r(s);
    int xDpi = 0, yDpi = 0;
    if (r.Has(16)) {
      r.Skip(12);
      xDpi = r.U16();
      yDpi = r.U16();
    }
    s.SetPosition(0);
    BfmReadImage(s, *this, "File.pcx", "");
    // A header without a resolution keeps the screen's, which printing divides by.
    if (xDpi) SetXDotsPerInch(uint16_t(xDpi));
    if (yDpi) SetYDotsPerInch(uint16_t(yDpi));
  });
}

void TPcxGraphic::SaveToStream(TStream& stream) {
  const int64_t start = stream.Position();
  BfmWriteImage(stream, *this, "File.pcx");
  const int64_t end = stream.Position();
  stream.SetPosition(start + 12);
  ByteWriter dpi;
  dpi.U16(uint16_t(XDotsPerInch()));
  dpi.U16(uint16_t(YDotsPerInch()));
  WriteBytes(stream, dpi);
  // Left after the page, so whatever is written next does not overwrite it.
  stream.SetPosition(end);
}

// --- DCX ----------------------------------------------------------------------

int TDcxGraphic::ImageCountInStream(TStream& stream) {
  const int64_t base = stream.Position();
  ByteReader r = DcxReader(stream);
  CheckDcxMagic(r);
  return int(ReadDcxTable(r, base).size());
}

void TDcxGraphic::LoadImageFromStream(TStream& stream, int index) {
  const int64_t base = stream.Position();
  ByteReader r = DcxReader(stream);
  CheckDcxMagic(r);
  const std::vector<uint32_t> offsets = ReadDcxTable(r, base);
  if (index < 1 || index > int(offsets.size())) DcxNotValid();
  const int64_t size = stream.Size() - base;
  const int64_t begin = offsets[size_t(index - 1)];
  const int64_t end = index < int(offsets.size()) ? offsets[size_t(index)] : size;
  // Foreign files may keep a shorter table; a page never starts inside the magic.
  if (begin < 8 || end <= begin || end > size) DcxNotValid();
  TMemoryStream page;
  stream.SetPosition(base + begin);
  if (page.CopyFrom(stream, end - begin) != end - begin) DcxNotValid();
  page.SetPosition(0);
  TPcxGraphic::LoadImageFromStream(page, 1);
}

void TDcxGraphic::SaveToStream(TStream& stream) {
  ByteWriter table;
  table.U32(kMagic);
  table.U32(uint32_t(kFirstPage));
  table.Zeros(size_t(kFirstPage) - table.Size());
  WriteBytes(stream, table);
  TPcxGraphic::SaveToStream(stream);
}

void TDcxGraphic::AppendImageToStream(TStream& stream) {
  if (stream.Size() == 0) return SaveToStream(stream);
  const int64_t size = stream.Size();
  stream.SetPosition(0);
  ByteReader r = DcxReader(stream);
  CheckDcxMagic(r);
  const uint32_t first = r.U32();
  if (first == 0) DcxNotValid();
  // The table ends where the first page begins; a foreign file may start it early.
  const int64_t tableEnd = std::min<int64_t>(first, kFirstPage);
  uint32_t v = first;
  while (v != 0) {
    if (stream.Position() >= tableEnd) throw EDcxError("The DCX file header is full");
    v = r.U32();
  }
  const int64_t zeroAt = stream.Position() - 4;
  if (stream.Position() >= tableEnd) throw EDcxError("The DCX file header is full");
  if (size > 0xFFFFFFFFll) DcxNotValid();
  stream.SetPosition(zeroAt);
  ByteWriter entries;
  entries.U32(uint32_t(size));
  entries.U32(0);
  WriteBytes(stream, entries);
  stream.Seek(0, soEnd);
  TPcxGraphic::SaveToStream(stream);
}

// --- Targa --------------------------------------------------------------------

void TTgaGraphic::LoadFromStream(TStream& stream) {
  AtStart(stream, [this](TStream& s) { BfmReadImage(s, *this, "File.tga", ""); });
}

void TTgaGraphic::LoadImageFromStream(TStream& stream, int) { LoadFromStream(stream); }

void TTgaGraphic::SaveToStream(TStream& stream) {
  const int f = ImageFormat();
  if (f != ifGray256 && f != ifColor256 && f != ifTrueColor)
    throw ETgaError("TARGA image must be true color or 8 bit with palette");
  BfmWriteImage(stream, *this, "File.tga");
}
