#include "imaging/EnDiGrph.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "core/ByteIO.h"
#include "core/SaveFile.h"
#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "imaging/bfm.h"

namespace {

constexpr double kPelsPerInch = 39.37007874015748;  // 1 / 0.0254
constexpr int64_t kMaxImageBytes = 0x7FFFFFFF;        // the header's 32-bit image size

const char* const kColor256[256] = {
    "000000", "0000AA", "00AA00", "00AAAA", "AA0000", "AA00AA", "AA5500", "AAAAAA",
    "555555", "5555FF", "55FF55", "55FFFF", "FF5555", "FF55FF", "FFFF55", "FFFFFF",
    "000000", "141414", "202020", "2C2C2C", "383838", "454545", "515151", "616161",
    "717171", "828282", "929292", "A2A2A2", "B6B6B6", "CBCBCB", "E3B3B3", "FFFFFF",
    "0000FF", "4100FF", "7D00FF", "BE00FF", "FF00FF", "FF00BE", "FF007D", "FF0041",
    "FF0000", "FF4100", "FF7D00", "FFBE00", "FFFF00", "BEFF00", "7DFF00", "41FF00",
    "00FF00", "00FF41", "00FF7D", "00FFBE", "00FFFF", "00BEFF", "007DFF", "0041FF",
    "7D7DFF", "9E7DFF", "BE7DFF", "DF7DFF", "FF7DFF", "FF7DDF", "FF7DBE", "FF7D9E",
    "FF7D7D", "FF9E7D", "FFBE7D", "FFDF7D", "FFFF7D", "DFFF7D", "BEFF7D", "9EFF7D",
    "7DFF7D", "7DFF9E", "7DFFBE", "7DFFDF", "7DFFFF", "7DDFFF", "7DBEFF", "7D9EFF",
    "B6B6FF", "C7B6FF", "DBB6FF", "EBB6FF", "FFB6FF", "DFB6EB", "FFB6DB", "FFB6C7",
    "FFB6B6", "FFC7B6", "FFDBB6", "FFEBB6", "FFFFB6", "EBFFB6", "DBFFB6", "C7FFB6",
    "B6DFB6", "B6FFC7", "B6FFDB", "B6FFEB", "B6FFFF", "B6EBFF", "B6DBFF", "B6C7FF",
    "000071", "1C0071", "380071", "550071", "710071", "710055", "710038", "71001C",
    "710000", "711C00", "713800", "715500", "717100", "557100", "387100", "1C7100",
    "007100", "00711C", "007138", "007155", "007171", "005571", "003871", "001C71",
    "383871", "453871", "553871", "613871", "713871", "713861", "713855", "713845",
    "713838", "714538", "715538", "716138", "717138", "617138", "557138", "457138",
    "387138", "387145", "387155", "387161", "387171", "386171", "385571", "384571",
    "515171", "595171", "615171", "695171", "715171", "715169", "715161", "715159",
    "715151", "715951", "716151", "716951", "717151", "697151", "617151", "597151",
    "517151", "517159", "517161", "517169", "517171", "516971", "516171", "515971",
    "000041", "100041", "200041", "300041", "410041", "410030", "410020", "410010",
    "410000", "411000", "412000", "413000", "414100", "304100", "204100", "104100",
    "004100", "004110", "004120", "004130", "004141", "003041", "002041", "001041",
    "202041", "282041", "302041", "382041", "412041", "412038", "412030", "412028",
    "412020", "412820", "413020", "413820", "414120", "384120", "304120", "284120",
    "204120", "204128", "204130", "204138", "204141", "203841", "203041", "202841",
    "2C2C41", "302C41", "342C41", "3C2C41", "412C41", "412C3C", "412C34", "412C30",
    "412C2C", "41302C", "41342C", "413C2C", "41412C", "3C412C", "34412C", "30412C",
    "2C412C", "2C4130", "2C4134", "2C413C", "2C4141", "2C3C41", "2C3441", "2C3041",
    "000000", "000000", "000000", "000000", "000000", "000000", "000000", "000000",
};

TPaletteEntry EntryFromHex(const char* hex) {
  uint32_t v = static_cast<uint32_t>(std::strtoul(hex, nullptr, 16));
  return TPaletteEntry{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 0};
}

struct DefaultPalettes {
  TLogPalette pal[5]{};
  DefaultPalettes() {
    auto grey = [](TLogPalette& p, int count, int step) {
      p.palVersion = 0x300;
      p.palNumEntries = uint16_t(count);
      for (int i = 0; i < count; ++i) {
        uint8_t c = uint8_t(i * step);
        p.palPalEntry[i] = TPaletteEntry{c, c, c, 0};
      }
    };
    grey(pal[ifBlackWhite], 2, 255);
    grey(pal[ifGray16], 16, 17);
    grey(pal[ifGray256], 256, 1);
    pal[ifColor16].palVersion = 0x300;
    pal[ifColor16].palNumEntries = 16;
    pal[ifColor256].palVersion = 0x300;
    pal[ifColor256].palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
      pal[ifColor256].palPalEntry[i] = EntryFromHex(kColor256[i]);
      if (i < 16) pal[ifColor16].palPalEntry[i] = EntryFromHex(kColor256[i]);
    }
  }
};

const DefaultPalettes& Defaults() {
  static const DefaultPalettes d;
  return d;
}

int DpiFromPels(int32_t pels) {
  return static_cast<int>(RoundHalfEven(pels / kPelsPerInch));
}

int32_t PelsFromDpi(int dpi) { return static_cast<int32_t>(RoundHalfEven(dpi * kPelsPerInch)); }

[[noreturn]] void RaiseOutside(int x, int y) {
  throw EImagingError(Format("Pixel (%d, %d) is outside the image", x, y));
}

}  // namespace

int ImageFormatBits(int format) {
  switch (format & 0x7F) {
    case ifBlackWhite: return 1;
    case ifGray16:
    case ifColor16: return 4;
    case ifGray256:
    case ifColor256: return 8;
    case ifTrueColor: return 24;
  }
  throw EImagingError("Internal error: Invalid image format");
}

std::string ImageFormatName(int format) {
  switch (format) {
    case ifBlackWhite: return "Black and white";
    case ifGray16: return "16 shades of gray";
    case ifGray256: return "256 shades of gray";
    case ifColor16: return "16 color";
    case ifColor256: return "256 color";
    case ifTrueColor: return "True color";
  }
  return "";
}

int64_t BytesPerRow(int64_t width, int bits) { return BfmRowBytes(width, bits); }

void SwapRedBlue(void* buffer, int byteCount) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  for (int i = 0; i + 2 < byteCount; i += 3) std::swap(p[i], p[i + 2]);
}

const TLogPalette* DefaultPalette(int format) {
  if (format < 0 || format >= ifTrueColor) return nullptr;
  return &Defaults().pal[format];
}

// ---------------------------------------------------------------------------

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogPalette* palette) : palette_(palette) {
  for (Slot& s : cache_) s = Slot{0, 0xFFFF};
}

int TRgbToPaletteConverter::NearestIndex(RgbValue color) {
  color &= 0xFFFFFF;
  Slot& slot = cache_[color % kCacheSlots];
  if (slot.index < 0x8000 && slot.key == color) {
    ++hits_;
    return slot.index;
  }
  ++misses_;
  int r = RgbRed(color), g = RgbGreen(color), b = RgbBlue(color);
  int best = 0;
  int bestDist = 0x7FFFFFFF;
  for (int i = 0; i < palette_->palNumEntries; ++i) {
    const TPaletteEntry& e = palette_->palPalEntry[i];
    int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  slot.key = color;
  slot.index = uint16_t(best);
  return best;
}

// ---------------------------------------------------------------------------

namespace {

// A page of a scan is megabytes, all of which the decoder writes. Fresh from
// the system, faulting it in 4 KiB at a time costs as much as the decoding's
// own memory traffic, so a buffer this large gets a mapping of its own
// (already zero): in whole huge pages where the system grants them on request,
// each zeroed as the rows reach it while it is still in the cache; otherwise
// mapped in one call (on older kernels neither, and pages come as touched).
constexpr size_t kOwnMapping = size_t(1) << 20, kHugePage = size_t(2) << 20;

bool HugePagesOnRequest() {
#ifdef MADV_HUGEPAGE
  static const bool on = [] {
    std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (!f) return false;
    char text[128] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    const std::string mode(text, n);
    return mode.find("[always]") != std::string::npos || mode.find("[madvise]") != std::string::npos;
  }();
  return on;
#else
  return false;
#endif
}

bool OwnMapping(size_t bytes) { return bytes >= kOwnMapping && bytes <= SIZE_MAX / 2; }

size_t MappedLength(size_t bytes) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t unit = HugePagesOnRequest() ? kHugePage : page;
  return (bytes + unit - 1) & ~(unit - 1);
}

// One small mapping freed is kept for the next page of its size (a viewer
// going through the pages of a scan): zeroing it again, while it is in the
// cache, costs less than faulting in and zeroing a fresh one. Large ones
// would be zeroed twice over main memory, so they go back at once.
constexpr size_t kMaxSpare = size_t(2) * kHugePage;

struct SpareMapping {
  std::mutex lock;
  void* p = nullptr;
  size_t length = 0;
};

SpareMapping& Spare() {
  static SpareMapping* spare = new SpareMapping;  // never destroyed: frees may come late
  return *spare;
}

void* TakeSpare(size_t length) {
  SpareMapping& s = Spare();
  std::lock_guard<std::mutex> hold(s.lock);
  if (!s.p || s.length != length) return nullptr;
  return std::exchange(s.p, nullptr);
}

// False when the mapping is not kept and is the caller's to unmap.
bool KeepSpare(void* p, size_t length) {
  if (length > kMaxSpare) return false;
  SpareMapping& s = Spare();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.p) return false;
  s.p = p;
  s.length = length;
  return true;
}

}  // namespace

void* AllocatePixels(size_t bytes) {
  if (OwnMapping(bytes) && MappedLength(bytes) <= kMaxSpare)
    if (void* p = TakeSpare(MappedLength(bytes))) {
      std::memset(p, 0, bytes);
      return p;
    }
  if (OwnMapping(bytes)) {
    const size_t used = MappedLength(bytes), len = used + kHugePage;
    void* m = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t base = reinterpret_cast<uintptr_t>(m);
    const uintptr_t start = (base + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (start > base) munmap(m, start - base);
    if (base + len > start + used)
      munmap(reinterpret_cast<void*>(start + used), base + len - start - used);
    void* p = reinterpret_cast<void*>(start);
#ifdef MADV_HUGEPAGE
    if (HugePagesOnRequest()) madvise(p, used, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    if (!HugePagesOnRequest()) madvise(p, used, MADV_POPULATE_WRITE);
#endif
    return p;
  }
  void* p = std::calloc(bytes ? bytes : 1, 1);
  if (!p) throw std::bad_alloc();
  return p;
}

void FreePixels(void* p, size_t bytes) noexcept {
  if (!OwnMapping(bytes)) return std::free(p);
  if (!KeepSpare(p, MappedLength(bytes))) munmap(p, MappedLength(bytes));
}

TDibGraphic::TDibGraphic() = default;

TDibGraphic::~TDibGraphic() {
  if (timer_) timer_->Stop();
  timer_.reset();
  ClearFrames();
  FreeImage();
}

void TDibGraphic::SetWidth(int) {
  throw EImagingError("Dimensions must be change with the NewImage method");
}

void TDibGraphic::SetHeight(int) {
  throw EImagingError("Dimensions must be change with the NewImage method");
}

void TDibGraphic::NewImage(int width, int height, int imageFormat, const TLogPalette* palette,
                           int xDpi, int yDpi) {
  FreeImage();
  if (imageFormat < 0 || imageFormat > ifTrueColor)
    throw EImagingError("Internal error: Invalid image format");
  const int bits = ImageFormatBits(imageFormat);
  if (imageFormat != ifTrueColor && !palette) palette = DefaultPalette(imageFormat);

  // Sizes are checked before anything is allocated.
  const int64_t rowBytes = BytesPerRow(width, bits);
  if (width <= 0 || height <= 0 || rowBytes * height > kMaxImageBytes)
    throw EImagingError("CreateDibSection failed");
  try {
    bits_.resize(size_t(rowBytes * height));  // zero: fresh from AllocatePixels
  } catch (const std::bad_alloc&) {
    throw EImagingError("CreateDibSection failed");
  }

  format_ = TImageFormat(imageFormat);
  rowBytes_ = int(rowBytes);
  TBitmapInfoHeader& h = info_.bmiHeader;
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = uint16_t(bits);
  h.biCompression = dcNone;
  h.biSizeImage = uint32_t(rowBytes * height);
  h.biClrImportant = 0;
  std::memset(&logPalette_, 0, sizeof logPalette_);
  if (imageFormat != ifTrueColor) {
    // More entries than the depth can index would let the nearest colour be
    // one the pixel cannot hold.
    int count = std::min<int>(palette->palNumEntries, 1 << bits);
    h.biClrUsed = uint32_t(count);
    for (int i = 0; i < count; ++i) {
      const TPaletteEntry& e = palette->palPalEntry[i];
      info_.bmiColors[i] = TRgbQuad{e.peBlue, e.peGreen, e.peRed, 0};
    }
    logPalette_.palVersion = 0x300;
    logPalette_.palNumEntries = uint16_t(count);
    std::memcpy(logPalette_.palPalEntry, palette->palPalEntry, sizeof(TPaletteEntry) * count);
    converter_ = std::make_unique<TRgbToPaletteConverter>(&logPalette_);
  } else {
    h.biClrUsed = 0;
  }
  h.biXPelsPerMeter = PelsFromDpi(xDpi ? xDpi : ScreenDpi());
  h.biYPelsPerMeter = PelsFromDpi(yDpi ? yDpi : ScreenDpi());
}

void TDibGraphic::FreeImage() {
  converter_.reset();
  decltype(bits_)().swap(bits_);
  info_ = TBitmapInfo{};
  rowBytes_ = 0;
}

int TDibGraphic::XDotsPerInch() const { return DpiFromPels(info_.bmiHeader.biXPelsPerMeter); }
int TDibGraphic::YDotsPerInch() const { return DpiFromPels(info_.bmiHeader.biYPelsPerMeter); }
void TDibGraphic::SetXDotsPerInch(uint16_t dpi) { info_.bmiHeader.biXPelsPerMeter = PelsFromDpi(dpi); }
void TDibGraphic::SetYDotsPerInch(uint16_t dpi) { info_.bmiHeader.biYPelsPerMeter = PelsFromDpi(dpi); }

RgbValue TDibGraphic::PaletteColor(int index) const {
  const TPaletteEntry& e = logPalette_.palPalEntry[index & 0xFF];
  return MakeRgbTriple(e.peRed, e.peGreen, e.peBlue);
}

int TDibGraphic::GetPixelIndex(int x, int y) const {
  if (format_ == ifTrueColor || IsEmpty()) throw EImagingError("The image does not have a palette");
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) RaiseOutside(x, y);
  const uint8_t* row = ScanLine(y);
  switch (info_.bmiHeader.biBitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return row[x];
  }
}

void TDibGraphic::SetPixelIndex(int x, int y, int index) {
  if (format_ == ifTrueColor || IsEmpty()) throw EImagingError("The image does not have a palette");
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) RaiseOutside(x, y);
  uint8_t* row = ScanLine(y);
  switch (info_.bmiHeader.biBitCount) {
    case 1: {
      uint8_t mask = uint8_t(0x80 >> (x & 7));
      if (index > 0)
        row[x >> 3] |= mask;
      else
        row[x >> 3] &= uint8_t(~mask);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      if (x & 1)
        b = uint8_t((b & 0xF0) | (index & 0x0F));
      else
        b = uint8_t((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    default: row[x] = uint8_t(index);
  }
}

RgbValue TDibGraphic::GetPixelRGB(int x, int y) const {
  if (IsEmpty() || x < 0 || y < 0 || x >= Width() || y >= Height()) RaiseOutside(x, y);
  if (format_ != ifTrueColor) return PaletteColor(GetPixelIndex(x, y));
  const uint8_t* p = ScanLine(y) + x * 3;
  return MakeRgbTriple(p[2], p[1], p[0]);
}

void TDibGraphic::SetPixelRGB(int x, int y, RgbValue color) {
  if (IsEmpty() || x < 0 || y < 0 || x >= Width() || y >= Height()) RaiseOutside(x, y);
  if (format_ != ifTrueColor) {
    SetPixelIndex(x, y, converter_->NearestIndex(color));
    return;
  }
  uint8_t* p = ScanLine(y) + x * 3;
  p[0] = RgbBlue(color);
  p[1] = RgbGreen(color);
  p[2] = RgbRed(color);
}

void TDibGraphic::ReadRowRGB(int y, uint8_t* bgr) const {
  const uint8_t* row = ScanLine(y);
  const int w = Width();
  if (format_ == ifTrueColor) {
    std::memcpy(bgr, row, size_t(w) * 3);
    return;
  }
  uint8_t lut[256][3];
  for (int i = 0; i < 256; ++i) {
    const TPaletteEntry& e = logPalette_.palPalEntry[i];
    lut[i][0] = e.peBlue;
    lut[i][1] = e.peGreen;
    lut[i][2] = e.peRed;
  }
  const int bits = info_.bmiHeader.biBitCount;
  for (int x = 0; x < w; ++x) {
    int idx;
    if (bits == 1)
      idx = (row[x >> 3] >> (7 - (x & 7))) & 1;
    else if (bits == 4)
      idx = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    else
      idx = row[x];
    std::memcpy(bgr + x * 3, lut[idx], 3);
  }
}

void TDibGraphic::WriteRowRGB(int y, const uint8_t* bgr) {
  const int w = Width();
  if (format_ == ifTrueColor) {
    std::memcpy(ScanLine(y), bgr, size_t(w) * 3);
    return;
  }
  for (int x = 0; x < w; ++x) {
    const uint8_t* p = bgr + x * 3;
    SetPixelIndex(x, y, converter_->NearestIndex(MakeRgbTriple(p[2], p[1], p[0])));
  }
}

void TDibGraphic::Assign(const TDibGraphic* source) {
  if (source == this) return;
  FreeImage();
  if (!source || source->Width() <= 0 || source->Height() <= 0) return;
  NewImage(source->Width(), source->Height(), source->ImageFormat(),
           source->format_ == ifTrueColor ? nullptr : &source->logPalette_,
           source->XDotsPerInch(), source->YDotsPerInch());
  info_.bmiHeader.biXPelsPerMeter = source->info_.bmiHeader.biXPelsPerMeter;
  info_.bmiHeader.biYPelsPerMeter = source->info_.bmiHeader.biYPelsPerMeter;
  frameDelay_ = source->frameDelay_;
  std::memcpy(bits_.data(), source->bits_.data(), bits_.size());
}

// --- streams -----------------------------------------------------------------

void TDibGraphic::LoadFromStream(TStream& stream) {
  const bool wasAnimated = animate_;
  SetAnimate(false);
  const auto restore = ScopeExit([&] { SetAnimate(wasAnimated); });
  {
    // A load replaces the picture, so frames of an earlier load must not come
    // back through CurrentFrame or the animation.
    ClearFrames();
    bool all = loadAllFrames_;
    int64_t start = stream.Position();
    int count = 1;
    if (all) {
      count = ImageCountInStream(stream);
      if (count == 1) {
        loadAllFrames_ = false;
        all = false;
      }
    }
    if (all) {
      for (int i = 1; i <= count; ++i) {
        std::unique_ptr<TDibGraphic> frame = Create();
        stream.Seek(start, soBeginning);
        frame->LoadImageFromStream(stream, i);
        frames_.push_back(std::move(frame));
      }
      SetCurrentFrame(1);
    } else {
      stream.Seek(start, soBeginning);
      LoadImageFromStream(stream, imageIndex_);
    }
  }
}

void TDibGraphic::SaveToStream(TStream&) {}

int TDibGraphic::ImageCountInStream(TStream&) { return 1; }

void TDibGraphic::LoadImageFromStream(TStream&, int) {}

void TDibGraphic::AppendImageToStream(TStream&) {
  throw EImagingError(
      Format("The %s format does not support multiple images", ClassName().c_str()));
}

void TDibGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TDibGraphic::SaveToFile(const std::string& fileName) {
  // An encoder that refuses the image leaves the old file as it was.
  TSaveFileStream f(fileName);
  SaveToStream(f);
  f.Commit();
}

// --- frames ------------------------------------------------------------------

void TDibGraphic::ClearFrames() {
  frames_.clear();
  currentFrame_ = -1;
}

TDibGraphic& TDibGraphic::Frames(int n) {
  if (n < 1 || n > FrameCount()) throw EImagingError(Format("Frame %d does not exist", n));
  return *frames_[size_t(n - 1)];
}

void TDibGraphic::SetCurrentFrame(int n) {
  if (n == currentFrame_) return;
  TDibGraphic& frame = Frames(n);
  Assign(&frame);
  // No events run here: whoever shows the image repaints on the change, and a queued
  // handler could free the caller in the middle of it.
  Changed();
  currentFrame_ = n;
}

void TDibGraphic::SetAnimate(bool v) {
  animate_ = v;
  if (!timer_) return;
  if (v && FrameCount() > 0)
    timer_->Start(frameDelay_);
  else
    timer_->Stop();
}

void TDibGraphic::NextFrame() {
  if (FrameCount() == 0) return;
  if (timer_) timer_->Stop();
  int next = currentFrame_ + 1;
  if (next > FrameCount() || next < 1) next = 1;
  SetCurrentFrame(next);
  if (timer_) timer_->Start(frameDelay_);
}

void TDibGraphic::SetFrameTimer(std::unique_ptr<TFrameTimer> timer) {
  if (timer_) timer_->Stop();
  timer_ = std::move(timer);
  SetAnimate(animate_);
}

void TDibGraphic::Changed() {
  if (OnChange) OnChange(this);
}

// --- packed bitmaps ----------------------------------------------------------

namespace {

[[noreturn]] void RaiseInvalidHdib() { throw EImagingError("Invalid HDIB"); }

int ImageFormatOfBitCount(int bits) {
  switch (bits) {
    case 1: return ifBlackWhite;
    case 4: return ifColor16;
    case 8: return ifColor256;
    case 24: return ifTrueColor;
  }
  throw EImagingError("Unsupported bit count");
}

int MaskShift(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

int MaskBits(uint32_t mask) {
  mask >>= MaskShift(mask);
  int n = 0;
  while (mask & 1) {
    mask >>= 1;
    ++n;
  }
  return n;
}

// Widens a masked field to 8 bits.
uint8_t Field(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  int bits = MaskBits(mask);
  uint32_t f = (v & mask) >> MaskShift(mask);
  if (bits >= 8) return uint8_t(f >> (bits - 8));
  uint32_t max = (1u << bits) - 1;
  return uint8_t((f * 255 + max / 2) / max);
}

// A run-length bitmap may leave most of itself to the background (ending a row
// or the bitmap early), so a few bytes can stand for a whole page: up to an A4
// page at 600 dpi. Anything larger must be one its bytes could fill, each run
// coding at most 255 pixels in two bytes; else a tiny block could make us
// allocate hundreds of megabytes.
constexpr uint64_t kRlePagePixels = 36000000;

bool RleSizeJustified(uint64_t width, uint64_t height, size_t dataBytes) {
  const uint64_t pixels = width * height;
  return pixels <= kRlePagePixels || pixels <= uint64_t(dataBytes / 2) * 255;
}

// Run-length decoding into bottom-up rows; every write is bounds-checked.
void DecodeRle(const uint8_t* src, size_t size, int bits, TDibGraphic& img) {
  int64_t x = 0, row = 0;  // row counts from the bottom; deltas may run far past the image
  const int w = img.Width(), h = img.Height();
  auto put = [&](int index) {
    if (x < w && row < h) img.SetPixelIndex(int(x), int(h - 1 - row), index);
    ++x;
  };
  size_t i = 0;
  while (i + 1 < size && row < h) {
    uint8_t count = src[i], value = src[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count; ++k) {
        int idx = bits == 8 ? value : ((k & 1) ? (value & 0x0F) : (value >> 4));
        put(idx);
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // delta
      if (i + 2 > size) RaiseInvalidHdib();
      x += src[i];
      row += src[i + 1];
      i += 2;
    } else {  // literal run, padded to 16 bits
      int n = value;
      size_t bytes = bits == 8 ? size_t(n) : size_t((n + 1) / 2);
      if (i + bytes > size) RaiseInvalidHdib();
      for (int k = 0; k < n; ++k) {
        int idx = bits == 8 ? src[i + k] : ((k & 1) ? (src[i + k / 2] & 0x0F) : (src[i + k / 2] >> 4));
        put(idx);
      }
      i += (bytes + 1) & ~size_t(1);
    }
  }
}

// What the header of a packed bitmap says, checked against the block.
struct PackedDib {
  TBitmapInfoHeader header{};
  int height = 0;        // always positive
  bool topDown = false;  // a negative height stores the top row first
  TLogPalette palette{};
  uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  const uint8_t* pixels = nullptr;
  size_t available = 0;  // bytes from the pixels to the end of the block
};

PackedDib ReadPackedDib(const uint8_t* base, size_t size) {
  PackedDib d;
  TBitmapInfoHeader& h = d.header;
  try {
    ByteReader r(base, size);
    h.biSize = r.U32();
    h.biWidth = r.I32();
    h.biHeight = r.I32();
    h.biPlanes = r.U16();
    h.biBitCount = r.U16();
    h.biCompression = r.U32();
    h.biSizeImage = r.U32();
    h.biXPelsPerMeter = r.I32();
    h.biYPelsPerMeter = r.I32();
    h.biClrUsed = r.U32();
    h.biClrImportant = r.U32();
  } catch (const EReadError&) {
    RaiseInvalidHdib();
  }
  if (h.biSize < 40 || h.biSize > size || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biHeight == INT32_MIN)
    RaiseInvalidHdib();
  d.topDown = h.biHeight < 0;
  d.height = d.topDown ? -h.biHeight : h.biHeight;

  const int bits = h.biBitCount;
  const bool bitfields = h.biCompression == dcBitfields;
  if (bits == 16 && !bitfields) {
    d.masks[0] = 0x7C00;
    d.masks[1] = 0x03E0;
    d.masks[2] = 0x001F;
  }
  if (bitfields) {
    // The masks follow a 40-byte header, and sit at the same place in larger ones.
    if (size < 52) RaiseInvalidHdib();
    for (int i = 0; i < 3; ++i) std::memcpy(&d.masks[i], base + 40 + i * 4, 4);
  }

  uint64_t colours = bits <= 8 ? (h.biClrUsed ? h.biClrUsed : 1u << bits) : 0;
  const uint64_t table = h.biSize + (bitfields && h.biSize == 40 ? 12 : 0);
  const uint64_t offset = table + colours * 4;
  if (offset > size) RaiseInvalidHdib();
  d.palette.palVersion = 0x300;
  if (bits <= 8) {
    // A table longer than the depth allows is skipped over, not copied.
    const uint64_t n = std::min<uint64_t>(colours, uint64_t(1) << bits);
    d.palette.palNumEntries = uint16_t(n);
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t* q = base + table + i * 4;
      d.palette.palPalEntry[i] = TPaletteEntry{q[2], q[1], q[0], 0};
    }
  }
  d.pixels = base + offset;
  d.available = size - size_t(offset);
  return d;
}

int DpiOfPels(int32_t pels) {
  if (pels <= 0) return 0;
  int64_t d = RoundHalfEven(pels / kPelsPerInch);
  return (d < 0 || d > 65535) ? 0 : int(d);
}

// 16- and 32-bit pixels through their channel masks into blue, green, red.
void UnpackMaskedRow(const uint8_t* s, int width, int bits, const uint32_t* masks, uint8_t* d) {
  for (int x = 0; x < width; ++x) {
    const uint32_t v = bits == 16 ? LoadLE<uint16_t>(s + x * 2) : LoadLE<uint32_t>(s + x * 4);
    d[x * 3 + 0] = Field(v, masks[2]);
    d[x * 3 + 1] = Field(v, masks[1]);
    d[x * 3 + 2] = Field(v, masks[0]);
  }
}

}  // namespace

void TDibGraphic::AssignFromHDIB(const void* data, size_t size) {
  if (!data) RaiseInvalidHdib();
  const PackedDib d = ReadPackedDib(static_cast<const uint8_t*>(data), size);
  const TBitmapInfoHeader& h = d.header;
  const int bits = h.biBitCount;
  const int format = (bits == 16 || bits == 32) ? int(ifTrueColor) : ImageFormatOfBitCount(bits);
  const int xDpi = DpiOfPels(h.biXPelsPerMeter), yDpi = DpiOfPels(h.biYPelsPerMeter);

  if (h.biCompression == dcRle8 || h.biCompression == dcRle4) {
    if ((h.biCompression == dcRle8 && bits != 8) || (h.biCompression == dcRle4 && bits != 4) || d.topDown)
      throw EImagingError("Unsupported compression");
    if (h.biSizeImage == 0) RaiseInvalidHdib();
    const size_t data = std::min<size_t>(d.available, h.biSizeImage);
    if (!RleSizeJustified(uint64_t(h.biWidth), uint64_t(d.height), data)) RaiseInvalidHdib();
    NewImage(h.biWidth, d.height, format, &d.palette, xDpi, yDpi);
    DecodeRle(d.pixels, data, bits, *this);
    return;
  }
  if (h.biCompression != dcNone && !(h.biCompression == dcBitfields && (bits == 16 || bits == 32)))
    throw EImagingError("Unsupported compression");

  const int64_t srcRow = BytesPerRow(h.biWidth, bits);
  if (srcRow <= 0 || uint64_t(srcRow) * uint64_t(d.height) > d.available) RaiseInvalidHdib();
  NewImage(h.biWidth, d.height, format, bits <= 8 ? &d.palette : nullptr, xDpi, yDpi);
  for (int y = 0; y < d.height; ++y) {
    const uint8_t* s = d.pixels + srcRow * y;  // y-th stored row
    uint8_t* row = d.topDown ? ScanLine(y) : ScanLine(d.height - 1 - y);
    if (bits == 16 || bits == 32)
      UnpackMaskedRow(s, h.biWidth, bits, d.masks, row);
    else
      std::memcpy(row, s, size_t(rowBytes_));
  }
}

std::string TDibGraphic::SaveToPackedDIB() const {
  if (IsEmpty()) throw EImagingError("The image is empty");
  ByteWriter w;
  const TBitmapInfoHeader& h = info_.bmiHeader;
  w.U32(40);
  w.I32(h.biWidth);
  w.I32(h.biHeight);
  w.U16(1);
  w.U16(h.biBitCount);
  w.U32(0);
  w.U32(h.biSizeImage);
  w.I32(h.biXPelsPerMeter);
  w.I32(h.biYPelsPerMeter);
  w.U32(h.biClrUsed);
  w.U32(0);
  for (uint32_t i = 0; i < h.biClrUsed; ++i) {
    const TRgbQuad& q = info_.bmiColors[i];
    w.U8(q.rgbBlue);
    w.U8(q.rgbGreen);
    w.U8(q.rgbRed);
    w.U8(0);
  }
  std::string out = w.Take();
  out.append(reinterpret_cast<const char*>(bits_.data()), bits_.size());
  return out;
}

// --- software stretch blit ---------------------------------------------------

void TDibGraphic::StretchDrawFrom(const TDibGraphic& src, int width, int height, bool smooth) {
  if (IsEmpty() || src.IsEmpty() || width <= 0 || height <= 0) return;
  const int sw = src.Width(), sh = src.Height();
  const int dw = std::min(width, Width()), dh = std::min(height, Height());
  std::vector<uint8_t> srcRow(size_t(sw) * 3), out(size_t(dw) * 3);
  std::vector<uint32_t> acc(size_t(sw) * 3);
  std::vector<int> x0(static_cast<size_t>(dw)), x1(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x) {
    if (smooth) {
      x0[x] = int(int64_t(x) * sw / width);
      x1[x] = std::max(x0[x] + 1, int(int64_t(x + 1) * sw / width));
    } else {
      x0[x] = int(((2 * int64_t(x) + 1) * sw) / (2 * int64_t(width)));
      x1[x] = x0[x] + 1;
    }
  }
  // Rows made from the same source rows are the same: an enlargement computes
  // each once and copies it.
  const bool wholeRows = dw == Width();
  int lastY0 = -1, lastY1 = -1;
  for (int y = 0; y < dh; ++y) {
    int y0, y1;
    if (smooth) {
      y0 = int(int64_t(y) * sh / height);
      y1 = std::max(y0 + 1, int(int64_t(y + 1) * sh / height));
    } else {
      y0 = int(((2 * int64_t(y) + 1) * sh) / (2 * int64_t(height)));
      y1 = y0 + 1;
    }
    if (wholeRows && y0 == lastY0 && y1 == lastY1) {
      std::memcpy(ScanLine(y), ScanLine(y - 1), size_t(rowBytes_));
      continue;
    }
    lastY0 = y0;
    lastY1 = y1;
    std::fill(acc.begin(), acc.end(), 0);
    for (int sy = y0; sy < y1; ++sy) {
      src.ReadRowRGB(sy, srcRow.data());
      for (size_t i = 0; i < srcRow.size(); ++i) acc[i] += srcRow[i];
    }
    const uint32_t rows = uint32_t(y1 - y0);
    for (int x = 0; x < dw; ++x) {
      uint32_t s[3] = {0, 0, 0};
      for (int sx = x0[x]; sx < x1[x]; ++sx)
        for (int c = 0; c < 3; ++c) s[c] += acc[size_t(sx) * 3 + c];
      const uint32_t n = rows * uint32_t(x1[x] - x0[x]);
      for (int c = 0; c < 3; ++c) out[size_t(x) * 3 + c] = uint8_t((s[c] + n / 2) / n);
    }
    if (format_ == ifTrueColor) {
      std::memcpy(ScanLine(y), out.data(), out.size());
    } else {
      for (int x = 0; x < dw; ++x) {
        const uint8_t* p = &out[size_t(x) * 3];
        SetPixelIndex(x, y, converter_->NearestIndex(MakeRgbTriple(p[2], p[1], p[0])));
      }
    }
  }
}

// --- format registry -----------------------------------------------------------

namespace {
std::vector<TGraphicFormat>& Registry() {
  static std::vector<TGraphicFormat> list;
  return list;
}
}  // namespace

void RegisterGraphicFormat(const std::string& extension, const std::string& description,
                           TDibGraphicFactory create) {
  Registry().push_back(TGraphicFormat{UpperCase(extension), description, std::move(create)});
}

const TGraphicFormat* FindGraphicClass(const std::string& fileNameOrExtension) {
  std::string ext = ExtractFileExt(fileNameOrExtension);
  ext = ext.empty() ? fileNameOrExtension : ext.substr(1);
  ext = UpperCase(ext);
  for (const TGraphicFormat& f : Registry())
    if (f.extension == ext) return &f;
  return nullptr;
}

std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& fileName) {
  const TGraphicFormat* f = FindGraphicClass(fileName);
  if (!f || !f->create)
    throw EImagingError(Format("Graphic files of %s format are not supported or not registered",
                               ExtractFileExt(fileName).c_str()));
  return f->create();
}

const std::vector<TGraphicFormat>& GraphicFormats() { return Registry(); }
