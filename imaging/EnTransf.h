#pragma once
// Image operations: each transform holds only its parameters and turns a
// source image into a new destination image (or works in place).
#include <cstdint>
#include <string>

#include "imaging/EnDiGrph.h"

class TImageTransform {
 public:
  virtual ~TImageTransform() = default;
  virtual std::string ClassName() const { return "TImageTransform"; }
  // Transforms image in place, through a temporary destination.
  virtual void Apply(TDibGraphic& image);
  // Transforms src into dest; src is left unchanged.
  virtual void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest);

  TProgressEvent OnProgress;

 protected:
  void StartProgress() { lastPercent_ = 255; }
  void Progress(int current, int min, int max) {
    if (OnProgress)
      lastPercent_ = uint8_t(DoProgress(this, current, min, OnProgress, max, lastPercent_));
  }
  uint8_t lastPercent_ = 255;
};

// Transforms that work in place copy src into dest and apply themselves there.
class TInPlaceTransform : public TImageTransform {
 public:
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
};

class TAntiAliasTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TAntiAliasTransform"; }
  void Apply(TDibGraphic& image) override;
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
};

class TConvolutionTransform : public TImageTransform {
 public:
  TConvolutionTransform();
  std::string ClassName() const override { return "TConvolutionTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;

  int8_t Kernel[9];
  uint8_t Divisor = 1;

 protected:
  virtual void PrepareKernel() {}
};

class TSharpenTransform : public TConvolutionTransform {
 public:
  TSharpenTransform();
  std::string ClassName() const override { return "TSharpenTransform"; }
  int32_t Strength = 10;

 protected:
  void PrepareKernel() override;
};

class TSmoothTransform : public TConvolutionTransform {
 public:
  TSmoothTransform();
  std::string ClassName() const override { return "TSmoothTransform"; }
  int32_t Strength = 20;

 protected:
  void PrepareKernel() override;
};

class TEdgeTransform : public TConvolutionTransform {
 public:
  TEdgeTransform();
  std::string ClassName() const override { return "TEdgeTransform"; }
};

class TEmbossTransform : public TConvolutionTransform {
 public:
  TEmbossTransform();
  std::string ClassName() const override { return "TEmbossTransform"; }
};

class TFlipHorizontalTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TFlipHorizontalTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
};

class TFlipVerticalTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TFlipVerticalTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
};

class TRotateTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TRotateTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  double Angle = 90.0;
  RgbValue FillColor = MakeRgbTriple(255, 255, 255);
};

class TNegativeTransform : public TInPlaceTransform {
 public:
  std::string ClassName() const override { return "TNegativeTransform"; }
  void Apply(TDibGraphic& image) override;
};

class TContrastTransform : public TInPlaceTransform {
 public:
  std::string ClassName() const override { return "TContrastTransform"; }
  void Apply(TDibGraphic& image) override;
  bool Increase = true;
};

class TBrightnessTransform : public TInPlaceTransform {
 public:
  std::string ClassName() const override { return "TBrightnessTransform"; }
  void Apply(TDibGraphic& image) override;
  double Brightness() const { return brightness_; }
  void SetBrightness(double v) { brightness_ = ClampFloat(v, -100.0, 100.0); }

 private:
  double brightness_ = 5.0;
};

class TGammaTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TGammaTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  double Gamma() const { return gamma_; }
  void SetGamma(double v) { gamma_ = ClampFloat(v, 0.1, 7.0); }

 private:
  double gamma_ = 1.0;
};

class TConvertToGrayTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TConvertToGrayTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  double RedWeight = 0.299, GreenWeight = 0.587, BlueWeight = 0.114;
  TImageFormat DestImageFormat = ifGray256;
};

class TCropTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TCropTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  int32_t TopMargin = 0, LeftMargin = 0, BottomMargin = 0, RightMargin = 0;
};

enum TResizeFilter : uint8_t { rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };
const char* ResizeFilterName(TResizeFilter filter);
float ResizeFilterSupport(TResizeFilter filter);
float ResizeFilterValue(TResizeFilter filter, float x);

class TResizeTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TResizeTransform"; }
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  int32_t Width = 300, Height = 200;
  bool Interpolate = false;
  bool ChangeFormat = false;
  TImageFormat DestImageFormat = ifTrueColor;
  TResizeFilter Filter = rfTriangle;

 private:
  void Resample(const TDibGraphic& src, TDibGraphic& dest);
};

class TImageFormatTransform : public TImageTransform {
 public:
  std::string ClassName() const override { return "TImageFormatTransform"; }
  void Apply(TDibGraphic& image) override;
  void ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) override;
  TImageFormat DestImageFormat = ifTrueColor;
  TLogPalette Palette{};
  bool Quantize = true;
  bool Dither = true;

 private:
  void ErrorDiffusion(const TDibGraphic& src, TDibGraphic& dest, bool quantized);
};

// HSL used by contrast and brightness; H is -1 when undefined.
void RgbToHsl(uint8_t r, uint8_t g, uint8_t b, double& h, double& s, double& l);
void HslToRgb(double h, double s, double l, uint8_t& r, uint8_t& g, uint8_t& b);
