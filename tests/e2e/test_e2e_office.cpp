// End to end against oa-server: from an open document, the attachment manager adds two
// files in one upload, the Word body is edited with revisions and saved, and a second look
// at the document finds both on the server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "ModalDriver.h"
#include "control/AttachmentList.h"
#include "control/OfficeWindows.h"
#include "control/ReplyWindows.h"
#include "control/frmPopup.h"
#include "control/frm_Main.h"
#include "control/frm_OLEWord.h"
#include "control/frm_SetLoadFiles.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "tests/apps/RawClient.h"
#include "tests/e2e/AttachmentFormStandIn.h"

namespace office_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-office"); }

using e2e::Ask;
using e2e::DocumentFormStandIn;

std::string WriteFile(const std::string& name, const std::string& bytes) {
  QString path = QDir::tempPath() + "/" + QString::fromStdString(name);
  QFile f(path);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path.toStdString();
}

std::string DocumentXml(const std::string& docx) {
  std::string path = WriteFile("body-check.docx", docx);
  QProcess p;
  p.start("unzip", {"-p", QString::fromStdString(path), "word/document.xml"});
  p.waitForFinished(10000);
  return p.readAllStandardOutput().toStdString();
}

TEST(OfficeE2E, AttachmentsAndTheEditedBodyReachTheServer) {
  App();
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  ClearSessionValues();
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  ServiceCapture cap;
  RegisterOfficeWindows();
  DocumentFormStandIn* form = nullptr;
  ReplyWindowFactories().CreateTemplateForm = [&]() -> ITemplateForm* {
    form = new DocumentFormStandIn();
    return form;
  };

  QWidget page;
  ComPtr<IDispatch> control = CreateControlForPage(&page);
  ASSERT_TRUE(control);
  PageDriver driver(control);
  page.show();
  ASSERT_TRUE(driver.WaitForEvent("OnDoLogin"));
  ASSERT_EQ(driver.Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver.Call("Login", {"zhangsan"}), S_OK);
  ASSERT_TRUE(driver.WaitForEvent("OnAfterLogin"));

  const std::string fileA = WriteFile("通知.txt", "attachment one");
  const std::string fileB = WriteFile("data.bin", std::string("\0\1\2binary", 9));
  bool managerDone = false, editorDone = false;
  int step = 0;

  auto manager = WhenModal<TfrmSetLoadFiles>([&](TfrmSetLoadFiles* m) {
    if (managerDone) return;
    managerDone = true;
    cap.openAnswers = {{fileA, fileB}};
    m->btn_AddFileClick();
    m->close();
  }, std::chrono::seconds(60));
  auto editor = WhenModal<TfrmOLEWord>([&](TfrmOLEWord* ed) {
    if (editorDone) return;
    editorDone = true;
    ed->OleContainer()->SetTrackRevisions(true);
    ed->OleContainer()->TypeText(QString::fromUtf8("端到端修改"));
    ed->nSaveClick();
    cap.promptAnswers.push_back(MsgResult::No);  // already saved
    ed->close();
  }, std::chrono::seconds(60));
  auto document = WhenModal<DocumentFormStandIn>([&](DocumentFormStandIn* f) {
    TfrmMain* session = frmMain();
    if (!session) return;
    if (step == 0) {
      // The attachment button: the list, with the manager asked for.
      f->SetManagerRequested(true);
      frames::QueryRecord q;
      q.userId = SessionValues().UserGUID;
      q.tableName = kTable;
      q.recordId = kRecord;
      q.commandFlag = 1;
      session->SendToServer(frames::BuildQueryRequest(q));
      step = 1;
    } else if (step == 1 && managerDone) {
      session->SendToServer(frames::BuildFileRequest(SessionValues().UserGUID, kTable, kRecord,
                                                     Utf8ToCp936("收文正文.docx")));
      step = 2;
    } else if (step == 2 && editorDone) {
      f->close();
      step = 3;
    }
  }, std::chrono::seconds(120));

  ASSERT_EQ(driver.Call("GetStream", {"oa", kRecord, "0", "收文登记单", "3", "", ""}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return step == 3; }, 120000));
  ASSERT_TRUE(managerDone);
  ASSERT_TRUE(editorDone);
  PumpFor(500);  // the body's upload leaves after the editor closed

  // One upload carried both files, then one the body (the log keeps only the head of a
  // large frame, so the body's upload is counted, not read).
  std::vector<std::string> uploads;
  for (const std::string& line : server.LogLines())
    if (line.rfind("SABB", 0) == 0) uploads.push_back(line);
  ASSERT_EQ(uploads.size(), 2u);
  const std::optional<LoggedFrame> first = ParseLogLine(uploads[0]);
  ASSERT_TRUE(first);
  TCopy2Files added;
  added.LoadFromBytes(std::string_view(first->frame).substr(frames::kAttachmentsHeaderSize));
  EXPECT_EQ(added.Count(), 2);

  // Asked again, the server has the two attachments and the edited body.
  frames::QueryRecord q;
  q.userId = SessionValues().UserGUID;
  q.tableName = kTable;
  q.recordId = kRecord;
  q.commandFlag = 1;
  const std::string strm = Ask(server.Port(), frames::BuildQueryRequest(q));
  const frames::AttachmentsReply list = frames::ParseAttachmentsReply(strm);
  TCopy2Files files;
  files.LoadFromBytes(list.container);
  ASSERT_EQ(files.Count(), 2);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("通知.txt"));
  EXPECT_EQ(files.FileData(0), "attachment one");
  EXPECT_EQ(files.GetFileName(1), "data.bin");
  EXPECT_EQ(files.FileData(1), std::string("\0\1\2binary", 9));

  const std::string fileReply =
      Ask(server.Port(), frames::BuildFileRequest(q.userId, kTable, kRecord, Utf8ToCp936("收文正文.docx")));
  const frames::FileReply body = frames::ParseFileReply(fileReply);
  const std::string xml = DocumentXml(std::string(body.body));
  const size_t at = xml.find("端到端修改");
  ASSERT_NE(at, std::string::npos);
  const size_t ins = xml.rfind("<w:ins ", at);
  ASSERT_NE(ins, std::string::npos);
  EXPECT_EQ(xml.find("</w:ins>", ins), xml.find("</w:ins>", at));

  delete Tfrm_popup::Current();
  ReplyWindowFactories().CreateTemplateForm = nullptr;
}

}  // namespace office_e2e

