#pragma once
// What the two flat buttons share: the four-state face, the hover timer of the
// class, toggle groups and the painting of frame, glyph and caption.
#include <QImage>
#include <functional>

#include "uikit/FlatUtilitys.h"
#include "uikit/TFlatControl.h"

class QTimer;

using TModalResult = int;
using TFlatNotifyEvent = std::function<void(QObject* Sender)>;

enum TFlatButtonState : uint8_t { bsUp = 0, bsDisabled = 1, bsDown = 2, bsExclusive = 3 };

// One hover timer and one watched control per button class.
struct TFlatHoverClass {
  QTimer* Timer = nullptr;
  class TFlatButtonBase* Current = nullptr;
  int Instances = 0;
};

class TFlatButtonBase : public TFlatControl {
  Q_OBJECT
 public:
  ~TFlatButtonBase() override;

  // Where the cursor is, as the hover timer sees it (the topmost widget there);
  // replaceable so that tests can place the cursor.
  using TCursorProbe = std::function<QWidget*()>;
  static void SetCursorProbe(TCursorProbe probe);
  static QWidget* WidgetUnderCursor();

  QString Caption() const { return caption_; }
  void SetCaption(const QString& c);

  TColor ColorFocused() const { return colors_[0]; }
  TColor ColorDown() const { return colors_[1]; }
  TColor ColorBorder() const { return colors_[2]; }
  TColor ColorHighLight() const { return colors_[3]; }
  TColor ColorShadow() const { return colors_[4]; }
  void SetColorFocused(TColor c) { SetColorIndex(0, c); }
  void SetColorDown(TColor c) { SetColorIndex(1, c); }
  void SetColorBorder(TColor c) { SetColorIndex(2, c); }
  void SetColorHighLight(TColor c) { SetColorIndex(3, c); }
  void SetColorShadow(TColor c) { SetColorIndex(4, c); }

  TAdvColors AdvColorFocused() const { return adv_[0]; }
  TAdvColors AdvColorDown() const { return adv_[1]; }
  TAdvColors AdvColorBorder() const { return adv_[2]; }
  void SetAdvColorFocused(TAdvColors v) { SetAdvIndex(0, v); }
  void SetAdvColorDown(TAdvColors v) { SetAdvIndex(1, v); }
  void SetAdvColorBorder(TAdvColors v) { SetAdvIndex(2, v); }
  bool UseAdvColors() const { return useAdvColors_; }
  void SetUseAdvColors(bool v);

  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode m);

  const QImage& Glyph() const { return glyph_; }
  void SetGlyph(const QImage& g);
  int NumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int n);
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout l);
  int Margin() const { return margin_; }
  void SetMargin(int m);
  int Spacing() const { return spacing_; }
  void SetSpacing(int s);

  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int g);
  bool AllowAllUp() const { return allowAllUp_; }
  void SetAllowAllUp(bool v);
  bool Down() const { return down_; }
  void SetDown(bool v);

  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult m) { modalResult_ = m; }

  TFlatButtonState State() const { return state_; }
  bool Hover() const { return hover_; }
  QPoint GlyphPosition() const { return glyphPos_; }
  QRect TextBounds() const { return textBounds_; }

  // Sets the window's ModalResult (ending a running modal dialog when not 0),
  // then OnClick. False when a handler deleted the button: touch nothing then.
  virtual bool Click();

  TFlatNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseLeave;

 protected:
  // The caption's accelerator was pressed (Alt + the letter after '&').
  virtual void DialogChar() { Click(); }
  bool event(QEvent* e) override;

 signals:
  void clicked();

 protected:
  TFlatButtonBase(TFlatHoverClass& cls, QWidget* parent);

  void MouseEnter();
  void MouseLeave();
  void ReleaseTimer();
  void ReevaluateHover();
  void AnnounceGroup();
  void ButtonPressed(int groupIndex, TFlatButtonBase* sender);
  void CalcAdvColors();
  // Paints the whole face; paintsParent: the transparent modes show the parent
  // (windowed button) rather than leaving the area alone (windowless button).
  void PaintFace(QPainter& p, bool paintsParent, bool isDefault);

  void ParentColorChanged() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void changeEvent(QEvent* e) override;

  TFlatButtonState state_ = bsUp;
  bool hover_ = false;
  bool dragging_ = false;
  bool inside_ = false;  // between OnMouseEnter and OnMouseLeave

 private:
  void SetColorIndex(int i, TColor c);
  void SetAdvIndex(int i, TAdvColors v);
  void TakeOverHover();
  void TimerTick();
  static bool Inside(const QWidget* w, const QPoint& pt);

  TFlatHoverClass& cls_;
  QString caption_;
  int shortcutId_ = 0;
  TColor colors_[5] = {0xE1EAEB, 0xC5D6D9, 0x8396A0, clWhite, clBlack};
  TAdvColors adv_[3] = {10, 10, 50};
  bool useAdvColors_ = false;
  TTransparentMode transparentMode_ = tmNone;
  QImage glyph_;
  int numGlyphs_ = 1;
  TButtonLayout layout_ = blGlyphTop;
  int margin_ = -1;
  int spacing_ = 4;
  int groupIndex_ = 0;
  bool allowAllUp_ = false;
  bool down_ = false;
  TModalResult modalResult_ = 0;
  QPoint glyphPos_;
  QRect textBounds_;
};
