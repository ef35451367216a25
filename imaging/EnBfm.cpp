#include "imaging/EnBfm.h"

#include <string>
#include <vector>

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

uint32_t ReadU32(TStream& s, bool& ok) {
  uint8_t b[4];
  ok = s.Read(b, 4) == 4;
  return ok ? LoadLE<uint32_t>(b) : 0;
}

void WriteU32(TStream& s, uint32_t v) {
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  s.WriteBuffer(b, 4);
}

[[noreturn]] void DcxNotValid() { throw EDcxError("The DCX file header is not valid"); }

void CheckDcxMagic(TStream& s) {
  bool ok;
  if (ReadU32(s, ok) != TDcxGraphic::kMagic || !ok) DcxNotValid();
}

// The offsets of the pages, from the table after the magic. The table ends at
// its first 0 or where the first page begins, whichever comes first.
std::vector<uint32_t> ReadDcxTable(TStream& s, int64_t base) {
  std::vector<uint32_t> offsets;
  int64_t tableEnd = base + TDcxGraphic::kFirstPage;
  while (s.Position() < tableEnd) {
    bool ok;
    uint32_t v = ReadU32(s, ok);
    if (!ok) DcxNotValid();
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
    uint8_t head[16] = {};
    const bool haveDpi = s.Read(head, 16) == 16;
    s.SetPosition(0);
    BfmReadImage(s, *this, "File.pcx", "");
    // A header without a resolution keeps the screen's, which printing divides by.
    const int xDpi = LoadLE<uint16_t>(head + 12), yDpi = LoadLE<uint16_t>(head + 14);
    if (haveDpi && xDpi) SetXDotsPerInch(uint16_t(xDpi));
    if (haveDpi && yDpi) SetYDotsPerInch(uint16_t(yDpi));
  });
}

void TPcxGraphic::SaveToStream(TStream& stream) {
  const int64_t start = stream.Position();
  BfmWriteImage(stream, *this, "File.pcx");
  const int64_t end = stream.Position();
  stream.SetPosition(start + 12);
  const uint8_t dpi[4] = {uint8_t(XDotsPerInch()), uint8_t(XDotsPerInch() >> 8),
                          uint8_t(YDotsPerInch()), uint8_t(YDotsPerInch() >> 8)};
  stream.WriteBuffer(dpi, 4);
  // Left after the page, so whatever is written next does not overwrite it.
  stream.SetPosition(end);
}

// --- DCX ----------------------------------------------------------------------

int TDcxGraphic::ImageCountInStream(TStream& stream) {
  const int64_t base = stream.Position();
  CheckDcxMagic(stream);
  return int(ReadDcxTable(stream, base).size());
}

void TDcxGraphic::LoadImageFromStream(TStream& stream, int index) {
  const int64_t base = stream.Position();
  CheckDcxMagic(stream);
  const std::vector<uint32_t> offsets = ReadDcxTable(stream, base);
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
  std::vector<uint8_t> table(kFirstPage, 0);
  const uint32_t first[2] = {kMagic, uint32_t(kFirstPage)};
  for (int i = 0; i < 8; ++i) table[size_t(i)] = uint8_t(first[i / 4] >> (8 * (i % 4)));
  stream.WriteBuffer(table.data(), int64_t(table.size()));
  TPcxGraphic::SaveToStream(stream);
}

void TDcxGraphic::AppendImageToStream(TStream& stream) {
  if (stream.Size() == 0) return SaveToStream(stream);
  const int64_t size = stream.Size();
  stream.SetPosition(0);
  CheckDcxMagic(stream);
  bool ok;
  const uint32_t first = ReadU32(stream, ok);
  if (!ok || first == 0) DcxNotValid();
  // The table ends where the first page begins; a foreign file may start it early.
  const int64_t tableEnd = std::min<int64_t>(first, kFirstPage);
  uint32_t v = first;
  while (v != 0) {
    if (stream.Position() >= tableEnd) throw EDcxError("The DCX file header is full");
    v = ReadU32(stream, ok);
    if (!ok) DcxNotValid();
  }
  const int64_t zeroAt = stream.Position() - 4;
  if (stream.Position() >= tableEnd) throw EDcxError("The DCX file header is full");
  if (size > 0xFFFFFFFFll) DcxNotValid();
  stream.SetPosition(zeroAt);
  WriteU32(stream, uint32_t(size));
  WriteU32(stream, 0);
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
