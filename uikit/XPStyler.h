#pragma once
// XP look for a form without changing the form's code: the component and its walk over
// the form. Menus and menu bars are drawn by its popup style (XPPopupStyle), tool buttons
// and standard controls are painted over by a TControlSubClass each (XPControlPainter).
// Switching it off (or destroying it) restores every widget at once.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Colors.h"
#include "uikit/XPColors.h"

class QFont;
class QMenu;
class QStyle;
class TControlSubClass;

enum TXPContainer {
  xccForm, xccFrame, xccToolbar, xccCoolbar, xccControlbar,
  xccPanel, xccScrollBox, xccGroupBox, xccTabSheet, xccPageScroller
};
// One bit per TXPContainer.
using TXPContainers = uint16_t;
constexpr TXPContainers AllXPContainers = 1023;

enum TXPControl {
  xcMainMenu, xcPopupMenu, xcToolbar, xcControlbar, xcCombo, xcEdit, xcMaskEdit, xcMemo,
  xcRichEdit, xcCheckBox, xcRadioButton, xcButton, xcBitBtn, xcSpeedButton, xcPanel, xcGroupBox
};
// One bit per TXPControl.
using TXPControls = uint16_t;
constexpr TXPControls AllXPControls = 65535;

// Tag values are the dynamic property "Tag" of a widget, menu or action.
int TagOf(const QObject* o);
constexpr int XPExcludeTag = 999;         // left alone by the styler
constexpr int XPForceFlatTag = 1234567890;  // flat look even with the true XP style

class TXPStyler : public QObject {
  Q_OBJECT
 public:
  // The form whose menus, tool bars and controls get the look.
  explicit TXPStyler(QWidget* form);
  ~TXPStyler() override;

  QWidget* Form() const { return form_; }
  bool Active() const { return active_; }
  void SetActive(bool v);

  uint8_t DimLevel() const { return dimLevel_; }
  void SetDimLevel(uint8_t v) { dimLevel_ = v; }
  uint8_t GrayLevel() const { return grayLevel_; }
  void SetGrayLevel(uint8_t v) { grayLevel_ = v; }
  const QFont& Font() const;
  void SetFont(const QFont& f);
  // The font menus are drawn with: the system menu font while UseSystemColors.
  QFont MenuFont() const;
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor c) { fontColor_ = c; }

  TColor Color() const { return color_; }
  void SetColor(TColor c) { color_ = c; }
  TColor IconBackColor() const { return iconBackColor_; }
  void SetIconBackColor(TColor c) { iconBackColor_ = c; }
  TColor MenuBarColor() const { return menuBarColor_; }
  void SetMenuBarColor(TColor c);
  TColor SelectColor() const { return selectColor_; }
  void SetSelectColor(TColor c) { selectColor_ = c; }
  TColor SelectBorderColor() const { return selectBorderColor_; }
  void SetSelectBorderColor(TColor c) { selectBorderColor_ = c; }
  TColor SelectFontColor() const { return selectFontColor_; }
  void SetSelectFontColor(TColor c) { selectFontColor_ = c; }
  TColor DisabledColor() const { return disabledColor_; }
  void SetDisabledColor(TColor c) { disabledColor_ = c; }
  TColor SeparatorColor() const { return separatorColor_; }
  void SetSeparatorColor(TColor c) { separatorColor_ = c; }
  TColor CheckedColor() const { return checkedColor_; }
  void SetCheckedColor(TColor c) { checkedColor_ = c; }
  int IconWidth() const { return iconWidth_; }
  void SetIconWidth(int v) { iconWidth_ = v; }
  bool DrawSelect() const { return drawSelect_; }
  void SetDrawSelect(bool v) { drawSelect_ = v; }
  bool UseSystemColors() const { return useSystemColors_; }
  void SetUseSystemColors(bool v);
  bool OverrideOwnerDraw() const { return overrideOwnerDraw_; }
  void SetOverrideOwnerDraw(bool v) { overrideOwnerDraw_ = v; }
  bool Gradient() const { return gradient_; }
  void SetGradient(bool v) { gradient_ = v; }
  bool FlatMenu() const { return flatMenu_; }
  void SetFlatMenu(bool v) { flatMenu_ = v; }
  bool AutoDetect() const { return autoDetect_; }
  void SetAutoDetect(bool v) { autoDetect_ = v; }
  TXPContainers XPContainers() const { return containers_; }
  void SetXPContainers(TXPContainers v);
  TXPControls XPControls() const { return controls_; }
  void SetXPControls(TXPControls v);

  bool ControlUseTrueXPStyle() const { return trueXP_; }
  void SetControlUseTrueXPStyle(bool v);
  int BtnRoundArc() const { return btnRoundArc_; }
  void SetBtnRoundArc(int v) { btnRoundArc_ = v; }
  // The rounded-button and control colours, in the order of the property list.
  enum TXPControlColor {
    BtnOutLineBorderColor, BtnInnerBorderMoveColor, BtnInnerBorderFocusColor,
    BtnSurfaceNormalColor, BtnSurfaceDownColor, BtnSurfaceBottomLineColor,
    BtnSurfaceDownBottomLineColor, RdoChkControlChkColor, ComboBoxChkColor,
    ComboboxSurfaceMoveColor, ControlDisabledBorderColor, ControlColorCount
  };
  TColor ControlColor(TXPControlColor which) const { return controlColors_[which]; }
  void SetControlColor(TXPControlColor which, TColor c);

  // Colours for the next paint; depth is the screen's bits per pixel.
  TXPColors DerivePalette(int depth = -1) const;
  // Bits per pixel of the screen (tests can pretend a 256-colour screen).
  static int ScreenDepth();
  static void SetScreenDepthOverride(int bits);

  QStyle* MenuStyle() const { return menuStyle_.get(); }
  bool IsHooked(const QWidget* w) const;
  int HookedCount() const;
  // Hooks the menu and its sub-menus (used for sub-menus met while painting).
  void HookMenu(QMenu* menu);

 private:
  friend class TControlSubClass;
  void Walk(bool on, bool redraw);
  void HookControl(QWidget* w, bool redraw);
  void Unhook(bool redraw);
  void RedrawMenuBar();
  void Forget(TControlSubClass* sub);

  QPointer<QWidget> form_;
  bool active_ = false;
  uint8_t dimLevel_ = 30, grayLevel_ = 10;
  std::unique_ptr<QFont> font_;
  TColor fontColor_ = clMenuText;
  TColor color_ = clBtnFace, iconBackColor_ = clBtnFace, menuBarColor_ = clBtnFace;
  TColor selectColor_ = clHighlight, selectBorderColor_ = clHighlight;
  TColor selectFontColor_ = clMenuText, disabledColor_ = clInactiveCaption;
  TColor separatorColor_ = clBtnFace, checkedColor_ = clHighlight;
  int iconWidth_ = 24;
  bool drawSelect_ = true, useSystemColors_ = true, overrideOwnerDraw_ = false;
  bool gradient_ = false, flatMenu_ = false, autoDetect_ = false;
  TXPContainers containers_ = AllXPContainers;
  TXPControls controls_ = AllXPControls;
  bool trueXP_ = true;
  int btnRoundArc_ = 5;
  TColor controlColors_[ControlColorCount] = {};
  std::unique_ptr<QStyle> menuStyle_;
  std::vector<QPointer<QWidget>> styledMenus_;
  std::vector<TControlSubClass*> subclasses_;
};
