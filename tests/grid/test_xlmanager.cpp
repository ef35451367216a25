#include "grid/XLManager.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct FakeSheet : TXLSheetHooks {
  std::vector<std::string> calls;
  TXLVariant hookAnswer;
  int pageChanges = 0;
  void FunctionLookup(const AnsiString& name, const TXLVariant&, TXLVariant& result) override {
    calls.push_back("hook " + name);
    result = hookAnswer;
  }
  bool VariableLookup(const AnsiString& name, TXLVariant& result) override {
    calls.push_back("var hook " + name);
    result = hookAnswer;
    return !result.IsEmpty();
  }
  void PageMetricsChanged() override { ++pageChanges; }
};

}  // namespace

TEST(CellNames, ColumnsAreBijectiveBase26) {
  const std::vector<std::pair<int32_t, const char*>> cases = {
      {0, "A"}, {25, "Z"}, {26, "AA"}, {27, "AB"}, {701, "ZZ"}, {702, "AAA"}, {-1, ""}};
  for (auto [i, name] : cases) {
    EXPECT_EQ(ColName(i), name) << i;
    if (i >= 0) {
      EXPECT_EQ(ParseCellName(AnsiString(name) + "1").X, i) << name;
    }
  }
  EXPECT_EQ(CellName(0, 0), "A1");
  EXPECT_EQ(CellName(27, 11), "AB12");
}

TEST(CellNames, ParsingAcceptsLettersThenDecimalRow) {
  EXPECT_EQ(ParseCellName("ab12"), (TPoint{27, 11}));
  EXPECT_EQ(ParseCellName("Z007"), (TPoint{25, 6}));
  const char* bad[] = {"A0", "12", "", "A", "A1x", "A-1", "A 1", "$A$1", "A1.5",
                       // beyond the addressable cells, and far enough to overflow 32 bits
                       "AAAAAAA1", "ZZZZZZZZZZZZ1", "A99999999999", "A1048561"};
  for (const char* text : bad) {
    try {
      ParseCellName(text);
      ADD_FAILURE() << text << " parsed";
    } catch (const EXLGridError& e) {
      EXPECT_EQ(e.Message(), "Unknown identifier!") << text;
    }
  }
  EXPECT_EQ(ParseCellName("A1048560"), (TPoint{0, 1048559}));
}

TEST(Manager, ClassRegistryKeepsOrderAndFindsByNameSum) {
  TXLManager m;
  TXLClass str("TXLCString"), anagram("TXLCSrting"), num("TXLCInteger");
  TXLClass pick("TXLPickEdit"), memo("TXLMemo");
  EXPECT_EQ(TXLManager::ClassId(&str), 946);
  EXPECT_EQ(TXLManager::ClassId(nullptr), 0);
  EXPECT_EQ(m.RegisterClass(&str), 0);
  EXPECT_EQ(m.RegisterClass(&anagram), 1);
  EXPECT_EQ(m.RegisterClass(&str), 0);
  EXPECT_EQ(TXLManager::ClassId(&anagram), 946);
  EXPECT_EQ(m.ClassById(946), &str);  // the first registered of equal ids
  EXPECT_EQ(m.ClassById(1), nullptr);

  m.RegisterEditors({&str, &num}, {&pick, &memo});
  m.RegisterEditors({&str}, {&memo, &pick});  // already there: order unchanged
  EXPECT_EQ(m.ClassCount(), 3);
  EXPECT_EQ(m.ClassAt(2), &num);
  EXPECT_EQ(m.EditorCount(&str), 2);
  EXPECT_EQ(m.EditorClass(&str, 1), &memo);
  EXPECT_EQ(m.EditorClass(&str, 2), nullptr);
  EXPECT_EQ(m.EditorCount(&anagram), 0);
  TXLClass stranger("TXLCUrl");
  EXPECT_EQ(m.EditorCount(&stranger), 0);
  EXPECT_EQ(m.EditorClass(&stranger, 0), nullptr);
  EXPECT_EQ(m.Formats(&stranger), nullptr);
  m.Formats(&num)->push_back("0");
  EXPECT_EQ(m.Formats(&num)->at(0), "0");
}

TEST(Manager, FunctionLookupGoesManagerThenEventThenSheetHook) {
  TXLManager m;
  TXLVariant r;
  EXPECT_TRUE(m.CallFunction(nullptr, "double", TXLVariant::FromArray({TXLVariant("2.5")}), r));
  EXPECT_EQ(r, TXLVariant(2.5));
  EXPECT_TRUE(m.CallFunction(nullptr, "Integer", TXLVariant::FromArray({TXLVariant(2.5)}), r));
  EXPECT_EQ(r, TXLVariant(int32_t(2)));  // half to even

  FakeSheet sheet;
  EXPECT_FALSE(m.CallFunction(nullptr, "NOPE", TXLVariant(), r));
  r = TXLVariant(int32_t(1));
  sheet.OnFunction = [&](TXLSheetHooks* sender, const AnsiString& name, const TXLVariant&, TXLVariant& res) {
    EXPECT_EQ(sender, &sheet);
    EXPECT_TRUE(res.IsEmpty());  // cleared before the event
    sheet.calls.push_back("event " + name);
  };
  EXPECT_FALSE(m.CallFunction(&sheet, "Nope", TXLVariant(), r));
  EXPECT_EQ(sheet.calls, (std::vector<std::string>{"event Nope", "hook Nope"}));

  sheet.hookAnswer = TXLVariant("x");
  EXPECT_TRUE(m.CallFunction(&sheet, "Nope", TXLVariant(), r));
  EXPECT_EQ(r, TXLVariant("x"));

  sheet.calls.clear();
  sheet.OnFunction = [](TXLSheetHooks*, const AnsiString&, const TXLVariant&, TXLVariant& res) { res = 7; };
  EXPECT_TRUE(m.CallFunction(&sheet, "Nope", TXLVariant(), r));
  EXPECT_EQ(r, TXLVariant(int32_t(7)));
  EXPECT_TRUE(sheet.calls.empty());  // the event answered: no hook

  m.RegisterVariable("Today", [](TXLSheetHooks*, TXLVariant& res) { res = TXLVariant("now"); });
  EXPECT_TRUE(m.GetVariable(nullptr, "TODAY", r));
  EXPECT_EQ(r, TXLVariant("now"));
  sheet.hookAnswer = TXLVariant();
  EXPECT_FALSE(m.GetVariable(&sheet, "B2", r));
  EXPECT_EQ(sheet.calls, (std::vector<std::string>{"var hook B2"}));

  EXPECT_THROW(m.RegisterFunction("STRING", {}), EStringListError);
  EXPECT_THROW(m.RegisterVariable("today", {}), EStringListError);
}

TEST(Manager, PageMetricsFallBackWithoutPrinterAndTellSheets) {
  TXLManager m;
  EXPECT_EQ(m.PrinterDpiX(), 600);
  EXPECT_EQ(m.PrinterPageWidth(), 4676);
  EXPECT_EQ(m.PrinterPageHeight(), 6744);
  EXPECT_EQ(m.PageRect(), (TRect{0, 0, 748, 1079}));  // 4676 x 96 / 600, 6744 x 96 / 600

  FakeSheet a, b;
  m.AddSheet(&a);
  m.AddSheet(&b);
  m.RemoveSheet(&b);
  m.SetPrinterQuery([] { return std::optional<TXLPrinterInfo>(TXLPrinterInfo{300, 150, 2400, 3300}); });
  m.Update();
  EXPECT_EQ(m.PageRect(), (TRect{0, 0, 768, 2112}));
  EXPECT_EQ(a.pageChanges, 1);
  EXPECT_EQ(b.pageChanges, 0);
  // Printer pixels become screen pixels by truncation: 4681 x 96 / 600 = 748.96.
  m.SetPrinterQuery([] { return std::optional<TXLPrinterInfo>(TXLPrinterInfo{600, 600, 4681, 6749}); });
  m.Update();
  EXPECT_EQ(m.PageRect(), (TRect{0, 0, 748, 1079}));
  m.SetPrinterQuery([] { return std::optional<TXLPrinterInfo>(TXLPrinterInfo{0, 0, 10, 10}); });
  m.Update();  // a printer with no resolution counts as none
  EXPECT_EQ(m.PrinterDpiY(), 600);
}

TEST(Manager, HolderRefusesAccessAfterShutdown) {
  TXLManagerHolder holder;
  TXLManager& first = holder.Get();
  EXPECT_EQ(&holder.Get(), &first);
  holder.Finalize();
  try {
    holder.Get();
    ADD_FAILURE() << "no error";
  } catch (const EXLGridError& e) {
    EXPECT_EQ(e.Message(), "XLManager has been already destroyed!");
  }
  EXPECT_EQ(&XLManager(), &XLManager());
}

TEST(Manager, FormulaErrorsFormatTheirArgumentsLiterally) {
  EXLSyntax e("Syntax Error: %s", {"Missing ')'"}, 4);
  EXPECT_EQ(e.Message(), "Syntax Error: Missing ')'");
  EXPECT_EQ(e.Position(), 4);
  EXLUnknown u("Unknown Identifier: %s", {"%d%n%s()"}, 0);
  EXPECT_EQ(u.Message(), "Unknown Identifier: %d%n%s()");
}

TEST(StreamPrimitives, RoundTripAndRefuseShortInput) {
  TMemoryStream s;
  WriteInt(s, -2);
  WriteDouble(s, 1.5);
  WriteString(s, "ab");
  WriteString(s, "");
  EXPECT_EQ(s.Data(), std::string("\xfe\xff\xff\xff\0\0\0\0\0\0\xf8\x3f\x02\0\0\0ab\0\0\0\0", 22));
  s.SetPosition(0);
  EXPECT_EQ(ReadInt(s), -2);
  EXPECT_EQ(ReadDouble(s), 1.5);
  EXPECT_EQ(ReadString(s), "ab");
  EXPECT_EQ(ReadString(s), "");

  TMemoryStream negative(std::string("\xf6\xff\xff\xff", 4));
  EXPECT_EQ(ReadString(negative), "");  // a length below 1 is the empty string

  const std::string full = s.Data();
  for (size_t cut : {0, 3, 7, 11, 13, 17}) {
    TMemoryStream t(full.substr(0, cut));
    EXPECT_THROW(
        {
          ReadInt(t);
          ReadDouble(t);
          ReadString(t);
          ReadString(t);
        },
        EXLGridError)
        << cut;
  }
  TMemoryStream huge(std::string("\xff\xff\xff\x7f", 4));
  EXPECT_THROW(ReadString(huge), EXLGridError);
}

TEST(Rectangles, HelpersCoverCellsTheWayTheGridCountsThem) {
  EXPECT_EQ(RectFromPoints({4, 1}, {2, 3}), (TRect{2, 1, 5, 4}));
  EXPECT_TRUE(PointInCells(5, 4, TRect{2, 1, 5, 4}));
  EXPECT_FALSE(PointInCells(6, 4, TRect{2, 1, 5, 4}));
  EXPECT_EQ(TextBefore("0.00|s", '|'), "0.00");
  EXPECT_EQ(TextAfter("0.00|s", '|'), "s");
  EXPECT_EQ(TextBefore("abc", '|'), "abc");
  EXPECT_EQ(TextAfter("abc", '|'), "");

  auto d = RectDifference({0, 0, 2, 2}, {5, 5, 6, 6});
  EXPECT_EQ(d[0], (TRect{0, 0, 2, 2}));
  EXPECT_EQ(d[1], (TRect{5, 5, 6, 6}));
  EXPECT_TRUE(d[2].IsEmpty());

  // Growing a selection by one column and one row: every changed cell is in a strip and
  // no strip covers a cell that is in both selections.
  const TRect o{1, 1, 3, 3}, n{1, 1, 4, 4};
  d = RectDifference(o, n);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inO = x >= o.Left && x < o.Right && y >= o.Top && y < o.Bottom;
      const bool inN = x >= n.Left && x < n.Right && y >= n.Top && y < n.Bottom;
      bool covered = false;
      for (const auto& r : d) covered |= x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
      if (inO != inN) {
        EXPECT_TRUE(covered) << x << "," << y;
      }
      if (inO && inN) {
        EXPECT_FALSE(covered) << x << "," << y;
      }
    }

  EXPECT_EQ(SideBounds(0, {0, 0, 10, 5}), (std::pair<TPoint, TPoint>{{0, 0}, {9, 4}}));
  EXPECT_EQ(SideBounds(1, {0, 0, 10, 5}), (std::pair<TPoint, TPoint>{{0, 4}, {9, 0}}));

  auto right = ArrowHead({0, 0}, {10, 0});
  EXPECT_EQ(right[0], (TPoint{10, 0}));
  EXPECT_EQ(right[1], (TPoint{4, -3}));
  EXPECT_EQ(right[2], (TPoint{4, 3}));
  auto left = ArrowHead({10, 0}, {0, 0});
  EXPECT_EQ(left[1], (TPoint{6, 3}));
  auto down = ArrowHead({0, 0}, {0, 10});
  EXPECT_EQ(down[1], (TPoint{3, 4}));
}
