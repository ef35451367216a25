#pragma once
// JPEG files through libjpeg: grey and true-colour images, one per file.
#include "imaging/EnCLib.h"
#include "imaging/EnDiGrph.h"

class TJpegGraphic : public TDibGraphic {
 public:
  std::string ClassName() const override { return "TJpegGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TJpegGraphic>(); }
  void SaveToStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;

  uint8_t Quality = 80;
  bool Progressive = false;
  bool OptimizeCoding = false;
};
