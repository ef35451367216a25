// Base styles, named styles, aliases and the styler's "Styles" property.
#include <gtest/gtest.h>

#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

TEST(XLStyles, BaseStylesGiveTheSheetDefaults) {
  TXLSheet sheet;
  TXLBaseStyle* client = sheet.BaseClientStyle();
  EXPECT_EQ(client->Props(), XLAllProps);
  EXPECT_EQ(client->Color(), clWindow);
  EXPECT_EQ(client->LinesColor(), clBtnFace);
  EXPECT_EQ(client->ErrorColor(), 255);
  EXPECT_EQ(client->GetNamePath(), "XLSheet.BaseClientStyle");
  TXLBaseStyle* title = sheet.BaseTitleStyle();
  EXPECT_EQ(title->LinesColor(), 0);
  EXPECT_EQ(title->VertAlign(), vaCenter);

  TXLCell* plain = sheet.GetCell(0, 0);
  TXLCell* own = sheet.GetCell(1, 0);
  own->SetColor(clRed);
  client->SetColor(clYellow);
  EXPECT_EQ(plain->Color(), clYellow);
  EXPECT_EQ(own->Color(), clRed);
  EXPECT_EQ(sheet.GetCell(-1, 0)->Color(), clBtnFace);  // title cells keep theirs
  client->Font().SetName("Courier");
  EXPECT_EQ(plain->Font().Name(), "Courier");
  EXPECT_FALSE(plain->HasProp(prFont));
}

TEST(XLStyles, AliasesAreUniqueWithinAStyler) {
  TXLStyler styler;
  TXLStyle* a = styler.Add();
  TXLStyle* b = styler.Add();
  a->SetAlias("Money");
  b->SetAlias("Date");
  try {
    b->SetAlias("Money");
    FAIL() << "a duplicate alias was accepted";
  } catch (const EXLGridError& e) {
    EXPECT_STREQ(e.what(), "Style named \"Money\" already exists!");
  }
  EXPECT_EQ(b->Alias(), "Date");
  styler.SetModified(false);
  a->SetAlias("Money");  // its own alias: nothing happens
  EXPECT_FALSE(styler.Modified());
  b->SetAlias("money");  // aliases compare with case
  EXPECT_EQ(styler.FindByAlias("money"), b);
  styler.Name = "FormStyler";
  EXPECT_EQ(b->GetNamePath(), "FormStyler.Styles[1]");
}

TEST(XLStyles, CellsFollowTheirStyleAndLoseItWithTheStyle) {
  TXLStyler styler;
  TXLSheet sheet;
  sheet.SetStyler(&styler);
  TXLStyle* style = styler.Add();
  style->SetColor(clAqua);
  TXLCell* c = sheet.GetCell(0, 0);
  c->SetBasedOn(style);
  EXPECT_EQ(c->Color(), clAqua);
  style->SetColor(clLime);
  EXPECT_EQ(c->Color(), clLime);

  TXLStyler other;
  TXLStyle* foreign = other.Add();
  try {
    c->SetBasedOn(foreign);
    FAIL() << "a style of another styler was accepted";
  } catch (const EXLGridError& e) {
    EXPECT_STREQ(e.what(), "Cannot use Style from disconnected Styler!");
  }
  EXPECT_EQ(c->GetBasedOn(), style);

  styler.Delete(style);
  EXPECT_EQ(c->GetBasedOn(), nullptr);
  EXPECT_EQ(c->Color(), clWindow);
  sheet.SetStyler(nullptr);
}

TEST(XLStyles, StyleLinksTravelInTheSheetStream) {
  TXLStyler styler;
  styler.Add()->SetAlias("first");
  TXLStyle* second = styler.Add();
  second->SetAlias("second");
  second->SetHorzAlign(haCenter);
  TXLSheet sheet;
  sheet.SetStyler(&styler);
  sheet.GetCell(0, 1)->SetBasedOn(second);
  const std::string data = sheet.XLData();

  TXLSheet same;
  same.SetStyler(&styler);
  TMemoryStream m1(data);
  same.ReadXLData(m1);
  EXPECT_EQ(same.FindCell(0, 1)->GetBasedOn(), second);
  EXPECT_EQ(same.FindCell(0, 1)->HorzAlign(), haCenter);

  TXLSheet none;
  TMemoryStream m2(data);
  none.ReadXLData(m2);
  EXPECT_EQ(none.FindCell(0, 1)->GetBasedOn(), nullptr);
  EXPECT_FALSE(none.FindCell(0, 1)->HasProp(prBasedOn));
  same.SetStyler(nullptr);
  sheet.SetStyler(nullptr);
}

TEST(XLStyles, StylesPropertyAppends) {
  TXLStyler source;
  for (const char* alias : {"a", "b", "c"}) source.Add()->SetAlias(alias);
  source.Styles(1)->SetColor(clTeal);
  TMemoryStream m;
  source.WriteStyles(m);
  EXPECT_FALSE(source.Modified());

  TXLStyler target;
  target.Add()->SetAlias("x");
  target.Add()->SetAlias("y");
  m.SetPosition(0);
  target.ReadStyles(m);
  ASSERT_EQ(target.StyleCount(), 5);
  EXPECT_EQ(target.Styles(3)->Alias(), "b");
  EXPECT_EQ(target.Styles(3)->Color(), clTeal);
  EXPECT_FALSE(target.Modified());

  // A count the bytes cannot hold is refused before anything is made.
  TMemoryStream bad(std::string("\xFF\xFF\xFF\x7F", 4));
  EXPECT_THROW(target.ReadStyles(bad), EXLGridError);
  EXPECT_EQ(target.StyleCount(), 5);
  // Nor does a stream that breaks off inside its last style add the ones before it.
  TMemoryStream cut(m.Data().substr(0, size_t(m.Size() - 3)));
  EXPECT_THROW(target.ReadStyles(cut), EXLGridError);
  EXPECT_EQ(target.StyleCount(), 5);
}
