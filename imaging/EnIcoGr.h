#pragma once
// Windows icons: the first image of an icon file is read onto black; an image
// is written as a 32 x 32 true-colour icon with an opaque mask.
#include "imaging/EnDiGrph.h"

class TIconGraphic : public TDibGraphic {
 public:
  static constexpr int kIconSize = 32;
  std::string ClassName() const override { return "TIconGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TIconGraphic>(); }
  void SaveToStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;
};
