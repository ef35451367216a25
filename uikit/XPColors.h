#pragma once
// Colour routines of the XP look (system colours resolved first) and the palette the
// styler derives before each paint. They work on colours and images only.
#include <QImage>

#include "core/Colors.h"

TColor XPLighten(TColor c, int percent);
TColor XPDarken(TColor c, int value);
TColor XPGrey(TColor c, int level);
// Each channel clamped to 0..255.
TColor XPClampedRGB(int r, int g, int b);
QImage XPLightenImage(const QImage& img, int percent);
QImage XPGreyImage(const QImage& img, int level);
// A pixel that casts a shadow: neither transparent nor the image's bottom-left colour.
bool XPOpaque(const QImage& img, int x, int y);

// The colours derived before each paint.
struct TXPColors {
  TColor Menu, IconColumn, Selection, SelectionBorder, SelectionFont, CheckedArea,
      CheckedAreaSelected, CheckMark, MenuBar, Disabled, Separator, MenuBorder, MenuShadow;
};
