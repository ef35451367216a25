#include "uikit/XPStyler.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "uikit/FlatUtilitys.h"
#include "uikit/HSLUtils.h"

namespace {
int depthOverride = -1;

TColor Clamp3(int r, int g, int b) {
  return RGB(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

QColor Q(TColor c) { return QColorOf(c); }

// Pixels of an image that are not its bottom-left (transparent) colour.
bool Opaque(const QImage& img, int x, int y) {
  const QRgb key = img.pixel(0, img.height() - 1);
  const QRgb c = img.pixel(x, y);
  return qAlpha(c) != 0 && c != key;
}
}  // namespace

int TagOf(const QObject* o) { return o ? o->property("Tag").toInt() : 0; }

TColor XPLighten(TColor c, int percent) {
  const TColor rgb = ColorToRGB(c);
  const double f = std::min(percent, 100) / 100.0;
  auto ch = [f](int v) { return v + RoundEven((255 - v) * f); };
  return Clamp3(ch(GetRValue(rgb)), ch(GetGValue(rgb)), ch(GetBValue(rgb)));
}

TColor XPDarken(TColor c, int value) {
  const TColor rgb = ColorToRGB(c);
  // Green is darkened two less than red and blue.
  return Clamp3(GetRValue(rgb) - value, GetGValue(rgb) - value + 2, GetBValue(rgb) - value);
}

TColor XPGrey(TColor c, int level) {
  const TColor rgb = ColorToRGB(c);
  const int g = std::min(240, (GetRValue(rgb) + GetGValue(rgb) + GetBValue(rgb)) / 3 + level);
  return Clamp3(g, g, g);
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
        lastOut = (Q(out).rgb() & 0xFFFFFF) | (line[x] & 0xFF000000);
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

// ---------------------------------------------------------------------------
// Menus, menu bars.

namespace {

class TXPMenuStyle : public QProxyStyle {
 public:
  explicit TXPMenuStyle(TXPStyler* owner)
      : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), owner_(owner) {}

  int pixelMetric(PixelMetric m, const QStyleOption* opt, const QWidget* w) const override {
    switch (m) {
      case PM_MenuPanelWidth: return owner_->FlatMenu() ? 3 : 1;
      case PM_MenuHMargin: return 0;
      case PM_MenuVMargin: return 1;
      case PM_MenuBarPanelWidth: return 0;
      case PM_MenuBarItemSpacing: return 0;
      default: return QProxyStyle::pixelMetric(m, opt, w);
    }
  }

  QSize sizeFromContents(ContentsType ct, const QStyleOption* opt, const QSize& size,
                         const QWidget* w) const override {
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

  void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p,
                     const QWidget* w) const override {
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

  void drawControl(ControlElement ce, const QStyleOption* opt, QPainter* p,
                   const QWidget* w) const override {
    const TXPColors pal = owner_->DerivePalette();
    if (ce == CE_MenuEmptyArea) return FillRectC(*p, opt->rect, pal.Menu);
    if (ce == CE_MenuBarEmptyArea) return FillRectC(*p, opt->rect, pal.MenuBar);
    const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
    if (!mi || (ce != CE_MenuItem && ce != CE_MenuBarItem) || Excluded(mi, w))
      return QProxyStyle::drawControl(ce, opt, p, w);
    p->save();
    if (ce == CE_MenuBarItem)
      DrawBarItem(*mi, p, pal);
    else
      DrawItem(*mi, p, pal, w);
    p->restore();
  }

 private:
  // The action an option stands for: by its rectangle when painting, by its
  // text when measuring (the geometry is what is being measured then).
  static QAction* ActionOf(const QStyleOptionMenuItem* opt, const QWidget* w, bool measuring) {
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

  bool Excluded(const QStyleOptionMenuItem* mi, const QWidget* w, bool measuring = false) const {
    if (!owner_->Active()) return true;
    QAction* a = ActionOf(mi, w, measuring);
    if (!a) return false;
    if (TagOf(a) == XPExcludeTag) return true;
    // An item that draws itself keeps doing so unless overridden.
    return a->property("OwnerDraw").toBool() && !owner_->OverrideOwnerDraw();
  }

  void DrawBarItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal) const {
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
      const QColor border = Q(pal.SelectionBorder);
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
    p->setPen(Q(text));
    p->drawText(RectLTRB(L, T, selected ? edge + 1 : R, B),
                Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, mi.text);
  }

  void DrawItem(const QStyleOptionMenuItem& mi, QPainter* p, const TXPColors& pal,
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
      p->setBrush(enabled ? Q(selected ? pal.CheckedAreaSelected : pal.CheckedArea) : QColor(Qt::transparent));
      const bool radio = mi.checkType == QStyleOptionMenuItem::Exclusive;
      p->setPen(Q(enabled ? (radio || hasImage ? pal.SelectionBorder : pal.CheckMark) : pal.Disabled));
      const QRect outline = box.adjusted(0, 0, -1, -1);
      if (radio && hasImage)
        p->drawRoundedRect(outline, 3, 3);
      else if (radio)
        p->drawEllipse(outline);
      else
        p->drawRect(outline);
      if (!radio && !hasImage) {
        p->setPen(Q(enabled ? clBlack : pal.Disabled));
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
        p->setPen(Q(XPDarken(under, amount[i])));
        p->drawText(textRect.translated(offs[i]), align, shown);
      }
    }
    p->setPen(Q(text));
    p->drawText(textRect, align, shown);
    if (!shortcut.isEmpty()) {
      TColor sc = text;
      if (depth16) {
        const TColor t = ColorToRGB(text);
        sc = Clamp3(GetRValue(t) + 40, GetGValue(t) + 42, GetBValue(t) + 40);
      }
      p->setPen(Q(sc));
      const QRect scRect = textRect.adjusted(rtl ? 10 : 0, 0, rtl ? 0 : -10, 0);
      p->drawText(scRect, (rtl ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                  shortcut + QStringLiteral(" "));
    }
    if (mi.menuItemType == QStyleOptionMenuItem::SubMenu) {
      const int x = rtl ? r.left() + 6 : RightOf(r) - 9, y = r.center().y();
      p->setPen(Q(text));
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
        const QColor shadow = Q(XPDarken(pal.Selection, 50));
        for (int y = 0; y < img.height(); ++y)
          for (int x = 0; x < img.width(); ++x)
            if (Opaque(img, x, y)) p->fillRect(at.x() + x + 1, at.y() + y + 1, 1, 1, shadow);
        p->drawImage(at - QPoint(1, 1), img);
      } else {
        p->drawImage(at, depth16 ? XPLightenImage(img, owner_->DimLevel()) : img);
      }
    }

    // Sub-menus opened later get the look as well.
    if (const auto* menu = qobject_cast<const QMenu*>(w)) {
      for (QAction* a : menu->actions())
        if (a->menu() && menu->actionGeometry(a) == r) owner_->HookMenu(a->menu());
    }
  }

  TXPStyler* owner_;
};

// The kind of a control, or -1 when the styler does not handle it.
int ControlKind(QWidget* w) {
  if (w->inherits("TFlatControl") || w->inherits("TFlatComboBox")) return -1;
  if (qobject_cast<QComboBox*>(w)) return xcCombo;
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
      if (qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p)) return -1;
    return e->inputMask().isEmpty() ? xcEdit : xcMaskEdit;
  }
  if (qobject_cast<QPlainTextEdit*>(w)) return xcMemo;
  if (qobject_cast<QTextEdit*>(w)) return xcRichEdit;
  if (qobject_cast<QCheckBox*>(w)) return xcCheckBox;
  if (qobject_cast<QRadioButton*>(w)) return xcRadioButton;
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->icon().isNull() ? xcButton : xcBitBtn;
  if (qobject_cast<QToolButton*>(w))
    return qobject_cast<QToolBar*>(w->parentWidget()) ? xcToolbar : xcSpeedButton;
  if (qobject_cast<QGroupBox*>(w)) return xcGroupBox;
  if (w->metaObject() == &QFrame::staticMetaObject &&
      static_cast<QFrame*>(w)->frameShape() != QFrame::NoFrame)
    return xcPanel;
  return -1;
}

int ContainerKind(QWidget* p) {
  if (!p) return -1;
  if (p->isWindow()) return xccForm;
  if (qobject_cast<QToolBar*>(p)) return xccToolbar;
  if (qobject_cast<QGroupBox*>(p)) return xccGroupBox;
  if (p->parentWidget() && qobject_cast<QAbstractScrollArea*>(p->parentWidget())) return xccScrollBox;
  if (qobject_cast<QStackedWidget*>(p->parentWidget()) && p->parentWidget()->parentWidget() &&
      qobject_cast<QTabWidget*>(p->parentWidget()->parentWidget()))
    return xccTabSheet;
  if (qobject_cast<QFrame*>(p) || p->inherits("TFlatControl")) return xccPanel;
  return xccFrame;
}

}  // namespace

// ---------------------------------------------------------------------------
// TXPStyler

namespace {
constexpr TColor DefaultControlColors[TXPStyler::ControlColorCount] = {
    0x733C00, 0x31B2FF, 0xE7AE8C, 0xF7FBFF, 0xDEE7E7, 0xDEE7E7,
    0xE7EBEF, 0x00A200, 0x8C694A, 0xFFE7D6, 0xB5C7C6};

QFont SystemMenuFont() { return QApplication::font("QMenu"); }
}  // namespace

TXPStyler::TXPStyler(QWidget* form)
    : QObject(form), form_(form), font_(std::make_unique<QFont>(SystemMenuFont())) {
  std::copy(std::begin(DefaultControlColors), std::end(DefaultControlColors), controlColors_);
  selectFontColor_ = fontColor_;
  menuStyle_ = std::make_unique<TXPMenuStyle>(this);
}

TXPStyler::~TXPStyler() {
  // Nothing may keep pointing at this styler's style or filters.
  Unhook(false);
}

const QFont& TXPStyler::Font() const { return *font_; }

QFont TXPStyler::MenuFont() const { return useSystemColors_ ? SystemMenuFont() : *font_; }

void TXPStyler::SetFont(const QFont& f) {
  *font_ = f;
  RedrawMenuBar();
}

void TXPStyler::SetMenuBarColor(TColor c) {
  menuBarColor_ = c;
  RedrawMenuBar();
}

void TXPStyler::SetUseSystemColors(bool v) {
  useSystemColors_ = v;
  RedrawMenuBar();
}

void TXPStyler::SetControlUseTrueXPStyle(bool v) {
  trueXP_ = v;
  if (v) std::copy(std::begin(DefaultControlColors), std::end(DefaultControlColors), controlColors_);
  for (TControlSubClass* s : subclasses_)
    if (s->Control()) s->Control()->update();
}

void TXPStyler::SetControlColor(TXPControlColor which, TColor c) {
  if (which >= 0 && which < ControlColorCount) controlColors_[which] = c;
}

void TXPStyler::SetXPContainers(TXPContainers v) {
  if (v == containers_) return;
  if (!active_) {
    containers_ = v;
    return;
  }
  Walk(false, true);
  containers_ = v;
  Walk(true, true);
}

void TXPStyler::SetXPControls(TXPControls v) {
  if (v == controls_) return;
  if (!active_) {
    controls_ = v;
    return;
  }
  Walk(false, true);
  controls_ = v;
  Walk(true, true);
}

void TXPStyler::SetActive(bool v) {
  if (v == active_) return;
  active_ = v;
  Walk(v, true);
  RedrawMenuBar();
}

int TXPStyler::ScreenDepth() {
  if (depthOverride > 0) return depthOverride;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->depth() : 24;
}

void TXPStyler::SetScreenDepthOverride(int bits) { depthOverride = bits; }

TXPColors TXPStyler::DerivePalette(int depth) const {
  if (depth < 0) depth = ScreenDepth();
  const bool d16 = depth >= 16;
  TXPColors c{};
  c.Menu = color_;
  c.IconColumn = iconBackColor_;
  c.SelectionBorder = selectBorderColor_;
  c.SelectionFont = selectFontColor_;
  c.MenuBar = menuBarColor_;
  c.Disabled = disabledColor_;
  c.CheckMark = checkedColor_;
  c.Separator = separatorColor_;
  if (d16) {
    c.Selection = XPLighten(selectColor_, 68);
    c.CheckedArea = XPLighten(selectColor_, 80);
    c.CheckedAreaSelected = XPLighten(selectColor_, 50);
    c.MenuBorder = XPDarken(clBtnFace, 90);
    c.MenuShadow = XPDarken(clBtnFace, 76);
  } else {
    c.Selection = selectColor_;
    c.CheckedArea = 0xFFFFFF;
    c.CheckedAreaSelected = 0xC0C0C0;
    c.MenuBorder = c.MenuShadow = clBtnShadow;
  }
  if (!useSystemColors_) return c;
  c.SelectionFont = fontColor_;
  if (d16) {
    c.Menu = XPLighten(clBtnFace, 86);
    c.IconColumn = XPLighten(clBtnFace, 16);
    c.Selection = XPLighten(clHighlight, 68);
    c.SelectionBorder = clHighlight;
    c.MenuBar = clBtnFace;
    c.Disabled = XPLighten(clBtnShadow, 10);
    c.Separator = XPLighten(clBtnShadow, 25);
    c.CheckMark = clHighlight;
    c.CheckedArea = XPLighten(clHighlight, 80);
    c.CheckedAreaSelected = XPLighten(clHighlight, 50);
  } else {
    c.Menu = 0xFFFFFF;
    c.IconColumn = clBtnFace;
    c.Selection = 0xFFFFFF;
    c.SelectionBorder = clHighlight;
    c.MenuBar = clBtnFace;
    c.Disabled = clBtnShadow;
    c.CheckMark = clHighlight;
    c.Separator = clBtnShadow;
    c.CheckedArea = c.CheckedAreaSelected = 0xFFFFFF;
  }
  return c;
}

void TXPStyler::RedrawMenuBar() {
  if (!form_) return;
  for (QMenuBar* bar : form_->findChildren<QMenuBar*>()) bar->update();
}

bool TXPStyler::IsHooked(const QWidget* w) const {
  for (TControlSubClass* s : subclasses_)
    if (s->Control() == w) return true;
  for (const auto& m : styledMenus_)
    if (m == w) return true;
  return false;
}

int TXPStyler::HookedCount() const {
  int n = 0;
  for (TControlSubClass* s : subclasses_) n += s->Control() != nullptr;
  for (const auto& m : styledMenus_) n += !m.isNull();
  return n;
}

void TXPStyler::HookMenu(QMenu* menu) {
  // A popup menu's own Tag is not looked at; its items' Tags are, while painting.
  if (!menu || !active_) return;
  for (const auto& m : styledMenus_)
    if (m == menu) return;
  menu->setStyle(menuStyle_.get());
  styledMenus_.emplace_back(menu);
  for (QAction* a : menu->actions())
    if (a->menu()) HookMenu(a->menu());
}

void TXPStyler::Walk(bool on, bool redraw) {
  if (!on) return Unhook(redraw);
  if (!form_) return;
  QList<QWidget*> all = form_->findChildren<QWidget*>();
  for (QWidget* w : all) {
    if (auto* bar = qobject_cast<QMenuBar*>(w)) {
      if ((controls_ & (1u << xcMainMenu)) && TagOf(bar) != XPExcludeTag) {
        bar->setStyle(menuStyle_.get());
        styledMenus_.emplace_back(bar);
        for (QAction* a : bar->actions())
          if (a->menu() && (controls_ & (1u << xcMainMenu))) HookMenu(a->menu());
      }
      continue;
    }
    if (auto* menu = qobject_cast<QMenu*>(w)) {
      // Drop-downs of a menu bar follow the bar (its Tag and xcMainMenu), not
      // the popup-menu switch.
      bool ofBar = false;
      for (QWidget* p = menu->parentWidget(); p && !ofBar; p = p->parentWidget())
        ofBar = qobject_cast<QMenuBar*>(p) != nullptr;
      if (!ofBar && (controls_ & (1u << xcPopupMenu))) HookMenu(menu);
      continue;
    }
    if (auto* tb = qobject_cast<QToolBar*>(w)) {
      if (!(controls_ & (1u << xcToolbar))) continue;
      for (QToolButton* b : tb->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly)) {
        b->setAutoRaise(true);
        if (TagOf(b) != XPExcludeTag) HookControl(b, redraw);
      }
      continue;
    }
    // Parts of menus and other composite widgets are not controls of the form.
    if (w->objectName().startsWith(QLatin1String("qt_")) ||
        qobject_cast<QMenuBar*>(w->parentWidget()) || qobject_cast<QMenu*>(w->parentWidget()))
      continue;
    const int kind = ControlKind(w);
    if (kind < 0 || kind == xcToolbar || !(controls_ & (1u << kind))) continue;
    const int container = ContainerKind(w->parentWidget());
    if (container < 0 || !(containers_ & (1u << container))) continue;
    if (TagOf(w) == XPExcludeTag || TagOf(w->parentWidget()) == XPExcludeTag) continue;
    HookControl(w, redraw);
  }
}

void TXPStyler::HookControl(QWidget* w, bool redraw) {
  if (IsHooked(w)) return;
  subclasses_.push_back(new TControlSubClass(w, this));
  if (redraw) w->update();
}

void TXPStyler::Unhook(bool redraw) {
  for (auto& m : styledMenus_) {
    if (!m) continue;
    m->setStyle(nullptr);
    if (redraw) m->update();
  }
  styledMenus_.clear();
  // Restore first: a subclass deleting itself would otherwise edit the list.
  std::vector<TControlSubClass*> subs;
  subs.swap(subclasses_);
  for (TControlSubClass* s : subs) {
    s->Restore();
    delete s;
  }
}

void TXPStyler::Forget(TControlSubClass* sub) {
  subclasses_.erase(std::remove(subclasses_.begin(), subclasses_.end(), sub), subclasses_.end());
}

// ---------------------------------------------------------------------------
// TControlSubClass

TControlSubClass::TControlSubClass(QWidget* control, TXPStyler* owner)
    : QObject(owner), control_(control), owner_(owner) {
  control->installEventFilter(this);
  control->setAttribute(Qt::WA_Hover);
  // The widget going away takes its subclass with it.
  connect(control, &QObject::destroyed, this, [this] {
    owner_->Forget(this);
    deleteLater();
  });
  // A changed check state ends the hot look until the mouse enters again.
  auto coolDown = [this] {
    hot_ = false;
    if (control_) control_->update();
  };
  if (auto* cb = qobject_cast<QCheckBox*>(control))
    connect(cb, &QCheckBox::stateChanged, this, coolDown);
  else if (auto* b = qobject_cast<QAbstractButton*>(control))
    connect(b, &QAbstractButton::toggled, this, coolDown);
  const bool isEdit = qobject_cast<QLineEdit*>(control) || qobject_cast<QPlainTextEdit*>(control) ||
                      qobject_cast<QTextEdit*>(control);
  if (isEdit) {
    palette_ = control->palette();
    savedPalette_ = control->testAttribute(Qt::WA_SetPalette);
    if (owner_->ControlUseTrueXPStyle() && TagOf(control) != XPForceFlatTag && TagOf(control) >= 0) {
      QPalette pal = control->palette();
      pal.setColor(QPalette::Base, QColorOf(owner_->ControlColor(TXPStyler::BtnSurfaceNormalColor)));
      control->setPalette(pal);
    }
  }
}

TControlSubClass::~TControlSubClass() { Restore(); }

void TControlSubClass::Restore() {
  if (!control_) return;
  control_->removeEventFilter(this);
  const bool isEdit = qobject_cast<QLineEdit*>(control_) || qobject_cast<QPlainTextEdit*>(control_) ||
                      qobject_cast<QTextEdit*>(control_);
  if (isEdit) {
    // The edit gets its own colour back, not the surface colour of the XP look.
    if (savedPalette_)
      control_->setPalette(palette_);
    else
      control_->setPalette(QPalette());
  }
  disconnect(control_, nullptr, this, nullptr);
  control_->update();
  control_ = nullptr;
}

bool TControlSubClass::eventFilter(QObject* o, QEvent* e) {
  if (o != control_) return false;
  QWidget* w = control_;
  switch (e->type()) {
    case QEvent::Paint: {
      if (painting_ || TagOf(w) < 0) return false;
      painting_ = true;
      // Buttons and group boxes are drawn whole; the others over their own paint.
      const bool whole = qobject_cast<QPushButton*>(w) || qobject_cast<QToolButton*>(w) ||
                         qobject_cast<QGroupBox*>(w);
      if (!whole) QCoreApplication::sendEvent(w, e);
      PaintOver();
      painting_ = false;
      return true;
    }
    case QEvent::FocusIn: hot_ = true; w->update(); break;
    case QEvent::FocusOut: hot_ = false; w->update(); break;
    case QEvent::Enter:
    case QEvent::HoverEnter:
      if (w->isEnabled()) {
        hot_ = true;
        w->update();
      }
      break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
      if (w->isEnabled()) {
        hot_ = false;
        w->update();
      }
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        pressed_ = true;
        w->update();
      }
      break;
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        pressed_ = false;
        w->update();
      }
      break;
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
        spaceDown_ = true;
        // Auto-repeat repaints once only.
        if (!spaceRepeat_) w->update();
        spaceRepeat_ = true;
      }
      break;
    case QEvent::KeyRelease: {
      auto* k = static_cast<QKeyEvent*>(e);
      if (k->key() == Qt::Key_Space && !k->isAutoRepeat()) {
        spaceDown_ = spaceRepeat_ = false;
        w->update();
      }
      break;
    }
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
      w->update();
      break;
    default:
      break;
  }
  return false;
}

void TControlSubClass::PaintOver() {
  QWidget* w = control_;
  focused_ = w->hasFocus();
  const TXPColors pal = owner_->DerivePalette();
  const bool trueXP = owner_->ControlUseTrueXPStyle() && TagOf(w) != XPForceFlatTag;
  QPainter p(w);
  p.setRenderHint(QPainter::Antialiasing, false);
  if (qobject_cast<QComboBox*>(w))
    PaintCombo(p, pal, trueXP);
  else if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w))
    PaintEdit(p, pal, trueXP);
  else if (qobject_cast<QCheckBox*>(w))
    PaintCheck(p, pal, trueXP, false);
  else if (qobject_cast<QRadioButton*>(w))
    PaintCheck(p, pal, trueXP, true);
  else if (qobject_cast<QPushButton*>(w))
    PaintButton(p, pal, trueXP);
  else if (qobject_cast<QToolButton*>(w)) {
    if (qobject_cast<QToolBar*>(w->parentWidget()))
      PaintToolButton(p, pal);
    else
      PaintButton(p, pal, trueXP);
  } else if (qobject_cast<QGroupBox*>(w))
    PaintGroupBox(p);
  else
    PaintPanel(p);
}

namespace {
TColor ParentColorOf(const QWidget* w) { return WidgetColor(w->parentWidget()); }
TColor OwnColorOf(const QWidget* w) { return TColorOf(w->palette().color(QPalette::Base)); }
}  // namespace

void TControlSubClass::PaintCombo(QPainter& p, const TXPColors& pal, bool trueXP) {
  auto* combo = static_cast<QComboBox*>(control_.data());
  const bool enabled = combo->isEnabled();
  const bool dropped = combo->view() && combo->view()->isVisible();
  TColor f, b, a = enabled ? clBlack : 0xFFFFFF;
  if (hot_) {
    f = pal.SelectionBorder;
    b = pal.Selection;
  } else if (focused_) {
    f = XPLighten(pal.SelectionBorder, 60);
    b = pal.CheckedArea;
  } else {
    f = OwnColorOf(combo);
    b = clBtnFace;
  }
  if (dropped) {
    f = pal.SelectionBorder;
    a = 0xFFFFFF;
    b = pal.CheckedAreaSelected;
  }
  const QRect r = combo->rect();
  const int W = r.width(), H = r.height();
  FrameRectC(p, r, ParentColorOf(combo));
  FillRectC(p, QRect(1, 1, W - 2, 1), ParentColorOf(combo));
  const QRect client = r.adjusted(1, 1, -1, -1);
  FrameRectC(p, client, OwnColorOf(combo));
  TColor frame = f;
  if (trueXP) frame = owner_->ControlColor(enabled ? TXPStyler::BtnOutLineBorderColor
                                                   : TXPStyler::ControlDisabledBorderColor);
  FrameRectC(p, client, frame);
  const bool rtl = combo->layoutDirection() == Qt::RightToLeft;
  int bw = 16;
  if (!trueXP && (hot_ || focused_)) bw += rtl ? 2 : 1;
  QRect button = rtl ? QRect(2, 2, bw, H - 4) : QRect(W - 2 - bw, 2, bw, H - 4);
  if (!trueXP) {
    FillRectC(p, button, b);
    const QRect strip = rtl ? QRect(RightOf(button) - 5, 2, 5, H - 4) : QRect(button.left(), 2, 5, H - 4);
    FillRectC(p, strip, OwnColorOf(combo));
    FillRectC(p, QRect(rtl ? strip.left() : RightOf(strip) - 1, 2, 1, H - 4), f);
    const QRect face = rtl ? button.adjusted(0, 0, -5, 0) : button.adjusted(5, 0, 0, 0);
    DrawArrow(p, face.center().x() - 6, face.center().y() - 1, dropped, a);
  } else {
    FillRectC(p, button, owner_->ControlColor(TXPStyler::BtnSurfaceNormalColor));
    TColor inner = pressed_ ? owner_->ControlColor(TXPStyler::BtnSurfaceDownColor)
                            : owner_->ControlColor(TXPStyler::BtnInnerBorderFocusColor);
    if (hot_) inner = owner_->ControlColor(TXPStyler::ComboboxSurfaceMoveColor);
    if (dropped) inner = 0xF7A28C;
    FillRectC(p, button.adjusted(1, 1, -1, -1), inner);
    // A v two pixels thick, 8 wide and 4 high.
    const QColor chk = QColorOf(owner_->ControlColor(TXPStyler::ComboBoxChkColor));
    const int x0 = button.center().x() - 3, y0 = button.center().y() - 2;
    for (int i = 0; i < 4; ++i) {
      p.fillRect(x0 + i, y0 + i, 2, 1, chk);
      p.fillRect(x0 + 6 - i, y0 + i, 2, 1, chk);
    }
  }
}

void TControlSubClass::PaintEdit(QPainter& p, const TXPColors& pal, bool trueXP) {
  QWidget* w = control_;
  bool single = true;
  if (auto* le = qobject_cast<QLineEdit*>(w)) single = le->hasFrame();
  if (auto* fr = qobject_cast<QFrame*>(w)) single = fr->frameShape() != QFrame::NoFrame;
  TColor frame;
  if (hot_ || focused_)
    frame = XPLighten(pal.SelectionBorder, single ? 60 : 80);
  else
    frame = single ? XPDarken(ParentColorOf(w), 60) : ParentColorOf(w);
  (void)trueXP;  // the surface colour was set when hooking
  const QRect r = w->rect();
  FrameRectC(p, r, frame);
  // The flat look: the native 3-D ring inside becomes the edit's own colour.
  FrameRectC(p, r.adjusted(1, 1, -1, -1), OwnColorOf(w));
}

void TControlSubClass::PaintCheck(QPainter& p, const TXPColors& pal, bool trueXP, bool radio) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const int size = 16 + (trueXP ? (radio ? 2 : 1) : 0);
  const bool right = b->layoutDirection() == Qt::RightToLeft;
  const QRect box(right ? b->width() - size : 0, (b->height() - size) / 2, size, size);
  FillRectC(p, box.adjusted(0, 0, 1, 1), WidgetColor(b));
  TColor fill, frame;
  if (!trueXP) {
    if (hot_ || focused_) {
      fill = pal.Selection;
      frame = pal.SelectionBorder;
    } else {
      fill = clWindow;
      frame = clBtnShadow;
    }
    if (pressed_ || spaceDown_) fill = pal.CheckedAreaSelected;
  } else {
    fill = owner_->ControlColor(pressed_ ? TXPStyler::BtnSurfaceDownColor : TXPStyler::BtnSurfaceNormalColor);
    frame = owner_->ControlColor(b->isEnabled() || pressed_ ? TXPStyler::BtnOutLineBorderColor
                                                            : TXPStyler::ControlDisabledBorderColor);
  }
  auto* cb = qobject_cast<QCheckBox*>(b);
  const bool greyed = cb && cb->checkState() == Qt::PartiallyChecked;
  if (greyed && !trueXP) fill = 0xC0C0C0;
  p.setPen(QColorOf(frame));
  p.setBrush(QColorOf(fill));
  const QRect outline = box.adjusted(0, 0, -1, -1);
  if (radio) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawEllipse(outline);
  } else {
    p.drawRect(outline);
  }
  if (trueXP && hot_) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QColorOf(owner_->ControlColor(TXPStyler::BtnInnerBorderMoveColor)));
    if (radio)
      p.drawEllipse(outline.adjusted(1, 1, -1, -1));
    else
      p.drawRect(outline.adjusted(1, 1, -1, -1));
  }
  if (!b->isChecked() && !greyed) return;
  const QColor mark = QColorOf(trueXP ? owner_->ControlColor(TXPStyler::RdoChkControlChkColor) : clBlack);
  p.setPen(Qt::NoPen);
  p.setBrush(mark);
  if (radio) {
    p.drawEllipse(box.center(), 3, 3);
    return;
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  const int x = box.left() + 4, y = box.top() + size / 2 - 1;
  for (int i = 0; i < 3; ++i) p.fillRect(x + i, y + i, 1, 3, mark);
  for (int i = 0; i < 5; ++i) p.fillRect(x + 3 + i, y + 1 - i, 1, 3, mark);
}

void TControlSubClass::PaintButton(QPainter& p, const TXPColors& pal, bool trueXP) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const QRect r = b->rect();
  const bool down = pressed_ || b->isDown() || spaceDown_;
  FillRectC(p, r, ParentColorOf(b));
  const int arc = owner_->BtnRoundArc();
  const QRectF shape = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (!trueXP) {
    const TColor face = hot_ || spaceDown_ ? XPLighten(clBtnFace, 60) : pal.IconColumn;
    const TColor f = hot_ || spaceDown_ || focused_ ? XPLighten(pal.SelectionBorder, 60) : clBtnShadow;
    p.setPen(QColorOf(XPLighten(f, 30)));
    p.setBrush(QColorOf(face));
    p.drawRoundedRect(shape, arc, arc);
  } else {
    p.setBrush(QColorOf(owner_->ControlColor(down ? TXPStyler::BtnSurfaceDownColor
                                                  : TXPStyler::BtnSurfaceNormalColor)));
    p.setPen(QColorOf(owner_->ControlColor(b->isEnabled() ? TXPStyler::BtnOutLineBorderColor
                                                          : TXPStyler::ControlDisabledBorderColor)));
    p.drawRoundedRect(shape, arc, arc);
    p.setRenderHint(QPainter::Antialiasing, false);
    FillRectC(p, QRect(2, r.height() - 3, r.width() - 4, 1),
              owner_->ControlColor(down ? TXPStyler::BtnSurfaceDownBottomLineColor
                                        : TXPStyler::BtnSurfaceBottomLineColor));
    TColor ring = -1;
    if (hot_ && !down)
      ring = owner_->ControlColor(TXPStyler::BtnInnerBorderMoveColor);
    else if (focused_ && !down)
      ring = owner_->ControlColor(TXPStyler::BtnInnerBorderFocusColor);
    if (ring != -1) {
      FrameRectC(p, r.adjusted(1, 1, -1, -1).adjusted(1, 0, -1, 0), ring);
      FrameRectC(p, r.adjusted(2, 2, -2, -2), ring + 0x020202);
    }
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  PaintGlyphAndCaption(p, pal, r);
}

void TControlSubClass::PaintGlyphAndCaption(QPainter& p, const TXPColors& pal, const QRect& r) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const bool enabled = b->isEnabled();
  QRect textRect = r;
  if (!b->icon().isNull()) {
    const QSize is = b->iconSize();
    QImage img = b->icon().pixmap(is).toImage();
    const int total = img.width() + (b->text().isEmpty() ? 0 : 4 + b->fontMetrics().horizontalAdvance(b->text()));
    const QPoint at(r.left() + (r.width() - total) / 2, r.top() + (r.height() - img.height()) / 2);
    if (!enabled) {
      p.drawImage(at, XPLightenImage(XPGreyImage(img, owner_->GrayLevel()), 40));
    } else if (hot_) {
      const QColor shadow = QColorOf(XPDarken(pal.Selection, 50));
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (Opaque(img, x, y)) p.fillRect(at.x() + x + 1, at.y() + y + 1, 1, 1, shadow);
      p.drawImage(at - QPoint(1, 1), img);
    } else {
      p.drawImage(at, XPLightenImage(img, owner_->DimLevel()));
    }
    textRect.setLeft(at.x() + img.width() + 4);
  }
  if (b->text().isEmpty()) return;
  p.setFont(b->font());
  p.setPen(enabled ? b->palette().color(QPalette::ButtonText) : QColorOf(pal.Disabled));
  const int align = (b->icon().isNull() ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter |
                    Qt::TextShowMnemonic | Qt::TextSingleLine;
  p.drawText(textRect, align, b->text());
}

void TControlSubClass::PaintToolButton(QPainter& p, const TXPColors& pal) {
  auto* b = static_cast<QToolButton*>(control_.data());
  QWidget* bar = b->parentWidget();
  const TColor barColor = WidgetColor(bar);
  const bool d16 = TXPStyler::ScreenDepth() >= 16;
  const TColor hotColor = d16 && !owner_->UseSystemColors() ? XPLighten(owner_->SelectColor(), 68)
                                                           : pal.Selection;
  const QRect r = b->rect();
  FillRectC(p, r, d16 ? XPLighten(barColor, 16) : barColor);
  const bool hot = hot_ && b->isEnabled();
  const bool checked = b->isChecked(), down = b->isDown() || pressed_;
  const QRect body = r.adjusted(0, 1, 0, 0);
  bool framed = false;
  if (hot && (checked || down)) {
    FillRectC(p, body, pal.CheckedAreaSelected);
    framed = true;
  } else if (hot) {
    FillRectC(p, body, hotColor);
    framed = true;
  } else if (checked) {
    FillRectC(p, body, pal.CheckedArea);
    framed = true;
  }
  const bool dropDown = b->popupMode() == QToolButton::MenuButtonPopup;
  // A drop-down button at rest shows the bar's own colour.
  if (dropDown && !framed) FillRectC(p, body, barColor);
  if (framed) {
    const QRect outline = RectLTRB(r.left(), r.top() + 1, RightOf(r) - 1, BottomOf(r) - 1);
    if (dropDown) {
      FrameRectC(p, outline.adjusted(0, 0, -13, 0), pal.SelectionBorder);
      FrameRectC(p, RectLTRB(RightOf(outline) - 14, outline.top(), RightOf(outline), BottomOf(outline)),
                 pal.SelectionBorder);
    } else {
      FrameRectC(p, outline, pal.SelectionBorder);
    }
  }
  QRect content = r;
  if (dropDown) {
    const int x = RightOf(r) - 10, y = r.center().y() - 1;
    const QColor c = QColorOf(owner_->FontColor());
    p.fillRect(x, y, 5, 1, c);
    p.fillRect(x + 1, y + 1, 3, 1, c);
    p.fillRect(x + 2, y + 2, 1, 1, c);
    content.setRight(RightOf(r) - 14);
  }
  hot_ = hot;
  PaintGlyphAndCaption(p, pal, content);
}

void TControlSubClass::PaintPanel(QPainter& p) {
  auto* f = qobject_cast<QFrame*>(control_.data());
  if (!f) return;
  const TColor colour = WidgetColor(f);
  const TColor dark = XPDarken(colour, 60), light = XPLighten(colour, 60);
  const int width = std::max(1, f->lineWidth());
  if (f->frameShadow() == QFrame::Plain) return;
  const bool lowered = f->frameShadow() == QFrame::Sunken;
  DrawFlatFrame(p, f->rect(), lowered ? dark : light, lowered ? light : dark, width);
}

void TControlSubClass::PaintGroupBox(QPainter& p) {
  auto* g = static_cast<QGroupBox*>(control_.data());
  const TColor colour = WidgetColor(g);
  const TColor dark = XPDarken(colour, 60), light = XPLighten(colour, 60);
  p.setFont(g->font());
  const QFontMetrics fm(g->font());
  const int top = fm.height() / 2;
  const QRect frame(0, top, g->width(), g->height() - top);
  const bool ctl3d = g->isFlat() == false;
  DrawFlatFrame(p, frame, ctl3d ? light : dark, dark, 1);
  if (g->title().isEmpty()) return;
  const int tw = fm.horizontalAdvance(g->title()) + 4;
  const bool rtl = g->layoutDirection() == Qt::RightToLeft;
  const int x = rtl ? g->width() - 9 - tw : 9;
  const QRect caption(x, 0, tw, fm.height());
  FillRectC(p, caption, ParentColorOf(g));
  p.setPen(g->isEnabled() ? g->palette().color(QPalette::WindowText) : QColorOf(clGrayText));
  p.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, g->title());
  // The top line again on both sides of the caption.
  FillRectC(p, RectLTRB(0, top, caption.left(), top + 1), ctl3d ? light : dark);
  FillRectC(p, RectLTRB(RightOf(caption), top, g->width() - 1, top + 1), ctl3d ? light : dark);
}
