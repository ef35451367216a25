// Distribution and numbering through the dialogs and the control's transport against the
// real oa-server: what the dialogs chose is what the server keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>

#include "apps/oa-server/OaDatabase.h"
#include "control/form/DocDistribution.h"
#include "control/form/DocNumbering.h"
#include "control/form/frm_FenFa.h"
#include "control/select/frm_SelectUnit.h"
#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "e2e/AdminSession.h"
#include "e2e/E2eSupport.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-distribution"); }

const char* kRecord = "{B0000000-1111-4222-8333-444444444444}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";

class DistributionE2E : public AdminSessionTest {
 protected:
  void SetUp() override {
    App();
    AdminSessionTest::SetUp();
  }
  TStream2Array Open(const char* templateName = "") {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.recordId = kRecord;
    q.templateName = Cp936(templateName);
    q.commandFlag = 1;
    q.readOnlyFlag = 1;
    TStream2Array d;
    d.LoadFromBytes(Exchange(frames::BuildQueryRequest(q)));
    return d;
  }
  AnsiString Save(TStream2Array& d) {
    d.Fields = {{1, 1, Cp936("标题"), "", "t"}};
    return frames::ParseServerMessage(
        Exchange(d.BuildUpdateFrame(d.Header.Text(dh::TableName), kRecord, 0, SessionValues()).Data()));
  }
  // Waits for n more server messages than there were.
  bool WaitMessages(size_t n) {
    return PumpUntil([&] { return Messages().size() >= n; }, 10000);
  }
  std::vector<AnsiString> Messages() const {
    std::vector<AnsiString> out;
    for (const std::string& r : replies_)
      if (frames::FrameCode(r) == "SMSG") out.push_back(frames::ParseServerMessage(r));
    return out;
  }

};

TEST_F(DistributionE2E, InsideToTwoUsersAndOutsideToOneUnit) {
  TStream2Array d = Open("请假单");
  const AnsiString saved = Save(d);
  ASSERT_FALSE(saved.empty());
  ASSERT_NE(saved[0], '|') << saved;
  const AnsiString table = d.Header.Text(dh::TableName);
  const size_t messagesBefore = Messages().size();

  TDistribution flow;
  flow.RequestUsers = [&](int list) {
    session_->SendToServer(frames::BuildUserRequest(table, kRecord, frames::UserListMode::Distribution,
                                                    SessionValues().CompID, SessionValues().UserGUID, list));
  };
  flow.RequestUnits = [&] { session_->SendToServer(frames::BuildUnitsRequest(SessionValues().CompID)); };
  flow.Send = [&](std::string frame) { session_->SendToServer(std::move(frame)); };
  flow.RunModal = [](QWidget& w) {
    if (auto* fenfa = qobject_cast<TFrmFenFa*>(&w)) {
      TUserTree* self = fenfa->Tree(TfrmSelectUser::pgSelf);
      for (const char* id : {kZhang, kLisi}) {
        self->setCurrentItem(self->Find(id, nkUser));
        fenfa->AddSelected(false);
      }
    } else if (auto* units = qobject_cast<TfrmSelectUnit*>(&w)) {
      units->treSelf()->setCurrentItem(units->treSelf()->Find("2", nkUnit));
      units->AddSelected();
    }
    return int(QDialog::Accepted);
  };
  OnReply = [&](const std::string& r) {
    const AnsiString code = frames::FrameCode(r);
    if (code == "USER") flow.UsersArrived(r, table, kRecord, SessionValues().UserGUID, nullptr);
    if (code == "COMP") flow.UnitsArrived(r, kRecord, table, nullptr);
  };

  flow.Start(1, nullptr);
  ASSERT_TRUE(WaitMessages(messagesBefore + 1));
  flow.Start(2, nullptr);
  ASSERT_TRUE(WaitMessages(messagesBefore + 2));
  OnReply = nullptr;
  EXPECT_TRUE(flow.Distributed());
  EXPECT_TRUE(flow.SentOutside());
  const std::vector<AnsiString> answers = Messages();
  for (size_t i = messagesBefore; i < answers.size(); ++i) EXPECT_NE(answers[i].substr(0, 1), "|") << answers[i];

  // The next distribution list marks the two users as holding the document.
  const auto users = frames::ParseUserListReply(Exchange(frames::BuildUserRequest(
      table, kRecord, frames::UserListMode::Distribution, SessionValues().CompID, SessionValues().UserGUID, 0)));
  std::vector<AnsiString> marked;
  for (const frames::UserRecord& u : users)
    if (u.marker) marked.push_back(u.userId);
  EXPECT_EQ(marked, (std::vector<AnsiString>{kLisi, kZhang}));  // in login-name order

  OaDatabase db;
  db.Open(server_.DatabasePath());
  EXPECT_EQ(db.DistributionTargets(kRecord, "FEFA"), (std::vector<AnsiString>{kZhang, kLisi}));
  EXPECT_EQ(db.DistributionTargets(kRecord, "OTFF"), (std::vector<AnsiString>{Cp936("市财政局")}));
}

TEST_F(DistributionE2E, NumberTakenFromTheListIsStoredWithTheDocument) {
  TStream2Array d = Open("请假单");
  const AnsiString table = d.Header.Text(dh::TableName);
  TNumberPanel panel(nullptr);
  panel.Open(2008);
  panel.ShowNumberList(Exchange(frames::BuildNumbersRequest(SessionValues().CompID, table)));
  ASSERT_GT(panel.flbNO()->count(), 0);
  const frames::NumberEntry entry = panel.Entries()[0];
  std::optional<TTakenNumber> taken;
  panel.OnNumberTaken = [&](const TTakenNumber& t) { taken = t; };
  panel.flbNO()->setCurrentRow(0);
  panel.Confirm();
  ASSERT_TRUE(taken);
  d.Header.SetI32(dh::NumberType, taken->typeId);
  d.Header.SetI32(dh::Number, taken->number);
  const AnsiString saved = Save(d);
  ASSERT_FALSE(saved.empty());
  ASSERT_NE(saved[0], '|') << saved;

  const TStream2Array again = Open();
  EXPECT_EQ(again.Header.I32(dh::NumberType), entry.kindId);
  EXPECT_EQ(again.Header.I32(dh::Number), entry.nextNumber);
  // The number is used: the list offers the next one.
  const auto kinds = frames::ParseNumbersReply(Exchange(frames::BuildNumbersRequest(SessionValues().CompID, table)));
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds[0].nextNumber, entry.nextNumber + 1);
}

}  // namespace
