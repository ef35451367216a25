#include "flowchart/flchart.h"

#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "core/Rounding.h"
#include "flowchart/FcChart.h"

namespace {

int64_t Sq(int64_t v) { return v * v; }

TFcFontRec ToRec(const TFcFont& f) {
  return {f.Height, static_cast<uint32_t>(f.Color), f.Pitch, f.Style, f.Charset, f.Name};
}

TFcFont FromRec(const TFcFontRec& r, const AnsiString& currentName) {
  TFcFont f;
  f.Height = r.Height;
  f.Color = static_cast<TColor>(r.Color);
  f.Pitch = r.Pitch;
  f.Style = r.Style;
  f.Charset = r.Charset;
  f.Name = r.Name.empty() ? currentName : r.Name;
  return f;
}

}  // namespace

// ---- TFcFont

int TFcFont::Size() const { return FcMulDiv(Height < 0 ? -Height : Height, 72, 96); }

void TFcFont::SetSize(int points) { Height = static_cast<int16_t>(-std::clamp(FcMulDiv(points, 96, 72), 1, 32767)); }

// ---- TFcItem

TFcItem::TFcItem(TFcChart* chart) : chart_(chart) { CopyChartFont(); }

void TFcItem::RefreshDisplayFont() {
  displayFont_ = font_;
  displayFont_.SetSize(std::max(1, FcMulDiv(font_.Size(), chart_->RealZoom(), 100)));
}

void TFcItem::CopyChartFont() {
  font_ = chart_->Font();
  RefreshDisplayFont();
}

void TFcItem::SetFont(const TFcFont& font) {
  font_ = font;
  parentFont_ = false;
  RefreshDisplayFont();
  if (!text_.empty()) TextChanged();
  Changed();
}

void TFcItem::SetParentFont(bool value) {
  if (value == parentFont_) return;
  parentFont_ = value;
  if (!value) return;
  CopyChartFont();
  if (!text_.empty()) TextChanged();
  Changed();
}

void TFcItem::SetSelected(bool value) {
  if (value == selected_) return;
  std::vector<TFcItem*>& list = GetSelectionList();
  if (value) {
    if (!chart_->CanSelect(this)) return;
    if (!chart_->HasOption(fcoMultiSelect)) chart_->ClearSelection();
    selected_ = true;
    list.push_back(this);
  } else {
    selected_ = false;
    EraseOne(list, this);
  }
  Invalidate();
  chart_->Select(this);
}

void TFcItem::Assign(const TFcItem& source) {
  SetText(source.text_);
  SetParentFont(source.parentFont_);
  if (!source.parentFont_) SetFont(source.font_);
}

void TFcItem::Changed() {
  if (!chart_->Loading()) chart_->Changed(this);
}

// ---- TFcObject

TFcObject::TFcObject(TFcChart* chart) : TFcItem(chart), bkColor_(chart->Color()) { UpdateZoom(); }

TFcConnection* TFcObject::Connections(int i) const {
  return i >= 0 && i < ConnectionCount() ? connections_[static_cast<size_t>(i)] : nullptr;
}

TFcObject* TFcObject::GetUnionChild(int i) const {
  return i >= 0 && i < UnionChildCount() ? children_[static_cast<size_t>(i)] : nullptr;
}

void TFcObject::UpdateZoom() {
  zl_ = chart_->ToZoomed(left_);
  zt_ = chart_->ToZoomed(top_);
  zw_ = chart_->ToZoomed(width_);
  zh_ = chart_->ToZoomed(height_);
  zLineWidth_ = lineWidth_ == 0 ? 0 : static_cast<uint16_t>(std::max(1, (lineWidth_ * chart_->RealZoom() + 50) / 100));
  RefreshDisplayFont();
  CalcLinkedPoints();
  FreeRegions();
}

void TFcObject::FreeRegions() {
  shape_.reset();
  interior_.reset();
  outline_.reset();
}

void TFcObject::CalcLinkedPoints() {
  const int32_t L = zl_, T = zt_, W = zw_, H = zh_, R = L + W, B = T + H;
  const int32_t qx = W / 4, qy = H / 4, hw = static_cast<int32_t>(static_cast<uint32_t>(W) >> 1),
                hh = static_cast<int32_t>(static_cast<uint32_t>(H) >> 1);
  auto& p = linked_;
  p = {{{L, T}, {L + qx, T}, {L + hw, T}, {R - qx, T}, {R - 1, T}, {R - 1, T + qy}, {R - 1, T + hh}, {R - 1, B - qy},
        {R - 1, B - 1}, {R - qx, B - 1}, {L + hw, B - 1}, {L + qx, B - 1}, {L, B - 1}, {L, B - qy}, {L, T + hh},
        {L, T + qy}}};
  auto f = [](int64_t v, int64_t k) { return static_cast<int32_t>((v * k + 512) >> 10); };
  auto move = [&p](int i, int32_t dx, int32_t dy) {
    p[i].x += dx;
    p[i].y += dy;
  };
  const int32_t hx = qx / 2, hy = qy / 2;
  switch (shapeType_) {
    case stEllipse: {
      int32_t cx = f(W, 150), cy = f(H, 150), sx = f(W, 68), sy = f(H, 68);
      move(0, cx, cy), move(4, -cx, cy), move(8, -cx, -cy), move(12, cx, -cy);
      move(13, sx, 0), move(15, sx, 0), move(5, -sx, 0), move(7, -sx, 0);
      move(1, 0, sy), move(3, 0, sy), move(9, 0, -sy), move(11, 0, -sy);
      break;
    }
    case stRoundRect: {
      int32_t cx = f(W, 75), cy = f(H, 75);
      move(0, cx, cy), move(4, -cx, cy), move(8, -cx, -cy), move(12, cx, -cy);
      break;
    }
    case stDiamond:
      move(0, qx, qy), move(4, -qx, qy), move(8, -qx, -qy), move(12, qx, -qy);
      move(1, hx, hy), move(3, -hx, hy), move(5, -hx, hy), move(7, -hx, -hy);
      move(9, -hx, -hy), move(11, hx, -hy), move(13, hx, -hy), move(15, hx, hy);
      break;
    case stNorthTriangle:
      p[0] = p[1] = p[14] = {L + qx, T + hh};
      p[4] = p[3] = p[6] = {R - qx, T + hh};
      p[13].x = L + hx, p[15].x = p[2].x - hx, p[5].x = p[2].x + hx, p[7].x = R - 1 - hx;
      break;
    case stSouthTriangle:
      p[12] = p[11] = p[14] = {L + qx, T + hh};
      p[8] = p[9] = p[6] = {R - qx, T + hh};
      p[15].x = L + hx, p[13].x = p[10].x - hx, p[7].x = p[10].x + hx, p[5].x = R - 1 - hx;
      break;
    case stEastTriangle:
      p[4] = p[2] = p[5] = {L + hw, T + qy};
      p[8] = p[10] = p[7] = {L + hw, B - qy};
      p[1].y = T + hy, p[3].y = p[6].y - hy, p[9].y = p[6].y + hy, p[11].y = B - 1 - hy;
      break;
    case stWestTriangle:
      p[0] = p[2] = p[15] = {L + hw, T + qy};
      p[12] = p[10] = p[13] = {L + hw, B - qy};
      p[3].y = T + hy, p[1].y = p[14].y - hy, p[11].y = p[14].y + hy, p[9].y = B - 1 - hy;
      break;
    case stHexagon:
      move(0, hx, qy), move(4, -hx, qy), move(8, -hx, -qy), move(12, hx, -qy);
      move(13, hx, 0), move(15, hx, 0), move(5, -hx, 0), move(7, -hx, 0);
      break;
    case stUser:
      CalcUserLinkedPoints();
      break;
    default:
      break;
  }
}

const TFcRegion& TFcObject::ShapeRegion() const {
  if (shape_) return *shape_;
  TRect r = ZoomedRect();
  auto poly = [this](std::initializer_list<int> idx) {
    std::vector<TPoint> pts;
    for (int i : idx) pts.push_back(linked_[static_cast<size_t>(i)]);
    return TFcRegion::Polygon(pts.data(), static_cast<int>(pts.size()));
  };
  switch (shapeType_) {
    case stEllipse: shape_ = TFcRegion::Ellipse(r); break;
    case stRoundRect: shape_ = TFcRegion::RoundRect(r, zw_ / 2, zh_ / 2); break;
    case stDiamond: shape_ = poly({2, 6, 10, 14}); break;
    case stNorthTriangle: shape_ = poly({2, 8, 12}); break;
    case stSouthTriangle: shape_ = poly({0, 4, 10}); break;
    case stEastTriangle: shape_ = poly({0, 6, 12}); break;
    case stWestTriangle: shape_ = poly({4, 8, 14}); break;
    case stHexagon: shape_ = poly({1, 3, 6, 9, 11, 14}); break;
    case stUser: shape_ = GetUserRegion(r); break;
    default: shape_ = TFcRegion::Rect(r); break;
  }
  return *shape_;
}

const TFcRegion& TFcObject::InteriorRegion() const {
  if (interior_) return *interior_;
  int32_t k = (shapeType_ == stNone || (shapeType_ == stRectangle && edgeFlags_ != 0)) ? 1 : zLineWidth_;
  const TFcRegion& shape = ShapeRegion();
  TRect in = ZoomedRect().Inflated(-k);
  switch (shapeType_) {
    case stEllipse: interior_ = TFcRegion::Ellipse(in); break;
    case stRoundRect: interior_ = TFcRegion::RoundRect(in, in.Width() / 2, in.Height() / 2); break;
    case stUser: interior_ = GetUserRegion(in); break;
    default:
      interior_ = shape.Offset(k, 0).Intersect(shape.Offset(0, k)).Intersect(shape.Offset(-k, 0)).Intersect(shape.Offset(0, -k));
      break;
  }
  return *interior_;
}

const TFcRegion& TFcObject::OutlineRegion() const {
  if (!outline_) outline_ = ShapeRegion().Subtract(InteriorRegion());
  return *outline_;
}

void TFcObject::Invalidate() { chart_->InvalidateRect(ZoomedRect()); }

void TFcObject::RerouteConnections() {
  for (TFcConnection* c : connections_) c->Reroute();
}

void TFcObject::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  uint16_t w = static_cast<uint16_t>(std::clamp(width, 0, 0xFFFF));
  uint16_t h = static_cast<uint16_t>(std::clamp(height, 0, 0xFFFF));
  if (left == left_ && top == top_ && w == width_ && h == height_) return;
  Invalidate();
  left_ = left, top_ = top, width_ = w, height_ = h;
  UpdateZoom();
  Invalidate();
  RerouteConnections();
  Changed();
  chart_->UpdateExtents();
}

void TFcObject::SetEdgeFlags(uint16_t v) {
  if (edgeFlags_ == v) return;
  edgeFlags_ = v;
  FreeRegions();
  Invalidate();
  Changed();
}

void TFcObject::SetBorderFlags(uint16_t v) {
  if (borderFlags_ == v) return;
  borderFlags_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetImageIndex(int16_t v) {
  if (imageIndex_ == v) return;
  imageIndex_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetTransparent(bool v) {
  if (transparent_ == v) return;
  transparent_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetBkColor(TColor v) {
  if (bkColor_ == v) return;
  bkColor_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetShapeColor(TColor v) {
  if (shapeColor_ == v) return;
  shapeColor_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetShapeType(uint8_t v) {
  if (shapeType_ == v) return;
  shapeType_ = v;
  CalcLinkedPoints();
  FreeRegions();
  RerouteConnections();
  Invalidate();
  Changed();
}

void TFcObject::SetLineWidth(uint8_t v) {
  if (lineWidth_ == v) return;
  lineWidth_ = v;
  UpdateZoom();
  Invalidate();
  Changed();
}

void TFcObject::SetVisible(bool v) {
  if (visible_ == v) return;
  Invalidate();
  visible_ = v;
  Invalidate();
  Changed();
}

void TFcObject::SetTextPos(uint8_t horz, uint8_t vert) {
  if (horz == horzTextPos_ && vert == vertTextPos_) return;
  horzTextPos_ = horz, vertTextPos_ = vert;
  Invalidate();
  Changed();
}

void TFcObject::SetImagePos(uint8_t horz, uint8_t vert) {
  if (horz == horzImagePos_ && vert == vertImagePos_) return;
  horzImagePos_ = horz, vertImagePos_ = vert;
  Invalidate();
  Changed();
}

void TFcObject::SetText(const AnsiString& text) {
  if (text == text_) return;
  text_ = text;
  TextChanged();
  Changed();
}

void TFcObject::Assign(const TFcItem& source) {
  TFcItem::Assign(source);
  const auto* o = dynamic_cast<const TFcObject*>(&source);
  if (!o) return;
  SetBounds(o->left_, o->top_, o->width_, o->height_);
  SetEdgeFlags(o->edgeFlags_);
  SetBorderFlags(o->borderFlags_);
  SetTextPos(o->horzTextPos_, o->vertTextPos_);
  SetImageIndex(o->imageIndex_);
  SetImagePos(o->horzImagePos_, o->vertImagePos_);
  SetTransparent(o->transparent_);
  SetVisible(o->visible_);
  SetBkColor(o->bkColor_);
  SetShapeColor(o->shapeColor_);
  SetShapeType(o->shapeType_);
  SetLineWidth(o->lineWidth_);
  data_ = o->data_;
  stepId_ = o->stepId_;
  tag_ = o->tag_;
}

std::vector<TFcItem*>& TFcObject::GetSelectionList() { return chart_->SelectedObjectList(); }

bool TFcObject::UnionContains(const TFcObject* o) const {
  // Iterative with a visited set: a tree read from a stream is checked before it is trusted.
  std::vector<const TFcObject*> stack{this};
  std::unordered_set<const TFcObject*> seen{this};
  while (!stack.empty()) {
    const TFcObject* u = stack.back();
    stack.pop_back();
    for (const TFcObject* c : u->children_) {
      if (c == o) return true;
      if (c && seen.insert(c).second) stack.push_back(c);
    }
  }
  return false;
}

bool TFcObject::AddToUnion(TFcObject* o) {
  // An object that already holds this union would close a cycle.
  if (!o || o == this || UnionContains(o) || o->UnionContains(this)) return false;
  children_.push_back(o);
  Changed();
  return true;
}

void TFcObject::RemoveFromUnion(TFcObject* o) {
  auto it = std::find(children_.begin(), children_.end(), o);
  if (it == children_.end()) return;
  children_.erase(it);
  Changed();
}

void TFcObject::ClearUnion() {
  if (children_.empty()) return;
  children_.clear();
  Changed();
}

void TFcObject::SelectUnion() {
  SetSelected(true);
  if (!chart_->HasOption(fcoMultiSelect)) return;
  for (TFcObject* c : children_) c->SelectUnion();
}

void TFcObject::BringToFront() { chart_->MoveObject(this, chart_->ObjectCount() - 1); }
void TFcObject::SendToBack() { chart_->MoveObject(this, 0); }

void TFcObject::MakeVisible() {
  SetVisible(true);
  TRect r = ZoomedRect();
  TPoint o = chart_->ScrollOrigin();
  int64_t x = o.x, y = o.y;
  if (r.Right > x + chart_->ClientWidth()) x = int64_t{r.Right} - chart_->ClientWidth();
  if (r.Left < x) x = r.Left;
  if (r.Bottom > y + chart_->ClientHeight()) y = int64_t{r.Bottom} - chart_->ClientHeight();
  if (r.Top < y) y = r.Top;
  chart_->ScrollTo(x, y);
}

bool TFcObject::IntersectsRect(const TRect& r) const { return visible_ && InteriorRegion().IntersectsRect(r); }

namespace {
int Quadrant(const TRect& r, TPoint p) {
  int64_t dx = int64_t{p.x} - (r.Left + r.Width() / 2), dy = int64_t{p.y} - (r.Top + r.Height() / 2);
  if (dx >= 0) return dy < 0 ? 0 : 1;
  return dy >= 0 ? 2 : 3;
}
}  // namespace

int TFcObject::NearestLinkedPoint(TPoint p) const {
  int start = 4 * Quadrant(ZoomedRect(), p) + 2, best = -1;
  int64_t bestD = INT64_MAX;
  for (int k = 0; k < 5; ++k) {
    int i = (start + k) % 16;
    int64_t d = Sq(int64_t{linked_[i].x} - p.x) + Sq(int64_t{linked_[i].y} - p.y);
    if (d < bestD) bestD = d, best = i;
  }
  return best;
}

std::array<TPoint, 8> TFcObject::ResizeHandles() const {
  TRect r = ZoomedRect();
  int32_t R = r.Right - 1, B = r.Bottom - 1, mx = r.Left + zw_ / 2, my = r.Top + zh_ / 2;
  return {{{r.Left, r.Top}, {mx, r.Top}, {R, r.Top}, {R, my}, {R, B}, {mx, B}, {r.Left, B}, {r.Left, my}}};
}

int TFcObject::NearestResizeHandle(TPoint p) const {
  auto h = ResizeHandles();
  int start = 2 * Quadrant(ZoomedRect(), p) + 1, best = -1;
  int64_t bestD = INT64_MAX;
  for (int k = 0; k < 3; ++k) {
    int i = (start + k) % 8;
    int64_t d = Sq(int64_t{h[i].x} - p.x) + Sq(int64_t{h[i].y} - p.y);
    if (d < bestD) bestD = d, best = i;
  }
  return best;
}

void TFcObject::LoadFromRecord(const TFcObjectRec& r) {
  left_ = r.Left, top_ = r.Top, width_ = r.Width, height_ = r.Height;
  edgeFlags_ = r.EdgeFlags, borderFlags_ = r.BorderFlags;
  horzTextPos_ = r.HorzTextPos, vertTextPos_ = r.VertTextPos;
  horzImagePos_ = r.HorzImagePos, vertImagePos_ = r.VertImagePos;
  bkColor_ = static_cast<TColor>(r.BkColor), shapeColor_ = static_cast<TColor>(r.ShapeColor);
  tag_ = r.Tag;
  imageIndex_ = r.ImageIndex;
  shapeType_ = r.ShapeType, lineWidth_ = r.LineWidth;
  transparent_ = r.Transparent != 0;
  if (r.ParentFont == 0) SetFont(FromRec(r.Font, font_.Name));
  text_ = r.Text;
  stepId_ = r.StepId;
  UpdateZoom();
}

void TFcObject::SaveToRecord(TFcObjectRec& r) const {
  r.Left = left_, r.Top = top_, r.Width = width_, r.Height = height_;
  r.EdgeFlags = edgeFlags_, r.BorderFlags = borderFlags_;
  r.HorzTextPos = horzTextPos_, r.VertTextPos = vertTextPos_;
  r.HorzImagePos = horzImagePos_, r.VertImagePos = vertImagePos_;
  r.BkColor = static_cast<uint32_t>(bkColor_), r.ShapeColor = static_cast<uint32_t>(shapeColor_);
  r.Tag = tag_;
  r.ImageIndex = imageIndex_;
  r.ShapeType = shapeType_, r.LineWidth = lineWidth_;
  r.ParentFont = parentFont_ ? 1 : 0;
  r.Transparent = transparent_ ? 1 : 0;
  if (!parentFont_) r.Font = ToRec(font_);
  r.Text = text_;
  r.StepId = stepId_;
}

// ---- TFcConnectionArrow

TFcConnectionArrow::TFcConnectionArrow(TFcConnection* owner) : owner_(owner), color_(owner->Chart()->Color()) {
  UpdateZoom(owner->Chart()->RealZoom());
}

void TFcConnectionArrow::UpdateZoom(int realZoom) {
  zWidth_ = static_cast<uint16_t>(FcMulDiv(width_, realZoom, 100));
  zHeight_ = static_cast<uint16_t>(FcMulDiv(height_, realZoom, 100));
}

void TFcConnectionArrow::SetArrowType(uint8_t v) {
  if (arrowType_ == v) return;
  arrowType_ = v;
  owner_->UpdateGeometry();
  owner_->Changed();
}

void TFcConnectionArrow::SetColor(TColor v) {
  if (color_ == v) return;
  color_ = v;
  owner_->UpdateGeometry();
  owner_->Changed();
}

void TFcConnectionArrow::SetWidth(uint8_t v) {
  if (width_ == v) return;
  width_ = v;
  UpdateZoom(owner_->Chart()->RealZoom());
  owner_->UpdateGeometry();
  owner_->Changed();
}

void TFcConnectionArrow::SetHeight(uint8_t v) {
  if (height_ == v) return;
  height_ = v;
  UpdateZoom(owner_->Chart()->RealZoom());
  owner_->UpdateGeometry();
  owner_->Changed();
}

void TFcConnectionArrow::Assign(const TFcConnectionArrow& other) {
  SetWidth(other.width_);
  SetHeight(other.height_);
  SetColor(other.color_);
  SetArrowType(other.arrowType_);
}

void TFcConnectionArrow::Recalc(TPoint p, TPoint q, int style, bool isSource) {
  end_ = p;
  int64_t dx = int64_t{q.x} - p.x, dy = int64_t{q.y} - p.y;
  // The leg that meets the end point of a right-angle line.
  bool horizontalFirst = style == lsRectHorizontal, verticalFirst = style == lsRectVertical;
  if ((isSource && horizontalFirst) || (!isSource && verticalFirst)) {
    if (dx != 0) dy = 0;
  } else if ((isSource && verticalFirst) || (!isSource && horizontalFirst)) {
    if (dy != 0) dx = 0;
  }
  int64_t len = (dx == 0 || dy == 0) ? std::llabs(dx + dy) : static_cast<int64_t>(RoundHalfEven(std::sqrt(double(dx) * dx + double(dy) * dy)));
  if (len == 0) len = 1;
  int64_t w = zWidth_, h = (zHeight_ + 1) >> 1;
  auto rot = [&](int64_t x, int64_t y) {
    return TPoint{ClampI32((x * dx - y * dy) / len + p.x), ClampI32((x * dy + y * dx) / len + p.y)};
  };
  head_ = {rot(w, h), p, rot(w, -h)};
}

TRect TFcConnectionArrow::PaintRect() const {
  if (arrowType_ == atNone) return {};
  if (arrowType_ == atArrow) {
    TRect r{head_[0].x, head_[0].y, head_[0].x, head_[0].y};
    ExtendBounds(r, head_[1]);
    ExtendBounds(r, head_[2]);
    return r.Inflated(1);
  }
  TRect r{end_.x - zWidth_ / 2, end_.y - zHeight_ / 2, 0, 0};
  r.Right = r.Left + zWidth_ + 1;
  r.Bottom = r.Top + zHeight_ + 1;
  return r;
}

// ---- TFcConnection

TFcConnection::TFcConnection(TFcChart* chart) : TFcItem(chart), sourceArrow_(this), destArrow_(this) {}

int TFcConnection::PointCount() const {
  return static_cast<int>(real_.size()) - (source_ ? 1 : 0) - (dest_ ? 1 : 0);
}

TPoint TFcConnection::GetPoint(int i) const {
  if (i < 0 || i >= PointCount()) return {};
  return real_[static_cast<size_t>(Internal(i))];
}

void TFcConnection::SetPoint(int i, TPoint p) {
  if (i < 0 || i >= PointCount()) return;
  size_t k = static_cast<size_t>(Internal(i));
  if (real_[k] == p) return;
  Invalidate();
  real_[k] = p;
  zoomed_[k] = {chart_->ToZoomed(p.x), chart_->ToZoomed(p.y)};
  UpdateGeometry();
  Changed();
}

void TFcConnection::InsertPoint(int i, TPoint p) {
  if (i < 0 || i > PointCount()) return;
  auto k = static_cast<std::ptrdiff_t>(Internal(i));
  Invalidate();
  real_.insert(real_.begin() + k, p);
  zoomed_.insert(zoomed_.begin() + k, TPoint{chart_->ToZoomed(p.x), chart_->ToZoomed(p.y)});
  UpdateGeometry();
  Changed();
}

void TFcConnection::AddPoint(TPoint p) { InsertPoint(PointCount(), p); }

void TFcConnection::RemovePoint(int i) {
  if (i < 0 || i >= PointCount()) return;
  auto k = static_cast<std::ptrdiff_t>(Internal(i));
  Invalidate();
  real_.erase(real_.begin() + k);
  zoomed_.erase(zoomed_.begin() + k);
  UpdateGeometry();
  Changed();
}

void TFcConnection::Detach(bool source) {
  TFcObject*& end = source ? source_ : dest_;
  TFcObject* other = source ? dest_ : source_;
  if (!end) return;
  EraseOne(end->connections_, this);
  if (other) {
    EraseOne(end->linkedObjects_, other);
    EraseOne(other->linkedObjects_, end);
  }
  if (!real_.empty()) {
    if (source) {
      real_.erase(real_.begin());
      zoomed_.erase(zoomed_.begin());
    } else {
      real_.pop_back();
      zoomed_.pop_back();
    }
  }
  end = nullptr;
}

void TFcConnection::SetSource(TFcObject* o, int point) {
  uint8_t pt = static_cast<uint8_t>(std::clamp(point, 0, 15));
  if (o == source_ && pt == sourcePoint_) return;
  Invalidate();
  Detach(true);
  if (o) {
    o->connections_.push_back(this);
    if (dest_) {
      o->linkedObjects_.push_back(dest_);
      dest_->linkedObjects_.push_back(o);
    }
    real_.insert(real_.begin(), TPoint{});
    zoomed_.insert(zoomed_.begin(), TPoint{});
    source_ = o;
  }
  sourcePoint_ = pt;
  Reroute();
  Changed();
}

void TFcConnection::SetDest(TFcObject* o, int point) {
  uint8_t pt = static_cast<uint8_t>(std::clamp(point, 0, 15));
  if (o == dest_ && pt == destPoint_) return;
  Invalidate();
  Detach(false);
  if (o) {
    o->connections_.push_back(this);
    if (source_) {
      o->linkedObjects_.push_back(source_);
      source_->linkedObjects_.push_back(o);
    }
    real_.push_back(TPoint{});
    zoomed_.push_back(TPoint{});
    dest_ = o;
  }
  destPoint_ = pt;
  Reroute();
  Changed();
}

void TFcConnection::Reroute() {
  Invalidate();
  if (source_ && !real_.empty()) {
    zoomed_.front() = source_->LinkedPoint(sourcePoint_);
    real_.front() = {chart_->ToReal(zoomed_.front().x), chart_->ToReal(zoomed_.front().y)};
  }
  if (dest_ && !real_.empty()) {
    zoomed_.back() = dest_->LinkedPoint(destPoint_);
    real_.back() = {chart_->ToReal(zoomed_.back().x), chart_->ToReal(zoomed_.back().y)};
  }
  UpdateGeometry();
}

void TFcConnection::UpdateGeometry() {
  size_t n = zoomed_.size();
  if (n >= 2) {
    sourceArrow_.Recalc(zoomed_[0], zoomed_[1], style_, true);
    destArrow_.Recalc(zoomed_[n - 1], zoomed_[n - 2], style_, false);
  }
  if (n == 0) {
    lineBounds_ = {};
    halfWay_ = {};
  } else {
    TRect r{zoomed_[0].x, zoomed_[0].y, zoomed_[0].x, zoomed_[0].y};
    for (TPoint p : zoomed_) ExtendBounds(r, p);
    r.Right += 1;
    r.Bottom += 1;
    lineBounds_ = r;
    halfWay_ = HalfWayPoint(style_, zoomed_.data(), static_cast<int>(n));
  }
  MeasureText();
  Invalidate();
  chart_->ClearHitCache();
  if (!chart_->Destroying()) chart_->UpdateExtents();
}

void TFcConnection::UpdateZoom() {
  for (size_t i = 0; i < real_.size(); ++i) zoomed_[i] = {chart_->ToZoomed(real_[i].x), chart_->ToZoomed(real_[i].y)};
  sourceArrow_.UpdateZoom(chart_->RealZoom());
  destArrow_.UpdateZoom(chart_->RealZoom());
  RefreshDisplayFont();
  Reroute();
}

void TFcConnection::MeasureText() {
  if (text_.empty() || zoomed_.empty()) {
    textRect_ = {};
    return;
  }
  TFcSize s = chart_->MeasureText(displayFont_, text_);
  textRect_.Left = halfWay_.x - s.cx / 2;
  textRect_.Top = halfWay_.y - s.cy / 2;
  textRect_.Right = textRect_.Left + s.cx;
  textRect_.Bottom = textRect_.Top + s.cy;
}

TRect TFcConnection::PaintRect() const {
  if (zoomed_.empty()) return {};
  TRect r = lineBounds_;
  if (zoomed_.size() >= 2) {
    r = UnionRect(r, sourceArrow_.PaintRect());
    r = UnionRect(r, destArrow_.PaintRect());
  }
  return UnionRect(r, textRect_);
}

void TFcConnection::SetText(const AnsiString& text) {
  if (text == text_) return;
  Invalidate();
  text_ = text;
  TextChanged();
  Changed();
}

void TFcConnection::TextChanged() {
  Invalidate();
  MeasureText();
  Invalidate();
  chart_->UpdateExtents();
}

void TFcConnection::SetStyle(uint8_t v) {
  if (v == style_) return;
  Invalidate();
  style_ = v;
  UpdateGeometry();
  Changed();
}

void TFcConnection::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Invalidate();
  Changed();
}

void TFcConnection::SetPenStyle(uint8_t v) {
  v &= 0x0F;
  if (v == penStyle_) return;
  penStyle_ = v;
  Invalidate();
  Changed();
}

void TFcConnection::SetBack(bool v) {
  if (v == back_) return;
  back_ = v;
  Invalidate();
  Changed();
}

void TFcConnection::Assign(const TFcItem& source) {
  TFcItem::Assign(source);
  const auto* c = dynamic_cast<const TFcConnection*>(&source);
  if (!c) return;
  SetStyle(c->style_);
  SetColor(c->color_);
  SetPenStyle(c->penStyle_);
  SetBack(c->back_);
  sourceArrow_.Assign(c->sourceArrow_);
  destArrow_.Assign(c->destArrow_);
}

std::vector<TFcItem*>& TFcConnection::GetSelectionList() { return chart_->SelectedConnectionList(); }

void TFcConnection::Invalidate() {
  TRect r = PaintRect();
  if (!r.IsEmpty()) chart_->InvalidateRect(r);
}

int TFcConnection::NearestPoint(TPoint p) const {
  int best = -1;
  int64_t bestD = INT64_MAX;
  for (size_t i = 0; i < zoomed_.size(); ++i) {
    int64_t d = Sq(int64_t{zoomed_[i].x} - p.x) + Sq(int64_t{zoomed_[i].y} - p.y);
    if (d < bestD) bestD = d, best = static_cast<int>(i);
  }
  return best < 0 ? -1 : best - (source_ ? 1 : 0);
}

int TFcConnection::InsertPointAt(TPoint p, int hitSegment) {
  int n = static_cast<int>(zoomed_.size());
  int k;
  if (hitSegment + 1 >= 1 && hitSegment + 1 <= n - 1) {
    k = hitSegment + 1;
  } else {
    k = NearestPoint(p) + (source_ ? 1 : 0);
    if (k < 0) k = 0;
    if (k < n - 1) {
      // Goes after the nearest point when the press lies toward the next point.
      auto dot = [&](TPoint a) {
        return (int64_t{a.x} - zoomed_[k].x) * (int64_t{p.x} - zoomed_[k].x) +
               (int64_t{a.y} - zoomed_[k].y) * (int64_t{p.y} - zoomed_[k].y);
      };
      if (k == 0 || dot(zoomed_[k + 1]) >= dot(zoomed_[k - 1])) ++k;
    }
  }
  // Attached ends stay the first and last points.
  k = std::clamp(k, source_ ? 1 : 0, n - (dest_ ? 1 : 0));
  TPoint real{chart_->ToReal(p.x), chart_->ToReal(p.y)};
  Invalidate();
  real_.insert(real_.begin() + k, real);
  zoomed_.insert(zoomed_.begin() + k, p);
  UpdateGeometry();
  Changed();
  return k;
}

void TFcConnection::LoadFromRecord(const TFcConnectionRec& r, const std::vector<TFcObject*>& objects) {
  auto at = [&objects](uint16_t i) { return i < objects.size() ? objects[i] : nullptr; };
  style_ = r.Style;
  color_ = static_cast<TColor>(r.Color);
  parentFont_ = r.ParentFont != 0;
  back_ = r.Back;
  penStyle_ = r.PenStyle & 0x0F;
  SetSource(at(r.Source), r.SourcePoint);
  // Seven bits are stored but an object has sixteen linked points.
  SetDest(at(r.Dest), std::min<int>(r.DestPoint, 15));
  for (TPoint p : r.Points) AddPoint(p);
  for (auto [arrow, rec] : {std::pair{&sourceArrow_, &r.SourceArrow}, std::pair{&destArrow_, &r.DestArrow}}) {
    arrow->width_ = rec->Width;
    arrow->height_ = rec->Height;
    arrow->color_ = static_cast<TColor>(rec->Color);
    arrow->arrowType_ = rec->ArrowType;
    arrow->UpdateZoom(chart_->RealZoom());
  }
  Reroute();
  if (r.ParentFont == 0) SetFont(FromRec(r.Font, font_.Name));
  text_ = r.Text;
  MeasureText();
}

void TFcConnection::SaveToRecord(TFcConnectionRec& r, const std::vector<TFcObject*>& objects) const {
  (void)objects;
  r.Source = source_ ? static_cast<uint16_t>(chart_->IndexOfObject(source_)) : fcNoObject;
  r.Dest = dest_ ? static_cast<uint16_t>(chart_->IndexOfObject(dest_)) : fcNoObject;
  r.Color = static_cast<uint32_t>(color_);
  r.SourcePoint = sourcePoint_;
  r.PenStyle = penStyle_;
  r.DestPoint = destPoint_;
  r.Back = back_;
  r.Style = style_;
  r.ParentFont = parentFont_ ? 1 : 0;
  for (auto [arrow, rec] : {std::pair{&sourceArrow_, &r.SourceArrow}, std::pair{&destArrow_, &r.DestArrow}}) {
    rec->ArrowType = arrow->ArrowType();
    rec->Width = arrow->Width();
    rec->Height = arrow->Height();
    rec->Color = static_cast<uint32_t>(arrow->Color());
  }
  r.Points.clear();
  for (int i = 0; i < PointCount(); ++i) r.Points.push_back(GetPoint(i));
  if (!parentFont_) r.Font = ToRec(font_);
  r.Text = text_;
}

// ---- TFcSelection

void TFcSelection::AddHandle(int32_t x, int32_t y) {
  TPoint o = chart_->ScrollOrigin();
  x -= o.x;
  y -= o.y;
  points_.insert(points_.end(), {{x - 2, y - 2}, {x + 2, y - 2}, {x + 2, y + 2}, {x - 2, y + 2}, {x - 2, y - 2}});
  counts_.push_back(5);
}
