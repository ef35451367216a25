#pragma once
// A chart of 1,000 objects in a 40 x 25 grid and 1,500 connections between neighbours.
#include "flowchart/FcChart.h"

inline void BuildBigChart(TFcChart& c) {
  c.BeginUpdate();
  std::vector<TFcObject*> objs;
  for (int i = 0; i < 1000; ++i) {
    TFcObject* o = c.CreateObject((i % 40) * 200, (i / 40) * 120, 145, 50, static_cast<uint8_t>(1 + i % 9));
    o->SetText("Step " + std::to_string(i));
    o->SetStepId(std::to_string(i));
    objs.push_back(o);
  }
  for (int i = 0; i < 1500; ++i) {
    int a = i % 1000, b = i < 1000 ? (a % 40 == 39 ? a - 1 : a + 1) : (a + 40) % 1000;
    TFcConnection* k = c.CreateConnection(objs[a], objs[b], i < 1000 ? 6 : 10, i < 1000 ? 14 : 2);
    k->SetStyle(static_cast<uint8_t>(i % 4));
    k->DestArrow().SetArrowType(atArrow);
    if (i % 3 == 0) k->SetText("yes");
    if (i % 5 == 0) k->AddPoint({(a % 40) * 200 + 170, (a / 40) * 120 + 100});
  }
  c.EndUpdate();
}
