#pragma once
// What the grid model needs from a drawing surface. The model measures and draws through
// this interface only, so it stays free of any toolkit; the view supplies a painter-backed
// implementation and tests a recording one.
#include <cstdint>

#include "core/AnsiString.h"
#include "core/Colors.h"

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};

struct TPoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TSize {
  int32_t cx = 0, cy = 0;
  bool operator==(const TSize&) const = default;
};

// Text flags with the values the cell drawing code combines.
enum : uint32_t {
  DT_TOP = 0x0000,
  DT_CENTER = 0x0001,
  DT_RIGHT = 0x0002,
  DT_WORDBREAK = 0x0010,
  DT_CALCRECT = 0x0400,
  DT_NOCLIP = 0x0100,
  DT_EXPANDTABS = 0x0040,
  DT_NOPREFIX = 0x0800,
  DT_END_ELLIPSIS = 0x8000,
};

class TFont;

// Frame-control and edge kinds used by check boxes and group bars.
enum class TXLEdge { RaisedInner, SunkenOuter };

// Edge rings and border flags of a cell frame, combined as the platform's edge call does.
// In a namespace of their own: the chart's painting helpers use the same names.
namespace xledge {
enum : uint32_t {
  BDR_RAISEDOUTER = 0x1,
  BDR_SUNKENOUTER = 0x2,
  BDR_RAISEDINNER = 0x4,
  BDR_SUNKENINNER = 0x8,
  EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER,
  EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER,
  EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER,
  EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER,
};
enum : uint32_t {
  BF_LEFT = 0x1,
  BF_TOP = 0x2,
  BF_RIGHT = 0x4,
  BF_BOTTOM = 0x8,
  BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM,
  BF_SOFT = 0x1000,
};
}  // namespace xledge

class IXLCanvas {
 public:
  virtual ~IXLCanvas() = default;
  virtual void SetFont(const TFont& font) = 0;
  // Draws (or, with DT_CALCRECT, only measures into rect) like the platform's text call;
  // returns the height of the text.
  virtual int32_t DrawText(const AnsiString& text, TRect& rect, uint32_t flags) = 0;
  virtual TSize TextExtent(const AnsiString& text) = 0;
  virtual void DrawCheckBox(const TRect& rect, bool checked) = 0;
  virtual void DrawEdge(const TRect& rect, TXLEdge edge, bool fill) = 0;
  virtual void FillRect(const TRect& rect, TColor color) = 0;
  virtual void Line(TPoint from, TPoint to, TColor color, int width) = 0;
  // Stretches a stored graphic (class name and its bytes) into rect.
  virtual void DrawGraphic(const AnsiString& className, const std::string& data, const TRect& rect) = 0;
  // Zoom percent of the view being painted (100 when printing at actual size).
  virtual int Scale() const { return 100; }
  virtual void SetScale(int zoom) {}

  // What section painting needs beyond cell drawing. Measuring canvases leave them empty.
  // The clip: Reset goes back to what the canvas was given; Exclude removes a rectangle
  // from it; Push narrows it to a rectangle until the matching Pop.
  virtual void ResetClip() {}
  virtual void ExcludeClipRect(const TRect& rect) {}
  virtual void PushClipRect(const TRect& rect) {}
  virtual void PopClip() {}
  // Frame rings and sides of a cell frame (xledge values).
  virtual void DrawFrameEdge(const TRect& rect, uint32_t edge, uint32_t flags) {}
  // Independent segments (points taken in pairs) with one pen, in one call.
  virtual void DrawLines(const TPoint* points, int32_t pairs, TColor color, int width) {}
  virtual void FillPolygon(const TPoint* points, int32_t count, TColor color) {}
  // Selection marks: inverts the rectangle; inverts through the 8 x 8 hatch pattern whose
  // origin is at origin; the dotted focus rectangle.
  virtual void InvertRect(const TRect& rect) {}
  virtual void HatchInvert(const TRect& rect, TPoint origin) {}
  virtual void DrawFocusRect(const TRect& rect) {}
};
