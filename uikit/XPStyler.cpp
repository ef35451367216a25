#include "uikit/XPStyler.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "uikit/XPControlPainter.h"
#include "uikit/XPPopupStyle.h"

namespace {
int depthOverride = -1;
}  // namespace

int TagOf(const QObject* o) { return o ? o->property("Tag").toInt() : 0; }

namespace {

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
  menuStyle_ = std::make_unique<TXPPopupStyle>(this);
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
  // Sub-menus added later get the look when their parent opens.
  connect(menu, &QMenu::aboutToShow, this, [this, menu] {
    for (QAction* a : menu->actions())
      if (a->menu()) HookMenu(a->menu());
  });
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
    disconnect(m, nullptr, this, nullptr);
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
