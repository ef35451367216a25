#pragma once
// The flow chart: its lists of items, unions, selection, zoom, hit testing, mouse and
// keyboard editing, and the chart stream. No Qt here: the widget in flowchart/ui derives
// from TFcChart and supplies the window. A chart can be built and stored without one:
//   TFcChart chart;
//   TFcObject* a = chart.CreateObject(16, 16, 145, 50, stRectangle);
//   TFcObject* b = chart.CreateObject(16, 120, 145, 50, stEllipse);
//   chart.CreateConnection(a, b, 10, 2)->DestArrow().SetArrowType(atArrow);
//   chart.SaveToStream(stream);
#include "flowchart/flchart.h"

enum TFcDragKind { dkNone, dkMove, dkResize, dkNewConnection, dkPoint };

enum TFcKey { fkLeft, fkRight, fkUp, fkDown, fkPageUp, fkPageDown, fkHome, fkEnd, fkDelete, fkOther };
enum : uint8_t { fsShift = 1, fsAlt = 2, fsCtrl = 4 };

class TFcChart {
 public:
  using TFcEvent = std::function<void(TFcChart* sender, TFcItem* item)>;
  using TFcAllowEvent = std::function<void(TFcChart* sender, TFcItem* item, bool& allow)>;
  using TFcEditEvent = std::function<void(TFcChart* sender, TFcObject* object, AnsiString& s)>;

  TFcChart();
  virtual ~TFcChart();
  TFcChart(const TFcChart&) = delete;
  TFcChart& operator=(const TFcChart&) = delete;

  // Items.
  int ObjectCount() const { return static_cast<int>(objects_.size()); }
  virtual TFcObject* Objects(int i) const;
  int ConnectionCount() const { return static_cast<int>(connections_.size()); }
  TFcConnection* Connections(int i) const;
  int IndexOfObject(const TFcObject* o) const;
  TFcObject* CreateObject(int32_t left, int32_t top, int32_t width, int32_t height, uint8_t shapeType);
  TFcConnection* CreateConnection(TFcObject* source, TFcObject* dest, int sourcePoint, int destPoint);
  void FreeItem(TFcItem* item);
  void Clear();
  void ClearSelection();
  void DeleteSelection();
  void SelectAll();
  const std::vector<TFcItem*>& SelectedObjects() const { return selectedObjects_; }
  const std::vector<TFcItem*>& SelectedConnections() const { return selectedConnections_; }
  TFcObject* SelectedObject() const;
  TFcConnection* SelectedConnection() const;
  int SelectedCount() const { return static_cast<int>(selectedObjects_.size() + selectedConnections_.size()); }
  TFcSelection& Selection() { return selection_; }
  void MoveObject(TFcObject* o, int newIndex);

  void BeginUpdate();
  void EndUpdate();
  bool Updating() const { return updateCount_ > 0; }
  bool Loading() const { return loading_; }
  // Whole chart repaint; only marked while an update is open.
  void Invalidate();
  void InvalidateRect(const TRect& chartRect);

  // Chart stream.
  TFcChartData SaveToData() const;
  // Replaces the chart with the records; bad union children and references are dropped.
  void LoadFromData(const TFcChartData& data);
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;
  // The "Items" form property holds the chart stream, stored only when there is an object.
  bool ItemsStored() const { return !objects_.empty(); }

  // Appearance.
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  const TFcFont& Font() const { return font_; }
  void SetFont(const TFcFont& f);
  TFcOptions Options() const { return options_; }
  void SetOptions(TFcOptions o) { options_ = o; }
  bool HasOption(TFcOption o) const { return (options_ & o) != 0; }

  // Zoom: 0 fits the chart to the window.
  uint16_t Zoom() const { return zoom_; }
  void SetZoom(uint16_t v);
  uint16_t RealZoom() const { return realZoom_; }
  // Chart pixels stay within +-2^29 so that offsets, handles and arrows cannot overflow.
  static constexpr int32_t kMaxPixel = 1 << 29;
  int32_t ToZoomed(int64_t real) const {
    return static_cast<int32_t>(std::clamp<int64_t>(FcMulDiv64(real, realZoom_, 100), -kMaxPixel, kMaxPixel));
  }
  int32_t ToReal(int64_t zoomed) const { return FcMulDiv(zoomed, 100, realZoom_); }
  TPoint ClientToReal(TPoint client) const;

  // Scrolling: client (0,0) shows chart pixel ScrollOrigin().
  TPoint ScrollOrigin() const { return origin_; }
  void ScrollTo(int64_t x, int64_t y);
  TRect Extents() const { return extents_; }
  void UpdateExtents();
  // Client size in pixels; the widget keeps it current.
  virtual int ClientWidth() const { return clientW_; }
  virtual int ClientHeight() const { return clientH_; }
  void SetClientSize(int w, int h);

  // Hit test at a client position, cached until the position or the chart changes.
  uint8_t HitTest(int32_t x, int32_t y);
  TFcObject* HitObject() const { return hitObject_; }
  TFcConnection* HitConnection() const { return hitConnection_; }
  void ClearHitCache() { hitValid_ = false; }
  int HitTolerance() const { return ScreenWidth() >> 8; }
  // Resize handle of the single selected object under a client position, or -1.
  int HandleAt(int32_t x, int32_t y) const;

  // Mouse and keyboard editing in client coordinates.
  void MouseDown(int32_t x, int32_t y, uint8_t shift);
  void MouseMove(int32_t x, int32_t y, bool leftDown);
  void MouseUp(int32_t x, int32_t y);
  void CancelDrag();
  bool KeyDown(TFcKey key, uint8_t shift);
  TFcDragKind DragKind() const { return dragKind_; }
  TPoint DragStart() const { return dragStart_; }
  TPoint DragCurrent() const { return dragCur_; }
  TFcObject* DragObject() const { return dragObject_; }
  // Feedback of the drag in progress, in client coordinates.
  TRect DragRect() const;
  std::vector<TPoint> DragLine() const;
  TFcConnection* DragConnection() const { return dragConnection_; }

  // Events.
  TFcEvent OnChange, OnCreateItem, OnDeletion, OnSelected;
  TFcAllowEvent OnSelection;
  TFcEditEvent OnEditing, OnEdited;

  // Hooks the items call.
  virtual bool CanSelect(TFcItem* item);
  virtual void Changed(TFcItem* item);
  virtual void Delete(TFcItem* item);
  virtual void Select(TFcItem* item);
  // Text size in the given font; the widget measures with real fonts.
  virtual TFcSize MeasureText(const TFcFont& font, const AnsiString& text) const;
  virtual int ScreenWidth() const { return 800; }
  std::vector<TFcItem*>& SelectedObjectList() { return selectedObjects_; }
  std::vector<TFcItem*>& SelectedConnectionList() { return selectedConnections_; }
  bool Destroying() const { return destroying_; }

 protected:
  // Factories: a derived chart may create its own item classes.
  virtual std::unique_ptr<TFcObject> NewObject();
  virtual std::unique_ptr<TFcConnection> NewConnection();
  // Window hooks.
  virtual void InvalidateWindow(const TRect* clientRect) {}
  virtual void ExtentsChanged() {}
  virtual void ScrollChanged(int32_t dx, int32_t dy) {}
  virtual void DragStateChanged() {}
  void DestroyChart();

 private:
  friend class TFcObject;
  friend class TFcConnection;
  TFcObject* AddObject();
  TFcConnection* AddConnection();
  void DestroyObject(TFcObject* o);
  void DestroyConnection(TFcConnection* c);
  void ApplyZoom(uint16_t realZoom);
  uint16_t FitZoom() const;
  void Refit();
  void StartDrag();
  void FinishDrag();
  void AttachDraggedEnd(TPoint client);
  void MoveSelection(int32_t dx, int32_t dy);
  bool NavigateTo(TFcKey key);
  void ResizeSelected(int dw, int dh);

  std::vector<std::unique_ptr<TFcObject>> objects_;
  std::vector<std::unique_ptr<TFcConnection>> connections_;
  std::vector<TFcItem*> selectedObjects_, selectedConnections_;
  TFcSelection selection_{this};
  TPoint origin_{};
  TRect extents_{};
  int updateCount_ = 0;
  uint16_t zoom_ = 100, realZoom_ = 100;
  TFcOptions options_ = fcDefaultOptions;
  bool repaintPending_ = false;
  bool loading_ = false;
  bool destroying_ = false;
  bool fitting_ = false;
  TColor color_ = fcDefaultChartColor;
  TFcFont font_;
  int clientW_ = 320, clientH_ = 200;

  bool hitValid_ = false;
  TPoint hitPos_{};
  uint8_t hitCode_ = htNowhere;
  TFcObject* hitObject_ = nullptr;
  TFcConnection* hitConnection_ = nullptr;
  int hitSegment_ = -1;
  int hitHandle_ = -1;  // resize handle of the hit object
  int hitPoint_ = -1;   // internal point index of the hit connection

  bool pressed_ = false;
  uint8_t pressCode_ = 0;
  TFcObject* pressObject_ = nullptr;
  TFcConnection* pressConnection_ = nullptr;
  TFcDragKind dragKind_ = dkNone;
  TPoint dragStart_{}, dragCur_{};
  TFcObject* dragObject_ = nullptr;
  int dragHandle_ = -1;
  TFcConnection* dragConnection_ = nullptr;
  int dragPoint_ = -1;  // internal index
  int dragEnd_ = 0;     // 1 source end, 2 destination end being dragged
  int pressSegment_ = -1;
};
