// Section painting: one sector's visible range, in the order backgrounds, grid lines, merged
// areas, cells with their frames, then the client's border lines.
#include "grid/XLPaint.h"

#include <algorithm>
#include <vector>

#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

using namespace xledge;

namespace {

// Nothing in the model sets it yet; a cell carrying it draws in the base style's error colour.
constexpr uint8_t kErrorMark = 0x04;

struct TFrameDraw {
  uint32_t Edge;
  uint32_t Flags;
  int32_t Inset;
};
constexpr TFrameDraw kFrames[] = {
    {0, 0, 0},                                 // frNone: right and bottom edge by 1
    {BDR_RAISEDINNER, BF_RECT, 1},             // frFlatUp
    {BDR_SUNKENINNER, BF_RECT | BF_SOFT, 1},   // frFlatDown
    {EDGE_RAISED, BF_RECT | BF_SOFT, 2},       // frDeepUp
    {EDGE_SUNKEN, BF_RECT | BF_SOFT, 2},       // frDeepDown
    {EDGE_BUMP, BF_RECT, 2},                   // frBevelUp
    {EDGE_ETCHED, BF_RECT, 2},                 // frBevelDown
};

// Pixel positions are kept within a range no sum of sizes can overflow: sizes come from
// stored sheets, and a hostile one may hold huge ones.
constexpr int64_t kFarPixel = int64_t(1) << 30;
int32_t PixelPos(int64_t p) { return int32_t(std::clamp(p, -kFarPixel, kFarPixel)); }

const TFrameDraw& FrameDraw(int32_t frame) {
  return kFrames[frame >= 0 && frame < int32_t(std::size(kFrames)) ? frame : 0];
}

TRect TextArea(TRect r, int32_t frame) {
  if (frame <= frNone || frame >= int32_t(std::size(kFrames))) {
    --r.Right;
    --r.Bottom;
    return r;
  }
  const int32_t d = FrameDraw(frame).Inset;
  return TRect{r.Left + d, r.Top + d, r.Right - d, r.Bottom - d};
}

// Collects segments while pen width and colour repeat, and draws them in one call.
class TSegmentBatch {
 public:
  explicit TSegmentBatch(IXLCanvas& canvas) : canvas_(canvas) {}
  ~TSegmentBatch() { Flush(); }
  void Add(TPoint a, TPoint b, TColor color, int width) {
    if (!points_.empty() && (color != color_ || width != width_)) Flush();
    color_ = color;
    width_ = width;
    points_.push_back(a);
    points_.push_back(b);
  }
  void Flush() {
    if (!points_.empty()) canvas_.DrawLines(points_.data(), int32_t(points_.size() / 2), color_, width_);
    points_.clear();
  }

 private:
  IXLCanvas& canvas_;
  std::vector<TPoint> points_;
  TColor color_ = clNone;
  int width_ = 0;
};

class TSectionPainter {
 public:
  TSectionPainter(TXLSection& section, const TXLPaintContext& ctx)
      : s_(section), c_(ctx), cv_(*ctx.Canvas), base_(section.BaseStyle()) {}

  void Paint() {
    cv_.SetScale(c_.Zoom);
    TakeSizes();
    if (!base_ || c_.Range.IsEmpty()) return;
    CollectUnions();
    // Nothing leaves the visible range: merged areas that run beyond it, wide pens.
    cv_.PushClipRect(VisibleRect());
    Backgrounds();
    // A merged area hides its inner grid lines but keeps those along its right and bottom
    // edges, where the cells' text areas leave room for them.
    for (const TXLUnion* u : unions_) {
      TRect r = PixelRect(u->Rect);
      --r.Right;
      --r.Bottom;
      cv_.ExcludeClipRect(r);
    }
    GridLines();
    ResetClip();
    Cells();
    ResetClip();
    if (s_.Sector() == sClient) BorderLines();
    cv_.PopClip();
  }

 private:
  void ResetClip() {
    cv_.PopClip();
    cv_.PushClipRect(VisibleRect());
  }

  int32_t Size(TXLAxis axis, int32_t index) const {
    const int32_t v = c_.LineSize ? c_.LineSize(axis, index)
                                  : XLScaleSize(XLSectionLineSize(s_, axis, index), c_.Zoom);
    return std::max(v, 0);
  }

  void TakeSizes() {
    const TRect& r = c_.Range;
    xs_.assign(1, c_.Origin.X);
    for (int32_t x = r.Left; x < r.Right; ++x) xs_.push_back(PixelPos(int64_t(xs_.back()) + Size(sCols, x)));
    ys_.assign(1, c_.Origin.Y);
    for (int32_t y = r.Top; y < r.Bottom; ++y) ys_.push_back(PixelPos(int64_t(ys_.back()) + Size(sRows, y)));
  }

  // Pixel position of the leading edge of a line, also outside the visible range (merged
  // areas that begin or end beyond it).
  int32_t Edge(TXLAxis axis, int32_t index) const {
    const std::vector<int32_t>& e = axis == sCols ? xs_ : ys_;
    const int32_t first = axis == sCols ? c_.Range.Left : c_.Range.Top;
    const int32_t last = first + int32_t(e.size()) - 1;
    if (index < first) {
      int64_t p = e.front();
      for (int32_t i = index; i < first && p > -kFarPixel; ++i) p -= Size(axis, i);
      return PixelPos(p);
    }
    if (index > last) {
      int64_t p = e.back();
      for (int32_t i = last; i < index && p < kFarPixel; ++i) p += Size(axis, i);
      return PixelPos(p);
    }
    return e[size_t(index - first)];
  }

  TRect PixelRect(const TRect& cells) const {
    return TRect{Edge(sCols, cells.Left), Edge(sRows, cells.Top), Edge(sCols, cells.Right),
                 Edge(sRows, cells.Bottom)};
  }

  TRect VisibleRect() const { return TRect{xs_.front(), ys_.front(), xs_.back(), ys_.back()}; }

  void CollectUnions() {
    for (int32_t i = 0; i < s_.UnionCount(); ++i)
      if (RectsIntersect(s_.Union(i)->Rect, c_.Range)) unions_.push_back(s_.Union(i));
  }

  bool InUnion(TPoint p) const {
    for (const TXLUnion* u : unions_)
      if (PointInRect(p, u->Rect)) return true;
    return false;
  }

  void Backgrounds() {
    const TColor baseColor = base_->Color();
    const TRect& r = c_.Range;
    if (!s_.ListEmpty(ilColor)) {
      for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const int32_t top = ys_[size_t(y - r.Top)], bottom = ys_[size_t(y - r.Top + 1)];
        if (top == bottom) continue;
        for (int32_t x = r.Left; x < r.Right; ++x) {
          const TColor color = ColorFromItem(s_.GetItem(ilColor, x, y));
          if (color == baseColor || color == clNone) continue;
          const TRect cell{xs_[size_t(x - r.Left)], top, xs_[size_t(x - r.Left + 1)], bottom};
          if (cell.IsEmpty()) continue;
          cv_.FillRect(cell, color);
          cv_.ExcludeClipRect(cell);
        }
      }
    }
    if (baseColor != clNone) cv_.FillRect(VisibleRect(), baseColor);
  }

  void GridLines() {
    if (base_->Color() == base_->LinesColor() || c_.Zoom <= 25) return;
    const TColor pen = base_->LinesColor();
    std::vector<TPoint> pts;
    pts.reserve(2 * (std::max(xs_.size(), ys_.size()) + 2));
    if (c_.VertLines) {
      int32_t prev = INT32_MIN;
      for (size_t i = 1; i < xs_.size(); ++i) {
        const int32_t x = xs_[i] - 1;
        if (x == prev) continue;
        prev = x;
        pts.push_back(TPoint{x, ys_.front()});
        pts.push_back(TPoint{x, ys_.back()});
      }
      if (!pts.empty()) cv_.DrawLines(pts.data(), int32_t(pts.size() / 2), pen, 1);
    }
    pts.clear();
    if (c_.HorzLines) {
      int32_t prev = INT32_MIN;
      for (size_t i = 1; i < ys_.size(); ++i) {
        const int32_t y = ys_[i] - 1;
        if (y == prev) continue;
        prev = y;
        pts.push_back(TPoint{xs_.front(), y});
        pts.push_back(TPoint{xs_.back(), y});
      }
      if (!pts.empty()) cv_.DrawLines(pts.data(), int32_t(pts.size() / 2), pen, 1);
    }
  }

  void Cells() {
    for (const TXLUnion* u : unions_) {
      const TRect rect = PixelRect(u->Rect);
      const TPoint head{u->Rect.Left, u->Rect.Top};
      if (u->Cell) DrawCell(u->Cell, head, rect);
      DrawCellFrame(head, rect);
      cv_.ExcludeClipRect(rect);
    }
    const TRect& r = c_.Range;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
      const int32_t top = ys_[size_t(y - r.Top)], bottom = ys_[size_t(y - r.Top + 1)];
      if (top == bottom) continue;
      TXLRow* row = s_.FindRow(y);
      for (int32_t x = r.Left; x < r.Right; ++x) {
        const TRect rect{xs_[size_t(x - r.Left)], top, xs_[size_t(x - r.Left + 1)], bottom};
        if (rect.IsEmpty()) continue;
        const TPoint p{x, y};
        if (!unions_.empty() && InUnion(p)) continue;
        if (TXLCell* cell = row ? row->Get(x) : nullptr) DrawCell(cell, p, rect);
        DrawCellFrame(p, rect);
      }
    }
  }

  void DrawCell(TXLCell* cell, TPoint pos, const TRect& rect) {
    cell->SetFlag(xfRepaint, false);
    if (cell->GetLinked()) return;  // the open editor covers it
    const int32_t frame = s_.GetItem(ilFrame, pos.X, pos.Y);
    TRect text = TextArea(rect, frame);
    TFont font = cell->FindPropOwner(prFont)->Font();
    font.SetHeight(XLScaleSize(font.Height(), c_.Zoom));
    if (cell->HasFlag(kErrorMark)) font.SetColor(base_->ErrorColor());
    const TXLLayout layout = UnpackLayout(s_.GetLayout(pos));
    text.Left += layout.Indent;
    text.Right -= layout.Indent;
    if (!text.IsEmpty()) {
      cv_.PushClipRect(text);
      cv_.SetFont(font);
      cell->Draw(cv_, text);
      cv_.PopClip();
    }
    if (c_.ShowHints && (!cell->Hint().empty() || (s_.GetCellStyles(pos) & CellStyleBit(csExtHint)))) {
      const TPoint tri[3] = {{rect.Right - 5, rect.Top}, {rect.Right - 1, rect.Top}, {rect.Right - 1, rect.Top + 4}};
      cv_.FillPolygon(tri, 3, clRed);
    }
  }

  void DrawCellFrame(TPoint pos, const TRect& rect) {
    const int32_t frame = s_.GetItem(ilFrame, pos.X, pos.Y);
    if (frame > frNone) {
      const TFrameDraw& f = FrameDraw(frame);
      cv_.DrawFrameEdge(rect, f.Edge, f.Flags);
    }
    Diagonal(s_.GetItem(ilBias1, pos.X, pos.Y), rect, TPoint{rect.Left, rect.Top}, TPoint{rect.Right, rect.Bottom});
    Diagonal(s_.GetItem(ilBias2, pos.X, pos.Y), rect, TPoint{rect.Right, rect.Top}, TPoint{rect.Left, rect.Bottom});
    if (!c_.SelectionMarks || !PointInRect(pos, c_.Selection)) return;
    if (c_.SelectionMarks & smCorner) cv_.InvertRect(TRect{rect.Left, rect.Top, rect.Left + 3, rect.Top + 3});
    if (c_.SelectionMarks & smHatch) cv_.HatchInvert(rect, TPoint{rect.Left, rect.Top});
    if (c_.SelectionMarks & smFocus) cv_.DrawFocusRect(rect);
  }

  void Diagonal(int32_t packed, const TRect& rect, TPoint a, TPoint b) {
    const TXLLine line = UnpackLine(packed);
    if (line.Style <= 0 || line.Color == clNone) return;
    // A wide pen would spill into the neighbours.
    const bool clip = line.Style >= 3;
    if (clip) cv_.PushClipRect(rect);
    const TPoint seg[2] = {a, b};
    cv_.DrawLines(seg, 1, line.Color, line.Style);
    if (clip) cv_.PopClip();
  }

  void BorderLines() {
    const TRect& r = c_.Range;
    TSegmentBatch batch(cv_);
    if (!s_.ListEmpty(ilVertLines))
      for (int32_t x = r.Left; x <= r.Right; ++x) {
        const int32_t px = Edge(sCols, x);
        for (int32_t y = r.Top; y < r.Bottom; ++y) {
          const TXLLine line = UnpackLine(s_.GetItem(ilVertLines, x, y));
          if (line.Style <= 0 || line.Color == clNone) continue;
          const int32_t top = ys_[size_t(y - r.Top)], bottom = ys_[size_t(y - r.Top + 1)];
          if (top != bottom) batch.Add(TPoint{px, top}, TPoint{px, bottom}, line.Color, line.Style);
        }
      }
    if (!s_.ListEmpty(ilHorzLines))
      for (int32_t y = r.Top; y <= r.Bottom; ++y) {
        const int32_t py = Edge(sRows, y);
        for (int32_t x = r.Left; x < r.Right; ++x) {
          const TXLLine line = UnpackLine(s_.GetItem(ilHorzLines, x, y));
          if (line.Style <= 0 || line.Color == clNone) continue;
          const int32_t left = xs_[size_t(x - r.Left)], right = xs_[size_t(x - r.Left + 1)];
          if (left != right) batch.Add(TPoint{left, py}, TPoint{right, py}, line.Color, line.Style);
        }
      }
  }

  TXLSection& s_;
  const TXLPaintContext& c_;
  IXLCanvas& cv_;
  TXLBaseStyle* base_;
  std::vector<int32_t> xs_, ys_;  // pixel edges of the visible lines, one more than lines
  std::vector<const TXLUnion*> unions_;
};

}  // namespace

int32_t XLSectionLineSize(const TXLSection& section, TXLAxis axis, int32_t index) {
  TXLSheet* sheet = section.Sheet();
  if (!sheet) return 0;
  const TXLSector sec = section.Sector();
  // Columns of sCols and sClient, rows of sRows and sClient are client lines.
  const bool client = sec == sClient || sec == (axis == sCols ? sCols : sRows);
  const TXLSizeList& list = sheet->SizeList(axis, client ? 1 : 0);
  return index >= 0 && index < list.Count() ? list.Get(index) : 0;
}

void TXLSection::Paint(const TXLPaintContext& ctx) {
  if (!ctx.Canvas) return;
  TSectionPainter(*this, ctx).Paint();
}
