// Documents, attachments and every other request through the control's own transport
// against the real oa-server: what the server stores comes back on the next request.
#include <gtest/gtest.h>

#include <QApplication>

#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "core/ByteIO.h"
#include "e2e/AdminSession.h"
#include "e2e/E2eSupport.h"
#include "flowchart/FcChart.h"
#include "platform/Services.h"

namespace {

QApplication& App() { return E2eApp("e2e-documents"); }

const char* kRecord = "{A0000000-1111-4222-8333-444444444444}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";

AnsiString Text(const std::string& frame) { return frames::ParseServerMessage(frame); }

class DocumentsE2E : public AdminSessionTest {
 protected:
  void SetUp() override {
    App();
    AdminSessionTest::SetUp();
  }
  std::string Open(const char* templateName = "") {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.recordId = kRecord;
    q.templateName = Cp936(templateName);
    q.commandFlag = 1;
    q.readOnlyFlag = 1;
    return Exchange(frames::BuildQueryRequest(q));
  }
  std::string AttachmentList() {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.tableName = "oa_leave";
    q.recordId = kRecord;
    q.commandFlag = 1;
    return Exchange(frames::BuildQueryRequest(q));
  }
  // Submits the record with one changed value and zhangsan as next handler.
  std::string Submit(TStream2Array& d, const AnsiString& title, int32_t next) {
    d.Fields = {{1, 1, Cp936("标题"), "", title}, {5, 1, Cp936("事由"), "", std::string(600, 'x')}};
    d.Header.SetI32(dh::NextStep, next);
    d.PickedUsers = {{kZhang, Cp936("张三"), 10, ",10,"}};
    return Exchange(d.BuildUpdateFrame(d.Header.Text(dh::TableName), kRecord, 1, SessionValues()).Data());
  }
  static TStream2Array Parse(const std::string& reply) {
    TStream2Array d;
    d.LoadFromBytes(reply);
    return d;
  }
  std::string UserRequest(const char* table, const std::string& recordOrStep, frames::UserListMode mode) {
    return Exchange(frames::BuildUserRequest(table, recordOrStep, mode, SessionValues().CompID,
                                             SessionValues().UserGUID, 0));
  }

};

TEST_F(DocumentsE2E, OpenSubmitAndReopenShowsTheNewValuesAndStep) {
  const std::string first = Open("请假单");
  ASSERT_EQ(frames::FrameCode(first), "EXCE");
  TStream2Array d = Parse(first);
  EXPECT_EQ(d.Header.I32(dh::CurrentStep), 1);
  ASSERT_EQ(d.Steps.size(), 4u);
  // The chart's objects stand in the order of the step records and carry their numbers.
  TFcChart chart;
  TMemoryStream chartStream{std::string(TStream2Array::ChartPart(first))};
  chart.LoadFromStream(chartStream);
  ASSERT_EQ(chart.ObjectCount(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(chart.Objects(i)->Text(), d.Steps[size_t(i)].name);
    EXPECT_EQ(chart.Objects(i)->StepId(), std::to_string(d.Steps[size_t(i)].id));
  }
  EXPECT_EQ(chart.ConnectionCount(), 4);

  EXPECT_EQ(Text(Submit(d, Cp936("出差"), 2)), Cp936("文件操作成功！"));
  const TStream2Array again = Parse(Open());
  EXPECT_EQ(again.Header.I32(dh::CurrentStep), 2);
  ASSERT_EQ(again.Fields.size(), 2u);
  EXPECT_EQ(again.Fields[0].stored, Cp936("出差"));
  EXPECT_EQ(again.Fields[1].stored, std::string(600, 'x'));
  ASSERT_EQ(again.PickedUsers.size(), 1u);
  EXPECT_EQ(again.PickedUsers[0].userId, kZhang);

  // The next handler list of step 2 is that step's handlers.
  const auto handlers =
      frames::ParseUserListReply(UserRequest("oa_leave", "2", frames::UserListMode::NextHandler));
  ASSERT_EQ(handlers.size(), 2u);
  EXPECT_EQ(handlers[0].userId, kZhang);
  EXPECT_EQ(handlers[1].userId, kLisi);
}

TEST_F(DocumentsE2E, UploadedContainerIsListedAgainWithTheSameBytes) {
  TStream2Array d = Parse(Open("请假单"));
  ASSERT_EQ(Text(Submit(d, "t", 2)), Cp936("文件操作成功！"));
  TCopy2Files files;
  files.AddStream(Cp936("通知.txt"), "notice", fsFromServer);
  files.AddStream("scan.jpg", std::string(5000, '\xFF'), fsFromServer);
  const std::string container = files.SaveToBytes();
  const std::string saved = Exchange(frames::BuildUploadRequest(kRecord, "oa_leave", 2, container));
  EXPECT_EQ(Text(saved), Cp936("附件保存成功！"));
  const std::string listed = AttachmentList();
  const frames::AttachmentsReply list = frames::ParseAttachmentsReply(listed);
  EXPECT_EQ(list.container, container);
  EXPECT_EQ(list.slotCount, 2);
  EXPECT_EQ(Parse(Open()).AttachmentNames, (std::vector<AnsiString>{Cp936("通知.txt"), "scan.jpg"}));

  // A removed file is dropped by the server; an added one comes back as the server's.
  files.RemoveFile("scan.jpg");
  files.AddStream("new.doc", "doc", fsAdded);
  Exchange(frames::BuildUploadRequest(kRecord, "oa_leave", 3, files.SaveToBytes()));
  const std::string second = AttachmentList();
  TCopy2Files back;
  back.LoadFromBytes(frames::ParseAttachmentsReply(second).container);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.GetFileName(1), "new.doc");
  EXPECT_EQ(back.GetState(1), fsFromServer);
  EXPECT_FALSE(back.HasChanges());
}

TEST_F(DocumentsE2E, EveryOtherRequestGetsAnAnswerThatParses) {
  TStream2Array d = Parse(Open("收文登记单"));
  ASSERT_EQ(Text(Submit(d, "t", -1)), Cp936("文件操作成功！"));  // kept at the author's step

  EXPECT_EQ(frames::ParseUserListReply(UserRequest("", "1", frames::UserListMode::NextHandler)).size(), 12u);
  const auto units = frames::ParseUnitsReply(Exchange(frames::BuildUnitsRequest(1)));
  ASSERT_EQ(units.size(), 2u);  // the other units
  EXPECT_EQ(units[0].number, 2);
  const auto numbers = frames::ParseNumbersReply(Exchange(frames::BuildNumbersRequest(1, "oa_incoming")));
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_EQ(numbers[0].prefix, Cp936("政办发"));

  EXPECT_EQ(Text(Exchange(frames::BuildDistributionRequest("FEFA", "oa_incoming", kRecord,
                                                           SessionValues().UserGUID, {{kLisi, false}}))),
            Cp936("文件分发成功！"));
  for (const frames::UserRecord& u :
       frames::ParseUserListReply(UserRequest("oa_incoming", kRecord, frames::UserListMode::Distribution)))
    EXPECT_EQ(u.marker, u.userId == kLisi ? 1 : 0) << u.loginName;
  EXPECT_EQ(Text(Exchange(frames::BuildDistributionRequest("FEFB", "oa_incoming", kRecord,
                                                           SessionValues().UserGUID, {{kLisi, false}}))),
            Cp936("文件收回成功！"));
  EXPECT_EQ(Text(Exchange(frames::BuildOutsideDistributionRequest(kRecord, "oa_incoming", {units[0]}))),
            Cp936("文件已发送至外单位！"));

  EXPECT_EQ(Text(Exchange(frames::BuildSignOffRequest(SessionValues().UserGUID, "oa_incoming", kRecord, "ok"))),
            Cp936("签批意见已保存！"));
  const auto comments = frames::ParseAttachmentsReply(AttachmentList()).comments;
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0].text, "ok");
  EXPECT_EQ(comments[0].authorName, Cp936("系统管理员"));
  EXPECT_GT(comments[0].dateTime, 40000);

  // The body document: the template's Word file until an edited one is uploaded.
  const std::string bodyName = Cp936("收文正文.docx");
  const std::string fileReply =
      Exchange(frames::BuildFileRequest(SessionValues().UserGUID, "oa_incoming", kRecord, bodyName));
  const frames::FileReply file = frames::ParseFileReply(fileReply);
  EXPECT_EQ(file.fileName, bodyName);
  EXPECT_EQ(file.body.substr(0, 4), "PK\x03\x04");
  TCopy2Files edited;
  edited.AddStream(bodyName, "edited body", fsAdded);
  Exchange(frames::BuildUploadRequest(kRecord, "oa_incoming", 1, edited.SaveToBytes()));
  const std::string editedReply =
      Exchange(frames::BuildFileRequest(SessionValues().UserGUID, "oa_incoming", kRecord, bodyName));
  EXPECT_EQ(frames::ParseFileReply(editedReply).body, "edited body");

  // The workflow editor: the definition, a changed step saved and read back, a form's sheet.
  TFlowMessage flow = ParseFlowMessage(Exchange(frames::BuildChatRequest(2)));
  ASSERT_EQ(flow.steps.size(), 6u);
  flow.steps[1].daysToHandle = "5";
  TStepRecord added = NewStepRecord();
  added.name = Cp936("复核");
  flow.steps.push_back(added);
  flow.steps[4].changeState = stepDeleted;
  EXPECT_EQ(Text(Exchange(BuildFlowMessage(flow))), Cp936("流程保存成功！"));
  const TFlowMessage saved = ParseFlowMessage(Exchange(frames::BuildChatRequest(2)));
  ASSERT_EQ(saved.steps.size(), 6u);
  EXPECT_EQ(saved.steps[1].daysToHandle, "5");
  EXPECT_EQ(saved.steps[5].name, Cp936("复核"));
  EXPECT_EQ(saved.steps[5].id, 7);
  EXPECT_EQ(saved.chart, flow.chart);
  frames::FrameWriter sheetRequest(frames::kUserRequestSize);
  sheetRequest.Code("XSLF").Text(5, 50, Cp936("收文登记单.xls")).U8(95, 2);
  const std::string sheetReply = Exchange(sheetRequest.Take());
  const std::string document = Open();
  // The picker's copy is the form with each empty text field showing its name (which
  // its hint holds), so the editor picks fields by name while a new document opens empty.
  const auto count = [](std::string_view sheet, const AnsiString& name) {
    size_t n = 0;
    for (size_t at = sheet.find(name); at != std::string_view::npos; at = sheet.find(name, at + 1)) ++n;
    return n;
  };
  for (const char* field : {"来文单位", "来文字号", "拟办意见"}) {
    const AnsiString name = Cp936(field);
    EXPECT_EQ(count(frames::ParseSheetReply(sheetReply), name), count(TStream2Array::SheetPart(document), name) + 1)
        << field;
  }

  // Archiving makes the document read-only and says so in the text the page waits for.
  EXPECT_EQ(Text(Exchange(frames::BuildDocCommandRequest(SessionValues().UserGUID, "oa_incoming", kRecord,
                                                         "INBOX", 2, -1))),
            Cp936("文件归档完毕！"));
  EXPECT_EQ(Parse(Open()).Header.U8(dh::ReadOnly), 1);
}

TEST_F(DocumentsE2E, GarbageClosesTheConnectionStoresNothingAndTheServerGoesOn) {
  TStream2Array d = Parse(Open("请假单"));
  d.Fields = {{1, 1, Cp936("标题"), "", "before"}};
  ASSERT_EQ(Text(Exchange(d.BuildUpdateFrame("oa_leave", kRecord, 0, SessionValues()).Data())), Cp936("文件暂存成功！"));

  std::string lying = d.BuildUpdateFrame("oa_leave", kRecord, 0, SessionValues()).Data();
  PutI32LE(lying.data() + dh::FieldCount, 1000);  // records beyond the frame
  std::string unknown = frames::BuildUnitsRequest(1);
  unknown.replace(1, 4, "ZZZZ");
  const size_t before = replies_.size();
  const size_t logged = server_.LogLines().size();
  session_->SendToServer(lying);
  session_->SendToServer(unknown);
  ASSERT_TRUE(server_.WaitForLogLines(logged + 2));
  // Both closed without a reply; the next request is answered and nothing was stored.
  const TStream2Array after = Parse(Open());
  EXPECT_EQ(replies_.size(), before + 1);
  ASSERT_EQ(after.Fields.size(), 1u);
  EXPECT_EQ(after.Fields[0].stored, "before");
}

}  // namespace
