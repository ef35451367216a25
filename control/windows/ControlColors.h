// Colour helpers for the control's own windows.
#pragma once

#include <QColor>
#include <QWidget>

#include "core/Colors.h"

inline QColor ToQColor(TColor c) {
  const TColor rgb = ColorToRGB(c);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

inline void SetBackground(QWidget* w, TColor c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, ToQColor(c));
  w->setPalette(p);
  w->setAutoFillBackground(true);
}
