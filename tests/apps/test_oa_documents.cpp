// The server's documents as its requests reach them: what a new document looks like, who
// is offered as its next handler, and who may change it.
#include <gtest/gtest.h>

#include <algorithm>

#include "apps/oa-server/OaService.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/NextHandlers.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";
const char* kZhao = "{1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9}";
const char* kNobody = "{00000000-0000-4000-8000-000000000000}";
const char* kRecord = "{11111111-2222-4333-8444-555555555555}";

class OaDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Open(":memory:");
    service_.Now = [this] { return now_; };
  }
  void TearDown() override { ClearSessionValues(); }

  std::string Ask(const std::string& frame) { return *service_.Reply(frame); }
  // The page's query for a record, new from the template when the server does not hold it.
  std::string Open(const AnsiString& userId, const AnsiString& recordId, const char* templateName) {
    frames::QueryRecord q;
    q.userId = userId;
    q.recordId = recordId;
    q.templateName = Cp936(templateName);
    return Ask(frames::BuildQueryRequest(q));
  }
  static std::unique_ptr<TXLSheet> SheetOf(const std::string& reply) {
    auto sheet = std::make_unique<TXLSheet>();
    TMemoryStream s{std::string(TStream2Array::SheetPart(reply))};
    sheet->LoadFromStream(s);
    return sheet;
  }

  TStream2Array Parse(const std::string& reply) {
    TStream2Array d;
    d.LoadFromBytes(reply);
    return d;
  }
  // The leave request kRecord as `user` opens it.
  TStream2Array Leave(const char* user) { return Parse(Open(user, kRecord, "请假单")); }
  // The form's save of the document as `user` sees it: one title, zhangsan picked next.
  std::string Save(const char* user, const TStream2Array& seen, const char* title, int32_t next,
                   int32_t status) {
    TStream2Array d = seen;
    SessionValues().UserGUID = user;
    d.Fields = {{1, 1, Cp936("标题"), "", title}};
    d.Header.SetI32(dh::NextStep, next);
    d.PickedUsers = {{kZhang, Cp936("张三"), 0, ""}};
    return Ask(d.BuildUpdateFrame("oa_leave", kRecord, status, SessionValues()).Data());
  }
  static bool Refused(const std::string& reply) {
    const AnsiString text = frames::ParseServerMessage(reply);
    return !text.empty() && text[0] == '|';
  }
  AnsiString Title() {
    const std::optional<oa::StoredDocument> d = db_.FindDocument(kRecord);
    return d && !d->values.empty() ? d->values[0].value : AnsiString("<none>");
  }
  // admin's request, submitted to the review step with zhangsan as its handler.
  void AtTheReview() {
    ASSERT_FALSE(Refused(Save(kAdmin, Leave(kAdmin), "asked", 2, 1)));
    ASSERT_EQ(db_.FindDocument(kRecord)->currentStep, 2);
  }
  // The command as the form sends it, naming the copy it holds.
  std::string Command(const char* user, const char* verb, int32_t copy = 0) {
    return Ask(frames::BuildDocCommandRequest(user, "oa_leave", kRecord, verb, 2, -1, copy));
  }
  std::string Comment(const char* user, const char* text, const char* record = kRecord) {
    return Ask(frames::BuildSignOffRequest(user, "oa_leave", record, text));
  }
  std::string Distribute(const char* code, const char* user, const char* to) {
    return Ask(frames::BuildDistributionRequest(code, "oa_leave", kRecord, user, {{to, false}}));
  }

  OaDatabase db_;
  oa::OaService service_{db_};
  double now_ = 46000;
};

TEST_F(OaDocuments, ANewDocumentOpensWithEmptyFieldsNamedByHintsAndLabelsAsHighAsTheirFields) {
  struct Expect {
    const char* record;
    const char* form;
    std::vector<std::pair<TPoint, const char*>> emptyFields;
    TRect tallLabel;
  };
  const Expect forms[] = {
      {"{A1}", "请假单", {{{1, 1}, "标题"}, {{1, 5}, "事由"}, {{1, 8}, "科室意见"}}, TRect{0, 5, 1, 7}},
      {"{A2}", "收文登记单", {{{1, 1}, "标题"}, {{1, 2}, "来文单位"}, {{3, 2}, "来文字号"}}, TRect{0, 8, 1, 10}},
  };
  for (const Expect& e : forms) {
    SCOPED_TRACE(e.form);
    const std::unique_ptr<TXLSheet> sheet = SheetOf(Open(kAdmin, e.record, e.form));
    for (const auto& [at, name] : e.emptyFields) {
      const TXLCell* cell = sheet->FindCell(at.X, at.Y);
      ASSERT_NE(cell, nullptr) << name;
      EXPECT_EQ(cell->Hint(), Cp936(name));
      EXPECT_EQ(cell->GetAsString(), "") << name;
    }
    EXPECT_TRUE(sheet->Section(sClient)->IsUnionRect(e.tallLabel));
  }
  // A default token still fills its field.
  EXPECT_EQ(SheetOf(Open(kAdmin, "{A3}", "请假单"))->GetAsString(1, 2), "[UserName]");
}

TEST_F(OaDocuments, TheLeaveReviewNeverOffersTheAuthorHisOwnRequest) {
  const TFlowMessage wf = *db_.FindWorkflow(1);
  const TStepRecord& review = wf.steps[1];
  ASSERT_TRUE(review.departmentReview);
  for (const frames::UserRecord& author : db_.Users(0)) {
    SCOPED_TRACE(author.loginName);
    // As the form picks the handlers of the next step itself.
    std::vector<frames::PickedUser> picked;
    LoadNextHandlers(&review, author.userId, author.userName, author.deptNumber, picked);
    for (const frames::PickedUser& p : picked) EXPECT_NE(p.userId, author.userId);
    // As the server offers them when the person picks by hand.
    const auto offered = frames::ParseUserListReply(Ask(frames::BuildUserRequest(
        "oa_leave", "2", frames::UserListMode::NextHandler, author.unitNumber, author.userId, 0)));
    EXPECT_FALSE(offered.empty());
    for (const frames::UserRecord& u : offered) EXPECT_NE(u.userId, author.userId);
    // The office's departments each have their reviewer.
    if (author.unitNumber == 1 && author.deptNumber != 13) {
      EXPECT_EQ(picked.size(), 1u);
    }
  }
}

TEST_F(OaDocuments, OnlyTheCurrentStepsHandlersOrTheAuthorAtTheStartChangeADocument) {
  // The author's new request is his to change; others and unknown users read it only.
  EXPECT_EQ(Leave(kAdmin).Header.U8(dh::ReadOnly), 0);
  EXPECT_EQ(Leave(kZhao).Header.U8(dh::ReadOnly), 1);
  for (const char* stranger : {kNobody, ""}) EXPECT_TRUE(Refused(Open(stranger, kRecord, "请假单")));
  EXPECT_TRUE(Refused(Save(kZhao, Leave(kZhao), "taken", 2, 1)));
  EXPECT_EQ(db_.FindDocument(kRecord)->currentStep, 1);

  AtTheReview();
  // Now it is zhangsan's, whom admin picked; not admin's, nor lisi's, whom the step lists.
  for (const char* other : {kAdmin, kLisi, kZhao, kNobody}) {
    SCOPED_TRACE(other);
    EXPECT_TRUE(Refused(Save(other, Leave(kZhang), "overwritten", 4, 1)));
    EXPECT_TRUE(Refused(Command(other, "DELETE")));
    EXPECT_TRUE(Refused(Distribute("FEFA", other, kZhao)));
  }
  EXPECT_EQ(Title(), "asked");
  EXPECT_EQ(db_.FindDocument(kRecord)->state, "open");
  EXPECT_TRUE(db_.DistributionTargets(kRecord, "FEFA").empty());
  EXPECT_EQ(Leave(kAdmin).Header.U8(dh::ReadOnly), 1);
  frames::QueryRecord list;
  list.tableName = "oa_leave";
  list.recordId = kRecord;
  list.userId = kLisi;
  EXPECT_EQ(frames::ParseAttachmentsReply(Ask(frames::BuildQueryRequest(list))).readOnly, 1);

  const TStream2Array seen = Leave(kZhang);
  EXPECT_EQ(seen.Header.U8(dh::ReadOnly), 0);
  EXPECT_FALSE(Refused(Distribute("FEFA", kZhang, kZhao)));
  EXPECT_FALSE(Refused(Save(kZhang, seen, "reviewed", 2, 0)));
  EXPECT_EQ(Title(), "reviewed");
  // A form opened at an earlier step no longer speaks for the document.
  EXPECT_TRUE(Refused(Save(kAdmin, Leave(kAdmin), "stale", 2, 1)));
  TStream2Array earlier = seen;
  earlier.Header.SetI32(dh::CurrentStep, 1);
  EXPECT_TRUE(Refused(Save(kZhang, earlier, "stale", 2, 1)));
  EXPECT_EQ(Title(), "reviewed");
}

TEST_F(OaDocuments, TheSaveAfterAnArchiveIsTakenFromTheArchiverOnceAndSoon) {
  AtTheReview();
  const TStream2Array seen = Leave(kZhang);
  ASSERT_FALSE(Refused(Command(kZhang, "INBOX", seen.Header.I32(dh::CopyNumber))));
  EXPECT_EQ(db_.FindDocument(kRecord)->state, "archived");
  EXPECT_TRUE(Refused(Save(kLisi, seen, "someone else", 2, 1)));
  now_ += 1.0 / (24 * 60);  // a minute later
  EXPECT_FALSE(Refused(Save(kZhang, seen, "filed", 2, 1)));
  const oa::StoredDocument d = *db_.FindDocument(kRecord);
  EXPECT_EQ(d.state, "archived");
  EXPECT_EQ(d.currentStep, 2);
  EXPECT_EQ(Title(), "filed");
  EXPECT_TRUE(Refused(Save(kZhang, seen, "again", 2, 1)));
  EXPECT_TRUE(Refused(Command(kZhang, "DELETE")));

  // Too late: the archive no longer waits for its save.
  const char* other = "{22222222-2222-4333-8444-555555555555}";
  TStream2Array d2 = Parse(Open(kAdmin, other, "请假单"));
  SessionValues().UserGUID = kAdmin;
  d2.Fields = {{1, 1, Cp936("标题"), "", "x"}};
  ASSERT_FALSE(Refused(Ask(d2.BuildUpdateFrame("oa_leave", other, 0, SessionValues()).Data())));
  ASSERT_FALSE(Refused(Ask(frames::BuildDocCommandRequest(kAdmin, "oa_leave", other, "INBOX", 1, -1))));
  now_ += 1;
  d2.Fields = {{1, 1, Cp936("标题"), "", "late"}};
  EXPECT_TRUE(Refused(Ask(d2.BuildUpdateFrame("oa_leave", other, 1, SessionValues()).Data())));
  EXPECT_EQ(db_.FindDocument(other)->values.at(0).value, "x");
}

TEST_F(OaDocuments, CommentsComeFromHandlersTheAuthorOrHoldersAlwaysInTheirOwnName) {
  AtTheReview();
  EXPECT_TRUE(Refused(Comment(kZhao, "not mine")));
  EXPECT_TRUE(Refused(Comment(kLisi, "listed, not picked")));
  EXPECT_TRUE(Refused(Comment(kNobody, "who?")));
  ASSERT_FALSE(Refused(Distribute("FEFA", kZhang, kZhao)));
  EXPECT_FALSE(Refused(Comment(kZhao, "read")));
  ASSERT_FALSE(Refused(Distribute("FEFB", kZhang, kZhao)));
  EXPECT_TRUE(Refused(Comment(kZhao, "recalled")));
  EXPECT_FALSE(Refused(Comment(kAdmin, "mine")));
  EXPECT_FALSE(Refused(Comment(kZhang, "ok")));
  std::vector<std::pair<AnsiString, AnsiString>> kept;
  for (const frames::CommentRecord& c : db_.Comments(kRecord)) kept.emplace_back(c.authorName, c.text);
  EXPECT_EQ(kept, (std::vector<std::pair<AnsiString, AnsiString>>{
                      {Cp936("赵六"), "read"}, {Cp936("系统管理员"), "mine"}, {Cp936("张三"), "ok"}}));
}

TEST_F(OaDocuments, NothingIsKeptForADocumentTheServerNeverHandedOut) {
  const char* ghost = "{33333333-2222-4333-8444-555555555555}";
  TCopy2Files files;
  files.AddStream("a.txt", "alpha", fsAdded);
  const std::string container = files.SaveToBytes();
  EXPECT_TRUE(Refused(Ask(frames::BuildUploadRequest(ghost, "oa_leave", 1, container))));
  EXPECT_TRUE(Refused(Comment(kAdmin, "orphan", ghost)));
  EXPECT_TRUE(Refused(Ask(frames::BuildOutsideDistributionRequest(ghost, "oa_leave", {{2, Cp936("市财政局")}}))));
  EXPECT_TRUE(Refused(Ask(frames::BuildDocCommandRequest(kAdmin, "oa_leave", ghost, "DELETE", 1, -1))));
  EXPECT_FALSE(db_.FindDocument(ghost));
  EXPECT_TRUE(db_.Attachments(ghost).empty());
  EXPECT_TRUE(db_.Comments(ghost).empty());
  EXPECT_TRUE(db_.DistributionTargets(ghost, "OTFF").empty());

  // A new document handed out to its author takes attachments before its first save; once
  // archived, it takes none.
  Leave(kAdmin);
  EXPECT_FALSE(Refused(Ask(frames::BuildUploadRequest(kRecord, "oa_leave", 1, container))));
  EXPECT_FALSE(db_.Attachments(kRecord).empty());
  ASSERT_FALSE(Refused(Command(kAdmin, "INBOX")));
  EXPECT_TRUE(Refused(Ask(frames::BuildUploadRequest(kRecord, "oa_leave", 1, TCopy2Files().SaveToBytes()))));
  EXPECT_FALSE(db_.Attachments(kRecord).empty());
}

}  // namespace
