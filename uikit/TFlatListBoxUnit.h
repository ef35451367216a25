#pragma once
// Flat list box that draws everything itself: rows, selection, its own scroll
// arrows with auto-repeat, wheel and keyboard scrolling. At most 256 items can
// be selected.
#include <QStringList>
#include <bitset>
#include <functional>
#include <vector>

#include "uikit/FlatUtilitys.h"
#include "uikit/TFlatControl.h"

class QTimer;

class TFlatListBox : public TFlatControl {
  Q_OBJECT
 public:
  static constexpr int MaxItems = 256;

  explicit TFlatListBox(QWidget* parent = nullptr);
  ~TFlatListBox() override;

  const QStringList& Items() const { return items_; }
  // Takes a trimmed copy of a list of at most 256 strings; a longer list is ignored.
  void SetItems(const QStringList& list);
  void AddItem(const QString& s);
  void ClearItems();

  // The last clicked row (top index + row), -1 after a refill or when nothing was clicked.
  int ItemIndex() const { return itemIndex_; }
  bool Selected(int index) const;
  int TopIndex() const { return topIndex_; }
  int VisibleCount() const { return visibleCount_; }
  const std::vector<QRect>& RowRects() const { return rows_; }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool v);
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int h);
  bool MultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool v);
  bool ScrollBars() const { return scrollBars_; }
  void SetScrollBars(bool v);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode m);

  TColor ColorArrow() const { return colors_[0]; }
  TColor ColorBorder() const { return colors_[1]; }
  TColor ColorItemsRect() const { return colors_[2]; }
  TColor ColorItemsSelect() const { return colors_[3]; }
  void SetColorArrow(TColor c) { SetColorIndex(0, c); }
  void SetColorBorder(TColor c) { SetColorIndex(1, c); }
  void SetColorItemsRect(TColor c) { SetColorIndex(2, c); }
  void SetColorItemsSelect(TColor c) { SetColorIndex(3, c); }
  TAdvColors AdvColorBorder() const { return advColorBorder_; }
  void SetAdvColorBorder(TAdvColors v);
  bool UseAdvColors() const { return useAdvColors_; }
  void SetUseAdvColors(bool v);

  // The shared auto-repeat timer: first tick after 600 ms, then every 100 ms.
  static QTimer* RepeatTimer();
  // One step of the auto-repeat, as the timer does it.
  void RepeatTick();

  std::function<void(QObject*)> OnClick;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void ParentColorChanged() override;
  void Loaded() override;

 private:
  void SetColorIndex(int i, TColor c);
  void ItemsChanged();
  void CalcAdvColors();
  void UpdateRows();
  int StripHeight() const { return scrollBars_ ? 24 : 4; }
  bool CanScrollDown(int lines = 1) const;
  void StartRepeat(bool down);
  void StopRepeat();
  void WheelStep(bool towardsUser);

  QStringList items_;
  std::bitset<MaxItems> selection_;
  std::vector<QRect> rows_;
  TTransparentMode transparentMode_ = tmNone;
  bool scrollDown_ = false;
  int topIndex_ = 0;
  int visibleCount_ = 0;
  bool sorted_ = false;
  int itemHeight_ = 17;
  int itemIndex_ = -1;
  bool multiSelect_ = false;
  bool scrollBars_ = false;
  bool useAdvColors_ = false;
  TAdvColors advColorBorder_ = 40;
  TColor colors_[4] = {clBlack, 0x8396A0, 0xFFFFFF, 0x9CDEF7};
  int wheelRemainder_ = 0;
  bool sizing_ = false;
  bool pressedInside_ = false;
};
