// Opinion line and phrases, and the document number taken from the server's number list.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTextEdit>

#include "apps/oa-server/OaService.h"
#include "control/ControlTestSupport.h"
#include "control/form/DocNumbering.h"
#include "control/form/DocOpinion.h"
#include "core/Exception.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"

namespace {


TEST(DocOpinion, CellTextMenuAndPhrases) {
  TestApp();
  const TDateTime at = EncodeDate(2008, 3, 9) + EncodeTime(14, 7, 0, 0);
  const AnsiString line = OpinionLine(at, Cp936("张三"), Cp936("同意"));
  EXPECT_EQ(line, Cp936("2008-03-09 14:07 张三：同意"));
  EXPECT_EQ(OpinionCellText(Cp936("早先意见"), line), Cp936("早先意见") + "\r" + line);
  EXPECT_EQ(OpinionCellText("", line), line);

  EXPECT_EQ(AppendPhrase("", "", Cp936("阅")), Cp936("请阅"));
  EXPECT_EQ(AppendPhrase(Cp936("请张三阅"), Cp936("李四"), Cp936("办")), Cp936("请张三阅李四办"));
  EXPECT_EQ(AddMenuPhrase("", Cp936("同意")), Cp936("同意"));
  EXPECT_EQ(AddMenuPhrase(Cp936("同意"), Cp936("速办")), Cp936("同意，速办"));

  QMenu menu;
  menu.addAction(QString::fromUtf8("签名"));
  menu.addSeparator();
  menu.addSeparator();
  menu.addAction(QString::fromUtf8("审批意见合成"));
  AnsiString picked;
  BuildPhraseMenu(&menu, {{"A", 0}, {"B", 1}, {"C", 0}}, [&](const AnsiString& p) { picked = p; });
  QStringList items;
  for (QAction* a : menu.actions()) items << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(items.join(' '), QString::fromUtf8("签名 - A C - B - 审批意见合成"));
  menu.actions()[3]->trigger();
  EXPECT_EQ(picked, "C");

  // The panel: an approver picked in the tree, then "阅".
  QTextEdit memo;
  TPhrasePanel panel(&memo, nullptr);
  frames::UserRecord u{"{U}", "zs", Cp936("张三"), 1, Cp936("办公室"), 10, Cp936("综合科")};
  panel.LoadUserRecords(frames::BuildUserListReply({u}));
  panel.SelectApprover(panel.treSP()->Find(Cp936("10"), nkDepartment));  // not a user: no change
  EXPECT_TRUE(panel.SelectedUser().empty());
  panel.SelectApprover(panel.treSP()->Find("{U}", nkUser));
  panel.AppendPhrase(Cp936("阅"));
  EXPECT_EQ(ToAnsi(memo.toPlainText()), Cp936("请张三阅"));
  EXPECT_TRUE(panel.SelectedUser().empty());
  panel.Close();
  EXPECT_EQ(panel.treSP()->topLevelItemCount(), 0);
  EXPECT_TRUE(panel.Approvers().empty());
}

TEST(DocNumbering, NumberFromTheServersListFormattedAndTyped) {
  TestApp();
  EXPECT_EQ(FormatDocNumber(Cp936(" 发文 "), " 2008 ", 12), Cp936("发文[2008]12号"));

  OaDatabase db;
  db.Open(":memory:");
  const oa::OaService service(db);
  const std::vector<frames::NumberEntry> kinds = db.NumberKinds(1);
  ASSERT_GE(kinds.size(), 2u);

  TNumberPanel panel(nullptr);
  std::vector<TTakenNumber> taken;
  panel.OnNumberTaken = [&](const TTakenNumber& t) { taken.push_back(t); };
  panel.Open(2008);
  panel.ShowNumberList(*service.Reply(frames::BuildNumbersRequest(1, "oa_leave")));
  ASSERT_EQ(panel.flbNO()->count(), static_cast<int>(kinds.size()));
  EXPECT_EQ(ToAnsi(panel.flbNO()->item(1)->text()), Trim(kinds[1].prefix) + " | " + IntToStr(kinds[1].nextNumber));

  panel.Confirm();  // nothing selected
  EXPECT_TRUE(taken.empty());
  panel.flbNO()->setCurrentRow(1);
  panel.Confirm();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].index, 1);
  EXPECT_EQ(taken[0].typeId, kinds[1].kindId);
  EXPECT_EQ(taken[0].number, kinds[1].nextNumber);
  EXPECT_EQ(taken[0].text, FormatDocNumber(kinds[1].prefix, "2008", kinds[1].nextNumber));
  EXPECT_TRUE(panel.isHidden());

  // A typed number wins over the next free one; only digits can be typed.
  panel.edtNO()->setText("12");
  panel.flbNO()->setCurrentRow(0);
  panel.Confirm();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[1].number, 12);
  EXPECT_EQ(taken[1].text, Trim(kinds[0].prefix) + Cp936("[2008]12号"));
  panel.edtNO()->clear();
  QTest::keyClicks(panel.edtNO(), "1a2");
  EXPECT_EQ(panel.edtNO()->text(), "12");

  EXPECT_FALSE(TakeNumber(kinds, static_cast<int>(kinds.size()), "", "2008"));  // stale selection
  EXPECT_THROW(TakeNumber(kinds, 0, "12x", "2008"), EConvertError);
}

}  // namespace
