#include "flowchart/ui/FlowChart.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>

#include "platform/QtText.h"
#include "flowchart/ui/FcAccess.h"
#include "flowchart/ui/FcPaint.h"
#include "platform/Guard.h"

namespace {

uint8_t ShiftOf(Qt::KeyboardModifiers m) {
  uint8_t s = 0;
  if (m & Qt::ShiftModifier) s |= fsShift;
  if (m & Qt::AltModifier) s |= fsAlt;
  if (m & Qt::ControlModifier) s |= fsCtrl;
  return s;
}

TFcKey KeyOf(int key) {
  switch (key) {
    case Qt::Key_Left: return fkLeft;
    case Qt::Key_Right: return fkRight;
    case Qt::Key_Up: return fkUp;
    case Qt::Key_Down: return fkDown;
    case Qt::Key_PageUp: return fkPageUp;
    case Qt::Key_PageDown: return fkPageDown;
    case Qt::Key_Home: return fkHome;
    case Qt::Key_End: return fkEnd;
    case Qt::Key_Delete: return fkDelete;
    default: return fkOther;
  }
}

QPoint Q(TPoint p) { return {p.x, p.y}; }

}  // namespace

TCustomFlowChart::TCustomFlowChart(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);  // a tab stop
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // painting fills the whole area
  viewport()->setMouseTracking(true);
  horizontalScrollBar()->setSingleStep(16);
  verticalScrollBar()->setSingleStep(16);
  // The bar's page step is the client size (it sizes the thumb); a page request keeps
  // 16 pixels of the previous page in view.
  for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar](int action) {
      if (action != QAbstractSlider::SliderPageStepAdd && action != QAbstractSlider::SliderPageStepSub) return;
      int page = (bar == horizontalScrollBar() ? viewport()->width() : viewport()->height()) - 16;
      bar->setSliderPosition(bar->value() + (action == QAbstractSlider::SliderPageStepAdd ? page : -page));
    });
  }
  SetBorderStyle(bsSingle);
  resize(320, 200);
  SetClientSize(viewport()->width(), viewport()->height());
  UpdateScrollBars();
  FlowChartAccessibleAdded();
}

TCustomFlowChart::~TCustomFlowChart() {
  DestroyChart();
  FlowChartAccessibleRemoved();
}

void TCustomFlowChart::SetImages(TFcImageList* images) {
  if (images == images_) return;
  if (imagesLink_) disconnect(imagesLink_);
  images_ = images;
  if (images) imagesLink_ = connect(images, &TFcImageList::Changed, this, [this] { viewport()->update(); });
  viewport()->update();
}

void TCustomFlowChart::SetBorderStyle(TBorderStyle s) {
  borderStyle_ = s;
  setFrameStyle(s == bsSingle ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
}

TFcSize TCustomFlowChart::MeasureText(const TFcFont& font, const AnsiString& text) const {
  QFontMetrics fm(FcQFont(font));
  QRect r = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignHCenter | Qt::TextExpandTabs, ToQString(text));
  return {r.width(), r.height()};
}

int TCustomFlowChart::ScreenWidth() const {
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 800;
}

// ---- window hooks

void TCustomFlowChart::InvalidateWindow(const TRect* r) {
  if (r)
    viewport()->update(QRect(r->Left, r->Top, r->Width(), r->Height()));
  else
    viewport()->update();
}

void TCustomFlowChart::ExtentsChanged() { UpdateScrollBars(); }

void TCustomFlowChart::UpdateScrollBars() {
  TRect e = Extents();
  bool fit = Zoom() == 0;
  syncingBars_ = true;
  auto set = [&](QScrollBar* bar, int start, int size, int client, int pos) {
    int page = fit ? size + 1 : client;
    bar->setRange(start, std::max(start, start + size - page));
    bar->setPageStep(std::max(1, page));
    bar->setValue(pos);
  };
  set(horizontalScrollBar(), e.Left, e.Width(), viewport()->width(), ScrollOrigin().x);
  set(verticalScrollBar(), e.Top, e.Height(), viewport()->height(), ScrollOrigin().y);
  syncingBars_ = false;
}

void TCustomFlowChart::ScrollChanged(int32_t, int32_t) {
  syncingBars_ = true;
  horizontalScrollBar()->setValue(ScrollOrigin().x);
  verticalScrollBar()->setValue(ScrollOrigin().y);
  syncingBars_ = false;
  viewport()->update();
}

void TCustomFlowChart::scrollContentsBy(int, int) {
  if (syncingBars_) return;
  Guarded([&] { ScrollTo(horizontalScrollBar()->value(), verticalScrollBar()->value()); });
}

void TCustomFlowChart::DragStateChanged() {
  // The feedback marks the position while a drag runs; the cursor would only hide it.
  if (DragKind() != dkNone)
    viewport()->setCursor(Qt::BlankCursor);
  else
    viewport()->unsetCursor();
  viewport()->update();
}

void TCustomFlowChart::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  Guarded([&] {
    SetClientSize(viewport()->width(), viewport()->height());
    UpdateScrollBars();
  });
}

// ---- painting

void TCustomFlowChart::paintEvent(QPaintEvent* e) {
  QPainter p(viewport());
  canvas_ = &p;
  Guarded([&] {
    const TPoint o = ScrollOrigin();
    const QRect clip = e->rect();
    const TRect clipChart{clip.left() + o.x, clip.top() + o.y, clip.right() + 1 + o.x, clip.bottom() + 1 + o.y};
    TFcSelection& sel = Selection();
    sel.Clear();
    for (int i = ObjectCount() - 1; i >= 0; --i) {
      TFcObject* ob = Objects(i);
      TRect r = ob->ZoomedRect().Inflated(ob->Selected() ? 3 : 0);
      ob->SetVisibleOnScreen(ob->Visible() && r.Intersects(clipChart));
    }
    for (int i = 0; i < ConnectionCount(); ++i) {
      TFcConnection* c = Connections(i);
      c->SetVisibleOnScreen(c->ZoomedPoints().size() >= 2 && c->PaintRect().Inflated(3).Intersects(clipChart));
    }
    if (hasFocus() || !HasOption(fcoHideSelection)) {
      for (TFcItem* it : SelectedObjects()) {
        auto* ob = static_cast<TFcObject*>(it);
        if (!ob->VisibleOnScreen()) continue;
        for (TPoint h : ob->ResizeHandles()) sel.AddHandle(h.x, h.y);
      }
      for (TFcItem* it : SelectedConnections()) {
        auto* c = static_cast<TFcConnection*>(it);
        if (!c->VisibleOnScreen()) continue;
        for (TPoint pt : c->ZoomedPoints()) sel.AddHandle(pt.x, pt.y);
      }
    }
    p.fillRect(clip, FcColor(Color()));
    for (int i = 0; i < ConnectionCount(); ++i)
      if (Connections(i)->Back() && Connections(i)->VisibleOnScreen()) PaintConnection(p, Connections(i));
    for (int i = 0; i < ObjectCount(); ++i)
      if (Objects(i)->VisibleOnScreen()) PaintObject(p, Objects(i));
    for (int i = 0; i < ConnectionCount(); ++i)
      if (!Connections(i)->Back() && Connections(i)->VisibleOnScreen()) PaintConnection(p, Connections(i));
    p.setPen(Qt::black);
    p.setBrush(Qt::black);
    const auto& pts = sel.Points();
    // A stroked rectangle covers one pixel more than its size: the squares stay 5 pixels.
    for (size_t k = 0; k + 4 < pts.size(); k += 5)
      p.drawRect(QRect(pts[k].x, pts[k].y, pts[k + 2].x - pts[k].x, pts[k + 2].y - pts[k].y));
    PaintDragFeedback(p);
    if (OnPaintOverlay) OnPaintOverlay(p);
  });
  canvas_ = nullptr;
}

void TCustomFlowChart::FillRegion(QPainter& p, const TFcRegion& region, const QColor& color) {
  const TPoint o = ScrollOrigin();
  for (const TRect& t : region.Rects()) p.fillRect(QRect(t.Left - o.x, t.Top - o.y, t.Width(), t.Height()), color);
}

void TCustomFlowChart::PaintObject(QPainter& p, TFcObject* ob) {
  const TPoint o = ScrollOrigin();
  TRect zr = ob->ZoomedRect();
  QRect r(zr.Left - o.x, zr.Top - o.y, zr.Width(), zr.Height());
  if (ob->ShapeType() != stNone) {
    if (!ob->Transparent()) FillRegion(p, ob->InteriorRegion(), FcColor(ob->BkColor()));
    if (ob->ShapeType() == stRectangle && ob->EdgeFlags() != 0) {
      FcDrawEdge(p, r, ob->EdgeFlags(), ob->BorderFlags());
    } else {
      FillRegion(p, ob->OutlineRegion(), FcColor(ob->ShapeColor()));
    }
  }
  TRect client = zr.Offset(-o.x, -o.y);
  if (OnDrawObject)
    OnDrawObject(this, ob, client);
  else
    DrawObject(ob, client);
}

void TCustomFlowChart::DrawObject(TFcObject* ob, const TRect& tr) {
  if (!canvas_) return;
  QPainter& p = *canvas_;
  QRect r(tr.Left, tr.Top, tr.Width(), tr.Height());
  if (images_ && ob->ImageIndex() >= 0 && ob->ImageIndex() < images_->Count()) {
    QRect ir(0, 0, images_->Width(), images_->Height());
    if (FcAlignRect(ir, r, ob->HorzImagePos(), ob->VertImagePos())) p.drawPixmap(ir.topLeft(), images_->Image(ob->ImageIndex()));
  }
  if (ob->Text().empty()) return;
  int lw = ob->ZoomedLineWidth();
  QRect tr2 = r.adjusted(lw, lw, -lw, -lw);
  int horz = ob->HorzTextPos() == 0 ? Qt::AlignLeft : ob->HorzTextPos() == 1 ? Qt::AlignHCenter : Qt::AlignRight;
  int flags = horz | Qt::TextWordWrap | Qt::TextExpandTabs | Qt::AlignTop;
  QString text = ToQString(ob->Text());
  p.setFont(FcQFont(ob->DisplayFont()));
  p.setPen(FcColor(ob->DisplayFont().Color));
  if (ob->VertTextPos() != 0) {
    QRect m = p.fontMetrics().boundingRect(QRect(0, 0, tr2.width(), 100000), flags, text);
    QRect aligned(0, 0, tr2.width(), m.height());
    FcAlignRect(aligned, tr2, 0, ob->VertTextPos());
    tr2 = aligned;
  }
  p.save();
  p.setClipRect(r);
  p.drawText(tr2, flags, text);
  p.restore();
}

void TCustomFlowChart::PaintConnection(QPainter& p, TFcConnection* c) {
  const TPoint o = ScrollOrigin();
  std::vector<TPoint> pts = c->ZoomedPoints();
  for (TPoint& pt : pts) pt = {pt.x - o.x, pt.y - o.y};
  std::vector<TPoint> line = LinePolyline(c->Style(), pts.data(), static_cast<int>(pts.size()));
  QVector<QPoint> poly;
  poly.reserve(static_cast<int>(line.size()));
  for (TPoint pt : line) poly.push_back(Q(pt));
  QPen pen(FcColor(c->Color()), 1, FcPenStyle(c->PenStyle()));
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(poly.constData(), poly.size());
  for (const TFcConnectionArrow* a : {&c->SourceArrow(), &c->DestArrow()}) {
    if (a->ArrowType() == atNone) continue;
    if (a->ArrowType() == atArrow) {
      QPoint head[3];
      for (int k = 0; k < 3; ++k) head[k] = QPoint(a->Head()[k].x - o.x, a->Head()[k].y - o.y);
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(head, 3);
      continue;
    }
    TPoint end = a == &c->SourceArrow() ? pts.front() : pts.back();
    QRect r(end.x - a->ZoomedWidth() / 2, end.y - a->ZoomedHeight() / 2, a->ZoomedWidth(), a->ZoomedHeight());
    p.setBrush(FcColor(a->Color()));
    if (a->ArrowType() == atOval)
      p.drawEllipse(r);
    else
      p.drawRect(r);
  }
  if (c->Text().empty()) return;
  TRect t = c->TextRect().Offset(-o.x, -o.y);
  p.setFont(FcQFont(c->DisplayFont()));
  p.setPen(FcColor(c->DisplayFont().Color));
  p.drawText(QRect(t.Left, t.Top, t.Width(), t.Height()), Qt::AlignCenter | Qt::TextExpandTabs, ToQString(c->Text()));
}

void TCustomFlowChart::PaintDragFeedback(QPainter& p) {
  if (DragKind() == dkNone) return;
  p.save();
  p.setClipping(false);
  // Inverted pixels, as a not-xor pen in black draws them, stay visible on any colour.
  p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black, 1));
  if (DragKind() == dkResize) {
    TRect r = DragRect();
    p.drawRect(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
  } else if (DragKind() == dkMove) {
    int dx = DragCurrent().x - DragStart().x, dy = DragCurrent().y - DragStart().y;
    for (TFcItem* it : SelectedObjects()) FillRegion(p, static_cast<TFcObject*>(it)->OutlineRegion().Offset(dx, dy), Qt::black);
  } else {
    std::vector<TPoint> line = DragLine();
    QVector<QPoint> poly;
    for (TPoint pt : line) poly.push_back(Q(pt));
    p.drawPolyline(poly.constData(), poly.size());
  }
  p.restore();
}

// ---- input

void TCustomFlowChart::mousePressEvent(QMouseEvent* e) {
  Guarded([&] {
    QPoint pos = e->position().toPoint();
    uint8_t shift = ShiftOf(e->modifiers());
    if (e->button() == Qt::LeftButton && !(shift & (fsAlt | fsCtrl))) {
      setFocus(Qt::MouseFocusReason);
      MouseDown(pos.x(), pos.y(), shift);
    }
    if (OnMouseDown) OnMouseDown(this, e->button(), shift, pos.x(), pos.y());
  });
}

void TCustomFlowChart::mouseMoveEvent(QMouseEvent* e) {
  Guarded([&] {
    QPoint pos = e->position().toPoint();
    MouseMove(pos.x(), pos.y(), e->buttons() & Qt::LeftButton);
    if (!(e->buttons() & Qt::LeftButton)) UpdateCursor(pos.x(), pos.y());
    if (OnMouseMove) OnMouseMove(this, Qt::NoButton, ShiftOf(e->modifiers()), pos.x(), pos.y());
  });
}

void TCustomFlowChart::mouseReleaseEvent(QMouseEvent* e) {
  Guarded([&] {
    QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton) MouseUp(pos.x(), pos.y());
    if (OnMouseUp) OnMouseUp(this, e->button(), ShiftOf(e->modifiers()), pos.x(), pos.y());
  });
}

void TCustomFlowChart::mouseDoubleClickEvent(QMouseEvent* e) {
  Guarded([&] {
    if (OnDblClick) OnDblClick(this);
  });
  // The second click is still a press: it selects and may start a drag.
  mousePressEvent(e);
  e->accept();
}

void TCustomFlowChart::UpdateCursor(int x, int y) {
  static const Qt::CursorShape kShapes[] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor,
                                            Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor};
  int h = HandleAt(x, y);
  if (h >= 0)
    viewport()->setCursor(kShapes[h]);
  else
    viewport()->unsetCursor();
}

void TCustomFlowChart::keyPressEvent(QKeyEvent* e) {
  bool handled = false;
  Guarded([&] {
    int key = e->key();
    uint8_t shift = ShiftOf(e->modifiers());
    if (OnKeyDown) OnKeyDown(this, key, shift);
    if (key == 0) {
      handled = true;
      return;
    }
    TFcKey k = KeyOf(key);
    if (k != fkOther) handled = KeyDown(k, shift) || DragKind() != dkNone;
    if (k >= fkLeft && k <= fkEnd) handled = true;  // never handed on to scroll the area
  });
  if (handled)
    e->accept();
  else
    QAbstractScrollArea::keyPressEvent(e);
}

void TCustomFlowChart::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  if (HasOption(fcoHideSelection)) viewport()->update();
}

void TCustomFlowChart::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  Guarded([&] {
    // Losing focus ends a drag where the mouse last was.
    if (DragKind() != dkNone) MouseUp(DragCurrent().x, DragCurrent().y);
    if (HasOption(fcoHideSelection)) viewport()->update();
  });
}
