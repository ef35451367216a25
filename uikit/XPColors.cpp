#include "uikit/XPColors.h"

#include <QColor>
#include <algorithm>

#include "uikit/FlatUtilitys.h"
#include "uikit/HSLUtils.h"

TColor XPClampedRGB(int r, int g, int b) {
  return RGB(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

bool XPOpaque(const QImage& img, int x, int y) {
  const QRgb key = img.pixel(0, img.height() - 1);
  const QRgb c = img.pixel(x, y);
  return qAlpha(c) != 0 && c != key;
}

TColor XPLighten(TColor c, int percent) {
  const TColor rgb = ColorToRGB(c);
  const double f = std::min(percent, 100) / 100.0;
  auto ch = [f](int v) { return v + RoundEven((255 - v) * f); };
  return XPClampedRGB(ch(GetRValue(rgb)), ch(GetGValue(rgb)), ch(GetBValue(rgb)));
}

TColor XPDarken(TColor c, int value) {
  const TColor rgb = ColorToRGB(c);
  // Green is darkened two less than red and blue.
  return XPClampedRGB(GetRValue(rgb) - value, GetGValue(rgb) - value + 2, GetBValue(rgb) - value);
}

TColor XPGrey(TColor c, int level) {
  const TColor rgb = ColorToRGB(c);
  const int g = std::min(240, (GetRValue(rgb) + GetGValue(rgb) + GetBValue(rgb)) / 3 + level);
  return XPClampedRGB(g, g, g);
}

namespace {
template <typename F>
QImage MapPixels(const QImage& src, F f) {
  QImage img = src.convertToFormat(QImage::Format_ARGB32);
  QRgb lastIn = 0, lastOut = 0;
  bool have = false;
  for (int y = 0; y < img.height(); ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      if (qAlpha(line[x]) == 0) continue;
      // Runs of one colour are common in icons: remember the last answer.
      if (!have || line[x] != lastIn) {
        lastIn = line[x];
        const TColor out = f(TColorOf(QColor(line[x])));
        lastOut = (QColorOf(out).rgb() & 0xFFFFFF) | (line[x] & 0xFF000000);
        have = true;
      }
      line[x] = lastOut;
    }
  }
  return img;
}
}  // namespace

QImage XPLightenImage(const QImage& img, int percent) {
  percent = std::min(percent, 100);
  return MapPixels(img, [percent](TColor c) { return XPLighten(c, percent); });
}

QImage XPGreyImage(const QImage& img, int level) {
  return MapPixels(img, [level](TColor c) { return XPGrey(c, level); });
}
