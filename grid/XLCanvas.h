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
};
