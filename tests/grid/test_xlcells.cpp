// Typed cells: values, display texts through their formats, stream tails and actions.
#include <gtest/gtest.h>

#include <vector>

#include "core/DateTime.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

// Records what a cell draws.
struct RecordingCanvas : IXLCanvas {
  std::vector<std::string> calls;
  void SetFont(const TFont&) override {}
  int32_t DrawText(const AnsiString& text, TRect& r, uint32_t flags) override {
    if (flags & DT_CALCRECT) return 10;
    calls.push_back("text " + text + " " + std::to_string(r.Top));
    return 10;
  }
  TSize TextExtent(const AnsiString& text) override { return TSize{int32_t(text.size()) * 6, 10}; }
  void DrawCheckBox(const TRect& r, bool checked) override {
    calls.push_back(std::string("check ") + (checked ? "on " : "off ") + std::to_string(r.Width()));
  }
  void DrawEdge(const TRect&, TXLEdge e, bool) override {
    calls.push_back(e == TXLEdge::RaisedInner ? "edge raised" : "edge sunken");
  }
  void FillRect(const TRect&, TColor) override {}
  void Line(TPoint, TPoint, TColor, int w) override { calls.push_back("line " + std::to_string(w)); }
  void DrawGraphic(const AnsiString& cls, const std::string&, const TRect& r) override {
    calls.push_back("graphic " + cls + " " + std::to_string(r.Width()) + "x" + std::to_string(r.Height()));
  }
};

template <class T>
T* Put(TXLSheet& sheet, const TXLCellClass& cls, int32_t col, int32_t row) {
  return static_cast<T*>(sheet.Section(sClient)->PutCell(TPoint{col, row}, &cls));
}

// Whether the cell's stream body ends with the given class tail.
::testing::AssertionResult EndsWithTail(const TXLCell& cell, const std::string& tail) {
  TMemoryStream m;
  TXLWriter w(m);
  cell.WriteData(w);
  if (m.Data().size() >= tail.size() && m.Data().compare(m.Data().size() - tail.size(), tail.size(), tail) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "body has " << m.Data().size() << " bytes, tail differs";
}

}  // namespace

TEST(XLCells, ClassIdsAndFormatIndexes) {
  XLRegisterCellClasses();
  const std::pair<const TXLCellClass*, int32_t> ids[] = {
      {&XLCStringClass, 946},   {&XLCStringsClass, 1061}, {&XLCIntegerClass, 1033}, {&XLCDoubleClass, 918},
      {&XLCCurrencyClass, 1158}, {&XLCDateTimeClass, 1096}, {&XLCBooleanClass, 1019}, {&XLCPictureClass, 1047},
      {&XLCUrlClass, 622},      {&XLCGroupClass, 840},     {&XLCFormulaClass, 1041}};
  for (auto [cls, id] : ids) {
    EXPECT_EQ(TXLManager::ClassId(cls), id) << cls->ClassName();
    EXPECT_EQ(CellClassById(id), cls);
  }
  EXPECT_EQ(XLManager().Formats(&XLCDoubleClass)->at(10), "0.00%");
  EXPECT_EQ(XLManager().EditorCount(&XLCStringsClass), 3);
  EXPECT_EQ(XLManager().EditorCount(&XLCUrlClass), 0);
}

TEST(XLCells, NumbersShowThroughTheirMasks) {
  TXLSheet sheet;
  auto* d = Put<TXLCDouble>(sheet, XLCDoubleClass, 0, 0);
  d->SetAsFloat(0.125);
  d->SetFormat("0.00%");
  EXPECT_EQ(d->GetText(), "12.50%");
  d->SetAsFloat(1234.5);
  d->SetFormat("#,##0.00|s");
  EXPECT_EQ(d->GetText(), "1,234.50");
  d->SetFormat("");
  EXPECT_EQ(d->GetText(), "1234.5");
  auto* c = Put<TXLCCurrency>(sheet, XLCCurrencyClass, 1, 0);
  c->SetAsCurrency(123450000);
  c->SetFormat("0.00");
  EXPECT_EQ(c->GetText(), "12345.00");
  EXPECT_TRUE(EndsWithTail(*c, std::string("\x90\xB2\x5B\x07\0\0\0\0", 8)));
  auto* i = Put<TXLCInteger>(sheet, XLCIntegerClass, 2, 0);
  i->SetValue(TXLVariant("17"));
  EXPECT_EQ(i->GetAsInteger(), 17);
  EXPECT_TRUE(EndsWithTail(*i, std::string("\x11\0\0\0", 4)));
  EXPECT_THROW(i->SetValue(TXLVariant("seventeen")), EXLVariantError);
  EXPECT_EQ(i->GetAsInteger(), 17);
}

TEST(XLCells, DatesAndBooleansChooseTheirMaskPart) {
  TXLSheet sheet;
  auto* d = Put<TXLCDateTime>(sheet, XLCDateTimeClass, 0, 0);
  d->SetFormat("DD/MM/YYYY");
  EXPECT_EQ(d->GetText(), "");
  d->SetFormat("DD/MM/YYYY;-");
  EXPECT_EQ(d->GetText(), "-");
  d->SetAsDateTime(EncodeDate(2024, 3, 5));
  EXPECT_EQ(d->GetText(), "05-03-2024");  // "/" is the locale date separator
  d->SetValue(TXLVariant("2024-1-2"));
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(2024, 1, 2));
  EXPECT_THROW(d->SetAsString("not a date"), EConvertError);
  EXPECT_EQ(d->GetAsDateTime(), EncodeDate(2024, 1, 2));

  auto* b = Put<TXLCBoolean>(sheet, XLCBooleanClass, 1, 0);
  b->SetFormat("True;False");
  EXPECT_EQ(b->GetText(), "False");
  b->SetFormat("Yes;No");
  b->SetAsBoolean(true);
  EXPECT_EQ(b->GetText(), "Yes");
  EXPECT_TRUE(EndsWithTail(*b, std::string("\1\0\0\0", 4)));
  b->SetFormat("");
  b->SetAsBoolean(false);
  RecordingCanvas canvas;
  b->Draw(canvas, TRect{0, 0, 60, 15});
  EXPECT_EQ(canvas.calls, std::vector<std::string>{"check off 13"});
}

TEST(XLCells, TextCellsAndTheWriteNotifyRule) {
  TXLSheet sheet;
  int changes = 0;
  sheet.OnCellChanged = [&](TXLSheet*, TPoint p) {
    EXPECT_EQ(p, (TPoint{0, 0}));
    ++changes;
  };
  auto* s = Put<TXLCString>(sheet, XLCStringClass, 0, 0);
  s->SetStyles(CellStyleBit(csNotify));
  s->SetAsString("abc");
  s->SetAsString("abc");
  EXPECT_EQ(changes, 1);
  s->SetStyles(CellStyleBit(csNotify) | CellStyleBit(csWriteNotify));
  s->SetAsString("abc");
  EXPECT_EQ(changes, 2);
  s->SetFormat("(000)");
  EXPECT_EQ(s->GetText(), "(abc)");
  EXPECT_TRUE(EndsWithTail(*s, std::string("\3\0\0\0abc", 7)));

  auto* l = Put<TXLCStrings>(sheet, XLCStringsClass, 1, 0);
  l->SetAsString("one\r\ntwo\nthree");
  EXPECT_EQ(l->Items().size(), 3u);
  EXPECT_EQ(l->GetAsString(), "one\r\ntwo\r\nthree");
  EXPECT_EQ(l->GetText(), "one");  // a new list points at its first item
  l->SetAsInteger(5);
  EXPECT_EQ(l->GetText(), "");
  l->SetAsInteger(1);
  EXPECT_EQ(l->GetText(), "two");
  EXPECT_TRUE(EndsWithTail(*l, std::string("\0\0\0\0\1\0\0\0\x11\0\0\0one\r\ntwo\r\nthree\r\n", 29)));
}

TEST(XLCells, PictureTailKeepsTheGraphicBytes) {
  TXLSheet sheet;
  auto* p = Put<TXLCPicture>(sheet, XLCPictureClass, 0, 0);
  EXPECT_TRUE(EndsWithTail(*p, std::string(1, '\0')));
  TXLPicture pic{"TIcon", std::string("\0\0\1\0raw", 7)};
  p->SetPicture(pic);
  EXPECT_TRUE(EndsWithTail(*p, std::string("\1\5TIcon", 7) + pic.Data));

  TMemoryStream m;
  TXLWriter w(m);
  w.WriteBlock([&] { p->WriteData(w); });
  auto* q = Put<TXLCPicture>(sheet, XLCPictureClass, 1, 0);
  m.SetPosition(0);
  TXLReader r(m);
  EXPECT_TRUE(r.ReadBlock([&] { q->ReadData(r); }));
  EXPECT_EQ(q->Picture(), pic);
}

TEST(XLCells, ActionsRespectEditRightsAndLinkSchemes) {
  TXLSheet sheet;
  auto* b = Put<TXLCBoolean>(sheet, XLCBooleanClass, 0, 0);
  char key = ' ';
  b->KeyPress(key);
  EXPECT_TRUE(b->GetAsBoolean());
  EXPECT_EQ(key, 0);
  b->SetStyles(CellStyleBit(csReadOnly));
  b->Execute();
  EXPECT_TRUE(b->GetAsBoolean());

  std::vector<AnsiString> opened;
  TXLCUrl::ShellOpen() = [&](const AnsiString& link) { opened.push_back(link); };
  auto* u = Put<TXLCUrl>(sheet, XLCUrlClass, 1, 0);
  u->SetAsString("http://example.org/A?B");
  u->Execute();
  u->SetAsString("C:\\Windows\\system32\\cmd.exe");
  u->Execute();
  u->SetAsString("file:///etc/passwd");
  u->Execute();
  u->SetFormat("|mailto:Someone@Example.org");
  u->Execute();
  TXLCUrl::ShellOpen() = nullptr;
  EXPECT_EQ(opened, (std::vector<AnsiString>{"http://example.org/A?B", "mailto:Someone@Example.org"}));
}

TEST(XLCells, GroupBarsHideAndShowWhatTheyGovern) {
  TXLSheet sheet;
  sheet.SetCount(sRows, 10);
  TXLSection* client = sheet.Section(sClient);
  // A vertical bar over rows 0-5 in column 0: it governs rows 1..5.
  auto* g = Put<TXLCGroup>(sheet, XLCGroupClass, 0, 0);
  g->SetRect(TRect{0, 0, 1, 6});
  g->SetAsBoolean(true);
  // A collapsed bar inside the area applies itself again when the outer one collapses.
  auto* inner = static_cast<TXLCGroup*>(client->PutCell(TPoint{1, 2}, &XLCGroupClass));
  inner->SetRect(TRect{1, 2, 2, 8});
  g->SetAsBoolean(false);
  for (int32_t r = 1; r < 8; ++r) EXPECT_FALSE(sheet.IsVisible(r, sRows)) << r;
  EXPECT_TRUE(sheet.IsVisible(0, sRows));
  EXPECT_TRUE(sheet.IsVisible(8, sRows));
  g->Execute();
  for (int32_t r = 1; r < 6; ++r) EXPECT_TRUE(sheet.IsVisible(r, sRows)) << r;
  RecordingCanvas canvas;
  g->SetAsBoolean(false);
  g->Draw(canvas, TRect{0, 0, 15, 90});
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"line 2", "edge sunken", "text - 0"}));
}

TEST(XLCells, FormulaCellsKeepTextValueAndErrors) {
  TXLSheet sheet;
  auto* f = Put<TXLCFormula>(sheet, XLCFormulaClass, 0, 0);
  f->SetAsString("==1+1");
  EXPECT_EQ(f->Formula(), "1+1");
  EXPECT_EQ(f->GetAsString(), "=1+1");
  f->SetAsFloat(3);
  EXPECT_EQ(f->Formula(), "");
  EXPECT_EQ(f->GetAsString(), "3");

  f->SetAsString("=2*3");
  EXPECT_EQ(f->GetText(), "6");
  f->SetAsString("=1/0");
  EXPECT_EQ(f->GetText(), "#DIV/0!");
  f->SetAsString("=A1");
  EXPECT_EQ(f->GetText(), "#CIRCULAR!");
  f->SetAsString("=X(1)");
  EXPECT_EQ(f->GetText(), "#NAME!");
  EXPECT_TRUE(EndsWithTail(*f, std::string("\0\0\0\0\0\0\x18\x40\4\0\0\0X(1)", 16)));
}

TEST(XLCells, EveryClassRoundTripsThroughItsBlock) {
  TXLSheet sheet;
  TXLSection* client = sheet.Section(sClient);
  const TXLCellClass* classes[] = {&XLCStringClass,   &XLCStringsClass, &XLCUrlClass,     &XLCIntegerClass,
                                   &XLCDoubleClass,   &XLCCurrencyClass, &XLCDateTimeClass, &XLCBooleanClass,
                                   &XLCPictureClass,  &XLCGroupClass,   &XLCFormulaClass};
  int32_t col = 0;
  for (const TXLCellClass* cls : classes) {
    TXLCell* cell = client->PutCell(TPoint{col++, 0}, cls);
    ASSERT_NE(cell, nullptr) << cls->ClassName();
    if (cls == &XLCPictureClass)
      static_cast<TXLCPicture*>(cell)->SetPicture(TXLPicture{"TBitmap", "bits"});
    else if (cls == &XLCFormulaClass)
      cell->SetAsString("=B2+1");
    else
      cell->SetValue(cls == &XLCBooleanClass || cls == &XLCGroupClass ? TXLVariant(true) : TXLVariant(12));
    // A registered format travels as its index, any other as its text.
    const auto* formats = XLManager().Formats(cls);
    cell->SetFormat(formats->empty() ? AnsiString("own;format") : formats->back());
    cell->SetHint("h");

    TMemoryStream m;
    TXLWriter w(m);
    w.WriteBlock([&] { cell->WriteData(w); });
    TXLCell* copy = client->PutCell(TPoint{0, 1}, cls);
    m.SetPosition(0);
    TXLReader r(m);
    EXPECT_TRUE(r.ReadBlock([&] { copy->ReadData(r); })) << cls->ClassName();
    EXPECT_EQ(copy->GetAsString(), cell->GetAsString()) << cls->ClassName();
    EXPECT_EQ(copy->Format(), cell->Format()) << cls->ClassName();
    EXPECT_EQ(copy->Hint(), "h");
    TMemoryStream again;
    TXLWriter w2(again);
    w2.WriteBlock([&] { copy->WriteData(w2); });
    EXPECT_EQ(again.Data(), m.Data()) << cls->ClassName();
    client->ClearCells(TRect{0, 1, 1, 2});
  }
}

TEST(XLCells, PlacingAndVerticalTextPosition) {
  const TRect cell{10, 10, 110, 40};
  EXPECT_EQ(PlaceObject(cell, TSize{20, 10}, haLeft, vaTop, wmClip), (TRect{10, 10, 30, 20}));
  EXPECT_EQ(PlaceObject(cell, TSize{20, 10}, haRight, vaBottom, wmClip), (TRect{90, 30, 110, 40}));
  EXPECT_EQ(PlaceObject(cell, TSize{20, 10}, haCenter, vaCenter, wmClip), (TRect{50, 20, 70, 30}));
  EXPECT_EQ(PlaceObject(cell, TSize{20, 10}, haLeft, vaTop, wmEllipsis), (TRect{10, 10, 70, 40}));
  EXPECT_EQ(PlaceObject(cell, TSize{200, 10}, haLeft, vaCenter, wmEllipsis), (TRect{10, 22, 110, 27}));
  EXPECT_EQ(PlaceObject(cell, TSize{20, 10}, haRight, vaBottom, wmWrapWords), cell);

  TXLSheet sheet;
  TXLCell* c = sheet.GetCell(0, 0);
  c->SetAsString("x");
  RecordingCanvas canvas;
  c->DrawText(TXLDrawParams{&canvas, haLeft, vaCenter, wmClip}, TRect{0, -3, 50, 12});
  c->DrawText(TXLDrawParams{&canvas, haLeft, vaBottom, wmClip}, TRect{0, 0, 50, 15});
  c->DrawText(TXLDrawParams{&canvas, haLeft, vaTop, wmClip}, TRect{0, 4, 50, 15});
  // (top + bottom - h) div 2 truncates toward zero: (-3 + 12 - 10) / 2 is 0.
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"text x 0", "text x 5", "text x 4"}));

  // A stored bitmap gives its own size, scaled by the view.
  std::string bmp(4 + 14, '\0');
  bmp += std::string("\x28\0\0\0\x20\0\0\0\x10\0\0\0", 12) + std::string(28, '\0');
  auto* p = static_cast<TXLCPicture*>(sheet.Section(sClient)->PutCell(TPoint{1, 1}, &XLCPictureClass));
  p->SetPicture(TXLPicture{"TBitmap", bmp});
  p->SetWrapMode(wmClip);
  p->SetVertAlign(vaTop);
  EXPECT_EQ(p->GetTextExtent(canvas), (TSize{32, 16}));
  canvas.calls.clear();
  p->Draw(canvas, TRect{0, 0, 100, 100});
  EXPECT_EQ(canvas.calls, std::vector<std::string>{"graphic TBitmap 32x16"});
}
