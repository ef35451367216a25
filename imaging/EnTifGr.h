#pragma once
// TIFF files: any page of a multi-page file is read, one page is written, and
// pages can be appended to an existing file.
#include "imaging/EnCLib.h"
#include "imaging/EnDiGrph.h"

enum TTiffCompression : uint8_t {
  tcNone = 0,
  tcPackbits = 1,
  tcGroup3_1D = 2,
  tcGroup3_2D = 3,
  tcGroup4 = 4,
  tcZLib = 5,
  tcJPEG = 6,
};

std::string CompressionName(int compression);

class TTiffGraphic : public TDibGraphic {
 public:
  TTiffGraphic() = default;
  std::string ClassName() const override { return "TTiffGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TTiffGraphic>(); }

  void NewImage(int width, int height, int imageFormat, const TLogPalette* palette, int xDpi,
                int yDpi) override;
  void Assign(const TDibGraphic* source) override;
  void SaveToStream(TStream& stream) override;
  int ImageCountInStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;
  void AppendImageToStream(TStream& stream) override;

  TTiffCompression Compression() const { return compression_; }
  void SetCompression(int value);
  uint32_t RowsPerStrip() const { return rowsPerStrip_; }
  void SetRowsPerStrip(uint32_t v) { rowsPerStrip_ = v; }

  // Tag 306; tests fix it.
  static void SetClock(std::function<TDateTime()> clock);

 private:
  void ReadImage(TStream& stream, int index);
  void WriteImage(TStream& stream, int mode);

  TTiffCompression compression_ = tcGroup4;
  uint32_t rowsPerStrip_ = 16;
};
