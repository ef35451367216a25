// The server's documents as its requests reach them: what a new document looks like, who
// is offered as its next handler, and who may change it.
#include <gtest/gtest.h>

#include <algorithm>

#include "apps/oa-server/OaService.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/NextHandlers.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";

AnsiString A(const char* utf8) { return Cp936(utf8); }

class OaDocuments : public ::testing::Test {
 protected:
  void SetUp() override { db_.Open(":memory:"); }

  std::string Ask(const std::string& frame) { return *service_.Reply(frame); }
  // The page's query for a record, new from the template when the server does not hold it.
  std::string Open(const AnsiString& userId, const AnsiString& recordId, const char* templateName) {
    frames::QueryRecord q;
    q.userId = userId;
    q.recordId = recordId;
    q.templateName = A(templateName);
    return Ask(frames::BuildQueryRequest(q));
  }
  static std::unique_ptr<TXLSheet> SheetOf(const std::string& reply) {
    auto sheet = std::make_unique<TXLSheet>();
    TMemoryStream s{std::string(TStream2Array::SheetPart(reply))};
    sheet->LoadFromStream(s);
    return sheet;
  }

  OaDatabase db_;
  oa::OaService service_{db_};
};

TEST_F(OaDocuments, ANewDocumentOpensWithEmptyFieldsNamedByHintsAndLabelsAsHighAsTheirFields) {
  struct Expect {
    const char* form;
    std::vector<std::pair<TPoint, const char*>> emptyFields;
    TRect tallLabel;
  };
  const Expect forms[] = {
      {"请假单", {{{1, 1}, "标题"}, {{1, 5}, "事由"}, {{1, 8}, "科室意见"}}, TRect{0, 5, 1, 7}},
      {"收文登记单", {{{1, 1}, "标题"}, {{1, 2}, "来文单位"}, {{3, 2}, "来文字号"}}, TRect{0, 8, 1, 10}},
  };
  for (const Expect& e : forms) {
    SCOPED_TRACE(e.form);
    const std::unique_ptr<TXLSheet> sheet = SheetOf(Open(kAdmin, "{A1}", e.form));
    for (const auto& [at, name] : e.emptyFields) {
      const TXLCell* cell = sheet->FindCell(at.X, at.Y);
      ASSERT_NE(cell, nullptr) << name;
      EXPECT_EQ(cell->Hint(), A(name));
      EXPECT_EQ(cell->GetAsString(), "") << name;
    }
    EXPECT_TRUE(sheet->Section(sClient)->IsUnionRect(e.tallLabel));
  }
  // A default token still fills its field.
  EXPECT_EQ(SheetOf(Open(kAdmin, "{A2}", "请假单"))->GetAsString(1, 2), "[UserName]");
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

}  // namespace
