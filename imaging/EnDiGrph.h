#pragma once
// The library's in-memory image: one device-independent bitmap of a fixed
// image format (rows bottom-up, padded to 32 bits), its palette, resolution and
// optional frames, plus the format registry and the default palettes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Streams.h"
#include "imaging/EnMisc.h"

enum TImageFormat : uint8_t {
  ifBlackWhite = 0,
  ifGray16 = 1,
  ifGray256 = 2,
  ifColor16 = 3,
  ifColor256 = 4,
  ifTrueColor = 5,
};

// 0x00RRGGBB, blue in the lowest byte (the byte order of a bitmap colour).
using RgbValue = uint32_t;

struct TPaletteEntry {
  uint8_t peRed, peGreen, peBlue, peFlags;
};

struct TLogPalette {
  uint16_t palVersion;
  uint16_t palNumEntries;
  TPaletteEntry palPalEntry[256];
};

struct TRgbQuad {
  uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

// The compression kinds of a bitmap information header.
enum TDibCompression : uint32_t { dcNone = 0, dcRle8 = 1, dcRle4 = 2, dcBitfields = 3 };

struct TBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

struct TBitmapInfo {
  TBitmapInfoHeader bmiHeader;
  TRgbQuad bmiColors[256];
};

int ImageFormatBits(int format);
std::string ImageFormatName(int format);
// Bytes of one stored row: whole 32-bit words. 64-bit, since it is taken before a
// size is checked.
int64_t BytesPerRow(int64_t width, int bits);
inline RgbValue MakeRgbTriple(uint8_t r, uint8_t g, uint8_t b) {
  return (RgbValue(r) << 16) | (RgbValue(g) << 8) | b;
}
inline uint8_t RgbRed(RgbValue c) { return uint8_t(c >> 16); }
inline uint8_t RgbGreen(RgbValue c) { return uint8_t(c >> 8); }
inline uint8_t RgbBlue(RgbValue c) { return uint8_t(c); }
// Exchanges the first and third byte of each whole triple.
void SwapRedBlue(void* buffer, int byteCount);

// The default palette of a palette format; nullptr for true colour.
const TLogPalette* DefaultPalette(int format);

// Nearest palette entry of a colour, cached because it is asked per pixel.
class TRgbToPaletteConverter {
 public:
  static constexpr int kCacheSlots = 1020;
  explicit TRgbToPaletteConverter(const TLogPalette* palette);
  int NearestIndex(RgbValue color);
  int Hits() const { return hits_; }
  int Misses() const { return misses_; }

 private:
  struct Slot {
    RgbValue key;
    uint16_t index;
  };
  const TLogPalette* palette_;
  Slot cache_[kCacheSlots];
  int hits_ = 0;
  int misses_ = 0;
};

// Runs NextFrame while an image animates; the user interface supplies one.
class TFrameTimer {
 public:
  virtual ~TFrameTimer() = default;
  virtual void Start(int intervalMs) = 0;
  virtual void Stop() = 0;
};

// Pixel storage, zeroed: a large buffer is a mapping of its own whose pages are
// mapped in one go instead of one fault per page as the rows are first
// written. Value-initialising an element writes nothing, so a vector of it must
// only grow into storage it has just allocated. FreePixels takes the size given
// to AllocatePixels.
void* AllocatePixels(size_t bytes);
void FreePixels(void* p, size_t bytes) noexcept;
template <typename T>
struct TPixelAllocator {
  using value_type = T;
  TPixelAllocator() = default;
  template <typename U>
  TPixelAllocator(const TPixelAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePixels(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePixels(p, n * sizeof(T)); }
  template <typename U>
  void construct(U*) noexcept {}
  template <typename U>
  bool operator==(const TPixelAllocator<U>&) const noexcept { return true; }
};

class TDibGraphic {
 public:
  TDibGraphic();
  virtual ~TDibGraphic();
  TDibGraphic(const TDibGraphic&) = delete;
  TDibGraphic& operator=(const TDibGraphic&) = delete;

  virtual std::string ClassName() const { return "TDibGraphic"; }
  // A new empty image of the same class.
  virtual std::unique_ptr<TDibGraphic> Create() const { return std::make_unique<TDibGraphic>(); }

  virtual void NewImage(int width, int height, int imageFormat, const TLogPalette* palette,
                        int xDpi, int yDpi);
  void FreeImage();
  bool IsEmpty() const { return bits_.empty(); }
  bool Empty() const { return IsEmpty(); }
  int Width() const { return info_.bmiHeader.biWidth; }
  int Height() const { return info_.bmiHeader.biHeight; }
  [[noreturn]] void SetWidth(int);
  [[noreturn]] void SetHeight(int);

  TImageFormat ImageFormat() const { return format_; }
  int RowBytes() const { return rowBytes_; }
  uint8_t* ScanLine(int y) { return bits_.data() + size_t(Height() - y - 1) * rowBytes_; }
  const uint8_t* ScanLine(int y) const {
    return bits_.data() + size_t(Height() - y - 1) * rowBytes_;
  }
  // All rows, bottom row first.
  uint8_t* Bits() { return bits_.data(); }
  const uint8_t* Bits() const { return bits_.data(); }
  size_t ImageSize() const { return bits_.size(); }

  int GetPixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, int index);
  RgbValue GetPixelRGB(int x, int y) const;
  void SetPixelRGB(int x, int y, RgbValue color);
  // Whole rows as blue, green, red triples; writing maps to the nearest
  // palette entry on palette images.
  void ReadRowRGB(int y, uint8_t* bgr) const;
  void WriteRowRGB(int y, const uint8_t* bgr);

  const TLogPalette& LogPalette() const { return logPalette_; }
  const TBitmapInfo& BitmapInfo() const { return info_; }
  TRgbToPaletteConverter* Converter() { return converter_.get(); }
  RgbValue PaletteColor(int index) const;

  int XDotsPerInch() const;
  int YDotsPerInch() const;
  void SetXDotsPerInch(uint16_t dpi);
  void SetYDotsPerInch(uint16_t dpi);

  // Copies a whole image (nullptr or an empty source empties this one).
  virtual void Assign(const TDibGraphic* source);

  // Stream operations; format classes override the image ones.
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream);
  virtual int ImageCountInStream(TStream& stream);
  virtual void LoadImageFromStream(TStream& stream, int index);
  virtual void AppendImageToStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

  // A packed bitmap: a 40-byte header, the colour table, the rows.
  void AssignFromHDIB(const void* data, size_t size);
  std::string SaveToPackedDIB() const;

  // Frames of a multi-image stream.
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int v) { imageIndex_ = v; }
  bool LoadAllFrames() const { return loadAllFrames_; }
  void SetLoadAllFrames(bool v) { loadAllFrames_ = v; }
  int FrameDelay() const { return frameDelay_; }
  void SetFrameDelay(int v) { frameDelay_ = v; }
  bool Animate() const { return animate_; }
  void SetAnimate(bool v);
  int CurrentFrame() const { return currentFrame_; }
  void SetCurrentFrame(int n);
  int FrameCount() const { return int(frames_.size()); }
  TDibGraphic& Frames(int n);
  void NextFrame();
  void SetFrameTimer(std::unique_ptr<TFrameTimer> timer);

  std::function<void(TDibGraphic*)> OnAfterDraw;
  std::function<void(TDibGraphic*)> OnChange;
  void Changed();
  void AfterDraw() {
    if (OnAfterDraw) OnAfterDraw(this);
  }

  // Software stretch blit of the whole source onto (0, 0, width, height):
  // smooth averages source areas (halftone), otherwise nearest pixel.
  void StretchDrawFrom(const TDibGraphic& src, int width, int height, bool smooth);

 private:
  void ClearFrames();

  std::vector<uint8_t, TPixelAllocator<uint8_t>> bits_;
  TImageFormat format_ = ifBlackWhite;
  TBitmapInfo info_{};
  TLogPalette logPalette_{};
  int rowBytes_ = 0;
  int imageIndex_ = 1;
  bool loadAllFrames_ = false;
  std::vector<std::unique_ptr<TDibGraphic>> frames_;
  int frameDelay_ = 200;
  bool animate_ = false;
  std::unique_ptr<TFrameTimer> timer_;
  int currentFrame_ = -1;
  std::unique_ptr<TRgbToPaletteConverter> converter_;
};

// Format registry: upper-case extensions without the dot.
using TDibGraphicFactory = std::function<std::unique_ptr<TDibGraphic>()>;
struct TGraphicFormat {
  std::string extension;
  std::string description;
  TDibGraphicFactory create;
};
void RegisterGraphicFormat(const std::string& extension, const std::string& description,
                           TDibGraphicFactory create);
const TGraphicFormat* FindGraphicClass(const std::string& fileNameOrExtension);
std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& fileName);
const std::vector<TGraphicFormat>& GraphicFormats();
