#include "imaging/EnTransf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <immintrin.h>

#include "core/Rounding.h"
#include "core/SysUtils.h"
#include "imaging/EnQuantz.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void NewLike(const TDibGraphic& src, TDibGraphic& dest, int width, int height, int format) {
  const TLogPalette* pal = (format == src.ImageFormat() && format != ifTrueColor)
                               ? &src.LogPalette() : nullptr;
  dest.NewImage(width, height, format, pal, src.XDotsPerInch(), src.YDotsPerInch());
}

inline void CopyPixel(const TDibGraphic& src, int sx, int sy, TDibGraphic& dest, int dx, int dy) {
  if (src.ImageFormat() == ifTrueColor)
    std::memcpy(dest.ScanLine(dy) + dx * 3, src.ScanLine(sy) + sx * 3, 3);
  else
    dest.SetPixelIndex(dx, dy, src.GetPixelIndex(sx, sy));
}

}  // namespace

// --- base -------------------------------------------------------------------

void TImageTransform::Apply(TDibGraphic& image) {
  TDibGraphic temp;
  ApplyOnDest(image, temp);
  image.Assign(&temp);
}

void TImageTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&) {
  throw EImagingError(Format("Method %s not implemented for %s class", "\"ApplyOnDest\"",
                             ClassName().c_str()));
}

void TInPlaceTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  dest.Assign(&src);
  Apply(dest);
}

// --- convolution --------------------------------------------------------------

TConvolutionTransform::TConvolutionTransform() {
  static const int8_t identity[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  std::memcpy(Kernel, identity, 9);
}

void TConvolutionTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  const int w = src.Width(), h = src.Height();
  if (w < 3 || h < 3) {
    dest.Assign(&src);
    return;
  }
  PrepareKernel();
  if (Divisor == 0) Divisor = 1;
  StartProgress();
  Progress(0, 0, 100);
  dest.NewImage(w, h, ifTrueColor, nullptr, src.XDotsPerInch(), src.YDotsPerInch());
  const size_t rowLen = size_t(w) * 3;
  std::vector<uint8_t> rows[3] = {std::vector<uint8_t>(rowLen), std::vector<uint8_t>(rowLen),
                                  std::vector<uint8_t>(rowLen)};
  // The frame is copied unchanged.
  src.ReadRowRGB(0, rows[0].data());
  std::memcpy(dest.ScanLine(0), rows[0].data(), rowLen);
  src.ReadRowRGB(h - 1, rows[0].data());
  std::memcpy(dest.ScanLine(h - 1), rows[0].data(), rowLen);

  src.ReadRowRGB(0, rows[0].data());
  src.ReadRowRGB(1, rows[1].data());
  for (int y = 1; y <= h - 2; ++y) {
    Progress(y, 0, h - 1);
    src.ReadRowRGB(y + 1, rows[2].data());
    uint8_t* out = dest.ScanLine(y);
    std::memcpy(out, rows[1].data(), 3);
    std::memcpy(out + rowLen - 3, rows[1].data() + rowLen - 3, 3);
    for (int x = 1; x <= w - 2; ++x) {
      for (int c = 0; c < 3; ++c) {
        int32_t sum = 0;
        for (int r = 0; r < 3; ++r) {
          const uint8_t* p = rows[r].data() + (x - 1) * 3 + c;
          sum += Kernel[r * 3] * p[0] + Kernel[r * 3 + 1] * p[3] + Kernel[r * 3 + 2] * p[6];
        }
        int v = sum < 0 ? 0 : std::min<int32_t>(sum / Divisor, 255);
        out[x * 3 + c] = uint8_t(v);
      }
    }
    std::swap(rows[0], rows[1]);
    std::swap(rows[1], rows[2]);
  }
  Progress(100, 0, 100);
}

namespace {
void SetCentredKernel(int8_t* k, int8_t edge, int8_t side, int c) {
  const int8_t v[9] = {edge, side, edge, side, int8_t(c), side, edge, side, edge};
  std::memcpy(k, v, 9);
}
// Strength is held to 0..100 so the centre fits a signed byte and the divisor
// stays positive.
int CentreOf(int strength) {
  return int(RoundHalfEven((100 - ClampInt(strength, 0, 100)) / 4.0)) + 15;
}
}  // namespace

TSharpenTransform::TSharpenTransform() { PrepareKernel(); }

void TSharpenTransform::PrepareKernel() {
  int c = CentreOf(Strength);
  SetCentredKernel(Kernel, -1, -2, c);
  Divisor = uint8_t(c - 12);
}

TSmoothTransform::TSmoothTransform() { PrepareKernel(); }

void TSmoothTransform::PrepareKernel() {
  int c = CentreOf(Strength);
  SetCentredKernel(Kernel, 1, 2, c);
  Divisor = uint8_t(c + 12);
}

TEdgeTransform::TEdgeTransform() {
  static const int8_t k[9] = {1, 1, 1, 1, -8, 1, 1, 1, 1};
  std::memcpy(Kernel, k, 9);
  Divisor = 1;
}

TEmbossTransform::TEmbossTransform() {
  static const int8_t k[9] = {-1, -1, 0, -1, 1, 1, 0, 1, 1};
  std::memcpy(Kernel, k, 9);
  Divisor = 1;
}

// --- anti-alias ----------------------------------------------------------------

namespace {
struct AntiAliasTable {
  uint16_t t[256];
  AntiAliasTable() {
    for (int i = 0; i < 256; ++i) {
      auto b = [i](int n) { return (i >> n) & 1; };
      int c0 = b(7) + b(6) + b(3) + b(2);
      int c1 = b(6) + b(5) + b(2) + b(1);
      int c2 = b(5) + b(4) + b(1) + b(0);
      int c3 = b(4) + b(0);
      t[i] = uint16_t((int(RoundHalfEven(c0 * 3.75)) << 12) | (int(RoundHalfEven(c1 * 3.75)) << 8) |
                      (int(RoundHalfEven(c2 * 3.75)) << 4) | int(RoundHalfEven(c3 * 7.5)));
    }
  }
};
const AntiAliasTable kAntiAlias;
}  // namespace

void TAntiAliasTransform::Apply(TDibGraphic& image) {
  if (image.ImageFormat() != ifBlackWhite || image.IsEmpty()) return;
  TImageTransform::Apply(image);
}

void TAntiAliasTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  if (src.ImageFormat() != ifBlackWhite || src.IsEmpty()) {
    dest.Assign(&src);
    return;
  }
  StartProgress();
  Progress(0, 0, 100);
  const int w = src.Width(), h = src.Height();
  dest.NewImage(w, h, ifGray16, nullptr, src.XDotsPerInch(), src.YDotsPerInch());
  const int srcBytes = (w + 7) / 8;
  for (int y = 0; y < h; ++y) {
    Progress(y, 0, h - 1);
    const uint8_t* a = src.ScanLine(y);
    const uint8_t* b = y < h - 1 ? src.ScanLine(y + 1) : a;
    uint8_t* out = dest.ScanLine(y);
    for (int i = 0; i < srcBytes; ++i) {
      uint16_t hi = kAntiAlias.t[(a[i] & 0xF0) | (b[i] >> 4)];
      uint16_t lo = kAntiAlias.t[((a[i] & 0x0F) << 4) | (b[i] & 0x0F)];
      out[i * 4 + 0] = uint8_t(hi >> 8);
      out[i * 4 + 1] = uint8_t(hi);
      out[i * 4 + 2] = uint8_t(lo >> 8);
      out[i * 4 + 3] = uint8_t(lo);
    }
  }
  Progress(100, 0, 100);
}

// --- flips and rotation ------------------------------------------------------------

void TFlipHorizontalTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  const int w = src.Width(), h = src.Height();
  if (w < 2) {
    dest.Assign(&src);
    return;
  }
  StartProgress();
  Progress(0, 0, 100);
  NewLike(src, dest, w, h, src.ImageFormat());
  const bool rgb = src.ImageFormat() == ifTrueColor;
  for (int y = 0; y < h; ++y) {
    Progress(y, 0, h - 1);
    if (rgb) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dest.ScanLine(y);
      for (int x = 0; x < w; ++x) std::memcpy(d + (w - 1 - x) * 3, s + x * 3, 3);
    } else {
      for (int x = 0; x < w; ++x) dest.SetPixelIndex(w - 1 - x, y, src.GetPixelIndex(x, y));
    }
  }
  Progress(100, 0, 100);
}

void TFlipVerticalTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  const int w = src.Width(), h = src.Height();
  if (h < 2) {
    dest.Assign(&src);
    return;
  }
  StartProgress();
  Progress(0, 0, 100);
  NewLike(src, dest, w, h, src.ImageFormat());
  if (!OnProgress) {
    // Whole rows at once when nobody watches the column-by-column progress.
    for (int y = 0; y < h; ++y)
      std::memcpy(dest.ScanLine(h - 1 - y), src.ScanLine(y), size_t(src.RowBytes()));
  } else {
    for (int x = 0; x < w; ++x) {
      Progress(x, 0, w - 1);
      for (int y = 0; y < h; ++y) CopyPixel(src, x, y, dest, x, h - 1 - y);
    }
  }
  Progress(100, 0, 100);
}

void TRotateTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  const int w = src.Width(), h = src.Height();
  const double a3 = RoundTo(Angle, 3);
  const double r = RoundHalfEven(Angle);  // stays a double: any angle is whole past 2^52
  int k = -1;
  if (std::fabs(r - a3) < 0.005) {
    // Reduced as a double: a whole angle beyond the int range must not wrap.
    k = int(std::fmod(r, 360.0));
    while (k < 0) k += 360;
  }
  StartProgress();
  if (k == 0) {
    Progress(0, 0, 100);
    dest.Assign(&src);
    Progress(100, 0, 100);
    return;
  }
  Progress(0, 0, 100);
  if (k == 90 || k == 180 || k == 270) {
    if (k == 180)
      NewLike(src, dest, w, h, src.ImageFormat());
    else
      NewLike(src, dest, h, w, src.ImageFormat());
    for (int y = 0; y < h; ++y) {
      Progress(y, 0, h - 1);
      for (int x = 0; x < w; ++x) {
        if (k == 90)
          CopyPixel(src, x, y, dest, h - 1 - y, x);
        else if (k == 180)
          CopyPixel(src, x, y, dest, w - 1 - x, h - 1 - y);
        else
          CopyPixel(src, x, y, dest, y, w - 1 - x);
      }
    }
    Progress(100, 0, 100);
    return;
  }

  const double theta = kPi * Angle / 180.0;
  const int cx = w / 2, cy = h / 2;
  const int cornersX[4] = {0, 0, w - 1, w - 1}, cornersY[4] = {0, h - 1, h - 1, 0};
  int minX = 0, maxX = 0, minY = 0, maxY = 0;
  const double c = std::cos(theta), s = std::sin(theta);
  for (int i = 0; i < 4; ++i) {
    double dx = cornersX[i] - cx, dy = cornersY[i] - cy;
    int px = int(RoundHalfEven(dx * c - dy * s + cx));
    int py = int(RoundHalfEven(dx * s + dy * c + cy));
    if (i == 0 || px < minX) minX = px;
    if (i == 0 || px > maxX) maxX = px;
    if (i == 0 || py < minY) minY = py;
    if (i == 0 || py > maxY) maxY = py;
  }
  const int w2 = maxX - minX + 1, h2 = maxY - minY + 1;
  NewLike(src, dest, w2, h2, src.ImageFormat());
  const double ci = std::cos(-theta), si = std::sin(-theta);
  for (int y = 0; y < h2; ++y) {
    Progress(y, 0, h2 - 1);
    for (int x = 0; x < w2; ++x) {
      double dx = x - w2 / 2, dy = y - h2 / 2;
      int sx = int(RoundHalfEven(dx * ci - dy * si + w2 / 2 + (w / 2 - w2 / 2)));
      int sy = int(RoundHalfEven(dx * si + dy * ci + h2 / 2 + (h / 2 - h2 / 2)));
      if (sx == w) sx = w - 1;
      if (sy == h) sy = h - 1;
      if (sx >= 0 && sx < w && sy >= 0 && sy < h)
        CopyPixel(src, sx, sy, dest, x, y);
      else
        dest.SetPixelRGB(x, y, FillColor);
    }
  }
  Progress(100, 0, 100);
}

// --- negative, HSL, contrast, brightness ------------------------------------------------

void TNegativeTransform::Apply(TDibGraphic& image) {
  if (image.IsEmpty()) return;
  StartProgress();
  Progress(0, 0, 100);
  const int w = image.Width(), h = image.Height();
  const int fmt = image.ImageFormat();
  if (fmt == ifColor16 || fmt == ifColor256) {
    TLogPalette pal = image.LogPalette();
    for (int i = 0; i < pal.palNumEntries; ++i) {
      TPaletteEntry& e = pal.palPalEntry[i];
      e.peRed = uint8_t(255 - e.peRed);
      e.peGreen = uint8_t(255 - e.peGreen);
      e.peBlue = uint8_t(255 - e.peBlue);
    }
    std::vector<uint8_t> saved(image.Bits(), image.Bits() + image.ImageSize());
    image.NewImage(w, h, fmt, &pal, image.XDotsPerInch(), image.YDotsPerInch());
    for (int y = 0; y < h; ++y) {
      Progress(y, 0, h - 1);
      std::memcpy(image.ScanLine(y), saved.data() + size_t(h - 1 - y) * image.RowBytes(),
                  size_t(image.RowBytes()));
    }
  } else {
    // Inverting a byte inverts 1-bit pixels and turns each 4-bit n into 15 - n.
    const size_t n = fmt == ifTrueColor ? size_t(w) * 3 : size_t(image.RowBytes());
    for (int y = 0; y < h; ++y) {
      Progress(y, 0, h - 1);
      uint8_t* row = image.ScanLine(y);
      for (size_t i = 0; i < n; ++i) row[i] = uint8_t(~row[i]);
    }
  }
  Progress(100, 0, 100);
}

void RgbToHsl(uint8_t rb, uint8_t gb, uint8_t bb, double& h, double& s, double& l) {
  const double r = rb / 255.0, g = gb / 255.0, b = bb / 255.0;
  const double mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  l = (mx + mn) / 2;
  if (mx == mn) {
    s = 0;
    h = -1;
    return;
  }
  const double d = mx - mn;
  s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
  double hh;
  if (r == mx)
    hh = g == mn ? 5 + (mx - b) / d : 1 - (mx - g) / d;
  else if (g == mx)
    hh = b == mn ? 1 + (mx - r) / d : 3 - (mx - b) / d;
  else
    hh = r == mn ? 3 + (mx - g) / d : 5 - (mx - r) / d;
  h = hh / 6;
}

void HslToRgb(double h, double s, double l, uint8_t& r, uint8_t& g, uint8_t& b) {
  auto channel = [](double v) { return uint8_t(RoundHalfUp(v * 255)); };
  if (s == 0 || h == -1) {
    r = g = b = channel(l);
    return;
  }
  const double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
  const double m1 = 2 * l - m2;
  const double h6 = h * 6;
  const int i = int(std::trunc(h6));
  const double f = h6 - i;
  const double t = m1 + (m2 - m1) * f, q = m2 - (m2 - m1) * f;
  double rr, gg, bb;
  switch (i) {
    case 1: rr = q; gg = m2; bb = m1; break;
    case 2: rr = m1; gg = m2; bb = t; break;
    case 3: rr = m1; gg = q; bb = m2; break;
    case 4: rr = t; gg = m1; bb = m2; break;
    case 5: rr = m2; gg = m1; bb = q; break;
    default: rr = m2; gg = t; bb = m1; break;
  }
  r = channel(rr);
  g = channel(gg);
  b = channel(bb);
}

namespace {
// Applies a lightness change to every pixel, one row at a time.
template <typename Fn>
void MapLightness(TDibGraphic& image, Fn newL, const std::function<void(int, int, int)>& progress) {
  const int w = image.Width(), h = image.Height();
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    progress(y, 0, h - 1);
    image.ReadRowRGB(y, row.data());
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &row[size_t(x) * 3];
      double hh, s, l;
      RgbToHsl(p[2], p[1], p[0], hh, s, l);
      double l2 = newL(l);
      if (l2 >= 1)
        l2 = 1.0;
      else if (l2 < 0)
        l2 = 0;
      HslToRgb(hh, s, l2, p[2], p[1], p[0]);
    }
    image.WriteRowRGB(y, row.data());
  }
}
}  // namespace

void TContrastTransform::Apply(TDibGraphic& image) {
  if (image.IsEmpty()) return;
  StartProgress();
  Progress(0, 0, 100);
  const double d = Increase ? 1 : -1;
  MapLightness(
      image,
      [d](double l) { return l + ((std::sin((l - 0.5) * kPi) + 1) * 0.5 - l) * d * 0.5; },
      [this](int v, int a, int b) { Progress(v, a, b); });
  Progress(100, 0, 100);
}

void TBrightnessTransform::Apply(TDibGraphic& image) {
  if (image.IsEmpty()) return;
  StartProgress();
  Progress(0, 0, 100);
  const double delta = brightness_ / 100;
  MapLightness(image, [delta](double l) { return l + delta; },
               [this](int v, int a, int b) { Progress(v, a, b); });
  Progress(100, 0, 100);
}

// --- gamma, grey, crop ------------------------------------------------------------

void TGammaTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  StartProgress();
  Progress(0, 0, 100);
  uint8_t t[256];
  t[0] = 0;
  for (int i = 1; i < 256; ++i)
    t[i] = uint8_t(int(RoundHalfEven(255 * Power(i / 255.0, 1 / gamma_))));
  const int w = src.Width(), h = src.Height();
  dest.NewImage(w, h, ifTrueColor, nullptr, src.XDotsPerInch(), src.YDotsPerInch());
  for (int y = 0; y < h; ++y) {
    Progress(y, 0, h - 1);
    uint8_t* row = dest.ScanLine(y);
    src.ReadRowRGB(y, row);
    for (int i = 0; i < w * 3; ++i) row[i] = t[row[i]];
  }
  Progress(100, 0, 100);
}

void TConvertToGrayTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  StartProgress();
  Progress(0, 0, 100);
  const int64_t wr = RoundHalfEven(RedWeight * 1000), wg = RoundHalfEven(GreenWeight * 1000),
                wb = RoundHalfEven(BlueWeight * 1000);
  const int w = src.Width(), h = src.Height();
  dest.NewImage(w, h, DestImageFormat, nullptr, src.XDotsPerInch(), src.YDotsPerInch());
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    Progress(y, 0, h - 1);
    src.ReadRowRGB(y, row.data());
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &row[size_t(x) * 3];
      int64_t v = (p[2] * wr + p[1] * wg + p[0] * wb) / 1000;
      uint8_t g = uint8_t(v > 255 ? 255 : (v < 0 ? 0 : v));
      p[0] = p[1] = p[2] = g;
    }
    dest.WriteRowRGB(y, row.data());
  }
  Progress(100, 0, 100);
}

void TCropTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  if (TopMargin == 0 && LeftMargin == 0 && BottomMargin == 0 && RightMargin == 0) {
    dest.Assign(&src);
    return;
  }
  const int64_t w = src.Width(), h = src.Height();
  // Negative margins would read outside the source.
  if (TopMargin < 0 || LeftMargin < 0 || BottomMargin < 0 || RightMargin < 0 ||
      h - BottomMargin <= TopMargin || LeftMargin >= w - RightMargin)
    throw EImagingError("Invalid crop parameters");
  StartProgress();
  Progress(0, 0, 100);
  const int w2 = int(w - RightMargin - LeftMargin), h2 = int(h - BottomMargin - TopMargin);
  NewLike(src, dest, w2, h2, src.ImageFormat());
  const bool rgb = src.ImageFormat() == ifTrueColor;
  for (int y = 0; y < h2; ++y) {
    Progress(y, 0, h2 - 1);
    if (rgb) {
      std::memcpy(dest.ScanLine(y), src.ScanLine(TopMargin + y) + size_t(LeftMargin) * 3,
                  size_t(w2) * 3);
    } else {
      for (int x = 0; x < w2; ++x)
        dest.SetPixelIndex(x, y, src.GetPixelIndex(LeftMargin + x, TopMargin + y));
    }
  }
  Progress(100, 0, 100);
}

// --- resize -------------------------------------------------------------------

const char* ResizeFilterName(TResizeFilter filter) {
  static const char* const names[] = {"Triangle", "Hermite", "Bell",
                                      "B-Spline", "Lanczos3", "Mitchell"};
  return filter <= rfMitchell ? names[filter] : "";
}

float ResizeFilterSupport(TResizeFilter filter) {
  static const float support[] = {1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f};
  return filter <= rfMitchell ? support[filter] : 1.0f;
}

namespace {
double Sinc(double x) {
  if (x == 0) return 1;
  x *= kPi;
  return std::sin(x) / x;
}
}  // namespace

float ResizeFilterValue(TResizeFilter filter, float xf) {
  const double x = xf;
  const double t = std::fabs(x);
  switch (filter) {
    case rfTriangle: return t < 1 ? float(1 - t) : 0.0f;
    case rfHermite: return t < 1 ? float((2 * t - 3) * t * t + 1) : 0.0f;
    case rfBell:
      if (t < 0.5) return float(0.75 - t * t);
      if (t < 1.5) return float(0.5 * (t - 1.5) * (t - 1.5));
      return 0.0f;
    case rfBSpline:
      if (t < 1) return float(0.5 * t * t * t - t * t + 2.0 / 3.0);
      if (t < 2) return float((2 - t) * (2 - t) * (2 - t) / 6);
      return 0.0f;
    case rfLanczos3: return t < 3 ? float(Sinc(x) * Sinc(x / 3)) : 0.0f;
    case rfMitchell:
      if (t < 1) return float((7 * t * t * t - 12 * t * t + 16.0 / 3.0) / 6);
      if (t < 2) return float((-7.0 / 3.0 * t * t * t + 12 * t * t - 20 * t + 32.0 / 3.0) / 6);
      return 0.0f;
  }
  return 0.0f;
}

namespace {

struct Contributor {
  int n;
  float weight;
};

// Per destination index, the source indices (mirrored at the edges) with a
// non-zero weight, in window order: entries [first[i], first[i + 1]).
struct Contributors {
  std::vector<size_t> first;
  std::vector<Contributor> entries;
  const Contributor* begin(int i) const { return entries.data() + first[size_t(i)]; }
  const Contributor* end(int i) const { return entries.data() + first[size_t(i) + 1]; }
};

float ResizeScale(int destSize, int srcSize) {
  return srcSize == 1 ? float(destSize) / float(srcSize)
                      : float(destSize - 1) / float(srcSize - 1);
}

float WindowRadius(int destSize, int srcSize, TResizeFilter filter) {
  const float scale = ResizeScale(destSize, srcSize);
  return scale < 1 ? ResizeFilterSupport(filter) / scale : ResizeFilterSupport(filter);
}

// The most entries BuildContributors can make: each window spans at most
// 2 x radius + 3 source indices.
uint64_t ContributorBound(int destSize, int srcSize, TResizeFilter filter) {
  return uint64_t(destSize) * (uint64_t(2 * WindowRadius(destSize, srcSize, filter)) + 3);
}

Contributors BuildContributors(int destSize, int srcSize, TResizeFilter filter) {
  const float scale = ResizeScale(destSize, srcSize);
  const bool shrink = scale < 1;
  const float width = WindowRadius(destSize, srcSize, filter);
  const float fscale = 1.0f / scale;
  Contributors list;
  list.first.reserve(size_t(destSize) + 1);
  for (int i = 0; i < destSize; ++i) {
    list.first.push_back(list.entries.size());
    const float centre = float(i) / scale;
    const int left = Floor(centre - width), right = Ceil(centre + width);
    for (int j = left; j <= right; ++j) {
      float weight;
      if (shrink)
        weight = ResizeFilterValue(filter, (centre - float(j)) / fscale) / fscale;
      else
        weight = ResizeFilterValue(filter, centre - float(j));
      if (weight == 0.0f) continue;
      const int n = j < 0 ? -j : (j >= srcSize ? 2 * srcSize - j - 1 : j);
      // An index still outside the source adds nothing to the sum.
      if (n < 0 || n >= srcSize) continue;
      list.entries.push_back(Contributor{n, weight});
    }
  }
  list.first.push_back(list.entries.size());
  return list;
}

constexpr int kBlock = 8;             // source rows filtered along x together
constexpr int kLanes = 3 * kBlock;    // floats per source pixel in a block
constexpr size_t kStripAlign = 32;
constexpr int64_t kMaxWorkBytes = 0x7FFFFFFF;  // what one image may hold

// 16 bytes to 16 floats.
inline void WidenBytes(const uint8_t* p, float* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
  _mm_storeu_ps(out, _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero)));
  _mm_storeu_ps(out + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero)));
  _mm_storeu_ps(out + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero)));
  _mm_storeu_ps(out + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero)));
}

// Lays out kBlock source rows (missing ones point at zeros) as, per byte of a
// row, that byte of every row in turn: per pixel, the blues of the rows, their
// greens, their reds, as floats. One weight then applies to the same pixel of
// every row at once. A byte transpose, 16 bytes of each row at a time: out
// gets bytes k..k+15 of the rows, two bytes (of eight rows) a vector.
__attribute__((always_inline)) inline void Transpose16(const uint8_t* const* src, size_t k,
                                                       __m128i* out) {
  __m128i a[kBlock], b[kBlock], c[kBlock];
  for (int r = 0; r < kBlock; ++r) a[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[r] + k));
  for (int r = 0; r < kBlock; r += 2) {
    b[r] = _mm_unpacklo_epi8(a[r], a[r + 1]);
    b[r + 1] = _mm_unpackhi_epi8(a[r], a[r + 1]);
  }
  for (int q = 0; q < kBlock; q += 4)
    for (int h = 0; h < 2; ++h) {
      c[q + h] = _mm_unpacklo_epi16(b[q + h], b[q + 2 + h]);
      c[q + 2 + h] = _mm_unpackhi_epi16(b[q + h], b[q + 2 + h]);
    }
  // c[0]: bytes 0-3 of rows 0-3, c[2]: 4-7, c[1]: 8-11, c[3]: 12-15; c[4..7] rows 4-7.
  const int order[4] = {0, 2, 1, 3};
  for (int j = 0; j < 4; ++j) {
    out[2 * j] = _mm_unpacklo_epi32(c[order[j]], c[4 + order[j]]);
    out[2 * j + 1] = _mm_unpackhi_epi32(c[order[j]], c[4 + order[j]]);
  }
}

inline void TransposeTail(const uint8_t* const* src, size_t k, size_t len, float* out) {
  for (; k < len; ++k, out += kBlock)
    for (int r = 0; r < kBlock; ++r) out[r] = float(src[r][k]);
}

__attribute__((target("avx2"))) void FillBlockAvx2(const uint8_t* const* src, size_t len,
                                                   float* out) {
  size_t k = 0;
  for (; k + 16 <= len; k += 16, out += 16 * kBlock) {
    __m128i t[kBlock];
    Transpose16(src, k, t);
    for (int j = 0; j < kBlock; ++j) {
      _mm256_storeu_ps(out + 16 * j, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(t[j])));
      _mm256_storeu_ps(out + 16 * j + 8,
                       _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(t[j], 8))));
    }
  }
  TransposeTail(src, k, len, out);
}

void FillBlockSse2(const uint8_t* const* src, size_t len, float* out) {
  size_t k = 0;
  for (; k + 16 <= len; k += 16, out += 16 * kBlock) {
    __m128i t[kBlock];
    Transpose16(src, k, t);
    for (int j = 0; j < kBlock; ++j) {
      alignas(16) uint8_t bytes[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(bytes), t[j]);
      WidenBytes(bytes, out + 16 * j);
    }
  }
  TransposeTail(src, k, len, out);
}

// The sums of one pass, clamped to 0..255 and rounded half to even (the
// conversion's default rounding), as bytes.
inline void NarrowSums(const float* sums, int count, uint8_t* out) {
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
  for (int k = 0; k < count; k += 4) {
    const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(sums + k), zero), top);
    alignas(16) int32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), _mm_cvtps_epi32(v));
    out[k] = uint8_t(i[0]);
    out[k + 1] = uint8_t(i[1]);
    out[k + 2] = uint8_t(i[2]);
    out[k + 3] = uint8_t(i[3]);
  }
}

// Each destination column of the block's rows: every channel's sum adds its
// terms in contributor order, in single precision without fused steps, so the
// bytes do not depend on the vector width.
inline void StoreColumn(const float* sums, int rows, int i, uint8_t* const* out) {
  uint8_t bytes[kLanes];
  NarrowSums(sums, kLanes, bytes);
  for (int r = 0; r < rows; ++r) {
    uint8_t* p = out[r] + size_t(i) * 3;
    p[0] = bytes[r];
    p[1] = bytes[kBlock + r];
    p[2] = bytes[2 * kBlock + r];
  }
}

__attribute__((target("avx2"))) void FilterBlockAvx2(const float* block, int rows,
                                                     const Contributors& columns, int dw,
                                                     uint8_t* const* out) {
  alignas(32) float sums[kLanes];
  for (int i = 0; i < dw; ++i) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0;
    for (const Contributor* c = columns.begin(i); c != columns.end(i); ++c) {
      const __m256 w = _mm256_set1_ps(c->weight);
      const float* p = block + size_t(c->n) * kLanes;
      a0 = _mm256_add_ps(a0, _mm256_mul_ps(w, _mm256_loadu_ps(p)));
      a1 = _mm256_add_ps(a1, _mm256_mul_ps(w, _mm256_loadu_ps(p + 8)));
      a2 = _mm256_add_ps(a2, _mm256_mul_ps(w, _mm256_loadu_ps(p + 16)));
    }
    _mm256_store_ps(sums, a0);
    _mm256_store_ps(sums + 8, a1);
    _mm256_store_ps(sums + 16, a2);
    StoreColumn(sums, rows, i, out);
  }
}

void FilterBlockSse2(const float* block, int rows, const Contributors& columns, int dw,
                     uint8_t* const* out) {
  alignas(16) float sums[kLanes];
  for (int i = 0; i < dw; ++i) {
    __m128 a[6];
    for (__m128& v : a) v = _mm_setzero_ps();
    for (const Contributor* c = columns.begin(i); c != columns.end(i); ++c) {
      const __m128 w = _mm_set1_ps(c->weight);
      const float* p = block + size_t(c->n) * kLanes;
      for (int k = 0; k < 6; ++k) a[k] = _mm_add_ps(a[k], _mm_mul_ps(w, _mm_loadu_ps(p + 4 * k)));
    }
    for (int k = 0; k < 6; ++k) _mm_store_ps(sums + 4 * k, a[k]);
    StoreColumn(sums, rows, i, out);
  }
}

// One destination row from the strip rows under its filter; len is a multiple
// of 32 and each sum adds its terms in contributor order.
__attribute__((target("avx2"))) void FilterColumnAvx2(const uint8_t* const* rows,
                                                      const float* weights, size_t count,
                                                      size_t len, uint8_t* out) {
  alignas(32) float sums[32];
  for (size_t k = 0; k < len; k += 32) {
    __m256 a[4];
    for (__m256& v : a) v = _mm256_setzero_ps();
    for (size_t e = 0; e < count; ++e) {
      const __m256 w = _mm256_set1_ps(weights[e]);
      const uint8_t* s = rows[e] + k;
      for (int j = 0; j < 4; ++j) {
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 8 * j));
        a[j] = _mm256_add_ps(a[j], _mm256_mul_ps(w, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b))));
      }
    }
    for (int j = 0; j < 4; ++j) _mm256_store_ps(sums + 8 * j, a[j]);
    NarrowSums(sums, 32, out + k);
  }
}

void FilterColumnSse2(const uint8_t* const* rows, const float* weights, size_t count, size_t len,
                      uint8_t* out) {
  alignas(16) float sums[16];
  for (size_t k = 0; k < len; k += 16) {
    __m128 a[4];
    for (__m128& v : a) v = _mm_setzero_ps();
    for (size_t e = 0; e < count; ++e) {
      const __m128 w = _mm_set1_ps(weights[e]);
      float v[16];
      WidenBytes(rows[e] + k, v);
      for (int j = 0; j < 4; ++j) a[j] = _mm_add_ps(a[j], _mm_mul_ps(w, _mm_loadu_ps(v + 4 * j)));
    }
    for (int j = 0; j < 4; ++j) _mm_store_ps(sums + 4 * j, a[j]);
    NarrowSums(sums, 16, out + k);
  }
}

// Chosen once at start-up; both paths give the same bytes.
const bool kHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));

[[noreturn]] void RaiseWorkTooLarge() { throw EImagingError("CreateDibSection failed"); }

}  // namespace

void TResizeTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  StartProgress();
  Progress(0, 0, 100);
  const int format = ChangeFormat ? int(DestImageFormat) : int(src.ImageFormat());
  NewLike(src, dest, Width, Height, format);
  if (!Interpolate) {
    Progress(50, 0, 100);
    const bool smooth =
        !(int64_t(src.Width()) * src.Height() < 1025 || src.ImageFormat() != ifTrueColor);
    dest.StretchDrawFrom(src, Width, Height, smooth);
    Progress(100, 0, 100);
    return;
  }
  Resample(src, dest);
  Progress(100, 0, 100);
}

// The intermediate image (destination width, source height, whole channel
// values) is never held whole: a strip of its rows, filled as the vertical
// pass reaches them, holds the rows under the current destination row's filter.
void TResizeTransform::Resample(const TDibGraphic& src, TDibGraphic& dest) {
  const int sw = src.Width(), sh = src.Height(), dw = dest.Width(), dh = dest.Height();
  if (sw < 1 || sh < 1) throw EImagingError("Source graphic too small");
  if (dw < 2 || dh < 2) throw EImagingError("Destination graphic too small");
  // The work memory is checked like an image before any of it is allocated.
  const uint64_t entries = ContributorBound(dw, sw, Filter) + ContributorBound(dh, sh, Filter);
  if (entries > uint64_t(kMaxWorkBytes) / sizeof(Contributor)) RaiseWorkTooLarge();
  const Contributors columns = BuildContributors(dw, sw, Filter);
  const Contributors rows = BuildContributors(dh, sh, Filter);

  int span = 1;
  for (int y = 0; y < dh; ++y) {
    int lo = sh, hi = -1;
    for (const Contributor* c = rows.begin(y); c != rows.end(y); ++c) {
      lo = std::min(lo, c->n);
      hi = std::max(hi, c->n);
    }
    span = std::max(span, hi - lo + 1);
  }
  // Filling kBlock rows from any row under the filter must not evict another.
  const int64_t ringRows = int64_t(span) + kBlock;
  const int64_t stride = (int64_t(dw) * 3 + int64_t(kStripAlign) - 1) & ~int64_t(kStripAlign - 1);
  const int64_t srcLine = int64_t(sw) * 3;
  const bool convert = src.ImageFormat() != ifTrueColor;
  const int64_t work = ringRows * stride + srcLine * (4 * kBlock + 1 + (convert ? kBlock : 0)) + stride;
  if (work > kMaxWorkBytes) RaiseWorkTooLarge();

  std::vector<uint8_t> strip(size_t(ringRows * stride), 0);
  std::vector<int> stripRow(size_t(ringRows), -1);
  std::vector<float> block(size_t(sw) * kLanes);
  std::vector<uint8_t> zeros(static_cast<size_t>(srcLine), 0);
  std::vector<uint8_t> converted(convert ? size_t(srcLine) * kBlock : 0);
  std::vector<uint8_t> out(static_cast<size_t>(stride));
  auto stripLine = [&](int n) { return strip.data() + size_t(n % ringRows) * size_t(stride); };

  auto fill = [&](int n0) {
    const int count = std::min(kBlock, sh - n0);
    const uint8_t* in[kBlock];
    uint8_t* to[kBlock];
    for (int r = count; r < kBlock; ++r) in[r] = zeros.data();
    for (int r = 0; r < count; ++r) {
      if (convert) {
        uint8_t* buf = converted.data() + size_t(r) * size_t(srcLine);
        src.ReadRowRGB(n0 + r, buf);
        in[r] = buf;
      } else {
        in[r] = src.ScanLine(n0 + r);
      }
      to[r] = stripLine(n0 + r);
      stripRow[size_t((n0 + r) % ringRows)] = n0 + r;
    }
    if (kHasAvx2)
      FillBlockAvx2(in, size_t(srcLine), block.data());
    else
      FillBlockSse2(in, size_t(srcLine), block.data());
    if (kHasAvx2)
      FilterBlockAvx2(block.data(), count, columns, dw, to);
    else
      FilterBlockSse2(block.data(), count, columns, dw, to);
  };

  std::vector<const uint8_t*> under;
  std::vector<float> weights;
  const bool direct = dest.ImageFormat() == ifTrueColor;
  for (int y = 0; y < dh; ++y) {
    Progress(y, 0, dh);
    under.clear();
    weights.clear();
    int lo = sh, hi = -1;
    for (const Contributor* c = rows.begin(y); c != rows.end(y); ++c) {
      lo = std::min(lo, c->n);
      hi = std::max(hi, c->n);
    }
    for (int n = lo; n <= hi; ++n)
      if (stripRow[size_t(n % ringRows)] != n) fill(n);
    for (const Contributor* c = rows.begin(y); c != rows.end(y); ++c) {
      under.push_back(stripLine(c->n));
      weights.push_back(c->weight);
    }
    if (kHasAvx2)
      FilterColumnAvx2(under.data(), weights.data(), under.size(), size_t(stride), out.data());
    else
      FilterColumnSse2(under.data(), weights.data(), under.size(), size_t(stride), out.data());
    if (direct)
      std::memcpy(dest.ScanLine(y), out.data(), size_t(dw) * 3);
    else
      dest.WriteRowRGB(y, out.data());
  }
}

// --- format conversion ------------------------------------------------------------

void TImageFormatTransform::Apply(TDibGraphic& image) {
  if (image.ImageFormat() == DestImageFormat) return;
  TImageTransform::Apply(image);
}

void TImageFormatTransform::ApplyOnDest(const TDibGraphic& src, TDibGraphic& dest) {
  StartProgress();
  Progress(0, 0, 100);
  const TLogPalette* pal = nullptr;
  bool quantized = false;
  if (DestImageFormat == ifColor16 || DestImageFormat == ifColor256) {
    const int count = DestImageFormat == ifColor16 ? 16 : 256;
    if (Quantize) {
      uint8_t quantPercent = 255;
      const int range = Dither ? 200 : 99;
      TProgressEvent adapter;
      if (OnProgress) adapter = [this, range](void*, uint8_t p) { Progress(p, 0, range); };
      QuantizePalette(src, Palette, count, quantPercent, adapter);
      quantized = true;
    } else if (Palette.palNumEntries == 0) {
      Palette = *DefaultPalette(DestImageFormat);
    }
    pal = &Palette;
  }
  dest.NewImage(src.Width(), src.Height(), DestImageFormat, pal, src.XDotsPerInch(),
                src.YDotsPerInch());
  if (Dither && DestImageFormat != ifTrueColor)
    ErrorDiffusion(src, dest, quantized);
  else
    dest.StretchDrawFrom(src, src.Width(), src.Height(), true);
  Progress(100, 0, 100);
}

void TImageFormatTransform::ErrorDiffusion(const TDibGraphic& src, TDibGraphic& dest,
                                           bool quantized) {
  const int w = src.Width(), h = src.Height();
  std::vector<int> cur(size_t(w) * 3), next(size_t(w) * 3, 0);
  std::vector<uint8_t> row(size_t(w) * 3);
  const TLogPalette& pal = dest.LogPalette();
  TNearestColour nearest(pal);
  // Colour values are held to 0..255; the error waiting for the next row stays
  // signed, since dropping its negative part would brighten every page.
  auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
  // Stores the colour and hands back the palette entry actually stored.
  const int bits = ImageFormatBits(dest.ImageFormat());
  uint8_t* out = nullptr;
  auto store = [&](int x, int, const int* c) {
    const int idx = nearest.Index(uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0]));
    if (bits == 8) {
      out[x] = uint8_t(idx);
    } else if (bits == 4) {
      uint8_t& b = out[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | idx) : uint8_t((b & 0x0F) | (idx << 4));
    } else if (idx) {
      out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    return &pal.palPalEntry[idx];
  };
  for (int y = 0; y < h; ++y) {
    out = dest.ScanLine(y);  // freshly allocated, so every pixel starts at index 0
    if (quantized)
      Progress(y + (h - 1 - y) / 2, 0, h - 1);
    else
      Progress(y, 0, h - 1);
    src.ReadRowRGB(y, row.data());
    for (size_t k = 0; k < cur.size(); ++k) {
      cur[k] = clamp(next[k] + row[k]);
      next[k] = 0;
    }
    store(0, y, &cur[0]);
    for (int x = 1; x <= w - 2; ++x) {
      int* c = &cur[size_t(x) * 3];
      const TPaletteEntry* e = store(x, y, c);
      const int err[3] = {c[0] - e->peBlue, c[1] - e->peGreen, c[2] - e->peRed};
      for (int k = 0; k < 3; ++k) {
        int* right = &cur[size_t(x + 1) * 3 + k];
        *right = clamp(*right + 7 * err[k] / 16);
        int* below = &next[size_t(x) * 3 + k];
        below[-3] += 3 * err[k] / 16;
        below[0] += 5 * err[k] / 16;
        below[3] += err[k] / 16;
      }
    }
    if (w > 1) store(w - 1, y, &cur[size_t(w - 1) * 3]);
  }
}
