#pragma once
// The flow chart's items: objects with shapes and linked points, connections between them
// with their arrows, and the selection handles. The chart that owns them is TFcChart
// (FcChart.h). No Qt here.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/AnsiString.h"
#include "core/Colors.h"
#include "core/Streams.h"
#include "flowchart/FcRegion.h"
#include "flowchart/FcStream.h"
#include "flowchart/fcLines.h"

class TFcChart;
class TFcObject;
class TFcConnection;

constexpr TColor fcDefaultChartColor = clWindow;
constexpr TColor fcDefaultFontColor = clWindowText;

struct TFcSize {
  int32_t cx = 0, cy = 0;
};

// A font as the chart stores it: pixel height at 96 dpi (negative = character height).
struct TFcFont {
  int16_t Height = -12;
  TColor Color = fcDefaultFontColor;
  uint8_t Pitch = 0;
  uint8_t Style = 0;  // fsBold 1, fsItalic 2, fsUnderline 4, fsStrikeOut 8
  uint8_t Charset = 1;
  AnsiString Name;
  int Size() const;
  void SetSize(int points);
  friend bool operator==(const TFcFont&, const TFcFont&) = default;
};

enum TFcShapeType : uint8_t {
  stNone, stRectangle, stEllipse, stRoundRect, stDiamond, stNorthTriangle,
  stSouthTriangle, stEastTriangle, stWestTriangle, stHexagon, stUser,
};

enum TFcArrowType : uint8_t { atNone, atArrow, atOval, atSquare };

enum TFcOption : uint8_t {
  fcoCanDelete = 1, fcoCanDrag = 2, fcoCanSelect = 4, fcoMultiSelect = 8, fcoHideSelection = 16, fcoDelOnClick = 32,
};
using TFcOptions = uint8_t;
constexpr TFcOptions fcDefaultOptions = 0x3F;

// Hit-test code bits.
enum : uint8_t {
  htNowhere = 1, htObjectRect = 2, htShape = 4, htLine = 8, htText = 16, htSourceArrow = 32, htDestArrow = 64,
  htHandle = 128, htConnectionMask = 8 | 16 | 32 | 64,
};

class TFcItem {
 public:
  explicit TFcItem(TFcChart* chart);
  virtual ~TFcItem() = default;
  TFcItem(const TFcItem&) = delete;
  TFcItem& operator=(const TFcItem&) = delete;

  TFcChart* Chart() const { return chart_; }
  const AnsiString& Text() const { return text_; }
  virtual void SetText(const AnsiString& text) = 0;
  const TFcFont& Font() const { return font_; }
  // A font of its own: the item stops following the chart's font.
  void SetFont(const TFcFont& font);
  const TFcFont& DisplayFont() const { return displayFont_; }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  bool Destroying() const { return destroying_; }
  bool Selected() const { return selected_; }
  void SetSelected(bool value);
  bool VisibleOnScreen() const { return visibleOnScreen_; }
  void SetVisibleOnScreen(bool v) { visibleOnScreen_ = v; }

  virtual void Assign(const TFcItem& source);
  virtual std::vector<TFcItem*>& GetSelectionList() = 0;
  virtual void TextChanged() { Invalidate(); }
  virtual void Invalidate() = 0;
  // The area the item paints, in chart pixels.
  virtual TRect PaintRect() const = 0;
  void Changed();

 protected:
  friend class TFcChart;
  void RefreshDisplayFont();
  void CopyChartFont();

  TFcChart* chart_;
  AnsiString text_;
  TFcFont font_;
  TFcFont displayFont_;
  bool parentFont_ = true;
  bool destroying_ = false;
  bool selected_ = false;
  bool visibleOnScreen_ = true;
};

class TFcObject : public TFcItem {
 public:
  explicit TFcObject(TFcChart* chart);

  // Geometry in real units.
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  uint16_t Width() const { return width_; }
  uint16_t Height() const { return height_; }
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  void SetLeft(int32_t v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int32_t v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int32_t v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int32_t v) { SetBounds(left_, top_, width_, v); }
  // Zoomed rectangle in chart pixels.
  TRect ZoomedRect() const { return {zl_, zt_, zl_ + zw_, zt_ + zh_}; }
  TRect PaintRect() const override { return ZoomedRect(); }

  uint16_t EdgeFlags() const { return edgeFlags_; }
  void SetEdgeFlags(uint16_t v);
  uint16_t BorderFlags() const { return borderFlags_; }
  void SetBorderFlags(uint16_t v);
  uint8_t HorzTextPos() const { return horzTextPos_; }
  uint8_t VertTextPos() const { return vertTextPos_; }
  void SetTextPos(uint8_t horz, uint8_t vert);
  int16_t ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int16_t v);
  uint8_t HorzImagePos() const { return horzImagePos_; }
  uint8_t VertImagePos() const { return vertImagePos_; }
  void SetImagePos(uint8_t horz, uint8_t vert);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  TColor BkColor() const { return bkColor_; }
  void SetBkColor(TColor v);
  TColor ShapeColor() const { return shapeColor_; }
  void SetShapeColor(TColor v);
  uint8_t ShapeType() const { return shapeType_; }
  void SetShapeType(uint8_t v);
  uint8_t LineWidth() const { return lineWidth_; }
  void SetLineWidth(uint8_t v);
  uint16_t ZoomedLineWidth() const { return zLineWidth_; }
  int32_t Data() const { return data_; }
  void SetData(int32_t v) { data_ = v; }
  const AnsiString& StepId() const { return stepId_; }
  void SetStepId(const AnsiString& v) { stepId_ = v; }
  uint32_t Tag() const { return tag_; }
  void SetTag(uint32_t v) { tag_ = v; }
  void SetText(const AnsiString& text) override;
  void Assign(const TFcItem& source) override;
  std::vector<TFcItem*>& GetSelectionList() override;
  void Invalidate() override;

  const std::array<TPoint, 16>& LinkedPoints() const { return linked_; }
  TPoint LinkedPoint(int i) const { return linked_[static_cast<size_t>(i) & 15]; }
  // Regions in chart pixels, built on first use.
  const TFcRegion& ShapeRegion() const;
  const TFcRegion& InteriorRegion() const;
  const TFcRegion& OutlineRegion() const;

  int ConnectionCount() const { return static_cast<int>(connections_.size()); }
  TFcConnection* Connections(int i) const;
  const std::vector<TFcObject*>& LinkedObjects() const { return linkedObjects_; }
  int UnionChildCount() const { return static_cast<int>(children_.size()); }
  virtual TFcObject* GetUnionChild(int i) const;
  bool HasUnionChildren() const { return !children_.empty(); }
  bool UnionContains(const TFcObject* o) const;  // anywhere in the union's tree
  bool AddToUnion(TFcObject* o);
  void RemoveFromUnion(TFcObject* o);
  void ClearUnion();
  void SelectUnion();
  void BringToFront();
  void SendToBack();
  void MakeVisible();
  bool IntersectsRect(const TRect& r) const;

  // Positions in chart pixels.
  int NearestLinkedPoint(TPoint p) const;
  int NearestResizeHandle(TPoint p) const;
  std::array<TPoint, 8> ResizeHandles() const;

  // The user shape's region in the given rectangle; the base shape has none.
  virtual TFcRegion GetUserRegion(const TRect& r) const { return {}; }
  virtual void CalcUserLinkedPoints() {}
  virtual void LoadFromRecord(const TFcObjectRec& rec);
  virtual void SaveToRecord(TFcObjectRec& rec) const;

 protected:
  friend class TFcChart;
  friend class TFcConnection;
  void UpdateZoom();
  void CalcLinkedPoints();
  void FreeRegions();
  void RerouteConnections();

  std::vector<TFcConnection*> connections_;
  std::vector<TFcObject*> linkedObjects_;
  std::vector<TFcObject*> children_;
  int32_t left_ = 0, top_ = 0;
  uint16_t width_ = 0, height_ = 0;
  uint16_t edgeFlags_ = 0, borderFlags_ = 15;
  mutable std::optional<TFcRegion> shape_, interior_, outline_;
  int32_t zl_ = 0, zt_ = 0, zw_ = 0, zh_ = 0;
  uint8_t horzTextPos_ = 1, vertTextPos_ = 1;
  int16_t imageIndex_ = -1;
  uint8_t horzImagePos_ = 1, vertImagePos_ = 1;
  bool transparent_ = false;
  bool visible_ = true;
  TColor bkColor_;
  TColor shapeColor_ = 0;
  uint16_t zLineWidth_ = 1;
  uint8_t shapeType_ = 0;
  uint8_t lineWidth_ = 1;
  int32_t data_ = 0;
  AnsiString stepId_;
  uint32_t tag_ = 0;
  std::array<TPoint, 16> linked_{};
};

class TFcConnectionArrow {
 public:
  explicit TFcConnectionArrow(TFcConnection* owner);
  TFcConnection* Owner() const { return owner_; }
  uint8_t ArrowType() const { return arrowType_; }
  void SetArrowType(uint8_t v);
  uint8_t Width() const { return width_; }
  void SetWidth(uint8_t v);
  uint8_t Height() const { return height_; }
  void SetHeight(uint8_t v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  uint16_t ZoomedWidth() const { return zWidth_; }
  uint16_t ZoomedHeight() const { return zHeight_; }
  // A, P, B of an arrow head, in chart pixels.
  const std::array<TPoint, 3>& Head() const { return head_; }
  void Assign(const TFcConnectionArrow& other);
  // The area the arrow paints around its end point.
  TRect PaintRect() const;

 private:
  friend class TFcConnection;
  void UpdateZoom(int realZoom);
  void Recalc(TPoint end, TPoint next, int style, bool isSource);

  TFcConnection* owner_;
  uint8_t arrowType_ = atNone;
  uint8_t height_ = 10;
  uint8_t width_ = 10;
  TColor color_;
  uint16_t zHeight_ = 10, zWidth_ = 10;
  std::array<TPoint, 3> head_{};
  TPoint end_{};
};

class TFcConnection : public TFcItem {
 public:
  explicit TFcConnection(TFcChart* chart);

  // User points (own points, without attached ends), real units.
  int PointCount() const;
  TPoint GetPoint(int i) const;
  void SetPoint(int i, TPoint p);
  void AddPoint(TPoint p);
  void InsertPoint(int i, TPoint p);
  void RemovePoint(int i);
  // Every point of the line, attached ends included.
  const std::vector<TPoint>& RealPoints() const { return real_; }
  const std::vector<TPoint>& ZoomedPoints() const { return zoomed_; }

  TFcObject* Source() const { return source_; }
  TFcObject* Dest() const { return dest_; }
  uint8_t SourcePoint() const { return sourcePoint_; }
  uint8_t DestPoint() const { return destPoint_; }
  void SetSource(TFcObject* o, int point);
  void SetDest(TFcObject* o, int point);
  void Reroute();

  uint8_t Style() const { return style_; }
  void SetStyle(uint8_t v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  uint8_t PenStyle() const { return penStyle_; }
  void SetPenStyle(uint8_t v);
  bool Back() const { return back_; }
  void SetBack(bool v);
  TFcConnectionArrow& SourceArrow() { return sourceArrow_; }
  TFcConnectionArrow& DestArrow() { return destArrow_; }
  const TFcConnectionArrow& SourceArrow() const { return sourceArrow_; }
  const TFcConnectionArrow& DestArrow() const { return destArrow_; }
  void SetSourceArrow(const TFcConnectionArrow& a) { sourceArrow_.Assign(a); }
  void SetDestArrow(const TFcConnectionArrow& a) { destArrow_.Assign(a); }

  TRect LineBounds() const { return lineBounds_; }
  TRect TextRect() const { return textRect_; }
  TPoint HalfWay() const { return halfWay_; }
  TRect PaintRect() const override;
  void SetText(const AnsiString& text) override;
  void TextChanged() override;
  void Assign(const TFcItem& source) override;
  std::vector<TFcItem*>& GetSelectionList() override;
  void Invalidate() override;

  // Positions in chart pixels; results are user indices.
  int NearestPoint(TPoint p) const;
  // Inserts a point where the line was hit (segment from the hit test, -1 when unknown);
  // returns its internal index.
  int InsertPointAt(TPoint p, int hitSegment);

  virtual void LoadFromRecord(const TFcConnectionRec& rec, const std::vector<TFcObject*>& objects);
  virtual void SaveToRecord(TFcConnectionRec& rec, const std::vector<TFcObject*>& objects) const;

 protected:
  friend class TFcChart;
  friend class TFcObject;
  friend class TFcConnectionArrow;
  int Internal(int user) const { return user + (source_ ? 1 : 0); }
  void Detach(bool source);
  void UpdateZoom();
  void UpdateGeometry();
  void MeasureText();

  std::vector<TPoint> real_, zoomed_;
  uint8_t style_ = lsStraight;
  TFcObject* source_ = nullptr;
  TFcObject* dest_ = nullptr;
  TRect lineBounds_{};
  TRect textRect_{};
  TPoint halfWay_{};
  uint8_t sourcePoint_ = 0, destPoint_ = 0;
  TFcConnectionArrow sourceArrow_, destArrow_;
  bool back_ = false;
  TColor color_ = clBlack;
  uint8_t penStyle_ = 0;
};

// Selection handles: closed 5-point squares in client coordinates.
class TFcSelection {
 public:
  explicit TFcSelection(TFcChart* chart) : chart_(chart) {}
  void AddHandle(int32_t x, int32_t y);
  void Clear() {
    counts_.clear();
    points_.clear();
  }
  const std::vector<int>& Counts() const { return counts_; }
  const std::vector<TPoint>& Points() const { return points_; }

 private:
  TFcChart* chart_;
  std::vector<int> counts_;
  std::vector<TPoint> points_;
};
