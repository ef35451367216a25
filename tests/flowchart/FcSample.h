#pragma once
// A chart with every kind of item, shared by the stream, widget and screenshot tests.
#include "flowchart/FcChart.h"

inline void BuildSampleChart(TFcChart& c) {
  c.BeginUpdate();
  const char* names[] = {"无", "矩形", "椭圆", "圆角", "菱形", "上三角", "下三角", "右三角", "左三角", "六边形"};
  std::vector<TFcObject*> objs;
  for (int i = 0; i < 10; ++i) {
    TFcObject* o = c.CreateObject(16 + (i % 5) * 170, 16 + (i / 5) * 150, 130, 70, static_cast<uint8_t>(i));
    o->SetText(Cp936(names[i]));
    o->SetStepId(std::to_string(i + 1));
    o->SetTag(1000u + static_cast<uint32_t>(i));
    o->SetBkColor(i % 2 ? clWhite : RGB(255, 255, 200));
    o->SetShapeColor(i % 3 ? clNavy : clMaroon);
    o->SetLineWidth(static_cast<uint8_t>(1 + i % 3));
    o->SetTextPos(static_cast<uint8_t>(i % 3), 1);
    objs.push_back(o);
  }
  objs[1]->SetEdgeFlags(0x0A);  // raised outer and sunken inner
  objs[1]->SetBorderFlags(0x0F);
  objs[3]->SetTransparent(true);
  objs[4]->SetImageIndex(2);
  objs[4]->SetImagePos(2, 0);
  TFcFont big = c.Font();
  big.SetSize(12);
  big.Style = 1;
  big.Color = clRed;
  objs[2]->SetFont(big);
  TFcFont other = big;
  other.Name = "Arial";
  other.Charset = 0;
  objs[5]->SetFont(other);
  objs[0]->AddToUnion(objs[1]);
  objs[0]->AddToUnion(objs[2]);
  objs[1]->AddToUnion(objs[6]);

  uint8_t style = 0;
  auto link = [&](int a, int b, int sp, int dp) {
    TFcConnection* k = c.CreateConnection(objs[a], objs[b], sp, dp);
    k->SetStyle(style++ % 4);
    return k;
  };
  TFcConnection* k0 = link(0, 1, 6, 14);
  k0->DestArrow().SetArrowType(atArrow);
  k0->SetText(Cp936("同意"));
  TFcConnection* k1 = link(1, 7, 10, 2);
  k1->SourceArrow().SetArrowType(atOval);
  k1->SourceArrow().SetColor(0x8000FF);
  k1->DestArrow().SetArrowType(atArrow);
  TFcConnection* k2 = link(2, 3, 6, 14);
  k2->AddPoint({440, 200});
  k2->DestArrow().SetArrowType(atSquare);
  k2->SetPenStyle(2);
  TFcConnection* k3 = link(8, 9, 6, 14);
  k3->SetColor(clGreen);
  k3->SetBack(true);
  k3->DestArrow().SetArrowType(atArrow);
  k3->DestArrow().SetWidth(15);
  k3->DestArrow().SetHeight(15);
  TFcConnection* loose = c.CreateConnection(objs[4], nullptr, 10, 0);
  loose->AddPoint({770, 300});
  loose->SetFont(big);
  loose->SetText("loose");
  TFcConnection* free = c.CreateConnection(nullptr, objs[9], 0, 2);
  free->InsertPoint(0, {900, 380});
  free->SetStyle(lsCurved);
  free->AddPoint({800, 250});
  c.EndUpdate();
}
