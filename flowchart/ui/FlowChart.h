#pragma once
// TCustomFlowChart: the chart model in a scrolling, zooming window that paints the items,
// takes the mouse and keyboard, and shows drags as feedback until they end.
#include <QAbstractScrollArea>
#include <QPointer>

#include "flowchart/FcChart.h"
#include "flowchart/ui/FcImageList.h"

class QPainter;

enum TBorderStyle { bsNone, bsSingle };

class TCustomFlowChart : public QAbstractScrollArea, public TFcChart {
  Q_OBJECT
 public:
  using TFcDrawEvent = std::function<void(TCustomFlowChart* sender, TFcObject* object, const TRect& r)>;
  using TFcMouseEvent = std::function<void(TCustomFlowChart* sender, Qt::MouseButton button, uint8_t shift, int x, int y)>;
  using TFcKeyEvent = std::function<void(TCustomFlowChart* sender, int& key, uint8_t shift)>;

  explicit TCustomFlowChart(QWidget* parent = nullptr);
  ~TCustomFlowChart() override;

  TFcImageList* Images() const { return images_; }
  void SetImages(TFcImageList* images);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle s);

  // Draws an object's image and text; the painter is Canvas() while painting.
  virtual void DrawObject(TFcObject* object, const TRect& r);
  QPainter* Canvas() const { return canvas_; }
  // Selection handles as painted last, in client coordinates.
  using TFcChart::Invalidate;

  TFcDrawEvent OnDrawObject;
  TFcMouseEvent OnMouseDown, OnMouseMove, OnMouseUp;
  TFcKeyEvent OnKeyDown;
  std::function<void(TCustomFlowChart*)> OnDblClick;
  // Drawn over the items, last: a form's own drag feedback.
  std::function<void(QPainter&)> OnPaintOverlay;
  // Objects screen readers and UI automation hear as checked: a form's current step.
  std::function<bool(const TFcObject*)> IsObjectChecked;

  TFcSize MeasureText(const TFcFont& font, const AnsiString& text) const override;
  int ScreenWidth() const override;
  QSize sizeHint() const override { return {320, 200}; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

  void InvalidateWindow(const TRect* clientRect) override;
  void ExtentsChanged() override;
  void ScrollChanged(int32_t dx, int32_t dy) override;
  void DragStateChanged() override;

 private:
  void UpdateScrollBars();
  void PaintObject(QPainter& p, TFcObject* o);
  void FillRegion(QPainter& p, const TFcRegion& region, const QColor& color);
  void PaintConnection(QPainter& p, TFcConnection* c);
  void PaintDragFeedback(QPainter& p);
  void UpdateCursor(int x, int y);

  QPointer<TFcImageList> images_;
  QMetaObject::Connection imagesLink_;
  TBorderStyle borderStyle_ = bsSingle;
  QPainter* canvas_ = nullptr;
  bool syncingBars_ = false;
};

// The chart as the forms place it: every property above, published.
class TFlowChart : public TCustomFlowChart {
  Q_OBJECT
 public:
  using TCustomFlowChart::TCustomFlowChart;
};
