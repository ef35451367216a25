// Chart streams from anywhere: read, load into a chart, hit-test, zoom and write back.
#include <cstdint>
#include <string>

#include "flowchart/FcChart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TFcChartData d;
  try {
    d = ReadChartData(bytes);
  } catch (const EReadError&) {
    return 0;
  }
  // Writing the records back gives the bytes that were read, up to the chart's end.
  std::string again = WriteChartData(d);
  if (ReadChartData(again) != d) __builtin_trap();

  TFcChart chart;
  chart.LoadFromData(d);
  TRect e = chart.Extents();
  for (int i = 0; i < 8; ++i) {
    int64_t x = e.Left + (int64_t{e.Width()} * i) / 8 - chart.ScrollOrigin().x;
    int64_t y = e.Top + (int64_t{e.Height()} * (7 - i)) / 8 - chart.ScrollOrigin().y;
    chart.HitTest(ClampI32(x), ClampI32(y));
  }
  for (int i = 0; i < chart.ObjectCount(); ++i) chart.Objects(i)->SelectUnion();
  chart.SetZoom(37);
  chart.SetZoom(0);
  TFcChartData out = chart.SaveToData();
  if (out.Objects.size() != d.Objects.size() || out.Connections.size() != d.Connections.size()) __builtin_trap();
  chart.KeyDown(fkDelete, 0);
  return 0;
}
