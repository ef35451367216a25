// The user and unit dialogs loaded with the sample server's own "USER" and "COMP" replies.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTabWidget>

#include "ModalDriver.h"
#include "apps/oa-server/OaService.h"
#include "control/form/DocDistribution.h"
#include "control/form/frm_FenFa.h"
#include "control/form/frm_SelFenFa.h"
#include "control/select/frm_SelectUnit.h"
#include "control/select/frm_SelectUser.h"
#include "control/session/frm_Main.h"
#include "control/session/Un_function.h"
#include "control/ControlTestSupport.h"
#include "platform/Services.h"

namespace {

const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";
const char* kRecord = "{A0000000-1111-4222-8333-444444444444}";


// Captions from a node down to the root, root first.
std::vector<AnsiString> PathOf(const TUserNode* node) {
  std::vector<AnsiString> path;
  for (const QTreeWidgetItem* n = node; n; n = n->parent()) path.insert(path.begin(), static_cast<const TUserNode*>(n)->Caption());
  return path;
}

std::vector<AnsiString> Captions(const TUserTree* tree) {
  std::vector<AnsiString> out;
  for (const TUserNode* n : tree->Roots()) out.push_back(n->Caption());
  return out;
}

class SelectDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    db_.Open(":memory:");
  }
  // Every sample user as list kind `list`, marked when they hold kRecord.
  std::string DistributionUsers(int list) {
    return *service_.Reply(frames::BuildUserRequest("oa_leave", kRecord, frames::UserListMode::Distribution, 1, kZhang, list));
  }
  OaDatabase db_;
  oa::OaService service_{db_};
};

TEST_F(SelectDialogs, EveryListKindGoesToItsPageInItsShape) {
  TfrmSelectUser dlg;
  for (int list : {0, 1, 2, 3, 4, 5}) dlg.LoadUsers(DistributionUsers(list), {}, false);
  const size_t all = db_.Users(0).size();
  ASSERT_EQ(dlg.Users().size(), 6 * all);

  // Unit, then department (a sub-department under its parent when that came first), then user.
  const TUserNode* zhang = dlg.Tree(TfrmSelectUser::pgSelf)->Find(kZhang, nkUser);
  ASSERT_TRUE(zhang);
  EXPECT_EQ(PathOf(zhang), (std::vector<AnsiString>{Cp936("市政府办公室"), Cp936("综合科"), Cp936("张三")}));
  EXPECT_EQ(zhang->ImageIndex(), niUser);
  // Units in the order their first user came (login-name order).
  EXPECT_EQ(Captions(dlg.Tree(TfrmSelectUser::pgSelf)),
            (std::vector<AnsiString>{Cp936("市政府办公室"), Cp936("市人事局"), Cp936("市财政局")}));
  for (auto page : {TfrmSelectUser::pgExpUnit, TfrmSelectUser::pgOther, TfrmSelectUser::pgZhiShu, TfrmSelectUser::pgGroup})
    EXPECT_EQ(PathOf(dlg.Tree(page)->Find(kZhang, nkUser)), PathOf(zhang)) << page;
  // The groups page: group nodes with "unit[user]" beneath, no unit nodes.
  const TUserTree* groups = dlg.Tree(TfrmSelectUser::pgOtherGroup);
  EXPECT_FALSE(groups->Find("1", nkUnit));
  EXPECT_EQ(PathOf(groups->Find(kZhang, nkUser)), (std::vector<AnsiString>{Cp936("科长组"), Cp936("市政府办公室[张三]")}));
  EXPECT_TRUE(dlg.treSelectedUser()->Roots().empty());

  // The distribution dialog lists outside users flat under their unit; no "直属" page.
  TFrmFenFa fenfa;
  for (int list : {2, 3}) fenfa.LoadUsers(DistributionUsers(list), {}, true);
  EXPECT_EQ(PathOf(fenfa.Tree(TfrmSelectUser::pgOther)->Find(kZhang, nkUser)),
            (std::vector<AnsiString>{Cp936("市政府办公室"), Cp936("综合科[张三]")}));
  EXPECT_EQ(fenfa.Tree(TfrmSelectUser::pgZhiShu)->topLevelItemCount(), 0);
}

TEST_F(SelectDialogs, PreselectionDuplicatesOrderAndCapacity) {
  TfrmSelectUser dlg;
  dlg.LoadUsers(DistributionUsers(0), Cp936("李四,无此人"), false);
  dlg.LoadUsers(DistributionUsers(2), Cp936("预算科[王五]"), false);
  ASSERT_EQ(Captions(dlg.treSelectedUser()), (std::vector<AnsiString>{Cp936("李四"), Cp936("王五")}));
  EXPECT_EQ(dlg.Tree(TfrmSelectUser::pgSelf)->Find(kLisi, nkUser)->ImageIndex(), niMarked);

  // ">" on a chosen user changes nothing; ">>" on a department adds its users once each.
  TUserTree* self = dlg.Tree(TfrmSelectUser::pgSelf);
  self->setCurrentItem(self->Find(kLisi, nkUser));
  dlg.AddSelected(false);
  EXPECT_EQ(dlg.treSelectedUser()->NodeCount(), 2);
  self->setCurrentItem(self->Find("1", nkUnit));
  dlg.AddSelected(false);  // ">" on a unit adds nothing
  EXPECT_EQ(dlg.treSelectedUser()->NodeCount(), 2);
  dlg.AddSelected(true);
  const std::vector<AnsiString> chosen = Captions(dlg.treSelectedUser());
  ASSERT_GE(chosen.size(), 5u);
  EXPECT_EQ(std::count(chosen.begin(), chosen.end(), Cp936("李四")), 1);
  EXPECT_EQ(chosen[0], Cp936("李四"));
  EXPECT_EQ(chosen[1], Cp936("王五"));

  // The caller's array bounds the entries; what is written is the ID and name only.
  std::vector<frames::PickedUser> entries(3, frames::PickedUser{"old", "old", 77, ",7,"});
  AnsiString names;
  EXPECT_EQ(dlg.GetSelectedUsers(1, names, entries), 2);
  EXPECT_EQ(entries[0].userId, "old");
  EXPECT_EQ(entries[1].userId, kLisi);
  EXPECT_EQ(entries[1].deptNumber, 0);
  EXPECT_TRUE(entries[1].deptNumbers.empty());
  EXPECT_EQ(names, Cp936("李四,王五"));
  EXPECT_EQ(dlg.GetSelectedUsers(3, names, entries), 0);
  EXPECT_TRUE(names.empty());

  // Query: blanks find nothing; a login name part finds its user.
  dlg.Query("   ");
  EXPECT_EQ(dlg.Tree(TfrmSelectUser::pgQuery)->topLevelItemCount(), 0);
  dlg.Query(" zhang ");
  EXPECT_EQ(Captions(dlg.Tree(TfrmSelectUser::pgQuery)), (std::vector<AnsiString>{Cp936("张三")}));
  EXPECT_EQ(dlg.CurrentTree(), dlg.Tree(TfrmSelectUser::pgQuery));

  dlg.treSelectedUser()->setCurrentItem(dlg.treSelectedUser()->topLevelItem(0));
  dlg.DeleteSelected();
  EXPECT_EQ(Captions(dlg.treSelectedUser())[0], Cp936("王五"));
  dlg.DeleteAll();
  EXPECT_EQ(dlg.ChosenUsers().size(), 0u);
}

// A query of blanks asks nothing and leaves the last result; "局机关" stays a page only when
// its list brings users.
TEST_F(SelectDialogs, BlankQueriesKeepTheResultAndAnEmptyBureauPageGoes) {
  TfrmSelectUser dlg;
  dlg.LoadUsers(DistributionUsers(0), {}, false);
  dlg.Query(" zhang ");
  dlg.Query("   ");
  EXPECT_EQ(Captions(dlg.Tree(TfrmSelectUser::pgQuery)), (std::vector<AnsiString>{Cp936("张三")}));

  std::vector<int> asked;
  dlg.OnRequestList = [&](int list) { asked.push_back(list); };
  dlg.pgcUser()->setCurrentIndex(TfrmSelectUser::pgExpUnit);
  dlg.pgcUser()->setCurrentIndex(TfrmSelectUser::pgOther);
  ASSERT_EQ(asked, (std::vector<int>{1, 2}));
  dlg.pgcUser()->setCurrentIndex(TfrmSelectUser::pgExpUnit);
  EXPECT_TRUE(dlg.pgcUser()->isTabVisible(TfrmSelectUser::pgExpUnit));  // nobody knows yet
  dlg.LoadUsers(frames::BuildUserListReply({}), {}, false);
  EXPECT_FALSE(dlg.pgcUser()->isTabVisible(TfrmSelectUser::pgExpUnit));
  EXPECT_EQ(dlg.pgcUser()->currentIndex(), TfrmSelectUser::pgSelf);
  dlg.LoadUsers(DistributionUsers(2), {}, false);  // the outside list, in its turn
  EXPECT_TRUE(dlg.pgcUser()->isTabVisible(TfrmSelectUser::pgOther));
  EXPECT_GT(dlg.Tree(TfrmSelectUser::pgOther)->topLevelItemCount(), 0);

  TfrmSelectUser withBureau;
  withBureau.LoadUsers(DistributionUsers(0), {}, false);
  withBureau.OnRequestList = [&](int) {};
  withBureau.pgcUser()->setCurrentIndex(TfrmSelectUser::pgExpUnit);
  withBureau.LoadUsers(DistributionUsers(1), {}, false);
  EXPECT_TRUE(withBureau.pgcUser()->isTabVisible(TfrmSelectUser::pgExpUnit));
  EXPECT_EQ(withBureau.pgcUser()->currentIndex(), TfrmSelectUser::pgExpUnit);
}

TEST_F(SelectDialogs, LazyPageReplyArrivesIntoTheOpenDialog) {
  TfrmMain session;
  TfrmSelectUser dlg;
  dlg.LoadUsers(DistributionUsers(0), {}, false);
  std::vector<int> asked;
  dlg.OnRequestList = [&](int list) {
    asked.push_back(list);
    // The reply comes back through the dispatcher while the dialog is up.
    QTimer::singleShot(0, [&, list] {
      TMemoryStream reply(DistributionUsers(list));
      DispatchReply(session, reply);
    });
  };
  bool filled = false;
  auto script = WhenModal<TfrmSelectUser>([&](TfrmSelectUser* d) {
    if (d->pgcUser()->currentIndex() != TfrmSelectUser::pgExpUnit) {
      d->pgcUser()->setCurrentIndex(TfrmSelectUser::pgExpUnit);
      return;
    }
    if (d->Tree(TfrmSelectUser::pgExpUnit)->topLevelItemCount() == 0) return;
    filled = true;
    d->pgcUser()->setCurrentIndex(TfrmSelectUser::pgSelf);
    d->pgcUser()->setCurrentIndex(TfrmSelectUser::pgExpUnit);  // loaded once only
    d->accept();
  });
  EXPECT_EQ(dlg.exec(), QDialog::Accepted);
  EXPECT_TRUE(filled);
  EXPECT_EQ(asked, std::vector<int>{1});
  EXPECT_FALSE(TfrmSelectUser::OpenDialog());
}

TEST_F(SelectDialogs, RecallAnsweredNoSendsNothingAndYesSendsFefb) {
  db_.RecordDistribution(kRecord, "FEFA", {kZhang});
  ServiceCapture capture;
  std::vector<std::string> sent;
  TDistribution flow;
  flow.Send = [&](std::string f) { sent.push_back(std::move(f)); };
  int run = 0;
  flow.RunModal = [&](QWidget& w) {
    auto& d = static_cast<TFrmFenFa&>(w);
    // Zhang holds the document: image 3, and nothing is chosen beforehand.
    EXPECT_EQ(d.Tree(TfrmSelectUser::pgSelf)->Find(kZhang, nkUser)->ImageIndex(), niMarked);
    EXPECT_EQ(d.treSelectedUser()->NodeCount(), 0);
    d.Tree(TfrmSelectUser::pgSelf)->setCurrentItem(d.Tree(TfrmSelectUser::pgSelf)->Find(kZhang, nkUser));
    d.AddSelected(false);
    d.EnterRecallMode();
    d.setModal(true);
    capture.promptAnswers = {run++ == 0 ? MsgResult::No : MsgResult::Yes};
    auto script = WhenModal<TFrmFenFa>([](TFrmFenFa* f) { f->findChild<QPushButton*>("BitBtn1")->click(); });
    return d.exec();
  };
  flow.UsersArrived(DistributionUsers(0), "oa_leave", kRecord, kLisi, nullptr);
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("是否回收所选用户的分发文件?"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("文件回收确认"));

  flow.UsersArrived(DistributionUsers(0), "oa_leave", kRecord, kLisi, nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(frames::FrameCode(sent[0]), "FEFB");
  ASSERT_EQ(sent[0].size(), 140u + 304u);
  EXPECT_EQ(sent[0].substr(141, 38), kZhang);
  EXPECT_EQ(sent[0][140 + 302], 1);  // the user holds the document
}

TEST_F(SelectDialogs, DistributionTypeOneGoesStraightToTheUserPicker) {
  int modal = 0, users = 0, units = 0, saved = 0, pumped = 0;
  TDistribution flow;
  flow.SaveForDistribution = [&] { return ++saved > 0; };
  flow.Pump = [&](int ms) { pumped = ms; };
  flow.RequestUsers = [&](int) { ++users; };
  flow.RequestUnits = [&] { ++units; };
  flow.RunModal = [&](QWidget& w) {
    ++modal;
    static_cast<TfrmSelFenFa&>(w).FlatSpeedButton2()->click();  // "对外发文"
    return static_cast<QDialog&>(w).result();
  };
  flow.Start(1, nullptr);
  EXPECT_EQ((std::vector<int>{modal, users, units, saved, pumped}), (std::vector<int>{0, 1, 0, 1, 400}));
  flow.Start(0, nullptr);
  EXPECT_EQ((std::vector<int>{modal, users, units}), (std::vector<int>{1, 1, 1}));
  flow.Start(2, nullptr);
  EXPECT_EQ((std::vector<int>{modal, users, units}), (std::vector<int>{1, 1, 2}));
}

TEST_F(SelectDialogs, UnitDialogSkipsDuplicatesAndKeepsChoiceOrder) {
  const std::string reply = *service_.Reply(frames::BuildUnitsRequest(1));
  TfrmSelectUnit dlg;
  dlg.LoadUnits(reply);
  dlg.LoadUnits(reply);
  ASSERT_EQ(Captions(dlg.treSelf()), (std::vector<AnsiString>{Cp936("市财政局"), Cp936("市人事局")}));
  dlg.Query(Cp936(" 人事 "));
  EXPECT_EQ(Captions(dlg.treQuery()), (std::vector<AnsiString>{Cp936("市人事局")}));
  dlg.treQuery()->setCurrentItem(dlg.treQuery()->topLevelItem(0));
  dlg.AddSelected();
  dlg.Pages()->setCurrentIndex(0);
  dlg.AddAll();
  const auto units = dlg.ChosenUnits();
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].number, 3);
  EXPECT_EQ(units[0].name, Cp936("市人事局"));
  EXPECT_EQ(units[1].number, 2);
  EXPECT_THROW(dlg.LoadUnits(reply.substr(0, reply.size() - 1)), frames::EFrameError);
  EXPECT_EQ(dlg.treSelf()->NodeCount(), 2);
}

TEST_F(SelectDialogs, ChoiceDialogMarksWhatWasDone) {
  TfrmSelFenFa dlg;
  dlg.Setup(true, false);
  EXPECT_EQ(dlg.FlatSpeedButton1()->text(), QString::fromUtf8("内部已分发"));
  EXPECT_EQ(dlg.FlatSpeedButton2()->text(), QString::fromUtf8("对外发文"));
  dlg.FlatSpeedButton1()->click();
  EXPECT_EQ(dlg.ChoiceFlag(), TfrmSelFenFa::ChoiceInternal);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

}  // namespace
