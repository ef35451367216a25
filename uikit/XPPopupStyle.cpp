#include "uikit/XPPopupStyle.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>

#include "uikit/FlatUtilitys.h"
#include "uikit/HSLUtils.h"
#include "uikit/XPStyler.h"

namespace {
// What a menu looks like without the styler: the application's own style.
QStyle* PlainStyle() {
  QStyle* s = QStyleFactory::create(QApplication::style()->name());
  return s ? s : QStyleFactory::create(QStringLiteral("Fusion"));
}
}  // namespace

TXPPopupStyle::TXPPopupStyle(TXPStyler* owner) : QProxyStyle(PlainStyle()), owner_(owner) {}

int TXPPopupStyle::pixelMetric(PixelMetric m, const QStyleOption* opt, const QWidget* w) const {
  // Items sit where the plain menu puts them; only the flat menu makes room for the
  // border and shadow it draws inside the window.
  const bool flat = owner_->FlatMenu();
  switch (m) {
    case PM_MenuPanelWidth: return flat ? 3 : QProxyStyle::pixelMetric(m, opt, w);
    case PM_MenuHMargin: return flat ? 0 : QProxyStyle::pixelMetric(m, opt, w);
    case PM_MenuVMargin: return flat ? 1 : QProxyStyle::pixelMetric(m, opt, w);
    case PM_MenuBarPanelWidth: return 0;
    case PM_MenuBarItemSpacing: return 0;
    default: return QProxyStyle::pixelMetric(m, opt, w);
  }
}

QSize TXPPopupStyle::sizeFromContents(ContentsType ct, const QStyleOption* opt, const QSize& size,
                                      const QWidget* w) const {
  const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
  if (!mi || (ct != CT_MenuItem && ct != CT_MenuBarItem) || Excluded(mi, w, true))
    return QProxyStyle::sizeFromContents(ct, opt, size, w);
  if (mi->menuItemType == QStyleOptionMenuItem::Separator) return {size.width(), 4};
  const QFontMetrics fm(owner_->MenuFont());
  QString caption = mi->text, shortcut;
  const int tab = caption.indexOf(QLatin1Char('\t'));
  if (tab >= 0) {
    shortcut = caption.mid(tab + 1).trimmed();
    caption = caption.left(tab);
  }
  QString text = caption;
  if (!shortcut.isEmpty()) text += QStringLiteral("WWW") + shortcut;
  int width = fm.horizontalAdvance(text) + 5;
  if (text.contains(QLatin1Char('&'))) width -= fm.horizontalAdvance(QLatin1Char('&'));
  QSize image = mi->icon.isNull() ? QSize(0, 0) : QSize(16, 16);
  if (ct == CT_MenuItem) image.setWidth(std::max(image.width(), owner_->IconWidth()));
  width += image.width();
  if (ct == CT_MenuBarItem) width += 8;
  const int th = fm.height();
  const int h = std::max(th + RoundEven(th * 0.75), image.height() + 6);
  return {std::max(width, size.width()), std::max(h, ct == CT_MenuBarItem ? 0 : size.height())};
}

void TXPPopupStyle::drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p,
                                  const QWidget* w) const {
  const TXPColors pal = owner_->DerivePalette();
  switch (pe) {
    case PE_PanelMenu:
      FillRectC(*p, opt->rect, pal.Menu);
      return;
    case PE_FrameMenu: {
      const QRect r = opt->rect;
      if (!owner_->FlatMenu()) {
        FrameRectC(*p, r, pal.MenuBorder);
        return;
      }
      // Border, then a two-pixel shadow along the right and bottom edges
      // drawn inside the menu's own window.
      const QRect body = r.adjusted(0, 0, -2, -2);
      FrameRectC(*p, body, pal.MenuBorder);
      FillRectC(*p, QRect(body.left() + 1, body.top() + 1, 1, body.height() - 2), pal.IconColumn);
      FillRectC(*p, QRect(body.left() + 1, body.top() + 1, body.width() - 2, 1), pal.Menu);
      FillRectC(*p, RectLTRB(RightOf(r) - 2, r.top(), RightOf(r), BottomOf(r)), pal.MenuShadow);
      FillRectC(*p, RectLTRB(r.left(), BottomOf(r) - 2, RightOf(r), BottomOf(r)), pal.MenuShadow);
      FillRectC(*p, QRect(RightOf(r) - 2, r.top(), 2, 2), clBtnFace);
      FillRectC(*p, QRect(r.left(), BottomOf(r) - 2, 2, 2), clBtnFace);
      return;
    }
    case PE_PanelMenuBar:
      FillRectC(*p, opt->rect, pal.MenuBar);
      return;
    default:
      QProxyStyle::drawPrimitive(pe, opt, p, w);
  }
}

void TXPPopupStyle::drawControl(ControlElement ce, const QStyleOption* opt, QPainter* p,
                                const QWidget* w) const {
  const TXPColors pal = owner_->DerivePalette();
  if (ce == CE_MenuEmptyArea) return FillRectC(*p, opt->rect, pal.Menu);
  if (ce == CE_MenuBarEmptyArea) return FillRectC(*p, opt->rect, pal.MenuBar);
  const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
  if (!mi || (ce != CE_MenuItem && ce != CE_MenuBarItem)) return QProxyStyle::drawControl(ce, opt, p, w);
  if (Excluded(mi, w)) {
    // The plain look includes the plain menu's background under the item, not the tint
    // this style filled the menu with.
    if (ce == CE_MenuItem && w) {
      QStyleOption panel;
      panel.initFrom(w);
      p->save();
      p->setClipRect(opt->rect, Qt::IntersectClip);
      baseStyle()->drawPrimitive(PE_PanelMenu, &panel, p, w);
      p->restore();
    }
    return QProxyStyle::drawControl(ce, opt, p, w);
  }
  p->save();
  if (ce == CE_MenuBarItem)
    DrawBarItem(*mi, p, pal);
  else
    DrawItem(*mi, p, pal, w);
  p->restore();
}

QAction* TXPPopupStyle::ActionOf(const QStyleOptionMenuItem* opt, const QWidget* w, bool measuring) {
  if (measuring) {
    if (!w) return nullptr;
    for (QAction* a : w->actions()) {
      QString text = a->text();
      if (!a->shortcut().isEmpty())
        text += QLatin1Char('\t') + a->shortcut().toString(QKeySequence::NativeText);
      if (text == opt->text || a->text() == opt->text) return a;
    }
    return nullptr;
  }
  if (const auto* menu = qobject_cast<const QMenu*>(w)) {
    for (QAction* a : menu->actions())
      if (menu->actionGeometry(a) == opt->rect) return a;
  } else if (const auto* bar = qobject_cast<const QMenuBar*>(w)) {
    for (QAction* a : bar->actions())
      if (bar->actionGeometry(a) == opt->rect) return a;
  }
  return nullptr;
}

bool TXPPopupStyle::Excluded(const QStyleOptionMenuItem* mi, const QWidget* w, bool measuring) const {
  if (!owner_->Active()) return true;
  QAction* a = ActionOf(mi, w, measuring);
  if (!a) return false;
  if (TagOf(a) == XPExcludeTag) return true;
  // An item that draws itself keeps doing so unless overridden.
  return a->property("OwnerDraw").toBool() && !owner_->OverrideOwnerDraw();
}

void TXPPopupStyle::DrawBarItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal) const {
  const QRect r = mi.rect;
  const int L = r.left(), T = r.top(), R = RightOf(r), B = BottomOf(r);
  FillRectC(*p, r, pal.MenuBar);
  const bool selected = (mi.state & State_Selected) && owner_->DrawSelect();
  // The soft 7-pixel shadow needs 16 bits and a left-to-right bar; otherwise
  // a plain 2-pixel strip.
  const bool soft = TXPStyler::ScreenDepth() >= 16 && mi.direction != Qt::RightToLeft;
  const int edge = soft ? R - 8 : R - 3;
  if (selected && soft) {
    FillRectC(*p, RectLTRB(L, T, R - 7, B), pal.Selection);
    const TColor c = pal.MenuBar;
    FillRectC(*p, RectLTRB(R - 7, T, R, B), XPDarken(c, 10));
    FillRectC(*p, RectLTRB(R - 7, T + 3, R - 2, B), XPDarken(c, 30));
    FillRectC(*p, RectLTRB(R - 7, T + 5, R - 3, B), XPDarken(c, 60));
    FillRectC(*p, RectLTRB(R - 7, T + 6, R - 5, B), XPDarken(c, 100));
    FillRectC(*p, QRect(R - 7, T, 7, 1), c);
  } else if (selected) {
    FillRectC(*p, RectLTRB(L, T, R - 2, B), pal.Selection);
    FillRectC(*p, RectLTRB(R - 2, T + 2, R, B), XPDarken(owner_->MenuBarColor(), 70));
    FillRectC(*p, RectLTRB(R - 2, T, R, T + 2), owner_->MenuBarColor());
  }
  if (selected) {
    // Outline open at the bottom: (L, B-1) up to (L, T), across, down to (edge, B-1).
    const QColor border = QColorOf(pal.SelectionBorder);
    p->fillRect(QRect(L, T, 1, B - T), border);
    p->fillRect(QRect(L, T, edge - L, 1), border);
    p->fillRect(QRect(edge, T, 1, B - T - 1), border);
  }
  TColor text = mi.state & State_Enabled ? owner_->FontColor() : pal.Disabled;
  if (selected && owner_->UseSystemColors()) {
    const TColor ic = ColorToRGB(pal.IconColumn);
    const bool dark = (GetRValue(ic) + GetBValue(ic)) / 2 < 151 && GetGValue(ic) < 201;
    text = dark ? XPLighten(pal.IconColumn, 90) : owner_->FontColor();
  }
  p->setFont(owner_->MenuFont());
  p->setPen(QColorOf(text));
  p->drawText(RectLTRB(L, T, selected ? edge + 1 : R, B),
              Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, mi.text);
}

void TXPPopupStyle::DrawItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal,
                             const QWidget* w) const {
  const QRect r = mi.rect;
  const bool rtl = mi.direction == Qt::RightToLeft;
  const int iw = owner_->IconWidth();
  const QRect column = rtl ? QRect(RightOf(r) - iw, r.top(), iw, r.height())
                           : QRect(r.left(), r.top(), iw, r.height());
  const bool enabled = mi.state & State_Enabled;
  const bool selected = (mi.state & State_Selected) && enabled && owner_->DrawSelect();
  const bool separator = mi.menuItemType == QStyleOptionMenuItem::Separator;
  const bool depth16 = TXPStyler::ScreenDepth() >= 16;

  // Background and icon column (or its gradient).
  FillRectC(*p, r, pal.Menu);
  if (owner_->Gradient() && depth16) {
    int pct = 0;
    for (int i = 0; i < column.width(); ++i) {
      const int x = rtl ? RightOf(column) - 1 - i : column.left() + i;
      FillRectC(*p, QRect(x, r.top(), 1, r.height()), XPLighten(pal.IconColumn, pct));
      pct = std::min(96, pct + (i < iw + 5 ? 3 : 1));
    }
  } else {
    FillRectC(*p, column, pal.IconColumn);
  }

  if (separator) {
    const int y = r.top() + r.height() / 2;
    const QRect line = rtl ? RectLTRB(r.left(), y, column.left() - 7, y + 1)
                           : RectLTRB(RightOf(column) + 7, y, RightOf(r), y + 1);
    FillRectC(*p, line, pal.Separator);
    return;
  }

  if (selected) {
    QRect sel = r.adjusted(0, 1, owner_->FlatMenu() ? -1 : 0, -1);
    FillRectC(*p, sel, pal.Selection);
    FrameRectC(*p, sel, pal.SelectionBorder);
  }

  const bool hasImage = !mi.icon.isNull();
  if (mi.checkType != QStyleOptionMenuItem::NotCheckable && mi.checked) {
    QRect box = hasImage ? column.adjusted(1, 2, -3, -2)
                         : QRect(column.center().x() - 4, column.center().y() - 4, 10, 10);
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setBrush(enabled ? QColorOf(selected ? pal.CheckedAreaSelected : pal.CheckedArea) : QColor(Qt::transparent));
    const bool radio = mi.checkType == QStyleOptionMenuItem::Exclusive;
    p->setPen(QColorOf(enabled ? (radio || hasImage ? pal.SelectionBorder : pal.CheckMark) : pal.Disabled));
    const QRect outline = box.adjusted(0, 0, -1, -1);
    if (radio && hasImage)
      p->drawRoundedRect(outline, 3, 3);
    else if (radio)
      p->drawEllipse(outline);
    else
      p->drawRect(outline);
    if (!radio && !hasImage) {
      p->setPen(QColorOf(enabled ? clBlack : pal.Disabled));
      const int L = box.left(), T = box.top(), R = RightOf(box), B = BottomOf(box);
      p->setClipRect(box);
      p->drawLine(L + 1, T + 5, L + 4, B - 2);
      p->drawLine(L + 2, T + 5, L + 4, B - 3);
      p->drawLine(L + 2, T + 4, L + 5, B - 3);
      p->drawLine(L + 4, B - 3, R + 2, T - 1);
      p->drawLine(L + 4, B - 2, R - 2, T + 3);
      p->setClipping(false);
    }
    p->setBrush(Qt::NoBrush);
  }

  // Caption and shortcut.
  QString caption = mi.text, shortcut;
  const int tab = caption.indexOf(QLatin1Char('\t'));
  if (tab >= 0) {
    shortcut = caption.mid(tab + 1);
    caption = caption.left(tab);
  }
  const QRect textRect = rtl ? RectLTRB(r.left(), r.top(), column.left() - 3, BottomOf(r))
                             : RectLTRB(RightOf(column) + 3, r.top(), RightOf(r), BottomOf(r));
  TColor text = owner_->FontColor();
  if (selected) text = pal.SelectionFont;
  if (!enabled) text = pal.Disabled;
  p->setFont(owner_->MenuFont());
  const int align = (rtl ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter |
                    Qt::TextShowMnemonic | Qt::TextSingleLine;
  const QString shown = QStringLiteral(" ") + caption;
  if (enabled && mi.menuItemType == QStyleOptionMenuItem::DefaultItem) {
    const TColor under = selected ? pal.Selection : pal.Menu;
    const QPoint offs[4] = {{1, 0}, {1, 2}, {0, 1}, {1, 1}};
    const int amount[4] = {30, 30, 40, 60};
    for (int i = 0; i < 4; ++i) {
      p->setPen(QColorOf(XPDarken(under, amount[i])));
      p->drawText(textRect.translated(offs[i]), align, shown);
    }
  }
  p->setPen(QColorOf(text));
  p->drawText(textRect, align, shown);
  if (!shortcut.isEmpty()) {
    TColor sc = text;
    if (depth16) {
      const TColor t = ColorToRGB(text);
      sc = XPClampedRGB(GetRValue(t) + 40, GetGValue(t) + 42, GetBValue(t) + 40);
    }
    p->setPen(QColorOf(sc));
    const QRect scRect = textRect.adjusted(rtl ? 10 : 0, 0, rtl ? 0 : -10, 0);
    p->drawText(scRect, (rtl ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                shortcut + QStringLiteral(" "));
  }
  if (mi.menuItemType == QStyleOptionMenuItem::SubMenu) {
    const int x = rtl ? r.left() + 6 : RightOf(r) - 9, y = r.center().y();
    p->setPen(QColorOf(text));
    for (int i = 0; i < 4; ++i)
      p->drawLine(rtl ? x + 3 - i : x + i, y - 3 + i, rtl ? x + 3 - i : x + i, y + 3 - i);
  }

  if (hasImage) {
    QImage img = mi.icon.pixmap(16, 16, enabled ? QIcon::Normal : QIcon::Disabled).toImage();
    const QPoint at(column.left() + (column.width() - img.width()) / 2,
                    r.top() + (r.height() - img.height()) / 2);
    if (!enabled) {
      img = XPLightenImage(XPGreyImage(img, owner_->GrayLevel()), 40);
      p->drawImage(at, img);
    } else if (selected) {
      const QColor shadow = QColorOf(XPDarken(pal.Selection, 50));
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (XPOpaque(img, x, y)) p->fillRect(at.x() + x + 1, at.y() + y + 1, 1, 1, shadow);
      p->drawImage(at - QPoint(1, 1), img);
    } else {
      p->drawImage(at, depth16 ? XPLightenImage(img, owner_->DimLevel()) : img);
    }
  }
}
