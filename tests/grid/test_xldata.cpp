// The "XLData" sheet stream: exact bytes of known sheets, and hostile input.
#include <gtest/gtest.h>

#include <functional>

#include "core/ByteIO.h"
#include "grid/ComponentStream.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

namespace {

void StyleBlock(ByteWriter& w, bool client) {
  ByteWriter b;
  b.U16(0x03FF);
  b.I32(5);
  b.Bytes("Arial");
  b.I32(1);    // charset
  b.I32(0);    // style
  b.I32(-11);  // height
  b.I32(clWindowText);
  b.I32(946);  // TXLCString
  b.I32(0);    // editor
  b.I32(0);    // format index
  for (int i = 0; i < 12; ++i) {
    int32_t v = 0;
    if (i == 8) v = client ? clWindow : clBtnFace;
    if (i == 9 && !client) v = 1;
    if (i == 11) v = client ? 0x02100000 : 0x00220000;
    b.I32(v);
  }
  b.I32(255);
  b.I32(client ? clBtnFace : 0);
  w.I32(int32_t(b.Size() + 4));
  w.Bytes(b.Str());
}

std::string Header() {
  ByteWriter w;
  w.Bytes("XLG\x16");
  StyleBlock(w, true);
  StyleBlock(w, false);
  w.U8(0);  // no size lists
  return w.Take();
}

std::string DefaultSheetBytes() {
  ByteWriter w;
  w.Bytes(Header());
  for (int s = 0; s < 4; ++s) w.I32(0);
  return w.Take();
}

// The form sheet of 360 bytes: two text cells, one of them protected.
std::string SampleBytes() {
  ByteWriter w;
  w.Bytes(Header());
  for (int s = 0; s < 3; ++s) w.I32(0);
  w.I32(0x102);
  auto cell = [&](int32_t col) {
    w.I32(col);
    w.I32(946);
    w.I32(10);
    w.U16(0);
    w.I32(0);
    w.I32(-1);
  };
  w.I32(0);
  cell(0);
  w.I32(2);
  cell(1);
  w.I32(-1);
  w.I32(1);  // one row in the cell-style list
  w.I32(2);
  w.U8(0);
  w.I32(0);  // count
  w.I32(1);  // pages
  w.I32(0);  // page 0
  for (int i = 0; i < 16; ++i) w.I32(i == 1 ? 3 : 0);
  return w.Take();
}

void Load(TXLSheet& sheet, const std::string& bytes) {
  TMemoryStream m(bytes);
  sheet.ReadXLData(m);
}

}  // namespace

TEST(XLData, EmptyDefaultSheetIsTwoStylesAndFourEmptySections) {
  TXLSheet sheet;
  const std::string data = sheet.XLData();
  EXPECT_EQ(data.size(), 219u);
  EXPECT_EQ(data, DefaultSheetBytes());
  EXPECT_EQ(GetI32LE(data.data() + 4), 99);
  EXPECT_EQ(GetI32LE(data.data() + 103), 99);
}

TEST(XLData, SampleLoadsToItsCellsAndSavesByteForByte) {
  const std::string sample = SampleBytes();
  ASSERT_EQ(sample.size(), 360u);
  TXLSheet sheet;
  Load(sheet, sample);
  TXLSection* client = sheet.Section(sClient);
  EXPECT_EQ(client->CellCount(), 2);
  TXLCell* a = sheet.FindCell(0, 0);
  TXLCell* b = sheet.FindCell(1, 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->GetCellClass(), &XLCStringClass);
  EXPECT_EQ(a->Styles(), 0);
  EXPECT_EQ(b->Styles(), CellStyleBit(csProtect));
  EXPECT_EQ(client->GetCellStyles(TPoint{1, 2}), CellStyleBit(csProtect));
  EXPECT_EQ(client->GetCellStyles(TPoint{2, 2}), 0);
  EXPECT_EQ(b->Color(), clWindow);
  EXPECT_EQ(sheet.FindCell(-1, -1), nullptr);
  EXPECT_EQ(sheet.BaseTitleStyle()->Frame(), frFlatUp);
  EXPECT_FALSE(sheet.Modified());
  EXPECT_EQ(sheet.XLData(), sample);
}

TEST(XLData, VersionByteIsIgnoredAndWrongSignatureRestoresPosition) {
  std::string other = SampleBytes();
  other[3] = char(0x7F);
  TXLSheet sheet;
  Load(sheet, other);
  EXPECT_EQ(sheet.Section(sClient)->CellCount(), 2);

  TMemoryStream bad(std::string("XLH\x16") + SampleBytes().substr(4));
  bad.SetPosition(0);
  try {
    sheet.ReadXLData(bad);
    FAIL() << "a wrong signature was accepted";
  } catch (const EXLGridError& e) {
    EXPECT_STREQ(e.what(), "Unknown XLGrid stream format!");
  }
  EXPECT_EQ(bad.Position(), 0);
}

TEST(XLData, EveryTruncationIsAFormatErrorAndLosesNothing) {
  // A sheet using every part of the stream: sizes, hidden lines, areas, lines, cells.
  TXLSheet full;
  full.SetCount(sRows, 40);
  full.SetSize(1, sCols, 80);
  full.SetSize(35, sRows, 30);  // past the reader's own row count
  full.SetSize(3, sRows, 30);
  full.SetVisible(3, sRows, false);
  full.GetCell(1, 1)->SetLine(sTop, TXLLine{1, clRed});
  full.SetAsString(0, -1, "title");
  full.Section(sClient)->Merge(TRect{2, 2, 4, 4});
  for (const std::string& stream : {SampleBytes(), full.XLData()}) {
    TXLSheet sheet;
    sheet.SetAsString(4, 4, "kept");
    sheet.SetSize(3, sCols, 33);
    const std::string before = sheet.XLData();
    for (size_t n = 0; n < stream.size(); ++n) {
      EXPECT_THROW(Load(sheet, stream.substr(0, n)), EXLGridError) << "cut at " << n;
      ASSERT_EQ(sheet.XLData(), before) << "cut at " << n;
    }
    EXPECT_EQ(sheet.GetAsString(4, 4), "kept");
    Load(sheet, stream);
    EXPECT_EQ(sheet.XLData(), stream);
  }
}

TEST(XLData, BadSizesAndCountsAreFormatErrors) {
  const std::string sample = SampleBytes();
  auto patched = [&](size_t offset, int32_t v) {
    std::string s = sample;
    PutI32LE(s.data() + offset, v);
    return s;
  };
  const size_t client = 4 + 99 + 99 + 1 + 12;
  const size_t firstCellBlock = client + 4 + 4 + 4 + 4;
  TXLSheet sheet;
  EXPECT_THROW(Load(sheet, patched(4, -8)), EXLGridError);            // style block size
  EXPECT_THROW(Load(sheet, patched(4, 100000)), EXLGridError);        // past the end
  EXPECT_THROW(Load(sheet, patched(firstCellBlock, -8)), EXLGridError);  // would loop forever
  EXPECT_THROW(Load(sheet, patched(firstCellBlock, 2)), EXLGridError);
  EXPECT_THROW(Load(sheet, patched(client + 4, -5)), EXLGridError);   // row index
  // Merged areas announced by the million in a short stream.
  std::string areas = sample.substr(0, client);
  ByteWriter w;
  w.I32(1);
  w.I32(0x7FFFFFFF);
  areas += w.Str();
  EXPECT_THROW(Load(sheet, areas), EXLGridError);
}

TEST(XLData, ASizeListBrokenOffAtABadPageLeavesTheSheetUsable) {
  // Row sizes: a page whose first slot is empty, then a page number out of range.
  ByteWriter w;
  const std::string header = Header();
  w.Bytes(header.substr(0, header.size() - 1));
  w.U8(0x08);
  w.U8(0);
  w.I32(40);
  w.I32(2);
  w.I32(2);
  for (int i = 0; i < 16; ++i) w.I32(i == 3 ? 15 : 0);
  w.I32(70000);
  for (int i = 0; i < 16; ++i) w.I32(0);
  TXLSheet sheet;
  sheet.SetSize(2, sRows, 25);
  EXPECT_THROW(Load(sheet, w.Str()), EXLGridError);
  EXPECT_EQ(sheet.RowCount(), 5);
  EXPECT_EQ(sheet.GetSize(2, sRows), 25);
  EXPECT_EQ(sheet.GetSize(35, sRows), 15);
}

TEST(XLData, UnknownClassesAndLongerBlocksAreSkippedBySize) {
  // Cell (0,0) of an unknown class and (1,0) with four extra bytes of a newer tail.
  ByteWriter w;
  w.Bytes(Header());
  for (int s = 0; s < 3; ++s) w.I32(0);
  w.I32(2);
  w.I32(0);
  w.I32(0);
  w.I32(12345);
  w.I32(8);
  w.I32(77);
  w.I32(1);
  w.I32(946);
  w.I32(18);
  w.U16(0);
  w.I32(4);
  w.Bytes("abcd");
  w.I32(99);
  w.I32(-1);
  w.I32(-1);
  TXLSheet sheet;
  Load(sheet, w.Str());
  EXPECT_EQ(sheet.FindCell(0, 0), nullptr);
  EXPECT_EQ(sheet.GetAsString(1, 0), "abcd");
}

TEST(XLData, WrittenSheetReadsBackEqual) {
  TXLSheet sheet;
  sheet.SetCount(sCols, 8);
  sheet.SetCount(sRows, 30);
  sheet.SetTitleCount(sRows, 2);
  sheet.SetSize(2, sCols, 90);
  sheet.SetSize(4, sRows, 40);
  sheet.SetVisible(4, sRows, false);
  TXLSection* client = sheet.Section(sClient);
  client->PutCell(TPoint{0, 0}, &XLCIntegerClass)->SetAsInteger(42);
  client->PutCell(TPoint{1, 0}, &XLCDoubleClass)->SetAsFloat(2.5);
  TXLCell* text = sheet.GetCell(3, 5);
  text->SetAsString(Cp936("金额"));
  text->SetHint("amount");
  text->SetColor(clRed);
  text->SetHorzAlign(haRight);
  text->Font().SetStyle(fsBold);
  text->SetLine(sLeft, TXLLine{2, clBlue});
  sheet.GetCell(2, -1)->SetAsString("title");
  TXLProRange range(client, TRect{4, 6, 7, 8});
  ASSERT_TRUE(range.Merge(false));
  sheet.BaseClientStyle()->SetColor(clYellow);

  EXPECT_TRUE(sheet.Modified());
  const std::string data = sheet.XLData();
  EXPECT_FALSE(sheet.Modified());
  TXLSheet copy;
  copy.SetCount(sCols, 8);
  copy.SetCount(sRows, 30);
  copy.SetTitleCount(sRows, 2);
  Load(copy, data);
  EXPECT_EQ(copy.GetValue(0, 0).AsInteger(), 42);
  EXPECT_EQ(copy.GetValue(1, 0).AsFloat(), 2.5);
  TXLCell* t = copy.FindCell(3, 5);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->GetAsString(), Cp936("金额"));
  EXPECT_EQ(t->Hint(), "amount");
  EXPECT_EQ(t->Color(), clRed);
  EXPECT_EQ(t->HorzAlign(), haRight);
  EXPECT_EQ(t->Font().Style(), fsBold);
  EXPECT_EQ(t->GetLine(sLeft), (TXLLine{2, clBlue}));
  EXPECT_EQ(copy.GetAsString(2, -1), "title");
  EXPECT_EQ(copy.GetSize(2, sCols), 90);
  EXPECT_FALSE(copy.IsVisible(4, sRows));
  EXPECT_EQ(copy.GetRealSize(4, sRows), 40);
  EXPECT_TRUE(copy.Section(sClient)->IsUnionRect(TRect{4, 6, 7, 8}));
  // A position without its own colour shows the base style's.
  EXPECT_EQ(ColorFromItem(copy.Section(sClient)->GetItem(ilColor, 1, 5)), clYellow);
  EXPECT_EQ(copy.XLData(), data);
}

TEST(XLData, SectionsFollowTheCounts) {
  TXLSheet sheet;
  sheet.SetTitleCount(sRows, 0);
  // No title rows: neither the sCols nor the sTitle record is written.
  EXPECT_EQ(sheet.XLData().size(), 219u - 8u);
  sheet.SetCount(sCols, 0);
  EXPECT_EQ(sheet.XLData().size(), 219u - 12u);  // only sRows is left
}

TEST(SheetComponentStream, SavedSheetLoadsBackEqualAndSavesTheSameBytes) {
  TXLSheet sheet;
  sheet.SetTitle(Cp936("收文登记"));
  sheet.SetAuthor("oa");
  sheet.SetCount(sCols, 12);
  sheet.SetCount(sRows, 40);
  sheet.SetTitleCount(sCols, 0);
  sheet.SetDefSize(sCols, 72);
  sheet.SetPrintScale(80);
  sheet.SetPrintMargin(1, 10);
  sheet.SetPrintTitles(AxisBit(sRows));
  sheet.SetReadOnly(true);
  sheet.SetSize(11, sCols, 150);
  sheet.SetAsString(11, 39, "last");
  sheet.GetCell(3, 3)->SetStyles(CellStyleBit(csReadOnly));
  sheet.Section(sClient)->PutCell(TPoint{2, 2}, &XLCFormulaClass)->SetAsString("=A1*2");

  TMemoryStream saved;
  sheet.SaveToStream(saved);
  EXPECT_EQ(saved.Data().substr(0, 4), "TPF0");

  TXLSheet copy;
  copy.SetCount(sRows, 3);  // whatever the sheet held before is replaced
  saved.SetPosition(0);
  copy.LoadFromStream(saved);
  EXPECT_EQ(copy.Title(), sheet.Title());
  EXPECT_EQ(copy.Author(), "oa");
  EXPECT_EQ(copy.ColCount(), 12);
  EXPECT_EQ(copy.RowCount(), 40);
  EXPECT_EQ(copy.TitleCols(), 0);
  EXPECT_EQ(copy.TitleRows(), 1);
  EXPECT_EQ(copy.GetDefSize(sCols), 72);
  EXPECT_EQ(copy.GetSize(11, sCols), 150);
  EXPECT_EQ(copy.PrintScale(), 80);
  EXPECT_EQ(copy.PrintMode(), pmCustom);
  EXPECT_EQ(copy.PrintMargin(1), 10);
  EXPECT_EQ(copy.PrintTitles(), AxisBit(sRows));
  EXPECT_TRUE(copy.ReadOnly());
  EXPECT_EQ(copy.GetAsString(11, 39), "last");
  EXPECT_EQ(copy.FindCell(3, 3)->Styles(), CellStyleBit(csReadOnly));
  EXPECT_EQ(copy.GetAsString(2, 2), "=A1*2");
  EXPECT_FALSE(copy.Modified());

  TMemoryStream again;
  copy.SaveToStream(again);
  EXPECT_EQ(again.Data(), saved.Data());

  // A styler link travels by name and is passed over by a reader without that styler.
  TXLStyler styler;
  styler.Name = "XLStyler1";
  sheet.SetStyler(&styler);
  TMemoryStream linked;
  sheet.SaveToStream(linked);
  const TComponentData data = ReadComponentStream(linked.Data());
  ASSERT_NE(data.Find("Styler"), nullptr);
  EXPECT_EQ(data.Find("Styler")->AsIdent(), "XLStyler1");
  linked.SetPosition(0);
  copy.LoadFromStream(linked);
  EXPECT_EQ(copy.Styler(), nullptr);
  EXPECT_EQ(copy.GetAsString(11, 39), "last");
  sheet.SetStyler(nullptr);
}

TEST(SheetComponentStream, SampleInItsEnvelopeAndBrokenEnvelopes) {
  TComponentData c;
  c.ClassName = "TXLSheet";
  c.Name = "XLSheet1";
  c.AddInteger("ColCount", 3);
  c.AddInteger("RowCount", 4);
  c.Add("OnCellChanged", TPropValue::Ident("XLSheetCellChanged"));
  c.Add("Styler", TPropValue::Ident("XLStyler1"));
  c.Add("XLData", TPropValue::Binary(SampleBytes()));
  const std::string bytes = ComponentStreamBytes(c);
  TXLSheet sheet;
  TMemoryStream m(bytes);
  sheet.LoadFromStream(m);
  EXPECT_EQ(sheet.Name, "XLSheet1");
  EXPECT_EQ(sheet.ColCount(), 3);
  EXPECT_EQ(sheet.Section(sClient)->CellCount(), 2);
  EXPECT_EQ(sheet.XLData(), SampleBytes());

  TMemoryStream original;
  sheet.SaveToStream(original);
  for (size_t n = 0; n < bytes.size(); ++n) {
    TMemoryStream cut(bytes.substr(0, n));
    EXPECT_THROW(sheet.LoadFromStream(cut), EXLGridError) << "cut at " << n;
  }
  TMemoryStream after;
  sheet.SaveToStream(after);
  EXPECT_EQ(after.Data(), original.Data());
  TComponentData wrong = c;
  wrong.Properties[0].Value = TPropValue::String("five");
  TMemoryStream w(ComponentStreamBytes(wrong));
  EXPECT_THROW(sheet.LoadFromStream(w), EXLGridError);
}

// A stored sheet asks the windows that show it for room: a line wider than any window, a
// default size out of range, hidden lines' saved sizes, or lines that fit one by one but add
// up past what a view can address at its largest zoom are refused; the sheet stays as it was.
TEST(SheetComponentStream, LinesNoWindowCanHoldAreRefusedAndTheSheetIsKept) {
  auto saved = [](const std::function<void(TXLSheet&)>& build) {
    TXLSheet s;
    build(s);
    TMemoryStream m;
    s.SaveToStream(m);
    return m.TakeData();
  };
  auto properties = [](std::initializer_list<std::pair<const char*, int32_t>> values) {
    TComponentData c;
    c.ClassName = "TXLSheet";
    c.Name = "XLSheet";
    for (const auto& [name, v] : values) c.AddInteger(name, v);
    c.Add("XLData", TPropValue::Binary(DefaultSheetBytes()));
    return ComponentStreamBytes(c);
  };
  const std::string wideColumn = saved([](TXLSheet& s) { s.SetSize(1, sCols, 20000000); });
  const std::string refused[] = {
      wideColumn,
      saved([](TXLSheet& s) {
        s.SetSize(2, sRows, 100000);
        s.SetVisible(2, sRows, false);  // kept as the hidden row's saved size
      }),
      properties({{"ColDefWidth", 40000}}),
      properties({{"RowDefHeight", -15}}),
      properties({{"ColCount", XLMaxIndex + 1}, {"ColDefWidth", XLMaxLineSize}}),
  };
  for (const std::string& bytes : refused) {
    TXLSheet sheet;
    sheet.SetAsString(1, 1, "kept");
    TMemoryStream before;
    sheet.SaveToStream(before);
    TMemoryStream in(bytes);
    EXPECT_THROW(sheet.LoadFromStream(in), EXLGridError);
    TMemoryStream after;
    sheet.SaveToStream(after);
    EXPECT_EQ(after.Data(), before.Data());
  }
  // The bare sheet stream is held to the same.
  TXLSheet bare;
  EXPECT_THROW(Load(bare, ReadComponentStream(wideColumn).Find("XLData")->AsBinary()), EXLGridError);
  EXPECT_EQ(bare.GetSize(1, sCols), 60);

  // Long sheets and wide lines within the limits load.
  TXLSheet sheet;
  TMemoryStream fits(saved([](TXLSheet& s) {
    s.SetCount(sRows, XLMaxIndex + 1);
    s.SetSize(1, sCols, XLMaxLineSize);
  }));
  sheet.LoadFromStream(fits);
  EXPECT_EQ(sheet.RowCount(), XLMaxIndex + 1);
  EXPECT_EQ(sheet.GetSize(1, sCols), XLMaxLineSize);
}

TEST(XLData, FarPagesCannotBuyHugePageTables) {
  // Each sub-list holds one page at the last page number; every one would need a page
  // table of 65,535 entries. A few hundred of them are refused.
  auto stream = [](int32_t lists) {
    ByteWriter w;
    w.Bytes(Header());
    for (int s = 0; s < 3; ++s) w.I32(0);
    w.I32(1 << (2 + ilColor));
    w.I32(lists);
    for (int32_t i = 0; i < lists; ++i) {
      w.I32(i);
      w.U8(0);
      w.I32(0);
      w.I32(1);
      w.I32(XLMaxPages - 1);
      for (int k = 0; k < 16; ++k) w.I32(k == 15 ? 5 : 0);
    }
    return w.Take();
  };
  TXLSheet sheet;
  Load(sheet, stream(4));
  EXPECT_EQ(sheet.Section(sClient)->GetItem(ilColor, XLMaxIndex, 3), 4);
  EXPECT_THROW(Load(sheet, stream(300)), EXLGridError);
}
