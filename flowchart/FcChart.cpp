// TFcChart: the chart's lists, selection, zoom, scrolling, hit testing, editing and stream.
#include "flowchart/FcChart.h"

#include <unordered_map>

#include "core/SaveFile.h"
#include "core/ScopeGuard.h"

namespace {

bool Near(TPoint a, TPoint b, int d) { return std::llabs(int64_t{a.x} - b.x) <= d && std::llabs(int64_t{a.y} - b.y) <= d; }

}  // namespace

TFcChart::TFcChart() { font_.Name = Cp936("宋体"); }

TFcChart::~TFcChart() { DestroyChart(); }

void TFcChart::DestroyChart() {
  if (destroying_) return;
  destroying_ = true;
  OnDeletion = nullptr;
  OnSelected = nullptr;
  OnChange = nullptr;
  OnSelection = nullptr;
  selectedObjects_.clear();
  selectedConnections_.clear();
  while (!connections_.empty()) DestroyConnection(connections_.back().get());
  while (!objects_.empty()) DestroyObject(objects_.back().get());
}

// ---- items

TFcObject* TFcChart::Objects(int i) const {
  return i >= 0 && i < ObjectCount() ? objects_[static_cast<size_t>(i)].get() : nullptr;
}

TFcConnection* TFcChart::Connections(int i) const {
  return i >= 0 && i < ConnectionCount() ? connections_[static_cast<size_t>(i)].get() : nullptr;
}

int TFcChart::IndexOfObject(const TFcObject* o) const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (objects_[i].get() == o) return static_cast<int>(i);
  return -1;
}

std::unique_ptr<TFcObject> TFcChart::NewObject() { return std::make_unique<TFcObject>(this); }
std::unique_ptr<TFcConnection> TFcChart::NewConnection() { return std::make_unique<TFcConnection>(this); }

TFcObject* TFcChart::AddObject() {
  objects_.push_back(NewObject());
  return objects_.back().get();
}

TFcConnection* TFcChart::AddConnection() {
  connections_.push_back(NewConnection());
  return connections_.back().get();
}

TFcObject* TFcChart::CreateObject(int32_t left, int32_t top, int32_t width, int32_t height, uint8_t shapeType) {
  TFcObject* o = AddObject();
  if (OnCreateItem) OnCreateItem(this, o);
  o->SetShapeType(shapeType);
  o->SetBounds(left, top, width, height);
  return o;
}

TFcConnection* TFcChart::CreateConnection(TFcObject* source, TFcObject* dest, int sourcePoint, int destPoint) {
  TFcConnection* c = AddConnection();
  if (OnCreateItem) OnCreateItem(this, c);
  c->SetSource(source, sourcePoint);
  c->SetDest(dest, destPoint);
  return c;
}

void TFcChart::FreeItem(TFcItem* item) {
  if (!item || item->destroying_) return;
  if (auto* o = dynamic_cast<TFcObject*>(item)) {
    DestroyObject(o);
  } else if (auto* c = dynamic_cast<TFcConnection*>(item)) {
    DestroyConnection(c);
  }
}

void TFcChart::DestroyObject(TFcObject* o) {
  Delete(o);
  o->FreeRegions();
  // A connection from the object to itself is listed twice; freeing detaches both.
  while (!o->connections_.empty()) DestroyConnection(o->connections_.back());
  for (auto& other : objects_) {
    auto& ch = other->children_;
    ch.erase(std::remove(ch.begin(), ch.end(), o), ch.end());
  }
  auto it = std::find_if(objects_.begin(), objects_.end(), [o](const auto& p) { return p.get() == o; });
  if (it != objects_.end()) objects_.erase(it);
  UpdateExtents();
}

void TFcChart::DestroyConnection(TFcConnection* c) {
  Delete(c);
  bool objectGoing = (c->source_ && c->source_->destroying_) || (c->dest_ && c->dest_->destroying_);
  c->Detach(true);
  c->Detach(false);
  auto it = std::find_if(connections_.begin(), connections_.end(), [c](const auto& p) { return p.get() == c; });
  if (it != connections_.end()) connections_.erase(it);
  if (!objectGoing) UpdateExtents();
}

void TFcChart::Clear() {
  BeginUpdate();
  for (TFcItem* i : selectedObjects_) i->selected_ = false;
  for (TFcItem* i : selectedConnections_) i->selected_ = false;
  selectedObjects_.clear();
  selectedConnections_.clear();
  while (!connections_.empty()) DestroyConnection(connections_.back().get());
  while (!objects_.empty()) DestroyObject(objects_.back().get());
  EndUpdate();
}

void TFcChart::ClearSelection() {
  for (TFcItem* c : std::vector<TFcItem*>(selectedConnections_)) c->SetSelected(false);
  for (TFcItem* o : std::vector<TFcItem*>(selectedObjects_)) o->SetSelected(false);
}

void TFcChart::DeleteSelection() {
  BeginUpdate();
  // Connections first: freeing an object frees its connections too.
  while (!selectedConnections_.empty()) FreeItem(selectedConnections_.back());
  while (!selectedObjects_.empty()) FreeItem(selectedObjects_.back());
  EndUpdate();
}

void TFcChart::SelectAll() {
  for (auto& o : objects_) o->SetSelected(true);
  for (auto& c : connections_) c->SetSelected(true);
}

TFcObject* TFcChart::SelectedObject() const {
  return selectedObjects_.size() == 1 && selectedConnections_.empty() ? static_cast<TFcObject*>(selectedObjects_[0]) : nullptr;
}

TFcConnection* TFcChart::SelectedConnection() const {
  return selectedConnections_.size() == 1 && selectedObjects_.empty() ? static_cast<TFcConnection*>(selectedConnections_[0])
                                                                      : nullptr;
}

void TFcChart::MoveObject(TFcObject* o, int newIndex) {
  int from = IndexOfObject(o);
  if (from < 0 || from == newIndex) return;
  auto holder = std::move(objects_[static_cast<size_t>(from)]);
  objects_.erase(objects_.begin() + from);
  newIndex = std::clamp(newIndex, 0, ObjectCount());
  objects_.insert(objects_.begin() + newIndex, std::move(holder));
  o->Invalidate();
  ClearHitCache();
  o->Changed();
}

// ---- updates and events

void TFcChart::BeginUpdate() {
  if (updateCount_++ == 0) repaintPending_ = false;
}

void TFcChart::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ > 0) return;
  if (repaintPending_) InvalidateWindow(nullptr);
  repaintPending_ = false;
  UpdateExtents();
}

void TFcChart::Invalidate() {
  if (updateCount_ > 0) {
    repaintPending_ = true;
    return;
  }
  InvalidateWindow(nullptr);
}

void TFcChart::InvalidateRect(const TRect& r) {
  ClearHitCache();
  if (updateCount_ > 0) {
    repaintPending_ = true;
    return;
  }
  TRect c = r.Offset(-origin_.x, -origin_.y).Inflated(3);
  InvalidateWindow(&c);
}

bool TFcChart::CanSelect(TFcItem* item) {
  bool allow = HasOption(fcoCanSelect);
  if (OnSelection) OnSelection(this, item, allow);
  return allow;
}

void TFcChart::Changed(TFcItem* item) {
  ClearHitCache();
  if (OnChange) OnChange(this, item);
}

void TFcChart::Select(TFcItem* item) {
  ClearHitCache();
  if (OnSelected) OnSelected(this, item);
}

void TFcChart::Delete(TFcItem* item) {
  if (dragKind_ != dkNone) CancelDrag();
  pressed_ = false;
  pressObject_ = nullptr;
  pressConnection_ = nullptr;
  item->Invalidate();
  if (item->selected_) item->SetSelected(false);
  if (OnDeletion) OnDeletion(this, item);
  item->destroying_ = true;
  ClearHitCache();
  hitObject_ = nullptr;
  hitConnection_ = nullptr;
}

TFcSize TFcChart::MeasureText(const TFcFont& font, const AnsiString& text) const {
  // Without a window: half the font height per byte, one line.
  int h = std::max(1, font.Height < 0 ? -font.Height : font.Height);
  return {static_cast<int32_t>(text.size()) * h / 2, h + 2};
}

void TFcChart::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  Invalidate();
}

void TFcChart::SetFont(const TFcFont& f) {
  if (f == font_) return;
  font_ = f;
  BeginUpdate();
  for (auto& o : objects_)
    if (o->parentFont_) o->parentFont_ = false, o->SetParentFont(true);
  for (auto& c : connections_)
    if (c->parentFont_) c->parentFont_ = false, c->SetParentFont(true);
  Invalidate();
  EndUpdate();
}

// ---- stream

TFcChartData TFcChart::SaveToData() const {
  TFcChartData d;
  std::unordered_map<const TFcObject*, uint16_t> index;
  std::vector<TFcObject*> objs;
  for (size_t i = 0; i < objects_.size(); ++i) {
    index[objects_[i].get()] = static_cast<uint16_t>(i);
    objs.push_back(objects_[i].get());
  }
  d.Objects.resize(objects_.size());
  for (size_t i = 0; i < objects_.size(); ++i) {
    objects_[i]->SaveToRecord(d.Objects[i]);
    for (TFcObject* c : objects_[i]->children_)
      if (index.count(c)) d.Objects[i].Children.push_back(index[c]);
  }
  d.Connections.resize(connections_.size());
  for (size_t i = 0; i < connections_.size(); ++i) connections_[i]->SaveToRecord(d.Connections[i], objs);
  return d;
}

void TFcChart::LoadFromData(const TFcChartData& d) {
  BeginUpdate();
  loading_ = true;
  const auto loaded = ScopeExit([this] {
    loading_ = false;
    EndUpdate();
  });
  Clear();
  std::vector<TFcObject*> objs;
  objs.reserve(d.Objects.size());
  for (const TFcObjectRec& rec : d.Objects) {
    TFcObject* o = AddObject();
    o->LoadFromRecord(rec);
    objs.push_back(o);
  }
  // Children by index once every object exists; a missing, self or cyclic child is dropped.
  for (size_t i = 0; i < d.Objects.size(); ++i)
    for (uint16_t k : d.Objects[i].Children)
      if (k < objs.size()) objs[i]->AddToUnion(objs[k]);
  for (const TFcConnectionRec& rec : d.Connections) AddConnection()->LoadFromRecord(rec, objs);
}

void TFcChart::LoadFromStream(TStream& stream) { LoadFromData(ReadChartData(stream)); }

void TFcChart::SaveToStream(TStream& stream) const { WriteChartData(stream, SaveToData(), font_.Name); }

void TFcChart::LoadFromFile(const std::string& path) {
  TFileStream f(path, fmOpenRead);
  LoadFromStream(f);
}

void TFcChart::SaveToFile(const std::string& path) const {
  SaveWholeFile(path, WriteChartData(SaveToData(), font_.Name));
}

// ---- zoom, extents and scrolling

void TFcChart::SetZoom(uint16_t v) {
  if (v == zoom_) return;
  zoom_ = v;
  ApplyZoom(v != 0 ? v : FitZoom());
}

uint16_t TFcChart::FitZoom() const {
  int64_t w100 = FcMulDiv64(extents_.Width(), 100, realZoom_);
  int64_t h100 = FcMulDiv64(extents_.Height(), 100, realZoom_);
  // Nothing to fit: an empty chart keeps the actual size.
  if (w100 <= 0 || h100 <= 0) return 100;
  int64_t cw = ClientWidth(), ch = ClientHeight();
  int64_t z = cw * h100 > ch * w100 ? FcMulDiv64(ch, 95, h100) : FcMulDiv64(cw, 95, w100);
  return static_cast<uint16_t>(std::clamp<int64_t>(z, 1, 100));
}

void TFcChart::ApplyZoom(uint16_t rz) {
  if (rz == 0) rz = 100;
  if (rz == realZoom_) return;
  realZoom_ = rz;
  BeginUpdate();
  for (auto& o : objects_) o->UpdateZoom();
  for (auto& c : connections_) c->UpdateZoom();
  Invalidate();
  ClearHitCache();
  EndUpdate();
}

TPoint TFcChart::ClientToReal(TPoint client) const {
  return {ToReal(int64_t{client.x} + origin_.x), ToReal(int64_t{client.y} + origin_.y)};
}

void TFcChart::UpdateExtents() {
  if (updateCount_ > 0 || destroying_) return;
  TRect e{};
  for (auto& o : objects_) e = UnionRect(e, o->ZoomedRect());
  for (auto& c : connections_) e = UnionRect(e, c->PaintRect());
  if (e != extents_) {
    extents_ = e;
    ExtentsChanged();
  }
  Refit();
}

void TFcChart::Refit() {
  // Re-fitting changes the extents again; one fit per change is enough.
  if (zoom_ != 0 || fitting_) return;
  fitting_ = true;
  ApplyZoom(FitZoom());
  // Nothing scrolls in fit mode: the chart's start is the window's corner.
  ScrollTo(extents_.Left, extents_.Top);
  fitting_ = false;
}

void TFcChart::SetClientSize(int w, int h) {
  w = std::max(w, 0), h = std::max(h, 0);
  if (w == clientW_ && h == clientH_) return;
  clientW_ = w, clientH_ = h;
  ExtentsChanged();
  Refit();
}

void TFcChart::ScrollTo(int64_t x, int64_t y) {
  x = std::min<int64_t>(x, int64_t{extents_.Right} - ClientWidth());
  x = std::max<int64_t>(x, extents_.Left);
  y = std::min<int64_t>(y, int64_t{extents_.Bottom} - ClientHeight());
  y = std::max<int64_t>(y, extents_.Top);
  TPoint n{ClampI32(x), ClampI32(y)};
  if (n == origin_) return;
  int32_t dx = origin_.x - n.x, dy = origin_.y - n.y;
  origin_ = n;
  ClearHitCache();
  ScrollChanged(dx, dy);
}

// ---- hit testing

uint8_t TFcChart::HitTest(int32_t x, int32_t y) {
  if (hitValid_ && hitPos_ == TPoint{x, y}) return hitCode_;
  hitValid_ = true;
  hitPos_ = {x, y};
  TPoint p{ClampI32(int64_t{x} + origin_.x), ClampI32(int64_t{y} + origin_.y)};
  uint8_t code = htNowhere;
  TFcObject* obj = nullptr;
  TFcConnection* con = nullptr;
  hitSegment_ = hitHandle_ = hitPoint_ = -1;

  for (auto it = objects_.rbegin(); it != objects_.rend(); ++it) {
    TFcObject* o = it->get();
    if (!o->Visible() || !o->ZoomedRect().Inflated(3).Contains(p.x, p.y)) continue;
    if (!obj) obj = o, code = htObjectRect;
    if (o->InteriorRegion().Contains(p.x, p.y)) {
      obj = o;
      code = htObjectRect | htShape;
      break;
    }
  }
  int tol = HitTolerance();
  for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
    TFcConnection* c = it->get();
    if (c->zoomed_.empty() || !c->PaintRect().Inflated(3).Contains(p.x, p.y)) continue;
    con = c;
    if (code == htNowhere) code = 0;
    if (LineHitTest(c->style_, c->zoomed_, p, tol)) {
      code |= htLine;
      hitSegment_ = LastHitSegment();
    }
    if (c->zoomed_.size() >= 2) {
      if (c->sourceArrow_.PaintRect().Contains(p.x, p.y)) code |= htSourceArrow;
      if (c->destArrow_.PaintRect().Contains(p.x, p.y)) code |= htDestArrow;
    }
    if (!c->text_.empty() && c->textRect_.Contains(p.x, p.y)) code |= htText;
    if (code & htConnectionMask) break;
  }
  if (!(code & htConnectionMask)) con = nullptr;
  if ((code & htShape) && (code & htConnectionMask)) {
    if (con->back_)
      code &= static_cast<uint8_t>(~htConnectionMask), con = nullptr;
    else
      code &= static_cast<uint8_t>(~htShape);
  }
  if (selectedObjects_.size() == 1) {
    auto* s = static_cast<TFcObject*>(selectedObjects_[0]);
    if (s->ZoomedRect().Inflated(3).Contains(p.x, p.y)) {
      int h = s->NearestResizeHandle(p);
      if (h >= 0 && Near(s->ResizeHandles()[static_cast<size_t>(h)], p, 2)) {
        code |= htHandle;
        if (obj != s) code &= static_cast<uint8_t>(~htShape);
        obj = s;
        hitHandle_ = h;
      }
    }
  }
  if (selectedConnections_.size() == 1) {
    auto* s = static_cast<TFcConnection*>(selectedConnections_[0]);
    if (!s->zoomed_.empty() && s->PaintRect().Inflated(3).Contains(p.x, p.y)) {
      int k = s->NearestPoint(p) + (s->source_ ? 1 : 0);
      if (k >= 0 && Near(s->zoomed_[static_cast<size_t>(k)], p, 2)) {
        if (con != s) code &= static_cast<uint8_t>(~htConnectionMask);
        // A point handle wins over the shape below it.
        code = static_cast<uint8_t>((code & ~htShape) | htHandle | htLine);
        con = s;
        hitPoint_ = k;
        hitHandle_ = -1;
      }
    }
  }
  if (code == 0) code = htNowhere, con = nullptr;
  hitCode_ = code;
  hitObject_ = obj;
  hitConnection_ = con;
  return code;
}

int TFcChart::HandleAt(int32_t x, int32_t y) const {
  TFcObject* s = SelectedObject();
  if (!s || !HasOption(fcoCanDrag)) return -1;
  TPoint p{ClampI32(int64_t{x} + origin_.x), ClampI32(int64_t{y} + origin_.y)};
  if (!s->ZoomedRect().Inflated(3).Contains(p.x, p.y)) return -1;
  int h = s->NearestResizeHandle(p);
  return h >= 0 && Near(s->ResizeHandles()[static_cast<size_t>(h)], p, 2) ? h : -1;
}

// ---- mouse editing

void TFcChart::MouseDown(int32_t x, int32_t y, uint8_t shift) {
  if (dragKind_ != dkNone) return;
  ClearHitCache();
  uint8_t code = HitTest(x, y);
  pressed_ = true;
  dragStart_ = dragCur_ = {x, y};
  pressCode_ = code;
  pressObject_ = hitObject_;
  pressConnection_ = hitConnection_;
  pressSegment_ = hitSegment_;
  if ((code & htHandle) && HasOption(fcoCanDrag)) {
    if (hitPoint_ >= 0 && hitConnection_) {
      dragConnection_ = hitConnection_;
      dragPoint_ = hitPoint_;
      dragEnd_ = 0;
      int last = static_cast<int>(dragConnection_->zoomed_.size()) - 1;
      // A dragged end lets go of its object and becomes a loose point where it was.
      if (dragPoint_ == 0 && dragConnection_->source_) {
        TPoint keep = dragConnection_->real_.front();
        dragConnection_->SetSource(nullptr, dragConnection_->sourcePoint_);
        dragConnection_->InsertPoint(0, keep);
        dragEnd_ = 1;
      } else if (dragPoint_ == last && dragConnection_->dest_) {
        TPoint keep = dragConnection_->real_.back();
        dragConnection_->SetDest(nullptr, dragConnection_->destPoint_);
        dragConnection_->AddPoint(keep);
        dragPoint_ = last;
        dragEnd_ = 2;
      } else if (dragPoint_ == 0 || dragPoint_ == last) {
        dragEnd_ = dragPoint_ == 0 ? 1 : 2;
      }
      dragKind_ = dkPoint;
    } else if (hitHandle_ >= 0 && hitObject_) {
      dragObject_ = hitObject_;
      dragHandle_ = hitHandle_;
      dragKind_ = dkResize;
    }
    if (dragKind_ != dkNone) {
      DragStateChanged();
      return;
    }
  }
  if ((code & htShape) && hitObject_->Selected() && !(shift & fsShift)) {
    hitObject_->SelectUnion();
  } else if (code & (htShape | htConnectionMask)) {
    TFcItem* target = (code & htShape) ? static_cast<TFcItem*>(hitObject_) : hitConnection_;
    if (!(shift & fsShift)) ClearSelection();
    if (target) target->SetSelected(!target->Selected());
  }
}

void TFcChart::MouseMove(int32_t x, int32_t y, bool leftDown) {
  if (dragKind_ != dkNone) {
    dragCur_ = {std::clamp(x, 0, std::max(0, ClientWidth() - 1)), std::clamp(y, 0, std::max(0, ClientHeight() - 1))};
    DragStateChanged();
    return;
  }
  if (!pressed_ || !leftDown || !HasOption(fcoCanDrag)) return;
  if (std::abs(x - dragStart_.x) + std::abs(y - dragStart_.y) <= 4) return;
  StartDrag();
  if (dragKind_ != dkNone) MouseMove(x, y, leftDown);
}

void TFcChart::StartDrag() {
  TPoint p{dragStart_.x + origin_.x, dragStart_.y + origin_.y};
  if ((pressCode_ & htShape) && pressObject_ && pressObject_->Selected()) {
    dragKind_ = dkMove;
  } else if (pressCode_ == htObjectRect && pressObject_ && pressObject_->Selected()) {
    int lp = pressObject_->NearestLinkedPoint(p);
    TFcConnection* c = CreateConnection(pressObject_, pressObject_, lp, lp);
    TPoint keep = c->real_.back();
    c->SetDest(nullptr, lp);
    c->AddPoint(keep);
    dragConnection_ = c;
    dragPoint_ = static_cast<int>(c->zoomed_.size()) - 1;
    dragEnd_ = 2;
    dragKind_ = dkNewConnection;
  } else if ((pressCode_ & htLine) && pressConnection_ && pressConnection_ == SelectedConnection()) {
    dragConnection_ = pressConnection_;
    dragPoint_ = pressConnection_->InsertPointAt(p, pressSegment_);
    dragEnd_ = 0;
    dragKind_ = dkPoint;
  }
  pressed_ = false;
  if (dragKind_ != dkNone) DragStateChanged();
}

TRect TFcChart::DragRect() const {
  int32_t dx = dragCur_.x - dragStart_.x, dy = dragCur_.y - dragStart_.y;
  if (dragKind_ == dkResize && dragObject_) {
    TRect r = dragObject_->ZoomedRect().Offset(-origin_.x, -origin_.y);
    switch (dragHandle_) {
      case 0: r.Left += dx, r.Top += dy; break;
      case 1: r.Top += dy; break;
      case 2: r.Right += dx, r.Top += dy; break;
      case 3: r.Right += dx; break;
      case 4: r.Right += dx, r.Bottom += dy; break;
      case 5: r.Bottom += dy; break;
      case 6: r.Left += dx, r.Bottom += dy; break;
      case 7: r.Left += dx; break;
    }
    return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right), std::max(r.Top, r.Bottom)};
  }
  if (dragKind_ == dkMove) {
    TRect r{};
    for (TFcItem* i : selectedObjects_) r = UnionRect(r, static_cast<TFcObject*>(i)->ZoomedRect());
    return r.Offset(dx - origin_.x, dy - origin_.y);
  }
  return {};
}

std::vector<TPoint> TFcChart::DragLine() const {
  if ((dragKind_ != dkPoint && dragKind_ != dkNewConnection) || !dragConnection_) return {};
  std::vector<TPoint> pts = dragConnection_->zoomed_;
  for (TPoint& p : pts) p = {p.x - origin_.x, p.y - origin_.y};
  if (dragPoint_ >= 0 && dragPoint_ < static_cast<int>(pts.size())) pts[static_cast<size_t>(dragPoint_)] = dragCur_;
  return LinePolyline(dragConnection_->style_, pts.data(), static_cast<int>(pts.size()));
}

void TFcChart::MouseUp(int32_t x, int32_t y) {
  pressed_ = false;
  if (dragKind_ == dkNone) return;
  MouseMove(x, y, true);
  FinishDrag();
}

void TFcChart::CancelDrag() {
  pressed_ = false;
  if (dragKind_ == dkNone) return;
  dragKind_ = dkNone;
  dragObject_ = nullptr;
  dragConnection_ = nullptr;
  dragPoint_ = -1;
  DragStateChanged();
  Invalidate();
}

void TFcChart::MoveSelection(int32_t dx, int32_t dy) {
  if (dx == 0 && dy == 0) return;
  BeginUpdate();
  for (TFcItem* i : std::vector<TFcItem*>(selectedObjects_)) {
    auto* o = static_cast<TFcObject*>(i);
    o->SetBounds(o->Left() + dx, o->Top() + dy, o->Width(), o->Height());
  }
  for (TFcItem* i : std::vector<TFcItem*>(selectedConnections_)) {
    auto* c = static_cast<TFcConnection*>(i);
    for (int k = 0; k < c->PointCount(); ++k) c->SetPoint(k, {c->GetPoint(k).x + dx, c->GetPoint(k).y + dy});
  }
  EndUpdate();
}

void TFcChart::AttachDraggedEnd(TPoint client) {
  TFcConnection* c = dragConnection_;
  TPoint p{client.x + origin_.x, client.y + origin_.y};
  TFcObject* target = nullptr;
  for (auto it = objects_.rbegin(); it != objects_.rend() && !target; ++it)
    if ((*it)->Visible() && (*it)->ZoomedRect().Contains(p.x, p.y)) target = it->get();
  TPoint real{ToReal(p.x), ToReal(p.y)};
  int user = dragPoint_ - (c->source_ ? 1 : 0);
  if (!target) {
    c->SetPoint(user, real);
    return;
  }
  int lp = target->NearestLinkedPoint(p);
  if (dragEnd_ == 1 && !c->source_) {
    c->RemovePoint(0);
    c->SetSource(target, lp);
  } else if (dragEnd_ == 2 && !c->dest_) {
    c->RemovePoint(c->PointCount() - 1);
    c->SetDest(target, lp);
  } else {
    c->SetPoint(user, real);
  }
}

void TFcChart::FinishDrag() {
  TFcDragKind kind = dragKind_;
  int32_t dx = dragCur_.x - dragStart_.x, dy = dragCur_.y - dragStart_.y;
  BeginUpdate();
  switch (kind) {
    case dkMove:
      MoveSelection(FcMulDiv(dx, 100, realZoom_), FcMulDiv(dy, 100, realZoom_));
      break;
    case dkResize: {
      TRect r = DragRect().Offset(origin_.x, origin_.y);
      int32_t l = ToReal(r.Left), t = ToReal(r.Top);
      dragObject_->SetBounds(l, t, ToReal(r.Right) - l, ToReal(r.Bottom) - t);
      break;
    }
    case dkPoint:
    case dkNewConnection:
      if (dragEnd_ != 0)
        AttachDraggedEnd(dragCur_);
      else
        dragConnection_->SetPoint(dragPoint_ - (dragConnection_->source_ ? 1 : 0),
                                  {ToReal(int64_t{dragCur_.x} + origin_.x), ToReal(int64_t{dragCur_.y} + origin_.y)});
      break;
    case dkNone:
      break;
  }
  dragKind_ = dkNone;
  dragObject_ = nullptr;
  dragConnection_ = nullptr;
  dragPoint_ = -1;
  dragEnd_ = 0;
  Invalidate();
  EndUpdate();
  DragStateChanged();
}

// ---- keyboard

bool TFcChart::NavigateTo(TFcKey key) {
  TFcObject* from = SelectedObject();
  if (!from) return false;
  TRect fr = from->ZoomedRect();
  int64_t fx = fr.Left + fr.Width() / 2, fy = fr.Top + fr.Height() / 2;
  TFcObject* best = nullptr;
  int64_t bestScore = 0x20000000;
  for (auto& up : objects_) {
    TFcObject* o = up.get();
    if (o == from || o->Selected() || !o->Visible()) continue;
    TRect r = o->ZoomedRect();
    int64_t ox = r.Left + r.Width() / 2 - fx, oy = r.Top + r.Height() / 2 - fy;
    int64_t d1 = 0, d2 = 0;
    switch (key) {
      case fkRight: d1 = ox, d2 = oy; break;
      case fkLeft: d1 = -ox, d2 = oy; break;
      case fkDown: d1 = oy, d2 = ox; break;
      default: d1 = -oy, d2 = ox; break;
    }
    // An object behind scores above every object ahead.
    int64_t score = std::llabs(d1) + 8 * std::llabs(d2) + (static_cast<uint32_t>(ClampI32(d1)) >> 2);
    if (score < bestScore) bestScore = score, best = o;
  }
  if (!best) return false;
  ClearSelection();
  best->SetSelected(true);
  best->MakeVisible();
  return true;
}

void TFcChart::ResizeSelected(int dw, int dh) {
  TFcObject* o = SelectedObject();
  if (!o) return;
  if (realZoom_ < 100) {
    dw = FcMulDiv(dw, 100, realZoom_);
    dh = FcMulDiv(dh, 100, realZoom_);
  }
  int64_t w = int64_t{o->Width()} + dw, h = int64_t{o->Height()} + dh;
  if (w > 0 && h > 0 && w <= 0xFFFF && h <= 0xFFFF) o->SetBounds(o->Left(), o->Top(), static_cast<int32_t>(w), static_cast<int32_t>(h));
  o->MakeVisible();
}

bool TFcChart::KeyDown(TFcKey key, uint8_t shift) {
  if (dragKind_ != dkNone) return false;
  const int32_t pageH = ClientHeight() - 16, pageW = ClientWidth() - 16;
  const TRect e = extents_;
  static const int kDx[] = {-1, 1, 0, 0, 1, 1, -1, -1};  // Left Right Up Down PgUp PgDn Home End
  static const int kDy[] = {0, 0, -1, 1, -1, 1, -1, 1};
  if (shift == 0) {
    switch (key) {
      case fkPageUp: ScrollTo(origin_.x, int64_t{origin_.y} - pageH); return true;
      case fkPageDown: ScrollTo(origin_.x, int64_t{origin_.y} + pageH); return true;
      case fkHome: ScrollTo(e.Left, origin_.y); return true;
      case fkEnd: ScrollTo(e.Right, origin_.y); return true;
      case fkLeft: case fkRight: case fkUp: case fkDown: return NavigateTo(key);
      case fkDelete:
        if (!HasOption(fcoCanDelete)) return false;
        DeleteSelection();
        return true;
      default: return false;
    }
  }
  if (key > fkEnd) return false;
  if (shift == fsShift) {
    if (!HasOption(fcoCanDrag)) return false;
    ResizeSelected(kDx[key], kDy[key]);
    return true;
  }
  if (shift == fsAlt) {
    if (!HasOption(fcoCanDrag)) return false;
    MoveSelection(kDx[key], kDy[key]);
    return true;
  }
  if (shift == fsCtrl) {
    switch (key) {
      case fkPageUp: ScrollTo(origin_.x, e.Top); return true;
      case fkPageDown: ScrollTo(origin_.x, e.Bottom); return true;
      case fkHome: ScrollTo(e.Left, e.Top); return true;
      case fkEnd: ScrollTo(e.Right, e.Bottom); return true;
      case fkLeft: ScrollTo(int64_t{origin_.x} - pageW, origin_.y); return true;
      case fkRight: ScrollTo(int64_t{origin_.x} + pageW, origin_.y); return true;
      default: return false;
    }
  }
  return false;
}
