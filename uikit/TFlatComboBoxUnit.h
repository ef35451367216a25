#pragma once
// Flat combo box: the platform combo box with a flat frame, an 11-pixel arrow
// button and, for the list styles, a focus strip between text and button.
#include <QComboBox>

#include "uikit/FlatUtilitys.h"

class TFlatComboBox : public QComboBox {
  Q_OBJECT
 public:
  enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };
  static constexpr int ButtonWidth = 11;
  static constexpr int SystemArrowWidth = 16;

  explicit TFlatComboBox(QWidget* parent = nullptr);

  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle s);

  TColor Color() const { return color_; }
  void SetColor(TColor c);
  TColor ColorArrow() const { return colors_[0]; }
  TColor ColorArrowBackground() const { return colors_[1]; }
  TColor ColorBorder() const { return colors_[2]; }
  void SetColorArrow(TColor c) { SetColorIndex(0, c); }
  void SetColorArrowBackground(TColor c) { SetColorIndex(1, c); }
  void SetColorBorder(TColor c) { SetColorIndex(2, c); }
  TAdvColors AdvColorBorder() const { return adv_[0]; }
  TAdvColors AdvColorArrowBackground() const { return adv_[1]; }
  void SetAdvColorBorder(TAdvColors v) { SetAdvIndex(0, v); }
  void SetAdvColorArrowBackground(TAdvColors v) { SetAdvIndex(1, v); }
  bool UseAdvColors() const { return useAdvColors_; }
  void SetUseAdvColors(bool v);

  int DropDownCount() const { return maxVisibleItems(); }
  void SetDropDownCount(int n) { setMaxVisibleItems(n); }
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int h) { itemHeight_ = h; }
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int n);
  bool Sorted() const { return sorted_; }
  void SetSorted(bool v);
  QStringList Items() const;
  void SetItems(const QStringList& items);
  void AddItem(const QString& s);
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int i) { setCurrentIndex(i); }
  QString Text() const { return currentText(); }
  void SetText(const QString& t);

  bool DroppedDown() const { return dropped_; }
  // The arrow button, in client coordinates (before its one-pixel widening).
  QRect ButtonRect() const;
  // Where the text edit of the editable styles sits.
  QRect EditRect() const;

  void showPopup() override;
  void hidePopup() override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void SetColorIndex(int i, TColor c);
  void SetAdvIndex(int i, TAdvColors v);
  void CalcAdvColors();
  void ApplyColors();
  void PlaceEdit();

  TComboBoxStyle style_ = csDropDown;
  TColor color_ = 0xE1EAEB;
  TColor colors_[3] = {clBlack, 0xC5D6D9, 0x8396A0};
  TAdvColors adv_[2] = {50, 10};
  bool useAdvColors_ = false;
  int itemHeight_ = 13;
  int maxLength_ = 0;
  bool sorted_ = false;
  bool dropped_ = false;
};
