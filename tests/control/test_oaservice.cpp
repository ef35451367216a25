// The server's documents: the "EXCE" reply it builds parses back to what it stores, the
// update moves the document, and a write that fails part way changes nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "apps/oa-server/DocxWriter.h"
#include "apps/oa-server/OaService.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_type.h"
#include "core/ByteIO.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

const char* kRecord = "{11111111-2222-4333-8444-555555555555}";
const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";

class OaServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() / ("oa-service-" + std::to_string(getpid()) + ".sqlite");
    std::filesystem::remove(path_);
    db_.Open(path_.string());
  }
  void TearDown() override {
    ClearSessionValues();
    std::filesystem::remove(path_);
  }

  std::string Ask(const std::string& frame) { return *service_.Reply(frame); }
  std::string OpenDocument(const char* templateName) {
    frames::QueryRecord q;
    q.userId = kAdmin;
    q.recordId = kRecord;
    q.templateName = Cp936(templateName);
    q.objectNumber = 9;
    return Ask(frames::BuildQueryRequest(q));
  }
  TStream2Array Parse(const std::string& reply) {
    TStream2Array d;
    d.LoadFromBytes(reply);
    return d;
  }
  // The update the form sends: fields, the next step and its handler.
  std::string Update(TStream2Array& d, std::vector<TFieldEntry> fields, int32_t next, int32_t status,
                     const char* user = kAdmin) {
    SessionValues().UserGUID = user;
    d.Fields = std::move(fields);
    d.Header.SetI32(dh::NextStep, next);
    d.PickedUsers = {{kZhang, Cp936("张三"), 10, ",10,"}};
    return d.BuildUpdateFrame(d.Header.Text(dh::TableName), kRecord, status, SessionValues()).Data();
  }

  std::filesystem::path path_;
  OaDatabase db_;
  oa::OaService service_{db_};
};

TEST_F(OaServiceTest, NewDocumentReplyParsesBackToTheStoredStepsSheetAndChart) {
  const std::string reply = OpenDocument("请假单");
  const TStream2Array d = Parse(reply);
  const auto wf = db_.FindWorkflow(1);
  const auto form = db_.FindTemplate(Cp936("请假单"));
  ASSERT_TRUE(wf && form);
  EXPECT_EQ(d.Steps, wf->steps);
  ASSERT_EQ(d.Steps.size(), 4u);
  EXPECT_EQ(d.Steps[2].incomingBranches, Cp936("科室审核@[F][请假天数][>][3];"));
  EXPECT_EQ(TStream2Array::SheetPart(reply), form->sheet);
  EXPECT_EQ(TStream2Array::ChartPart(reply), wf->chart);
  EXPECT_EQ(d.Header.Text(dh::TableName), "oa_leave");
  EXPECT_EQ(d.Header.I32(dh::CurrentStep), 1);
  EXPECT_EQ(d.Header.I32(dh::NextStep), -1);
  EXPECT_EQ(d.Header.I32(dh::ObjectNumber), 9);
  EXPECT_EQ(d.Header.Text(dh::AuthorName), Cp936("系统管理员"));
  EXPECT_EQ(d.Status, 0);
  ASSERT_EQ(d.ComboSources.size(), 1u);
  EXPECT_EQ(d.ComboSources[0].name, "LEAVETYPE");
  EXPECT_FALSE(d.Phrases.empty());

  // The sheet is a real form: fields named by hints, typed cells and merged areas.
  TXLSheet sheet;
  TMemoryStream s{std::string(TStream2Array::SheetPart(reply))};
  sheet.LoadFromStream(s);
  EXPECT_EQ(sheet.FindCell(1, 4)->Hint(), Cp936("请假天数"));
  EXPECT_EQ(sheet.GetValue(1, 4).AsInteger(), 3);
  EXPECT_EQ(sheet.FindCell(5, 4)->GetAsString(), "=B5*D5");
  EXPECT_EQ(sheet.GetAsString(1, 2), "[UserName]");
  EXPECT_TRUE(sheet.Section(sClient)->IsUnionRect(TRect{0, 0, 6, 1}));

  EXPECT_EQ(Ask(frames::BuildQueryRequest({})), frames::BuildServerMessage(oa::DocumentNotFoundText()));
}

TEST_F(OaServiceTest, SubmitStoresValuesAndHandlersAndMovesToTheNextStep) {
  TStream2Array d = Parse(OpenDocument("请假单"));
  const std::string reason(600, 'r');
  // A temporary save keeps the step.
  EXPECT_EQ(Ask(Update(d, {{0, 0, Cp936("标题"), "", "A"}}, 2, 0)), frames::BuildServerMessage(oa::SavedText()));
  EXPECT_EQ(Parse(OpenDocument("")).Header.I32(dh::CurrentStep), 1);

  const std::string update = Update(d, {{0, 0, Cp936("标题"), "", "B"}, {0, 0, Cp936("事由"), "", reason}}, 2, 1);
  EXPECT_EQ(Ask(update), frames::BuildServerMessage(oa::SubmittedText()));
  const TStream2Array again = Parse(OpenDocument(""));  // a stored document needs no template
  EXPECT_EQ(again.Header.I32(dh::CurrentStep), 2);
  ASSERT_EQ(again.Fields.size(), 2u);
  EXPECT_EQ(again.Fields[1].stored, reason);
  EXPECT_EQ(again.Status, 1);
  ASSERT_EQ(again.PickedUsers.size(), 1u);
  EXPECT_EQ(again.PickedUsers[0].userId, kZhang);
  ASSERT_EQ(again.PassedSteps.size(), 1u);
  EXPECT_EQ(again.PassedSteps[0].step, 1);

  // A next step the workflow does not have is refused in a message box; nothing moves.
  TStream2Array bad = again;
  const std::string refused = Ask(Update(bad, {{0, 0, Cp936("标题"), "", "C"}}, 99, 1, kZhang));
  EXPECT_EQ(frames::ParseServerMessage(refused)[0], '|');
  EXPECT_EQ(Parse(OpenDocument("")).Fields[0].stored, "B");
  // A Status that is not a number refuses the frame: the connection is closed.
  std::string garbled = Update(bad, {{0, 0, "x", "", "y"}}, 3, 1, kZhang);
  const size_t status = garbled.size() - frames::kPickedUserSize - 2 * kFieldRecordSize;
  garbled.replace(status + 52, 1, "Z");
  EXPECT_THROW(service_.Reply(garbled), frames::EFrameError);
  EXPECT_EQ(Parse(OpenDocument("")).Fields[0].stored, "B");
}

TEST_F(OaServiceTest, AWriteThatFailsPartWayChangesNothing) {
  TStream2Array d = Parse(OpenDocument("请假单"));
  ASSERT_EQ(Ask(Update(d, {{0, 0, Cp936("标题"), "", "kept"}}, 2, 1)), frames::BuildServerMessage(oa::SubmittedText()));
  {
    // Handlers are written after the document and its fields: make that write fail.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.string().c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TRIGGER fail BEFORE INSERT ON document_handlers BEGIN SELECT RAISE(ABORT, 'no'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  TStream2Array again = Parse(OpenDocument(""));
  // The person is told the save failed; the connection is not just dropped.
  const std::optional<std::string> failed = service_.Reply(Update(again, {{0, 0, Cp936("标题"), "", "lost"}}, 3, 1, kZhang));
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(frames::ParseServerMessage(*failed)[0], '|');
  const TStream2Array after = Parse(OpenDocument(""));
  EXPECT_EQ(after.Fields[0].stored, "kept");
  EXPECT_EQ(after.Header.I32(dh::CurrentStep), 2);
  EXPECT_EQ(after.PassedSteps.size(), 1u);
}

}  // namespace

namespace {

TEST(DocxWriter, StoredZipCarriesTheCrcSizesAndDirectory) {
  const std::string zip = BuildStoredZip({{"a.txt", "abc"}, {"b/c.xml", ""}});
  EXPECT_EQ(GetI32LE(zip.data()), 0x04034b50);
  EXPECT_EQ(uint32_t(GetI32LE(zip.data() + 14)), 0x352441C2u);  // CRC-32 of "abc"
  EXPECT_EQ(GetI32LE(zip.data() + 18), 3);
  EXPECT_EQ(zip.substr(30, 8), "a.txtabc");
  const size_t end = zip.size() - 22;
  EXPECT_EQ(GetI32LE(zip.data() + end), 0x06054b50);
  EXPECT_EQ(zip[end + 10], 2);  // entries
  const int32_t central = GetI32LE(zip.data() + end + 16);
  EXPECT_EQ(GetI32LE(zip.data() + central), 0x02014b50);
  EXPECT_EQ(GetI32LE(zip.data() + central + 42), 0);  // first entry's local header offset
  EXPECT_NE(BuildDocx({"x"}).find("word/document.xml"), std::string::npos);
}

}  // namespace
