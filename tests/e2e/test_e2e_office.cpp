// End to end against oa-server, through the document forms the server's replies open: a
// leave request's attachment manager adds two files in one upload, an incoming letter's
// Word body is edited with revisions and saved, and a second look finds both on the server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "ModalDriver.h"
#include "PageSession.h"
#include "PersonWalk.h"
#include "control/AttachmentList.h"
#include "control/frmPopup.h"
#include "control/frm_Main.h"
#include "control/frm_OLEWord.h"
#include "control/frm_SetLoadFiles.h"
#include "control/frm_Template.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "uikit/TFlatButtonUnit.h"
#include "tests/apps/RawClient.h"

namespace office_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-office"); }

using e2e::Ask;

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
  ServiceCapture cap;
  auto page = std::make_unique<PageSession>();
  ASSERT_TRUE(page->Start());
  ASSERT_TRUE(page->Login("zhangsan"));

  const std::string fileA = WriteFile("通知.txt", "attachment one");
  const std::string fileB = WriteFile("data.bin", std::string("\0\1\2binary", 9));
  std::string leave;
  // A leave request (no Word body): its 附件 opens the attachment manager; the incoming
  // letter's 附件 opens its Word body.
  person::Walk walk(std::chrono::seconds(60));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        leave = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Trip");
        person::Click(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return page->Count("UPDA") == 1; },
            [] { person::Click(person::Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [&](TfrmSetLoadFiles* m) {
        cap.openAnswers = {{fileA, fileB}};
        person::Click(m->btn_AddFile());
      }, [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); })
      .In<TfrmSetLoadFiles>("both files sent", [](TfrmSetLoadFiles* m) { person::Click(m->btn_Close()); },
                            [&](TfrmSetLoadFiles* m) { return m->ListView()->count() == 2 && page->Count("SABB") == 1; })
      .In<TfrmTemplate>("the leave request again", [](TfrmTemplate* f) { person::Click(f->CloseButton()); })
      .Then("the leave request closed", [] { return !QApplication::activeModalWidget(); },
            [&] { page->Open("收文登记单", kRecord); })
      .In<TfrmTemplate>("the incoming letter", [](TfrmTemplate* f) { person::Click(f->AttachmentButton()); },
                        [](TfrmTemplate* f) { return f->Doc().Header.Text(dh::TableName) == kTable; })
      .In<TfrmOLEWord>("the Word body", [&](TfrmOLEWord* ed) {
        ed->OleContainer()->SetTrackRevisions(true);
        ed->OleContainer()->TypeText(QString::fromUtf8("端到端修改"));
        ed->nSaveClick();
        cap.promptAnswers.push_back(MsgResult::No);  // already saved
        ed->close();
      })
      .In<TfrmTemplate>("the incoming letter again", [&](TfrmTemplate* f) {
        cap.promptAnswers.push_back(MsgResult::No);  // its fields are not what this is about
        person::Click(f->CloseButton());
      });
  ASSERT_TRUE(page->Open("请假单", ""));
  person::RunWalk(walk, 200000);
  // The body's upload leaves after the editor closed.
  ASSERT_TRUE(PumpUntil([&] { return page->Count("SABB") == 2; }, 20000));
  const OaServerProcess& server = page->server;

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
  const TCopy2Files files = page->Attachments("oa_leave", leave);
  ASSERT_EQ(files.Count(), 2);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("通知.txt"));
  EXPECT_EQ(files.FileData(0), "attachment one");
  EXPECT_EQ(files.GetFileName(1), "data.bin");
  EXPECT_EQ(files.FileData(1), std::string("\0\1\2binary", 9));

  const std::string fileReply = Ask(server.Port(), frames::BuildFileRequest(SessionValues().UserGUID, kTable, kRecord,
                                                                            Utf8ToCp936("收文正文.docx")));
  const frames::FileReply body = frames::ParseFileReply(fileReply);
  const std::string xml = DocumentXml(std::string(body.body));
  const size_t at = xml.find("端到端修改");
  ASSERT_NE(at, std::string::npos);
  const size_t ins = xml.rfind("<w:ins ", at);
  ASSERT_NE(ins, std::string::npos);
  EXPECT_EQ(xml.find("</w:ins>", ins), xml.find("</w:ins>", at));

  person::CloseLeftWindows();
  delete Tfrm_popup::Current();
  page.reset();
  ClearSessionValues();
}

}  // namespace office_e2e

