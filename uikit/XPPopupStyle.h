#pragma once
// The look of a styled form's menus: popup menus and the menu bar's drop-downs get the
// styler's measure and draw rules, and so do the bar's own items. An item with Tag 999
// keeps the plain look of the application's style.
#include <QProxyStyle>

#include "uikit/XPColors.h"

class QAction;
class QStyleOptionMenuItem;
class TXPStyler;

class TXPPopupStyle : public QProxyStyle {
 public:
  explicit TXPPopupStyle(TXPStyler* owner);

  int pixelMetric(PixelMetric m, const QStyleOption* opt, const QWidget* w) const override;
  QSize sizeFromContents(ContentsType ct, const QStyleOption* opt, const QSize& size,
                         const QWidget* w) const override;
  void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p,
                     const QWidget* w) const override;
  void drawControl(ControlElement ce, const QStyleOption* opt, QPainter* p,
                   const QWidget* w) const override;

 private:
  // The action an option stands for: by its rectangle when painting, by its
  // text when measuring (the geometry is what is being measured then).
  static QAction* ActionOf(const QStyleOptionMenuItem* opt, const QWidget* w, bool measuring);
  bool Excluded(const QStyleOptionMenuItem* mi, const QWidget* w, bool measuring = false) const;
  void DrawBarItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal) const;
  void DrawItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal, const QWidget* w) const;

  TXPStyler* owner_;
};
