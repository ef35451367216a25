// A chart for the form tests, built apart from them: the chart's geometry types share
// their names with the grid's.
#include "tests/control/TemplateChartSupport.h"

#include "flowchart/FcChart.h"

std::string OpenChoiceChart() {
  TFcChart chart;
  TFcObject* a = chart.CreateObject(20, 20, 120, 40, stRectangle);
  TFcObject* b = chart.CreateObject(20, 120, 120, 40, stRectangle);
  TFcObject* c = chart.CreateObject(200, 120, 120, 40, stRectangle);
  const char* names[] = {"A", "B", "C"};
  TFcObject* objects[] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    objects[i]->SetText(names[i]);
    objects[i]->SetStepId(std::to_string(i + 1));
  }
  chart.CreateConnection(a, b, 10, 2)->DestArrow().SetArrowType(atArrow);
  chart.CreateConnection(a, c, 10, 2)->DestArrow().SetArrowType(atArrow);
  TMemoryStream s;
  chart.SaveToStream(s);
  return s.Data();
}
