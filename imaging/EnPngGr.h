#pragma once
// PNG files through libpng, one image per file.
#include "imaging/EnCLib.h"
#include "imaging/EnDiGrph.h"

class TPngGraphic : public TDibGraphic {
 public:
  std::string ClassName() const override { return "TPngGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TPngGraphic>(); }
  void SaveToStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;

  // The file gamma written as gAMA; 1/2.2, so our own files read back unchanged.
  double Gamma = 0.45455;
  RgbValue BackgroundColor = MakeRgbTriple(0, 0, 0);
  RgbValue TransparentColor = MakeRgbTriple(0, 0, 0);
  bool IgnoreFileBackground = false;
  uint8_t CompressionLevel = 1;  // 0, 1, 2: zlib levels 1, 5, 9
  bool Interlaced = true;
  bool WriteBackground = false;
  bool Transparent = false;
};
