#include "grid/ui/XLGridView.h"

#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "core/ByteIO.h"
#include "core/SysUtils.h"
#include "platform/QtText.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLStyles.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridAccess.h"
#include "grid/ui/XLQtCanvas.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "platform/Shell.h"

namespace {
constexpr int kAutoScrollMs = 40;
constexpr int kHintHideMs = 144000;
constexpr int kBorderZone = 3;
constexpr int kMinLineSize = 5;
constexpr int kSizingThreshold = 5;

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

// The section fills the area of its base colour first; under the client pane that fill
// becomes the sheet's background picture, tiled from the data's origin so that it scrolls
// with the data. Cells with colours of their own were already excluded from it.
class TXLTiledCanvas : public TXLQtCanvas {
 public:
  TXLTiledCanvas(QPainter& painter, const QRect& area, const QPixmap* tile, TColor base, QPoint dataOrigin)
      : TXLQtCanvas(painter, area), tile_(tile), base_(base), dataOrigin_(dataOrigin) {}
  void FillRect(const TRect& rect, TColor color) override {
    if (!tile_ || tiled_ || color != base_ || rect.IsEmpty()) return TXLQtCanvas::FillRect(rect, color);
    tiled_ = true;
    const QRect r = ToQRect(rect);
    const int w = tile_->width(), h = tile_->height();
    const QPoint offset(((r.left() - dataOrigin_.x()) % w + w) % w, ((r.top() - dataOrigin_.y()) % h + h) % h);
    Painter().drawTiledPixmap(r, *tile_, offset);
  }

 private:
  const QPixmap* tile_;
  TColor base_;
  QPoint dataOrigin_;
  bool tiled_ = false;
};

// A scroll bar that can draw itself flat: single-colour track, thumb and arrow buttons with
// a one-pixel shadow frame, no 3-D edges.
class TXLScrollBar : public QScrollBar {
 public:
  TXLScrollBar(Qt::Orientation o, QWidget* parent) : QScrollBar(o, parent) {}
  void SetFlat(bool flat) {
    if (flat == flat_) return;
    flat_ = flat;
    update();
  }

 protected:
  void paintEvent(QPaintEvent* e) override {
    if (!flat_) return QScrollBar::paintEvent(e);
    QPainter p(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    p.fillRect(rect(), XLQColor(cl3DLight));
    const bool horz = orientation() == Qt::Horizontal;
    auto button = [&](QStyle::SubControl sc, int arrow) {
      const QRect r = style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, this);
      if (r.isEmpty()) return;
      p.fillRect(r, XLQColor(clBtnFace));
      p.setPen(XLQColor(clBtnShadow));
      p.setBrush(Qt::NoBrush);
      p.drawRect(r.adjusted(0, 0, -1, -1));
      if (arrow == 0) return;
      // A small triangle pointing away from the thumb's range.
      const QPoint c = r.center();
      const int s = std::max(2, std::min(r.width(), r.height()) / 4);
      QPolygon tri;
      if (horz) tri << QPoint(c.x() - arrow * s / 2, c.y() - s) << QPoint(c.x() - arrow * s / 2, c.y() + s)
                    << QPoint(c.x() + arrow * s / 2, c.y());
      else tri << QPoint(c.x() - s, c.y() - arrow * s / 2) << QPoint(c.x() + s, c.y() - arrow * s / 2)
               << QPoint(c.x(), c.y() + arrow * s / 2);
      p.setPen(Qt::NoPen);
      p.setBrush(isEnabled() ? Qt::black : XLQColor(clGrayText));
      p.drawPolygon(tri);
    };
    button(QStyle::SC_ScrollBarSubLine, -1);
    button(QStyle::SC_ScrollBarAddLine, 1);
    if (maximum() > minimum()) button(QStyle::SC_ScrollBarSlider, 0);
  }

 private:
  bool flat_ = false;
};

// A stored picture: its graphic class's name as a short string, then the graphic's data (a
// bitmap's with its byte count first). Bare image files are taken as they are.
QPixmap DecodePicture(const std::string& data) {
  QByteArray bytes(data.data(), qsizetype(data.size()));
  if (!bytes.isEmpty()) {
    const int n = uint8_t(bytes[0]);
    if (n > 1 && n + 1 < bytes.size() && bytes[1] == 'T') bytes = bytes.mid(1 + n);
  }
  if (bytes.size() > 4) {
    const uint32_t count = LoadLE<uint32_t>(bytes.constData());
    if (count == uint32_t(bytes.size() - 4)) bytes = bytes.mid(4);
  }
  QPixmap tile;
  tile.loadFromData(bytes);
  return tile;
}

// Link cells open through the desktop's shell service, which says so when no program
// takes the link; a program that installed its own opener keeps it.
void InstallLinkOpener() {
  auto& open = TXLCUrl::ShellOpen();
  if (open) return;
  open = [](const AnsiString& link) { OpenWithDesktop(ToQString(link).toStdString(), link, DialogAnchor(nullptr)); };
}

// A link the cell will not hand over (a local file, a program) is refused out loud.
bool SayIfLinkRefused(const TXLCell& cell, QWidget* parent) {
  const auto* url = dynamic_cast<const TXLCUrl*>(&cell);
  if (!url) return false;
  const AnsiString link = Trim(url->Link());
  if (link.empty() || TXLCUrl::IsOpenableLink(link)) return false;
  ShowMessageBox(Utf8ToCp936("此链接不能打开，只能打开网页、FTP和邮件地址：") + link, Utf8ToCp936("系统提示"),
                 MsgIcon::Warning, MsgButtons::Ok, parent);
  return true;
}

}  // namespace

TXLDirection ReverseDirection(TXLDirection d) {
  switch (d) {
    case dRight: return dLeft;
    case dLeft: return dRight;
    case dDown: return dUp;
    case dUp: return dDown;
    default: return d;
  }
}

// ---- scaled lines ----

void TXLScaledLines::Build(const TXLSheet* sheet, TXLAxis axis, int part, int32_t scale) {
  runs_ = std::vector<TRun>();  // gives back what an earlier build held
  count_ = 0;
  if (!sheet) return;
  const int32_t titles = sheet->GetTitleCount(axis);
  const int32_t count = part == 0 ? titles : sheet->GetCount(axis);
  for (int32_t i = 0; i < count; ++i) Append(XLScaleSize(sheet->GetSize(part == 0 ? i - titles : i, axis), scale));
}

void TXLScaledLines::Append(int32_t size) {
  if (runs_.empty() || runs_.back().size != size) runs_.push_back(TRun{count_, size, Start(count_)});
  ++count_;
}

const TXLScaledLines::TRun& TXLScaledLines::RunOf(int32_t i) const {
  const auto it = std::upper_bound(runs_.begin(), runs_.end(), i, [](int32_t v, const TRun& r) { return v < r.first; });
  return *(it - 1);
}

int64_t TXLScaledLines::Start(int32_t i) const {
  if (runs_.empty()) return 0;
  i = std::clamp(i, 0, count_);
  const TRun& r = i == count_ ? runs_.back() : RunOf(i);
  return r.start + int64_t(i - r.first) * r.size;
}

int32_t TXLScaledLines::IndexAt(int64_t pos) const {
  if (pos < 0) return -1;
  if (pos >= Total()) return count_;
  // The last run starting at or before pos: a zero-size run shares its start with the next.
  const auto it = std::upper_bound(runs_.begin(), runs_.end(), pos, [](int64_t v, const TRun& r) { return v < r.start; });
  const TRun& r = *(it - 1);
  return r.first + int32_t((pos - r.start) / r.size);
}

void TXLScaledLines::SetSize(int32_t i, int32_t size) {
  if (i < 0 || i >= count_ || Size(i) == size) return;
  const size_t k = size_t(&RunOf(i) - runs_.data());
  const int32_t end = k + 1 < runs_.size() ? runs_[k + 1].first : count_;
  const int32_t old = runs_[k].size;
  // Split the run around the line: [first, i) keeps its size, i takes the new one, (i, end) the old.
  std::vector<TRun> parts;
  if (runs_[k].first < i) parts.push_back(TRun{runs_[k].first, old, 0});
  parts.push_back(TRun{i, size, 0});
  if (i + 1 < end) parts.push_back(TRun{i + 1, old, 0});
  runs_.erase(runs_.begin() + std::ptrdiff_t(k));
  runs_.insert(runs_.begin() + std::ptrdiff_t(k), parts.begin(), parts.end());
  Restart();
}

void TXLScaledLines::Restart() {
  std::vector<TRun> joined;
  joined.reserve(runs_.size());
  for (const TRun& r : runs_) {
    if (!joined.empty() && joined.back().size == r.size) continue;
    joined.push_back(r);
  }
  int64_t at = 0;
  for (size_t k = 0; k < joined.size(); ++k) {
    joined[k].start = at;
    const int32_t end = k + 1 < joined.size() ? joined[k + 1].first : count_;
    at += int64_t(end - joined[k].first) * joined[k].size;
  }
  runs_ = std::move(joined);
}

// ---- pane ----

TXLView::TXLView(TXLGrid* grid, TXLSector sector) : QWidget(grid), grid_(grid), sector_(sector) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  if (sector != sClient) sel_ = TRect{};
  XLViewAccessibleAdded();
}

TXLView::~TXLView() { XLViewAccessibleRemoved(); }

void TXLView::SetSection(TXLSection* section) {
  section_ = section;
  cur_ = TPoint{};
  sel_ = sector_ == sClient && section ? TRect{0, 0, 1, 1} : TRect{};
  origin_ = QPoint();
  update();
}

const TXLScaledLines& TXLView::Cols() const {
  return grid_->Lines(sCols, sector_ == sCols || sector_ == sClient ? 1 : 0);
}

const TXLScaledLines& TXLView::Rows() const {
  return grid_->Lines(sRows, sector_ == sRows || sector_ == sClient ? 1 : 0);
}

QPoint TXLView::MaxOrigin() const {
  return QPoint(int(std::max<int64_t>(0, Cols().Total() - width())),
                int(std::max<int64_t>(0, Rows().Total() - height())));
}

void TXLView::SetOrigin(QPoint origin) {
  const QPoint max = MaxOrigin();
  origin = QPoint(std::clamp(origin.x(), 0, max.x()), std::clamp(origin.y(), 0, max.y()));
  if (origin == origin_) return;
  const QPoint d = origin_ - origin;
  origin_ = origin;
  // Moves what is already painted and repaints only the uncovered strip.
  scroll(d.x(), d.y());
  if (sector_ != sClient) return;
  for (TXLSector s : {sCols, sRows}) {
    TXLView* title = grid_->View(s);
    const QPoint t(s == sCols ? origin.x() : 0, s == sRows ? origin.y() : 0);
    const QPoint td = title->origin_ - t;
    title->origin_ = t;
    if (!td.isNull()) title->scroll(td.x(), td.y());
  }
  grid_->UpdateScrollBars();
  grid_->CopyPositionToLinks();
}

QRect TXLView::CellsRect(const TRect& cells) const {
  const int64_t l = Cols().Start(cells.Left), r = Cols().Start(cells.Right);
  const int64_t t = Rows().Start(cells.Top), b = Rows().Start(cells.Bottom);
  return QRect(int(l - origin_.x()), int(t - origin_.y()), int(r - l), int(b - t));
}

QRect TXLView::CellRect(TPoint cell) const {
  TRect r{cell.X, cell.Y, cell.X + 1, cell.Y + 1};
  if (section_)
    if (const TXLUnion* u = section_->FindUnionAt(cell, true)) r = u->Rect;
  return CellsRect(r);
}

bool TXLView::CellAt(QPoint p, TPoint& cell) const {
  const int32_t c = Cols().IndexAt(int64_t(p.x()) + origin_.x());
  const int32_t r = Rows().IndexAt(int64_t(p.y()) + origin_.y());
  if (c < 0 || r < 0 || c >= ColCount() || r >= RowCount()) return false;
  cell = TPoint{c, r};
  if (section_)
    if (const TXLUnion* u = section_->FindUnionAt(cell, false)) cell = TPoint{u->Rect.Left, u->Rect.Top};
  return true;
}

int TXLView::HitZone(QPoint p, int32_t& line) const {
  TPoint cell;
  const bool inside = CellAt(p, cell);
  const bool client = sector_ == sClient;
  auto border = [&](const TXLScaledLines& lines, int64_t pos, int32_t& out) {
    const int32_t at = std::clamp(lines.IndexAt(pos), 0, lines.Count());
    // The boundaries around pos: the start of its line and the start of the next.
    for (int32_t b : {at + 1, at}) {
      if (b <= 0 || b > lines.Count()) continue;
      if (std::llabs(lines.Start(b) - pos) >= kBorderZone) continue;
      int32_t j = b - 1;
      while (j >= 0 && lines.Size(j) == 0) --j;
      if (j < 0) continue;
      out = j;
      return true;
    }
    return false;
  };
  const int64_t x = int64_t(p.x()) + origin_.x(), y = int64_t(p.y()) + origin_.y();
  const bool rowsIn = y >= 0 && y < Rows().Total(), colsIn = x >= 0 && x < Cols().Total();
  int32_t l = 0;
  const bool colsOk = !client || (grid_->AnyCellSelect() && grid_->View(sCols)->height() == 0);
  const bool rowsOk = !client || (grid_->AnyCellSelect() && grid_->View(sRows)->width() == 0);
  auto merged = [&](TPoint a, TPoint b) {
    const TXLUnion* u = section_ ? section_->FindUnionAt(a, true) : nullptr;
    return u && PointInRect(b, u->Rect);
  };
  if (colsOk && rowsIn && border(Cols(), x, l)) {
    const int32_t row = Rows().IndexAt(y);
    if (!merged(TPoint{l, row}, TPoint{l + 1, row})) {
      line = l;
      return 2;
    }
  }
  if (rowsOk && colsIn && border(Rows(), y, l)) {
    const int32_t col = Cols().IndexAt(x);
    if (!merged(TPoint{col, l}, TPoint{col, l + 1})) {
      line = l;
      return 3;
    }
  }
  return inside ? 1 : 0;
}

TRect TXLView::RangeOf(const QRect& pixels) const {
  const int64_t x0 = int64_t(pixels.left()) + origin_.x(), y0 = int64_t(pixels.top()) + origin_.y();
  const int32_t l = std::max(0, Cols().IndexAt(x0)), t = std::max(0, Rows().IndexAt(y0));
  const int32_t r = std::min(ColCount(), Cols().IndexAt(x0 + pixels.width() - 1) + 1);
  const int32_t b = std::min(RowCount(), Rows().IndexAt(y0 + pixels.height() - 1) + 1);
  return TRect{l, t, std::max(l, r), std::max(t, b)};
}

void TXLView::InvalidateCells(const TRect& cells) {
  if (updateCount_ > 0) {
    redrawPending_ = true;
    return;
  }
  TRect r = cells;
  if (section_) r = section_->ExpandRect(r);
  update(CellsRect(r).adjusted(-4, -4, 4, 4));
}

void TXLView::Redraw() {
  if (updateCount_ > 0) redrawPending_ = true;
  else update();
}

void TXLView::EndUpdate() {
  if (updateCount_ == 0 || --updateCount_ > 0) return;
  if (std::exchange(redrawPending_, false)) update();
}

void TXLView::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  Guarded([&] { PaintTo(p, e->rect()); });
}

void TXLView::PaintTo(QPainter& painter, const QRect& damaged) {
  TXLSheet* sheet = grid_->Sheet();
  const TColor paneColor = section_ && section_->BaseStyle() ? section_->BaseStyle()->Color() : clWindow;
  painter.fillRect(damaged, XLQColor(paneColor));
  if (!section_ || !sheet) return;
  const TRect range = RangeOf(damaged);
  const QPixmap* tile = sector_ == sClient ? &grid_->BackgroundTile() : nullptr;
  TXLTiledCanvas canvas(painter, damaged, tile && !tile->isNull() ? tile : nullptr,
                        section_->BaseStyle() ? section_->BaseStyle()->Color() : clNone, -origin_);
  if (!range.IsEmpty()) {
    TXLPaintContext ctx;
    ctx.Canvas = &canvas;
    ctx.Zoom = grid_->Scale();
    ctx.Range = range;
    ctx.Origin = TPoint{int32_t(Cols().Start(range.Left) - origin_.x()), int32_t(Rows().Start(range.Top) - origin_.y())};
    ctx.LineSize = [this](TXLAxis axis, int32_t i) { return axis == sCols ? Cols().Size(i) : Rows().Size(i); };
    ctx.HorzLines = grid_->HasOption(oHorzLines);
    ctx.VertLines = grid_->HasOption(oVertLines);
    ctx.ShowHints = grid_->ShowHint();
    section_->Paint(ctx);
  }
  canvas.ResetClip();
  TXLView* editPane = grid_->EditPane();
  const TRect sel = grid_->View(sClient)->Selection();
  // Title cells of the selected client lines stand out.
  if (this != editPane && grid_->HasOption(oTitle3D) && !sel.IsEmpty() && (sector_ == sCols || sector_ == sRows)) {
    const TRect lit = sector_ == sCols ? TRect{sel.Left, range.Top, sel.Right, range.Bottom}
                                       : TRect{range.Left, sel.Top, range.Right, sel.Bottom};
    const TRect on = IntersectRect(lit, range);
    for (int32_t r = on.Top; r < on.Bottom; ++r)
      for (int32_t c = on.Left; c < on.Right; ++c) {
        const QRect q = CellRect(TPoint{c, r});
        canvas.DrawFrameEdge(TRect{q.left(), q.top(), q.right() + 1, q.bottom() + 1}, xledge::EDGE_RAISED, xledge::BF_RECT | xledge::BF_SOFT);
      }
  }
  painter.setClipRect(damaged);
  if (sector_ == sClient && grid_->HasOption(oPageBreak)) PaintPageBreaks(painter, *sheet);
  if (this != editPane && !sel_.IsEmpty()) {
    // A pane without the editor shows its selection plainly inverted.
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter.fillRect(CellsRect(sel_).intersected(damaged), Qt::black);
    painter.restore();
  }
  if (this == editPane && !sel_.IsEmpty()) {
    QRect s = CellsRect(sel_).intersected(rect().adjusted(-10, -10, 10, 10));
    QRegion region = QRegion(s) ^ QRegion(s.adjusted(-3, -3, 3, 3)) ^ QRegion(s.adjusted(1, 1, -1, -1));
    if ((grid_->HasOption(oDrawFocus) || grid_->HasOption(oPermEdit)) && PointInRect(cur_, sel_))
      region -= QRegion(CellRect(cur_));
    painter.save();
    painter.setClipRegion(region.intersected(damaged));
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter.fillRect(damaged, Qt::black);
    painter.restore();
  }
  if (sizingMark_ >= 0) {
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    if (sizingMarkAxis_ == sCols) painter.fillRect(sizingMark_, 0, 1, height(), Qt::black);
    else painter.fillRect(0, sizingMark_, width(), 1, Qt::black);
    painter.restore();
  }
  // The connector from the shown hint to its cell.
  if (sector_ == sClient && grid_->HintWindow() && grid_->HintWindow()->isVisible()) {
    TXLHintWindow* hint = grid_->HintWindow();
    const QPoint marker = mapFromGlobal(hint->Marker());
    const QRect win(mapFromGlobal(hint->pos()), hint->size());
    painter.setPen(Qt::black);
    painter.drawLine(win.bottomLeft(), marker);
    painter.fillRect(win.translated(2, 2).adjusted(win.width() - 2, 0, 0, 0), Qt::black);
    painter.fillRect(QRect(win.left() + 2, win.bottom() + 1, win.width(), 2), Qt::black);
  }
}

void TXLView::PaintPageBreaks(QPainter& painter, TXLSheet& sheet) {
  const TXLPageLayout layout = sheet.PageLayout();
  const QColor blue = XLQColor(16711680);
  for (TXLAxis axis : {sCols, sRows}) {
    const TXLScaledLines& lines = axis == sCols ? Cols() : Rows();
    const auto& breaks = layout.Breaks[axis];
    // The last strip ends with the data: no line there.
    for (size_t i = 0; i + 1 < breaks.size(); ++i) {
      const int at = int(lines.Start(breaks[i]) - (axis == sCols ? origin_.x() : origin_.y()));
      const int w = i == 0 ? 3 : 1;  // the first page's edges stand out
      if (axis == sCols) painter.fillRect(at - w / 2, 0, w, height(), blue);
      else painter.fillRect(0, at - w / 2, width(), w, blue);
    }
  }
}

void TXLView::mousePressEvent(QMouseEvent* e) {
  Guarded([&] { grid_->PaneMousePress(this, e); });
}
void TXLView::mouseMoveEvent(QMouseEvent* e) {
  Guarded([&] { grid_->PaneMouseMove(this, e); });
}
void TXLView::mouseReleaseEvent(QMouseEvent* e) {
  Guarded([&] { grid_->PaneMouseRelease(this, e); });
}
void TXLView::mouseDoubleClickEvent(QMouseEvent* e) {
  Guarded([&] { grid_->PaneDoubleClick(this, e); });
}

bool TXLView::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    bool shown = false;
    Guarded([&] { shown = grid_->PaneToolTip(this, static_cast<QHelpEvent*>(e)->pos()); });
    return shown || QWidget::event(e);
  }
  return QWidget::event(e);
}

// ---- grid ----

TXLGrid::TXLGrid(QWidget* parent) : QWidget(parent) {
  InstallLinkOpener();
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  views_[sClient] = new TXLView(this, sClient);
  for (TXLSector s : {sCols, sRows, sTitle}) views_[s] = new TXLView(this, s);
  hbar_ = new TXLScrollBar(Qt::Horizontal, this);
  vbar_ = new TXLScrollBar(Qt::Vertical, this);
  hbar_->hide();
  vbar_->hide();
  auto follow = [this](QScrollBar* bar, bool horz) {
    QObject::connect(bar, &QScrollBar::valueChanged, this, GuardSlot([this, horz](int v) {
                       if (syncingBars_) return;
                       TXLView* c = views_[sClient];
                       c->SetOrigin(horz ? QPoint(v, c->Origin().y()) : QPoint(c->Origin().x(), v));
                       if (edit_) edit_->Reposition();
                     }));
  };
  follow(hbar_, true);
  follow(vbar_, false);
  edit_ = new TXLEdit(this);
  edit_->SetPane(views_[sClient]);
}

TXLGrid::~TXLGrid() {
  if (hintMemo_) {
    hide();  // no editor comes back while the grid goes
    hintMemo_->Close();
  }
  if (XLManager().ActiveGrid() == this) XLManager().SetActiveGrid(nullptr);
  SetHorzLink(nullptr);
  SetVertLink(nullptr);
  if (sheet_) sheet_->RemoveUser(this);
  sheet_ = nullptr;
}

TXLView* TXLGrid::EditPane() const { return edit_ && edit_->Pane() ? edit_->Pane() : views_[sClient]; }

QScrollBar* TXLGrid::ScrollBar(Qt::Orientation o) const { return o == Qt::Horizontal ? hbar_ : vbar_; }

void TXLGrid::SetSheet(TXLSheet* sheet) {
  if (sheet == sheet_) return;
  if (hintMemo_) hintMemo_->Close();
  if (sheet_) {
    edit_->Show(false);
    edit_->Cancel();
    sheet_->RemoveUser(this);
  }
  sheet_ = sheet;
  if (sheet_) sheet_->AddUser(this);
  LinkSections();
}

void TXLGrid::LinkSections() {
  ++changes_;
  edit_->SetPane(views_[sClient]);
  RebuildLines(AxisBit(sCols) | AxisBit(sRows));
  for (TXLView* v : views_) v->SetSection(sheet_ ? sheet_->Section(v->Sector()) : nullptr);
  AlignControls();
  if (sheet_) {
    const TPoint first = Search(EditPane(), TPoint{0, 0}, dRight, true);
    if (first.X >= 0 && !SetCur(EditPane(), first, false)) return;
  }
  ShowEditorIfPerm();
  InvalidateAll();
  if (OnSheetChanged) OnSheetChanged(sheet_, GetCurCell());
}

void TXLGrid::SetScale(int32_t scale) {
  scale = std::clamp(scale, 25, 500);
  if (scale == scale_) return;
  scale_ = scale;
  for (TXLView* v : views_) v->BeginUpdate();
  RebuildLines(AxisBit(sCols) | AxisBit(sRows));
  AlignControls();
  edit_->Reload();
  for (TXLView* v : views_) {
    v->redrawPending_ = true;
    v->EndUpdate();
  }
  if (OnScaleChanged) OnScaleChanged(this);
}

void TXLGrid::SetOptions(TXLOptions options) {
  const TXLOptions changed = options ^ options_;
  if (!changed) return;
  options_ = options;
  if (changed & (OptionBit(oTitleCols) | OptionBit(oTitleRows))) AlignControls();
  if (changed & (OptionBit(oPermEdit) | OptionBit(oReadOnly))) {
    if (HasOption(oPermEdit)) ShowEditorIfPerm();
    else edit_->Reload();
  }
  if (changed & OptionBit(oEdit3D)) edit_->Reposition();
  InvalidateAll();
}

void TXLGrid::SetScrolls(TXLScrolls scrolls) {
  if (scrolls == scrolls_) return;
  scrolls_ = scrolls;
  for (QScrollBar* bar : {hbar_, vbar_}) static_cast<TXLScrollBar*>(bar)->SetFlat(scrolls & ScrollBit(sFlat));
  AlignControls();
}

const QPixmap& TXLGrid::BackgroundTile() {
  static const std::string none;
  const std::string& data = sheet_ ? sheet_->Background() : none;
  if (data != backgroundData_) {
    backgroundData_ = data;
    backgroundTile_ = data.empty() ? QPixmap() : DecodePicture(data);
  }
  return backgroundTile_;
}

void TXLGrid::SetShowHint(bool v) {
  if (v == showHint_) return;
  showHint_ = v;
  if (!v && hint_ && hint_->isVisible()) hint_->hide();
  InvalidateAll();
}

void TXLGrid::SetAnyCellSelect(bool v) {
  if (v == anyCellSelect_) return;
  // What may be current changes: editing ends and every pane starts afresh.
  edit_->Show(false);
  if (edit_->Shown()) return;  // the editor's text does not convert
  edit_->Cancel();
  anyCellSelect_ = v;
  LinkSections();
}

bool TXLGrid::MoveEditor(TXLView* pane) {
  TXLView* old = EditPane();
  if (pane == old) return true;
  if (!edit_->StoreValue()) return false;
  edit_->SetPane(pane);
  for (TXLView* v : views_) v->Redraw();
  return true;
}

void TXLGrid::SetHorzLink(TXLGrid* grid) {
  if (grid == this) grid = nullptr;
  if (grid == horzLink_) return;
  if (horzLink_) horzLink_->horzLink_ = nullptr;
  horzLink_ = grid;
  if (grid) {
    if (grid->horzLink_) grid->horzLink_->horzLink_ = nullptr;
    grid->horzLink_ = this;
    CopyPositionToLinks();
  }
}

void TXLGrid::SetVertLink(TXLGrid* grid) {
  if (grid == this) grid = nullptr;
  if (grid == vertLink_) return;
  if (vertLink_) vertLink_->vertLink_ = nullptr;
  vertLink_ = grid;
  if (grid) {
    if (grid->vertLink_) grid->vertLink_->vertLink_ = nullptr;
    grid->vertLink_ = this;
    CopyPositionToLinks();
  }
}

void TXLGrid::CopyPositionToLinks() {
  if (copyingLinks_) return;
  copyingLinks_ = true;
  const QPoint o = views_[sClient]->Origin();
  for (TXLGrid* g : {horzLink_, vertLink_}) {
    if (!g) continue;
    TXLView* c = g->views_[sClient];
    QPoint t = c->Origin();
    if (g == horzLink_) t.setX(g->Scaled(Unscaled(o.x())));
    if (g == vertLink_) t.setY(g->Scaled(Unscaled(o.y())));
    c->SetOrigin(t);
    g->edit_->Reposition();
  }
  copyingLinks_ = false;
}

void TXLGrid::RebuildLines(TXLAxes axes) {
  for (TXLAxis a : {sCols, sRows})
    if (axes & AxisBit(a))
      for (int part : {0, 1}) lines_[a * 2 + part].Build(sheet_, a, part, scale_);
}

void TXLGrid::AlignControls() {
  QRect r = rect();
  const int W = HasOption(oTitleRows) ? int(Lines(sCols, 0).Total()) : 0;
  const int H = HasOption(oTitleCols) ? int(Lines(sRows, 0).Total()) : 0;
  // Scroll bars first: showing one narrows the other's room.
  bool needH = false, needV = false;
  for (int pass = 0; pass < 3; ++pass) {
    const int cw = r.width() - W - (needV ? vbar_->sizeHint().width() : 0);
    const int ch = r.height() - H - (needH ? hbar_->sizeHint().height() : 0);
    needH = (scrolls_ & ScrollBit(sHorizontal)) && Lines(sCols, 1).Total() > cw;
    needV = (scrolls_ & ScrollBit(sVertical)) && Lines(sRows, 1).Total() > ch;
  }
  const int bw = needV ? vbar_->sizeHint().width() : 0, bh = needH ? hbar_->sizeHint().height() : 0;
  QRect client(r.left() + W, r.top() + H, std::max(0, r.width() - W - bw), std::max(0, r.height() - H - bh));
  views_[sClient]->setGeometry(client);
  views_[sCols]->setGeometry(client.left(), r.top(), client.width(), H);
  views_[sRows]->setGeometry(r.left(), client.top(), W, client.height());
  views_[sTitle]->setGeometry(r.left(), r.top(), W, H);
  hbar_->setVisible(needH);
  vbar_->setVisible(needV);
  if (needH) hbar_->setGeometry(client.left(), client.bottom() + 1, client.width(), bh);
  if (needV) vbar_->setGeometry(client.right() + 1, client.top(), bw, client.height());
  TXLView* c = views_[sClient];
  c->SetOrigin(c->Origin());  // limits it to the new size
  UpdateScrollBars();
  edit_->Reposition();
  for (TXLView* v : views_) v->Redraw();
}

void TXLGrid::UpdateScrollBars() {
  TXLView* c = views_[sClient];
  syncingBars_ = true;
  const bool tracking = scrolls_ & ScrollBit(sTracking);
  hbar_->setTracking(tracking);
  vbar_->setTracking(tracking);
  const QPoint max = c->MaxOrigin();
  hbar_->setRange(0, max.x());
  hbar_->setPageStep(std::max(1, c->width()));
  hbar_->setSingleStep(std::max(1, Scaled(sheet_ ? sheet_->GetDefSize(sCols) : 64)));
  hbar_->setValue(c->Origin().x());
  vbar_->setRange(0, max.y());
  vbar_->setPageStep(std::max(1, c->height()));
  vbar_->setSingleStep(std::max(1, Scaled(sheet_ ? sheet_->GetDefSize(sRows) : 20)));
  vbar_->setValue(c->Origin().y());
  syncingBars_ = false;
}

void TXLGrid::InvalidateAll() {
  for (TXLView* v : views_) v->Redraw();
}

void TXLGrid::ScrollLines(Qt::Orientation o, int lines) {
  TXLView* c = views_[sClient];
  const bool horz = o == Qt::Horizontal;
  const TXLScaledLines& l = horz ? c->Cols() : c->Rows();
  int64_t p = horz ? c->Origin().x() : c->Origin().y();
  for (int i = 0; i < std::abs(lines); ++i) {
    if (lines < 0) p = l.Start(std::max(0, l.IndexAt(p - 1)));
    else p += l.Size(l.IndexAt(p));
  }
  c->SetOrigin(horz ? QPoint(int(p), c->Origin().y()) : QPoint(c->Origin().x(), int(p)));
  edit_->Reposition();
}

void TXLGrid::ScrollPage(Qt::Orientation o, int pages) {
  TXLView* c = views_[sClient];
  const bool horz = o == Qt::Horizontal;
  const TXLScaledLines& l = horz ? c->Cols() : c->Rows();
  const int size = horz ? c->width() : c->height();
  for (int i = 0; i < std::abs(pages); ++i) {
    const int64_t p = horz ? c->Origin().x() : c->Origin().y();
    int64_t n;
    if (pages < 0) {
      n = l.Start(std::max(0, l.IndexAt(p - size)));
    } else {
      n = l.Start(l.IndexAt(p + size));
      if (n <= p) n = p + l.Size(l.IndexAt(p));
    }
    c->SetOrigin(horz ? QPoint(int(n), c->Origin().y()) : QPoint(c->Origin().x(), int(n)));
  }
  edit_->Reposition();
}

// ---- current cell and selection ----

TPoint TXLGrid::GetCurCell() const {
  const TXLView* pane = EditPane();
  if (!pane->Section()) return pane->CurCell();
  return pane->Section()->ToSheet(pane->CurCell());
}

TRect TXLGrid::SelectionRect() const { return EditPane()->Selection(); }

bool TXLGrid::SetCurCell(int32_t col, int32_t row) {
  TXLView* pane = EditPane();
  if (!pane->Section()) return false;
  const TPoint local{col, row};
  if (!CanSelect(pane, local)) return false;
  const TPoint before = pane->CurCell();
  if (!SetCur(pane, local, false)) return false;
  return pane->CurCell() == local || before == local;
}

void TXLGrid::RefreshEditor() { edit_->Reload(); }

void TXLGrid::SetEditMode(int mode) {
  if (mode == 0) {
    edit_->Show(false);
    return;
  }
  edit_->SetBrowsing(mode == 1 || HasOption(oPermEdit));
  if (mode == 2) edit_->SetBrowsing(false);
  edit_->Show(true);
}

int TXLGrid::EditMode() const {
  if (!edit_->Shown()) return 0;
  return edit_->Browsing() ? 1 : 2;
}

void TXLGrid::ShowEditorIfPerm() {
  if (HasOption(oPermEdit) && sheet_) SetEditMode(1);
}

bool TXLGrid::CanSelect(const TXLView* pane, TPoint cell) const {
  if (!pane->Section() || cell.X < 0 || cell.Y < 0 || cell.X >= pane->ColCount() || cell.Y >= pane->RowCount())
    return false;
  if (pane->Cols().Size(cell.X) < 1 || pane->Rows().Size(cell.Y) < 1) return false;
  if (pane->Section()->FindUnionAt(cell, false)) return false;
  if (anyCellSelect_) return true;
  const TXLCell* c = pane->Section()->FindCell(cell);
  const TXLCellStyles styles = c ? c->Styles() : pane->Section()->GetCellStyles(cell);
  return !(styles & (CellStyleBit(csHidden) | CellStyleBit(csProtect)));
}

bool TXLGrid::CanEdit(const TXLView* pane, TPoint cell) const {
  if (!pane->Section() || !sheet_ || sheet_->ReadOnly()) return false;
  const TXLCell* c = pane->Section()->FindCell(cell);
  if (!anyCellSelect_) {
    if (HasOption(oReadOnly)) return false;
    const TXLCellStyles styles = c ? c->Styles() : pane->Section()->GetCellStyles(cell);
    if (styles & CellStyleBit(csReadOnly)) return false;
  }
  const TXLClass* cls = c ? c->GetCellClass() : pane->Section()->GetCellClass(cell);
  if (!cls || XLManager().EditorCount(cls) < 1) return false;
  return CanSelect(pane, cell);
}

TPoint TXLGrid::Step(const TXLView* pane, TPoint from, TXLDirection dir, bool& wrapped) const {
  TRect r{from.X, from.Y, from.X + 1, from.Y + 1};
  if (pane->Section())
    if (const TXLUnion* u = pane->Section()->FindUnionAt(from, true)) r = u->Rect;
  TPoint p = from;
  const int32_t cols = pane->ColCount(), rows = pane->RowCount();
  const bool wrap = HasOption(oWrapKeys);
  switch (dir) {
    case dRight:
      p.X = r.Right;
      if (p.X >= cols && wrap) p = TPoint{0, from.Y + 1}, wrapped = true;
      break;
    case dLeft:
      p.X = r.Left - 1;
      if (p.X < 0 && wrap) p = TPoint{cols - 1, from.Y - 1}, wrapped = true;
      break;
    case dDown:
      p.Y = r.Bottom;
      if (p.Y >= rows && wrap) p = TPoint{from.X + 1, 0}, wrapped = true;
      break;
    case dUp:
      p.Y = r.Top - 1;
      if (p.Y < 0 && wrap) p = TPoint{from.X - 1, rows - 1}, wrapped = true;
      break;
    default: break;
  }
  return p;
}

TPoint TXLGrid::Search(const TXLView* pane, TPoint from, TXLDirection dir, bool includeStart) const {
  const TPoint none{-1, -1};
  if (includeStart && CanSelect(pane, from)) return from;
  // One pass over the pane at most: a pane where nothing can be selected ends the search.
  const int64_t limit = int64_t(pane->ColCount()) * pane->RowCount() + 2;
  TPoint p = from;
  for (int64_t i = 0; i < limit; ++i) {
    bool wrapped = false;
    p = Step(pane, p, dir, wrapped);
    if (p.X < 0 || p.Y < 0 || p.X >= pane->ColCount() || p.Y >= pane->RowCount()) return none;
    if (CanSelect(pane, p)) return p;
  }
  return none;
}

bool TXLGrid::MoveCur(TXLDirection dir) {
  TXLView* pane = EditPane();
  if (!pane->Section() || dir == dNone || dir == dAuto) return false;
  const TPoint next = Search(pane, pane->CurCell(), dir, false);
  if (next.X < 0) return false;
  LastDir = dir;
  SetCur(pane, next, false);
  return true;
}

bool TXLGrid::SetCur(TXLView* pane, TPoint cell, bool extend) {
  // A handler may free the grid: each call below is followed by a look whether it is still here.
  QPointer<TXLGrid> self(this);
  // The editor leaves its cell first; a value it cannot store keeps it (and the grid) there.
  if (pane == EditPane() && !edit_->SetCell(pane, cell)) return !self.isNull();
  if (!self) return false;
  const TPoint oldCur = pane->cur_;
  const TRect oldSel = pane->sel_;
  TRect sel;
  if (extend) {
    sel = RectFromPoints(oldCur, cell);
  } else {
    pane->cur_ = cell;
    sel = TRect{cell.X, cell.Y, cell.X + 1, cell.Y + 1};
  }
  if (pane->Section()) sel = pane->Section()->ExpandRect(sel);
  if (HasOption(oRowSelect) && !anyCellSelect_) {
    sel.Left = 0;
    sel.Right = pane->ColCount();
  }
  pane->sel_ = sel;
  pane->InvalidateCells(oldSel);
  pane->InvalidateCells(sel);
  if (HasOption(oTitle3D)) {
    views_[sCols]->Redraw();
    views_[sRows]->Redraw();
  }
  ScrollToCell(pane, extend ? cell : pane->cur_);
  if (pane != EditPane()) return true;
  if (!(oldCur == pane->cur_) && OnCurChanged) {
    OnCurChanged(this);
    if (!self) return false;
  }
  if (!(oldSel == sel) && OnSelChanged) {
    OnSelChanged(this);
    if (!self) return false;
  }
  return true;
}

void TXLGrid::ScrollToCell(TXLView* pane, TPoint cell) {
  // Title panes scroll with the client pane along their own axis; the corner never scrolls.
  if (pane == views_[sTitle]) return;
  TXLView* client = views_[sClient];
  const QRect r = pane->CellRect(cell);
  QPoint o = client->Origin();
  if (pane != views_[sRows]) {
    if (r.right() >= pane->width()) o.rx() += r.right() + 1 - pane->width();
    if (r.left() < 0 || r.width() > pane->width()) o.rx() += r.left();
  }
  if (pane != views_[sCols]) {
    if (r.bottom() >= pane->height()) o.ry() += r.bottom() + 1 - pane->height();
    if (r.top() < 0 || r.height() > pane->height()) o.ry() += r.top();
  }
  client->SetOrigin(o);
  edit_->Reposition();
}

// ---- keyboard ----

bool TXLGrid::HandleKey(int key, Qt::KeyboardModifiers mods) {
  TXLView* pane = EditPane();
  if (!pane->Section()) return false;
  if (key == Qt::Key_Escape && (mouseState_ == 1 || mouseState_ == 2)) {
    mouseState_ = 4;
    EndMouse();
    return true;
  }
  const bool ctrl = mods & Qt::ControlModifier, shift = mods & Qt::ShiftModifier, alt = mods & Qt::AltModifier;
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
    if (!HasOption(oTabKeys)) return false;
    const TXLDirection d = EffectiveEnterDir();
    const bool back = key == Qt::Key_Backtab || shift;
    if (!MoveCur(back ? ReverseDirection(d) : d) && !HasOption(oPermEdit)) SetEditMode(0);
    return true;
  }
  if (key == Qt::Key_F2 && !mods) {
    SetEditMode(2);
    return true;
  }
  if (alt) return false;
  TXLDirection dir = dNone;
  TPoint target = pane->CurCell();
  bool search = false;
  const int32_t lastRow = pane->RowCount() - 1, lastCol = pane->ColCount() - 1;
  auto pageRows = [&](int sign) {
    const int64_t y = pane->Rows().Start(target.Y) + int64_t(sign) * pane->height();
    return std::clamp(pane->Rows().IndexAt(y), 0, std::max(0, lastRow));
  };
  switch (key) {
    case Qt::Key_Left: dir = dLeft; break;
    case Qt::Key_Right: dir = dRight; break;
    case Qt::Key_Up: dir = dUp; break;
    case Qt::Key_Down: dir = dDown; break;
    case Qt::Key_Home:
      target.X = 0;
      if (ctrl) target.Y = 0;
      dir = dRight, search = true;
      break;
    case Qt::Key_End:
      target.X = lastCol;
      if (ctrl) target.Y = lastRow;
      dir = dLeft, search = true;
      break;
    case Qt::Key_PageDown:
      target.Y = ctrl ? lastRow : pageRows(1);
      dir = dUp, search = true;
      break;
    case Qt::Key_PageUp:
      target.Y = ctrl ? 0 : pageRows(-1);
      dir = dDown, search = true;
      break;
    default: return false;
  }
  if (shift && HasOption(oRangeSelect)) {
    // Extends the selection from the current cell toward the moved end.
    const TRect s = pane->Selection();
    TPoint end{s.Left == pane->cur_.X ? s.Right - 1 : s.Left, s.Top == pane->cur_.Y ? s.Bottom - 1 : s.Top};
    if (search) end = target;
    else {
      bool wrapped = false;
      end = Step(pane, end, dir, wrapped);
    }
    end.X = std::clamp(end.X, 0, lastCol);
    end.Y = std::clamp(end.Y, 0, lastRow);
    if (!HasOption(oPermEdit)) SetEditMode(0);
    SetCur(pane, end, true);
    return true;
  }
  bool moved;
  if (search) {
    const TPoint found = Search(pane, target, dir, true);
    moved = found.X >= 0;
    if (moved) SetCur(pane, found, false);
  } else {
    if (ctrl) ScrollLines(dir == dLeft || dir == dRight ? Qt::Horizontal : Qt::Vertical,
                          dir == dLeft || dir == dUp ? -1 : 1);
    moved = MoveCur(dir);
  }
  if (!moved && !HasOption(oPermEdit)) SetEditMode(0);
  return true;
}

void TXLGrid::HandleChar(const QString& text, Qt::KeyboardModifiers mods) {
  TXLView* pane = EditPane();
  if (!pane->Section() || text.isEmpty()) return;
  const QChar ch = text[0];
  if (ch == QLatin1Char('\r')) {
    const TXLDirection d = EffectiveEnterDir();
    const TXLDirection dir = (mods & Qt::ShiftModifier) ? ReverseDirection(d) : d;
    if (!edit_->StoreValue()) return;
    if (!MoveCur(dir == dNone ? dNone : dir) && !HasOption(oPermEdit)) SetEditMode(0);
    return;
  }
  if (ch == QLatin1Char('\x1b')) {
    if (HasOption(oPermEdit)) edit_->Reload();  // back to the stored value
    else edit_->Cancel();
    return;
  }
  // No editor for the cell: the cell's own key handling (check boxes toggle on space).
  TXLCell* cell = pane->Section()->FindCell(pane->CurCell());
  const AnsiString bytes = ToAnsi(text);
  if (cell && bytes.size() == 1 && (anyCellSelect_ || !HasOption(oReadOnly))) {
    char key = bytes[0];
    cell->KeyPress(key);
  }
}

void TXLGrid::keyPressEvent(QKeyEvent* e) {
  QPointer<TXLGrid> self(this);
  Guarded([&] {
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (HandleKey(e->key(), mods)) return;
    if (!self) return;
    const QString text = e->text();
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) return HandleChar(QStringLiteral("\r"), mods);
    if (e->key() == Qt::Key_Escape) return HandleChar(QStringLiteral("\x1b"), mods);
    if (text.isEmpty()) return;
    const bool typing = e->key() == Qt::Key_Backspace || text[0].isPrint();
    TXLView* pane = EditPane();
    if (typing && !(mods & (Qt::ControlModifier | Qt::AltModifier)) && CanEdit(pane, pane->CurCell()) &&
        !(text == QStringLiteral(" ") && dynamic_cast<TXLCBoolean*>(pane->Section()->FindCell(pane->CurCell())))) {
      SetEditMode(1);
      if (edit_->Shown() && edit_->FocusControl() && edit_->EditorControl()) {
        edit_->EditorControl()->SelectAllText();
        QWidget* focus = edit_->FocusControl();
        QKeyEvent copy(QEvent::KeyPress, e->key(), e->modifiers(), text);
        QCoreApplication::sendEvent(focus, &copy);
        if (focus) focus->setFocus();  // what follows goes on from the caret
        return;
      }
    }
    HandleChar(text, mods);
  });
}

void TXLGrid::inputMethodEvent(QInputMethodEvent* e) {
  Guarded([&] {
    TXLView* pane = EditPane();
    if (!edit_->Shown() || !edit_->isVisible()) {
      if (!CanEdit(pane, pane->CurCell())) return;
      SetEditMode(1);
      if (edit_->EditorControl()) edit_->EditorControl()->SelectAllText();
    }
    if (QWidget* f = edit_->FocusControl()) {
      QInputMethodEvent copy(e->preeditString(), e->attributes());
      copy.setCommitString(e->commitString(), e->replacementStart(), e->replacementLength());
      QCoreApplication::sendEvent(f, &copy);
      f->setFocus();
    }
  });
  e->accept();
}

void TXLGrid::wheelEvent(QWheelEvent* e) {
  e->accept();
  if (!sheet_) return;
  const int delta = e->angleDelta().y();
  if (delta == 0) return;
  Guarded([&] {
    if ((e->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
      if (HasOption(oFixScale)) return;
      if (delta < 1) SetScale(std::clamp(scale_ - (scale_ <= 100 ? 15 : 25), 25, 200));
      // Zooming in never makes the view smaller, even above the wheel's range.
      else SetScale(std::max(scale_, std::min(200, scale_ + (scale_ < 100 ? 15 : 25))));
      return;
    }
    const int n = std::abs(delta / 2) / std::max(1, sheet_->GetDefSize(sRows));
    ScrollLines(Qt::Vertical, delta > 0 ? -(n + 1) : n + 1);
  });
}

void TXLGrid::focusInEvent(QFocusEvent* e) {
  XLManager().SetActiveGrid(this);
  QWidget::focusInEvent(e);
}

// ---- mouse ----

void TXLGrid::PaneMousePress(TXLView* pane, QMouseEvent* e) {
  if (!sheet_ || !pane->Section()) return;
  if (hint_) hint_->hide();
  const QPoint pos = e->position().toPoint();
  rightPressed_ = e->button() == Qt::RightButton;
  mousePane_ = pane;
  mouseState_ = 1;
  mouseHandler_ = mhNone;
  int32_t line = 0;
  const int zone = pane->HitZone(pos, line);
  if ((zone == 2 && HasOption(oColSizing)) || (zone == 3 && HasOption(oRowSizing))) {
    if (e->button() != Qt::LeftButton) return;
    if (!HasOption(oPermEdit)) SetEditMode(0);
    mouseHandler_ = mhSizing;
    const TXLAxis axis = zone == 2 ? sCols : sRows;
    const TXLScaledLines& lines = axis == sCols ? pane->Cols() : pane->Rows();
    const int origin = axis == sCols ? pane->Origin().x() : pane->Origin().y();
    sizing_.Axis = axis;
    sizing_.Part = &lines == &Lines(axis, 1) ? 1 : 0;
    sizing_.Line = line;
    sizing_.LineStart = int32_t(lines.Start(line) - origin);
    sizing_.StartSize = sizing_.Size = lines.Size(line);
    sizing_.PressPos = pos;
    sizing_.Moved = false;
    return;
  }
  TPoint cell;
  if (zone != 1 || !pane->CellAt(pos, cell)) return;
  if (!anyCellSelect_ && !CanSelect(pane, cell)) return;
  if (e->button() == Qt::RightButton) {
    if (!PointInRect(cell, pane->Selection())) SetCur(pane, cell, false);
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  // Any cell may take the editor: it follows the press into the pane.
  if (anyCellSelect_ && pane != EditPane() && !MoveEditor(pane)) return;
  mouseHandler_ = mhSelect;
  pressCell_ = cell;
  if (pane == EditPane() && edit_->Shown() && edit_->PickThrough() && !(cell == pane->CurCell()) &&
      edit_->CellClick(cell, e->modifiers())) {
    mouseState_ = 4;
    mouseHandler_ = mhNone;
    return;
  }
  const bool extend = (e->modifiers() & Qt::ShiftModifier) && HasOption(oRangeSelect);
  if (!SetCur(pane, cell, extend)) return;
  if (pane == EditPane() && HasOption(oPermEdit)) SetEditMode(1);
}

void TXLGrid::PaneMouseMove(TXLView* pane, QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (mouseState_ == 0 || !(e->buttons() & Qt::LeftButton)) {
    int32_t line;
    const int zone = pane->Section() ? pane->HitZone(pos, line) : 0;
    if (zone == 2 && HasOption(oColSizing)) pane->setCursor(Qt::SplitHCursor);
    else if (zone == 3 && HasOption(oRowSizing)) pane->setCursor(Qt::SplitVCursor);
    else pane->unsetCursor();
    return;
  }
  if (pane != mousePane_ || mouseState_ == 4) return;
  mouseState_ = 2;
  if (mouseHandler_ == mhSizing) {
    const int at = sizing_.Axis == sCols ? pos.x() : pos.y();
    if (pane->sector_ == sClient && !sizing_.Moved && (pos - sizing_.PressPos).manhattanLength() < kSizingThreshold)
      return;
    sizing_.Moved = true;
    ApplySizing(pane, at, false);
    return;
  }
  if (mouseHandler_ != mhSelect) return;
  if (!pane->rect().contains(pos)) {
    if (!autoScrollTimer_) autoScrollTimer_ = startTimer(kAutoScrollMs);
  } else if (autoScrollTimer_) {
    killTimer(autoScrollTimer_);
    autoScrollTimer_ = 0;
  }
  TPoint cell;
  const QPoint inside(std::clamp(pos.x(), 0, pane->width() - 1), std::clamp(pos.y(), 0, pane->height() - 1));
  if (!pane->CellAt(inside, cell) || !HasOption(oRangeSelect)) return;
  if (!anyCellSelect_ && !CanSelect(pane, cell)) return;
  if (!HasOption(oPermEdit)) SetEditMode(0);
  SetCur(pane, cell, true);
}

void TXLGrid::ApplySizing(TXLView* pane, int pixelPos, bool final) {
  const bool outside = !pane->rect().adjusted(-2, -2, 2, 2).contains(
      sizing_.Axis == sCols ? QPoint(pixelPos, 0) : QPoint(0, pixelPos));
  int32_t size = sizing_.StartSize;
  if (!outside) {
    int32_t units = std::max(kMinLineSize, Unscaled(pixelPos - sizing_.LineStart));
    const int32_t index = sizing_.Part == 0 ? sizing_.Line - sheet_->GetTitleCount(sizing_.Axis) : sizing_.Line;
    if (sheet_->OnSizing) sheet_->OnSizing(sheet_, sizing_.Axis, index, units);
    if (const int32_t max = sheet_->GetMaxSize(sizing_.Axis); max > 0) units = std::min(units, max);
    size = Scaled(units);
  }
  sizing_.Size = size;
  if (final) return;
  if (pane->sector_ == sClient) {
    pane->sizingMark_ = sizing_.LineStart + size;
    pane->sizingMarkAxis_ = sizing_.Axis;
    pane->update();
    return;
  }
  // A title pane shows the new size at once.
  lines_[sizing_.Axis * 2 + sizing_.Part].SetSize(sizing_.Line, size);
  AlignControls();
}

void TXLGrid::PaneMouseRelease(TXLView* pane, QMouseEvent* e) {
  if (autoScrollTimer_) killTimer(autoScrollTimer_);
  autoScrollTimer_ = 0;
  const int state = mouseState_;
  mouseState_ = 3;
  const QPoint pos = e->position().toPoint();
  QPointer<TXLGrid> self(this);
  if (e->button() == Qt::RightButton) {
    const bool pressed = rightPressed_ && pane == mousePane_;
    rightPressed_ = false;
    EndMouse();
    int32_t line;
    if (pressed && popupMenu_ && pane->Section() && pane->HitZone(pos, line) != 0)
      popupMenu_->popup(pane->mapToGlobal(pos));
    return;
  }
  if (state == 4 || pane != mousePane_) {
    EndMouse();
    return;
  }
  if (mouseHandler_ == mhSizing) {
    if (state == 2 && sizing_.Moved) {
      ApplySizing(pane, sizing_.Axis == sCols ? pos.x() : pos.y(), true);
      const int32_t units = Unscaled(sizing_.Size);
      const int32_t titles = sheet_->GetTitleCount(sizing_.Axis);
      const int32_t index = sizing_.Part == 0 ? sizing_.Line - titles : sizing_.Line;
      const TRect sel = EditPane()->Selection();
      const bool range = (e->modifiers() & Qt::AltModifier) && sizing_.Part == 1 &&
                         (sizing_.Axis == sCols ? sel.Width() : sel.Height()) > 1;
      sheet_->BeginUpdate();
      if (range) {
        const int32_t from = sizing_.Axis == sCols ? sel.Left : sel.Top, to = sizing_.Axis == sCols ? sel.Right : sel.Bottom;
        for (int32_t i = from; i < to; ++i) sheet_->SetSize(i, sizing_.Axis, units);
      } else {
        sheet_->SetSize(index, sizing_.Axis, units);
      }
      sheet_->EndUpdate();
      if (!self) return;
      RebuildLines(AxisBit(sizing_.Axis));
    }
    EndMouse();
    ShowEditorIfPerm();
    return;
  }
  TPoint cell;
  if (mouseHandler_ == mhSelect && pane->CellAt(pos, cell) && cell == pressCell_) {
    // The cell's own click: a link opens, a group bar folds, a check box toggles where it
    // may be edited.
    if (TXLCell* c = pane->Section()->FindCell(cell))
      if (!SayIfLinkRefused(*c, this) && (!dynamic_cast<TXLCBoolean*>(c) || anyCellSelect_ || !HasOption(oReadOnly)))
        c->Execute();
    if (!self) return;
    const TPoint at = pane->Section()->ToSheet(cell);
    EndMouse();
    if (OnCellClick) OnCellClick(sheet_, at);
    if (self && sheet_ && sheet_->OnCellClick) sheet_->OnCellClick(sheet_, at);
    return;
  }
  EndMouse();
}

void TXLGrid::PaneDoubleClick(TXLView* pane, QMouseEvent* e) {
  if (!sheet_ || !pane->Section()) return;
  const QPoint pos = e->position().toPoint();
  int32_t line;
  const int zone = pane->HitZone(pos, line);
  QPointer<TXLGrid> self(this);
  if ((zone == 2 && HasOption(oColSizing)) || (zone == 3 && HasOption(oRowSizing))) {
    mouseState_ = 4;
    EndMouse();
    const bool title = (zone == 2 ? pane->Cols() : pane->Rows()).Total() == Lines(zone == 2 ? sCols : sRows, 0).Total() &&
                       &(zone == 2 ? pane->Cols() : pane->Rows()) == &Lines(zone == 2 ? sCols : sRows, 0);
    const int32_t index = title ? line - sheet_->GetTitleCount(zone == 2 ? sCols : sRows) : line;
    if (zone == 2 && OnColDblClick) OnColDblClick(sheet_, TPoint{index, 0});
    if (zone == 3 && OnRowDblClick) OnRowDblClick(sheet_, TPoint{0, index});
    return;
  }
  TPoint cell;
  if (!pane->CellAt(pos, cell)) return;
  if (pane == EditPane() && !HasOption(oPermEdit) && CanEdit(pane, cell)) SetEditMode(2);
  if (!self) return;
  const TPoint at = pane->Section()->ToSheet(cell);
  mouseState_ = 4;
  if (OnCellDblClick) OnCellDblClick(sheet_, at);
  if (self && sheet_ && sheet_->OnCellDblClick) sheet_->OnCellDblClick(sheet_, at);
}

void TXLGrid::EndMouse() {
  for (TXLView* v : views_)
    if (v->sizingMark_ >= 0) {
      v->sizingMark_ = -1;
      v->update();
    }
  if (mouseHandler_ == mhSizing && mouseState_ == 4) {
    RebuildLines(AxisBit(sizing_.Axis));  // back to the stored size
    AlignControls();
  }
  mouseHandler_ = mhNone;
  mouseState_ = 0;
  mousePane_ = nullptr;
}

void TXLGrid::timerEvent(QTimerEvent* e) {
  if (e->timerId() != autoScrollTimer_) return QWidget::timerEvent(e);
  Guarded([&] {
    TXLView* pane = mousePane_;
    if (mouseState_ != 2 || mouseHandler_ != mhSelect || !pane || pane != views_[sClient]) return;
    const QPoint pos = pane->mapFromGlobal(QCursor::pos());
    if (pos.x() < 0) ScrollLines(Qt::Horizontal, -1);
    else if (pos.x() >= pane->width()) ScrollLines(Qt::Horizontal, 1);
    if (pos.y() < 0) ScrollLines(Qt::Vertical, -1);
    else if (pos.y() >= pane->height()) ScrollLines(Qt::Vertical, 1);
    TPoint cell;
    const QPoint inside(std::clamp(pos.x(), 0, pane->width() - 1), std::clamp(pos.y(), 0, pane->height() - 1));
    if (HasOption(oRangeSelect) && pane->CellAt(inside, cell) && (anyCellSelect_ || CanSelect(pane, cell)))
      SetCur(pane, cell, true);
  });
}

TXLHintMemo* TXLGrid::HintMemo() const { return hintMemo_; }

TXLHintMemo* TXLGrid::EditHint() {
  if (hintMemo_) return hintMemo_;
  TXLView* pane = EditPane();
  if (!sheet_ || !CanSelect(pane, pane->CurCell())) return nullptr;
  QPointer<TXLGrid> self(this);
  edit_->Show(false);
  if (!self || edit_->Shown()) return nullptr;  // the editor's text does not convert
  if (hint_) hint_->hide();
  hintMemo_ = new TXLHintMemo(this, pane, pane->CurCell());
  hintMemo_->show();
  hintMemo_->setFocus();
  return hintMemo_;
}

bool TXLGrid::PaneToolTip(TXLView* pane, QPoint pos) {
  if (!showHint_ || pane->sector_ != sClient || mouseState_ != 0 || !pane->Section() || hintMemo_) return false;
  TPoint cell;
  const AnsiString text = pane->CellAt(pos, cell) ? pane->Section()->HintAt(cell) : AnsiString();
  if (text.empty()) {
    if (hint_ && hint_->isVisible()) {
      hint_->hide();
      pane->update();
    }
    return true;
  }
  if (!hint_) {
    hint_ = new TXLHintWindow(this);
    auto* hide = new QTimer(hint_);
    hide->setSingleShot(true);
    hide->setObjectName(QStringLiteral("hintTimeout"));
    QObject::connect(hide, &QTimer::timeout, hint_, [this] {
      hint_->hide();
      views_[sClient]->update();
    });
  }
  const QRect r = pane->CellRect(cell);
  const QPoint marker = pane->mapToGlobal(QPoint(r.right(), r.top() + 1));
  hint_->ShowHint(ToQString(text), marker);
  hint_->findChild<QTimer*>(QStringLiteral("hintTimeout"))->start(kHintHideMs);
  pane->update();
  return true;
}

// ---- sheet notifications ----

void TXLGrid::CellChanged(TXLSector sector, const TRect& cells, bool whole) {
  ++changes_;
  TXLView* v = views_[sector];
  if (whole) v->Redraw();
  else v->InvalidateCells(cells);
}

void TXLGrid::SectorChanged(TXLSector sector) {
  ++changes_;
  views_[sector]->Redraw();
}

void TXLGrid::SheetChanged() {
  ++changes_;
  InvalidateAll();
}

void TXLGrid::PageSetupChanged() {
  if (HasOption(oPageBreak) && sheet_) views_[sClient]->Redraw();
}

void TXLGrid::CountChanged(TXLAxes axes, int) {
  ++changes_;
  RebuildLines(axes ? axes : TXLAxes(AxisBit(sCols) | AxisBit(sRows)));
  for (TXLView* v : views_) {
    TPoint& c = v->cur_;
    c.X = std::clamp(c.X, 0, std::max(0, v->ColCount() - 1));
    c.Y = std::clamp(c.Y, 0, std::max(0, v->RowCount() - 1));
  }
  AlignControls();
}

void TXLGrid::LinesInserted(TXLAxis axis, int part, int32_t, int32_t) {
  edit_->Show(false);
  edit_->Cancel();
  CountChanged(AxisBit(axis), part);
  ShowEditorIfPerm();
}

void TXLGrid::SizeChanged(TXLAxis axis, int part, int32_t index) {
  if (!sheet_) return;
  const int32_t local = part == 0 ? index + sheet_->GetTitleCount(axis) : index;
  TXLScaledLines& l = lines_[axis * 2 + part];
  const int32_t size = Scaled(sheet_->GetSize(index, axis));
  if (l.Size(local) == size) return;
  l.SetSize(local, size);
  AlignControls();
}

void TXLGrid::AreaChanged(TXLSector sector, const TRect* rect) {
  ++changes_;
  if (rect) {
    if (sector == sClient && edit_->Cell() && PointInRect(edit_->CellPos(), *rect)) edit_->Reload();
    views_[sector]->InvalidateCells(*rect);
    return;
  }
  views_[sector]->Redraw();
}

void TXLGrid::SheetDetached() {
  ++changes_;
  if (hintMemo_) hintMemo_->Close(false);
  edit_->Release();
  edit_->Cancel();
  sheet_ = nullptr;
  RebuildLines(AxisBit(sCols) | AxisBit(sRows));
  for (TXLView* v : views_) v->SetSection(nullptr);
  AlignControls();
}

void TXLGrid::CellReleased(TXLCell* cell) {
  if (edit_->Cell() == cell) edit_->Release();
  if (hintMemo_ && hintMemo_->Pane()->Section() && hintMemo_->Pane()->Section()->FindCell(hintMemo_->CellPos()) == cell)
    hintMemo_->Close(false);
}

void TXLGrid::ViewsChanged(int flag) {
  if (flag) RebuildLines(AxisBit(sCols) | AxisBit(sRows));
  AlignControls();
}

void TXLGrid::BeginUpdate() {
  for (TXLView* v : views_) v->BeginUpdate();
}

void TXLGrid::EndUpdate() {
  for (TXLView* v : views_) v->EndUpdate();
}
