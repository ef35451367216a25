#include "grid/ComponentStream.h"

#include <gtest/gtest.h>

#include <string>

#include "core/Exception.h"

namespace {

std::string S(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

std::string Short(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

// A sheet as the document form stores it, with one of every value type.
TComponentData SampleSheet() {
  TComponentData c;
  c.ClassName = "TXLSheet";
  c.Name = "XLSheet";
  c.AddString("Author", "", "");                   // default: left out
  c.AddString("Title", std::string(300, 'x'), "");  // long string
  c.AddInteger("PrintMarginLeft", 0, 0);           // default: left out
  c.AddInteger("PrintScale", 150, 100);
  c.AddSet("PrintTitles", {"sCols"}, std::vector<AnsiString>{"sCols", "sRows"});
  c.AddBoolean("PrintGridLines", true, false);
  c.AddIdent("Styler", "XLStyler1");
  c.AddInteger("ColCount", 200, 5);
  c.AddInteger("RowCount", 100000, 5);
  c.AddInteger("ColMaxWidth", -3, 0);
  c.Add("Ratio", TPropValue::Extended(1.5));
  c.Add("Items", TPropValue::MakeList({TPropValue::String("a"), TPropValue::Integer(-129), TPropValue::Ident("nil")}));
  TPropValue coll;
  coll.Type = TValueType::vaCollection;
  coll.Collection = {{7, {{"Caption", TPropValue::String("one")}}}, {std::nullopt, {}}};
  c.Add("Columns", coll);
  c.Add("XLData", TPropValue::Binary(std::string("XLG\x16\0\xff", 6)));
  TComponentData child;
  child.ClassName = "TXLStyler";
  child.Name = "XLStyler1";
  child.Flags = ffInline | ffChildPos;
  child.ChildPos = 3;
  child.Add("Styles", TPropValue::Binary(std::string(4, '\0')));
  c.Children.push_back(child);
  return c;
}

}  // namespace

TEST(ComponentStream, WritesTheFrameworkLayoutByteForByte) {
  TComponentData c;
  c.ClassName = "TA";
  c.Name = "B";
  c.AddInteger("X", 5);
  c.AddInteger("Y", 300);
  c.AddString("S", "hi");
  c.AddBoolean("T", true);
  c.AddIdent("E", "haNone");
  c.AddSet("P", {"a", "b"});
  c.Add("D", TPropValue::Binary("\x01\x02"));
  const std::string expected = "TPF0" + Short("TA") + Short("B") + Short("X") + S({2, 5}) + Short("Y") +
                               S({3, 0x2c, 0x01}) + Short("S") + S({6}) + Short("hi") + Short("T") + S({9}) +
                               Short("E") + S({7}) + Short("haNone") + Short("P") + S({11}) + Short("a") + Short("b") +
                               S({0}) + Short("D") + S({10, 2, 0, 0, 0, 1, 2}) + S({0, 0});
  EXPECT_EQ(ComponentStreamBytes(c), expected);
  EXPECT_EQ(ReadComponentStream(expected), c);
}

TEST(ComponentStream, RoundTripsEveryValueKindAndLeavesDefaultsOut) {
  const TComponentData c = SampleSheet();
  EXPECT_EQ(c.Find("Author"), nullptr);
  EXPECT_EQ(c.Find("PrintMarginLeft"), nullptr);
  const std::string bytes = ComponentStreamBytes(c);

  TMemoryStream s(bytes + "tail");
  const TComponentData back = ReadComponentStream(s);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(bytes.size()));  // just past the component
  EXPECT_EQ(back, c);
  EXPECT_EQ(ComponentStreamBytes(back), bytes);

  EXPECT_EQ(back.Find("title")->AsString(), std::string(300, 'x'));
  EXPECT_EQ(back.Find("Title")->Type, TValueType::vaLString);
  EXPECT_EQ(back.Find("ColCount")->Type, TValueType::vaInt16);
  EXPECT_EQ(back.Find("RowCount")->Type, TValueType::vaInt32);
  EXPECT_EQ(back.Find("RowCount")->AsInteger(), 100000);
  EXPECT_EQ(back.Find("ColMaxWidth")->AsInteger(), -3);
  EXPECT_EQ(back.Find("Ratio")->AsFloat(), 1.5);
  EXPECT_TRUE(back.Find("PrintGridLines")->AsBoolean());
  EXPECT_EQ(back.Find("PrintTitles")->AsSet(), std::vector<AnsiString>{"sCols"});
  EXPECT_EQ(back.Find("Styler")->AsIdent(), "XLStyler1");
  EXPECT_EQ(back.Find("XLData")->AsBinary(), std::string("XLG\x16\0\xff", 6));
  ASSERT_EQ(back.Children.size(), 1u);
  EXPECT_EQ(back.Children[0].ChildPos, 3);
  EXPECT_THROW(back.Find("XLData")->AsInteger(), EReadError);
  EXPECT_THROW(back.Find("Title")->AsBinary(), EReadError);
}

TEST(ComponentStream, ReaderDropsEventBindingsAndReadsForeignStringTypes) {
  const std::string bytes = "TPF0" + Short("TXLSheet") + Short("XLSheet") + Short("OnCellChanged") + S({7}) +
                            Short("XLSheetCellChanged") + Short("Name8") + S({20, 3, 0, 0, 0}) + "\xe4\xb8\xad" +
                            Short("Wide") + S({18, 1, 0, 0, 0, 0x2d, 0x4e}) + Short("Big") +
                            S({19, 0, 0, 0, 0, 1, 0, 0, 0}) + Short("Money") + S({16, 0x10, 0x27, 0, 0, 0, 0, 0, 0}) +
                            Short("When") + S({17, 0, 0, 0, 0, 0, 0, 0xf8, 0x3f}) + Short("Half") +
                            S({15, 0, 0, 0, 0x3f}) + S({0, 0});
  const TComponentData c = ReadComponentStream(bytes);
  EXPECT_EQ(c.Find("OnCellChanged"), nullptr);
  EXPECT_EQ(c.Find("Name8")->AsString(), Cp936("中"));
  EXPECT_EQ(c.Find("Wide")->AsString(), Cp936("中"));
  EXPECT_EQ(c.Find("Big")->AsInteger(), int64_t(1) << 32);
  EXPECT_EQ(c.Find("Money")->AsFloat(), 1.0);
  EXPECT_EQ(c.Find("When")->AsFloat(), 1.5);
  EXPECT_EQ(c.Find("Half")->AsFloat(), 0.5);
}

TEST(ComponentStream, HostileInputIsAReadErrorNeverACrash) {
  const std::string good = ComponentStreamBytes(SampleSheet());
  for (size_t cut = 0; cut < good.size(); ++cut) {
    TMemoryStream s(good.substr(0, cut));
    EXPECT_THROW(ReadComponentStream(s), EReadError) << "cut at " << cut;
    EXPECT_EQ(s.Position(), 0);  // left where it was
  }
  auto message = [](const std::string& bytes) {
    try {
      ReadComponentStream(bytes);
    } catch (const EReadError& e) {
      return e.Message();
    }
    return AnsiString("no error");
  };
  EXPECT_EQ(message("TPF1" + good.substr(4)), "Invalid stream format");
  const std::string head = "TPF0" + Short("T") + Short("N") + Short("P");
  EXPECT_EQ(message(head + S({21, 0, 0})), "Invalid stream format");  // no such value type
  EXPECT_EQ(message(head + S({10, 0xff, 0xff, 0xff, 0x7f}) + "ab"), "Stream read error");  // binary length
  EXPECT_EQ(message(head + S({12, 0xff, 0xff, 0xff, 0xff})), "Stream read error");
  EXPECT_EQ(message(head + S({18, 0xff, 0xff, 0xff, 0xff})), "Stream read error");
  EXPECT_EQ(message(head + S({14, 5, 0})), "Invalid stream format");  // collection item without its list
  EXPECT_EQ(message(head + std::string(100000, '\x01')), "Invalid stream format");  // nested lists
  std::string children = "TPF0";
  for (int i = 0; i < 100; ++i) children += Short("T") + Short("N") + S({0});
  EXPECT_EQ(message(children), "Invalid stream format");  // nested components
}

TEST(ComponentStream, WriterRefusesWhatCannotBeRead) {
  TComponentData c;
  c.ClassName = std::string(256, 'T');
  EXPECT_THROW(ComponentStreamBytes(c), EWriteError);
  c.ClassName = "T";
  c.Add("", TPropValue::Integer(1));
  EXPECT_THROW(ComponentStreamBytes(c), EWriteError);
  c.Properties.clear();
  c.Add("P", TPropValue::MakeSet({"a", ""}));
  EXPECT_THROW(ComponentStreamBytes(c), EWriteError);
}

TEST(ComponentStream, MutatedStreamsReadOrRaise) {
  const std::string good = ComponentStreamBytes(SampleSheet());
  uint32_t seed = 5;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 3000; ++round) {
    std::string bad = good;
    for (int k = 0; k < 1 + round % 3; ++k) bad[next() % bad.size()] = static_cast<char>(next() >> 24);
    try {
      const TComponentData c = ReadComponentStream(bad);
      EXPECT_EQ(ReadComponentStream(ComponentStreamBytes(c)), c) << "round " << round;
    } catch (const EReadError&) {
    } catch (const EWriteError&) {
      // read fine but holds something the writer refuses (a 256-byte name cannot arise)
      ADD_FAILURE() << "round " << round;
    }
  }
}
