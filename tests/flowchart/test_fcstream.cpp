// The chart stream: exact bytes, round trips, and streams that lie about their contents.
#include <gtest/gtest.h>

#include <filesystem>

#include "FcSample.h"

namespace {

std::string Save(const TFcChart& c) {
  TMemoryStream m;
  c.SaveToStream(m);
  return m.Data();
}

std::string Hex(const std::string& s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char ch : s) out += {d[ch >> 4], d[ch & 15], ' '};
  return out;
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace

TEST(FcStream, EmptyChartIsFourZeroBytes) {
  TFcChart c;
  EXPECT_EQ(Save(c), std::string(4, '\0'));
  EXPECT_FALSE(c.ItemsStored());
  c.CreateConnection(nullptr, nullptr, 0, 0);  // a connection alone is not stored as items
  EXPECT_FALSE(c.ItemsStored());
  c.CreateObject(0, 0, 1, 1, stNone);
  EXPECT_TRUE(c.ItemsStored());
}

TEST(FcStream, ExactLayoutOfObjectAndConnection) {
  TFcChart c;
  TFcObject* o = c.CreateObject(-5, 7, 100, 50, stEllipse);
  o->SetTag(0x12345678);
  o->SetText("A");
  o->SetStepId("7");
  TFcConnection* k = c.CreateConnection(o, nullptr, 6, 0);
  k->AddPoint({300, 40});
  k->SetColor(clRed);
  k->SetPenStyle(2);
  k->SetBack(true);
  k->SetStyle(lsRectVertical);
  k->SourceArrow().SetArrowType(atOval);
  k->DestArrow().SetArrowType(atArrow);
  k->DestArrow().SetWidth(12);
  k->DestArrow().SetHeight(8);
  k->DestArrow().SetColor(clBlack);
  std::string want = Bytes({
      0x01, 0x00,                                            // one object
      0xFB, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00,        // Left -5, Top 7
      0x64, 0x00, 0x32, 0x00, 0x00, 0x00, 0x0F, 0x00,        // 100 x 50, edge 0, border 15
      0x01, 0x01, 0x01, 0x01,                                // text and image centred
      0x05, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00,        // BkColor clWindow, ShapeColor black
      0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0xFF, 0xFF,        // Tag, no children, ImageIndex -1
      0x02, 0x01, 0x01, 0x00,                                // ellipse, width 1, parent font, opaque
      0x01, 0x00, 'A', 0x01, 0x00, '7',                      // Text, StepId
      0x01, 0x00,                                            // one connection
      0x00, 0x00, 0xFF, 0xFF, 0x01, 0x00,                    // from object 0, loose end, one point
      0xFF, 0x00, 0x00, 0x00, 0x26, 0x80, 0x03, 0x01,        // red, point 6 | dash, back, style 3
      0x02, 0x0A, 0x0A, 0x05, 0x00, 0x00, 0xFF,              // oval source arrow
      0x01, 0x0C, 0x08, 0x00, 0x00, 0x00, 0x00,              // arrow head 12 x 8
      0x2C, 0x01, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,        // user point (300, 40)
      0x00, 0x00,                                            // no text
  });
  std::string got = Save(c);
  EXPECT_EQ(Hex(got), Hex(want));

  TFcChart back;
  TMemoryStream m(want);
  back.LoadFromStream(m);
  ASSERT_EQ(back.ConnectionCount(), 1);
  TFcConnection* kb = back.Connections(0);
  EXPECT_EQ(kb->Source(), back.Objects(0));
  EXPECT_EQ(kb->Dest(), nullptr);
  EXPECT_EQ(kb->RealPoints(), (std::vector<TPoint>{{94, 32}, {300, 40}}));  // linked point 6 of the ellipse
  EXPECT_TRUE(kb->Back());
  EXPECT_EQ(kb->PenStyle(), 2);
}

TEST(FcStream, EveryKindOfItemRoundTrips) {
  TFcChart c;
  BuildSampleChart(c);
  std::string bytes = Save(c);
  TFcChart d;
  TMemoryStream m(bytes);
  d.LoadFromStream(m);
  EXPECT_EQ(m.Position(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(Save(d), bytes);
  EXPECT_TRUE(c.SaveToData() == d.SaveToData());
  ASSERT_EQ(d.ObjectCount(), 10);
  EXPECT_EQ(d.Objects(0)->UnionChildCount(), 2);
  EXPECT_EQ(d.Objects(1)->GetUnionChild(0), d.Objects(6));
  EXPECT_EQ(d.Objects(2)->Font().Size(), 12);
  EXPECT_EQ(d.Objects(2)->Font().Name, c.Font().Name);
  EXPECT_EQ(d.Objects(5)->Font().Name, "Arial");
  EXPECT_EQ(d.Objects(9)->Text(), Cp936("六边形"));
  EXPECT_EQ(d.Connections(0)->Text(), Cp936("同意"));
  EXPECT_EQ(d.Connections(5)->Source(), nullptr);
  EXPECT_EQ(d.Connections(5)->RealPoints(), c.Connections(5)->RealPoints());
  // The font name equal to the chart's is stored empty.
  TFcChartData data = ReadChartData(bytes);
  EXPECT_EQ(data.Objects[2].Font.Name, "");
  EXPECT_EQ(data.Objects[5].Font.Name, "Arial");

  // The same through a chart file, and a stream with a chart in the middle of it.
  auto path = std::filesystem::temp_directory_path() / ("fc_roundtrip_" + std::to_string(getpid()) + ".flc");
  c.SaveToFile(path.string());
  TFcChart f;
  f.LoadFromFile(path.string());
  std::filesystem::remove(path);
  EXPECT_EQ(Save(f), bytes);
  TMemoryStream framed("head" + bytes + "tail");
  framed.SetPosition(4);
  TFcChartData mid = ReadChartData(framed);
  EXPECT_EQ(framed.Position(), static_cast<int64_t>(4 + bytes.size()));
  EXPECT_EQ(mid.Connections.size(), 6u);
}

TEST(FcStream, TruncatedStreamsFailAndKeepTheChart) {
  TFcChart c;
  BuildSampleChart(c);
  std::string bytes = Save(c);
  TFcChart target;
  target.CreateObject(1, 2, 3, 4, stRectangle)->SetText("kept");
  for (size_t n = 0; n < bytes.size(); ++n) {
    TMemoryStream m(bytes.substr(0, n));
    EXPECT_THROW(target.LoadFromStream(m), EReadError) << n;
    EXPECT_EQ(m.Position(), 0);
  }
  ASSERT_EQ(target.ObjectCount(), 1);
  EXPECT_EQ(target.Objects(0)->Text(), "kept");
}

TEST(FcStream, HostileCountsAndLengths) {
  // 65535 objects announced in ten bytes: refused before anything is allocated.
  EXPECT_THROW(ReadChartData(Bytes({0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0})), EFcStreamError);
  std::string obj(40, '\0');
  obj[38] = 1;                         // parent font: no font block
  obj[32] = '\xFF', obj[33] = '\xFF';  // 65535 union children
  EXPECT_THROW(ReadChartData(Bytes({1, 0}) + obj), EFcStreamError);
  obj[32] = 0, obj[33] = 0;
  EXPECT_THROW(ReadChartData(Bytes({1, 0}) + obj + Bytes({0xFF, 0xFF, 'x'})), EFcStreamError);  // string
  try {
    ReadChartData(Bytes({1, 0}) + obj + Bytes({0, 0, 0, 0, 0xFF, 0xFF}));
    FAIL();
  } catch (const EFcStreamError& e) {
    EXPECT_EQ(e.Message(), "Invalid chart stream: connection list runs past the end");
  }
}

TEST(FcStream, BadReferencesAreDropped) {
  TFcChartData d;
  d.Objects.resize(3);
  for (auto& o : d.Objects) o.Width = o.Height = 20, o.ShapeType = 1;
  d.Objects[0].Children = {0, 1, 9, 1};  // itself, a good child, out of range, twice
  d.Objects[1].Children = {0};           // would close a cycle
  d.Objects[2].Children = {1};
  TFcConnectionRec k;
  k.Source = 7;  // beyond the objects
  k.Dest = 2;
  k.DestPoint = 127;
  k.Points = {{5, 5}};
  d.Connections.push_back(k);
  TFcConnectionRec empty;  // both ends loose, no points
  empty.Text = "nothing";
  d.Connections.push_back(empty);

  TFcChart c;
  TMemoryStream m(WriteChartData(d));
  c.LoadFromStream(m);
  EXPECT_EQ(c.Objects(0)->UnionChildCount(), 1);
  EXPECT_EQ(c.Objects(0)->GetUnionChild(0), c.Objects(1));
  EXPECT_EQ(c.Objects(1)->UnionChildCount(), 0);
  EXPECT_EQ(c.Objects(2)->UnionChildCount(), 1);
  c.Objects(0)->SelectUnion();  // terminates
  EXPECT_EQ(c.SelectedCount(), 2);
  TFcConnection* kc = c.Connections(0);
  EXPECT_EQ(kc->Source(), nullptr);
  EXPECT_EQ(kc->Dest(), c.Objects(2));
  EXPECT_EQ(kc->DestPoint(), 15);
  TFcConnection* e = c.Connections(1);
  EXPECT_TRUE(e->PaintRect().IsEmpty());
  EXPECT_EQ(e->HalfWay(), (TPoint{0, 0}));
  EXPECT_EQ(c.HitTest(0, 0) & htConnectionMask, 0);
  TFcChartData again = c.SaveToData();
  EXPECT_EQ(again.Connections[0].Source, fcNoObject);
  EXPECT_EQ(again.Connections[1].Points.size(), 0u);
}
