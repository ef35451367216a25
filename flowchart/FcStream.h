#pragma once
// The chart stream as plain records: what a chart stores, read and written byte for byte
// without a chart, so that stored charts can be checked, built and repaired on their own.
#include <string>
#include <vector>

#include "core/AnsiString.h"
#include "core/Exception.h"
#include "core/Streams.h"
#include "flowchart/fcTypes.h"

// A chart stream that cannot be read: counts, sizes or strings run past its end.
class EFcStreamError : public EReadError {
 public:
  explicit EFcStreamError(const AnsiString& what) : EReadError("Invalid chart stream: " + what) {}
};

struct TFcFontRec {
  int16_t Height = -12;
  uint32_t Color = 0;
  uint8_t Pitch = 0;
  uint8_t Style = 0;  // bit 0 bold, 1 italic, 2 underline, 3 strike-out
  uint8_t Charset = 1;
  AnsiString Name;  // empty in a stream: the chart font's name
  friend bool operator==(const TFcFontRec&, const TFcFontRec&) = default;
};

struct TFcObjectRec {
  int32_t Left = 0, Top = 0;
  uint16_t Width = 0, Height = 0;
  uint16_t EdgeFlags = 0, BorderFlags = 15;
  uint8_t HorzTextPos = 1, VertTextPos = 1, HorzImagePos = 1, VertImagePos = 1;
  uint32_t BkColor = 0, ShapeColor = 0, Tag = 0;
  std::vector<uint16_t> Children;
  int16_t ImageIndex = -1;
  uint8_t ShapeType = 0, LineWidth = 1, ParentFont = 1, Transparent = 0;
  TFcFontRec Font;  // only when ParentFont is 0
  AnsiString Text, StepId;
  friend bool operator==(const TFcObjectRec&, const TFcObjectRec&) = default;
};

struct TFcArrowRec {
  uint8_t ArrowType = 0, Width = 0, Height = 0;
  uint32_t Color = 0;
  friend bool operator==(const TFcArrowRec&, const TFcArrowRec&) = default;
};

constexpr uint16_t fcNoObject = 0xFFFF;

struct TFcConnectionRec {
  uint16_t Source = fcNoObject, Dest = fcNoObject;
  uint32_t Color = 0;
  uint8_t SourcePoint = 0;  // 4 bits
  uint8_t PenStyle = 0;     // 4 bits
  uint8_t DestPoint = 0;    // 7 bits in the stream
  bool Back = false;
  uint8_t Style = 0, ParentFont = 1;
  TFcArrowRec SourceArrow, DestArrow;
  std::vector<TPoint> Points;  // user points, real units
  TFcFontRec Font;
  AnsiString Text;
  friend bool operator==(const TFcConnectionRec&, const TFcConnectionRec&) = default;
};

struct TFcChartData {
  std::vector<TFcObjectRec> Objects;
  std::vector<TFcConnectionRec> Connections;
  friend bool operator==(const TFcChartData&, const TFcChartData&) = default;
};

// Names equal to chartFontName are written empty, as the chart does.
std::string WriteChartData(const TFcChartData& data, const AnsiString& chartFontName = {});
// Reads one chart from the bytes; consumed tells how many bytes it took. Raises
// EFcStreamError when the bytes end early or a count cannot fit in what is left.
TFcChartData ReadChartData(std::string_view bytes, size_t* consumed = nullptr);
// From a stream's position; the position ends right after the chart.
TFcChartData ReadChartData(TStream& stream);
void WriteChartData(TStream& stream, const TFcChartData& data, const AnsiString& chartFontName = {});
