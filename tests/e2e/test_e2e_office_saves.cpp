// End to end against oa-server and the office worker, where saving can go wrong: an empty
// Word attachment edited and saved through the attachment manager, and the incoming
// letter's Word body saved while the server is down, then again once it is back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "ModalDriver.h"
#include "PageSession.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "WordEditorSupport.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "uikit/TFlatButtonUnit.h"
#include "control/form/frm_Template.h"
#include "control/office/frm_OLEWord.h"
#include "control/windows/frmPopup.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"

namespace office_saves_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-office-saves"); }

std::string WriteFile(const std::string& name, const std::string& bytes) {
  QString path = QDir::tempPath() + "/" + QString::fromStdString(name);
  QFile f(path);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path.toStdString();
}

using word_e2e::ChooseMenu;
using word_e2e::CloseThroughWindow;
using word_e2e::DarkPixels;
using word_e2e::HoldsText;

TEST(OfficeSavesE2E, AnEmptyWordAttachmentIsEditedSavedAndKept) {
  App();
  ClearSessionValues();
  ServiceCapture cap;
  auto page = std::make_unique<PageSession>();
  ASSERT_TRUE(page->Start());
  ASSERT_TRUE(page->Login("zhangsan"));
  const std::string empty = WriteFile("空白.doc", "");
  std::string leave;
  qint64 worker = 0;
  bool typedSeen = false;

  person::Walk walk(std::chrono::seconds(60));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        leave = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Empty doc");
        person::Click(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return page->Count("UPDA") == 1; },
            [] { person::Click(person::Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [&](TfrmSetLoadFiles* m) {
        cap.openAnswers = {{empty}};
        person::Click(m->btn_AddFile());
      }, [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); })
      .In<TfrmSetLoadFiles>("the empty file listed", [](TfrmSetLoadFiles* m) {
        QListWidget* list = m->ListView();
        const QRect r = list->visualItemRect(list->item(0));
        QWidget* top = m->window();
        QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, list->viewport()->mapTo(top, r.center()));
      }, [](TfrmSetLoadFiles* m) { return m->ListView()->count() == 1; })
      .In<TfrmOLEWord>("the empty document in the editor", [&](TfrmOLEWord* ed) {
        worker = TOfficeWorker::Shared().ProcessId();
        person::Click(ed->OleContainer());
        TypeThroughWindow(ed->OleContainer(), "Typed into nothing");
      }, [](TfrmOLEWord* ed) { return ed->OleContainer()->IsOpen(); })
      .In<TfrmOLEWord>("the typing taken", [&](TfrmOLEWord* ed) {
        typedSeen = true;
        ChooseMenu(ed, "保存文件");
        // Saved: the close asks nothing.
        CloseThroughWindow(ed);
      }, [](TfrmOLEWord* ed) {
        // On screen as it is now: the worker has painted what was typed.
        return ed->OleContainer()->FrameCurrent() && DarkPixels(ed->OleContainer()) > 100;
      })
      .In<TfrmSetLoadFiles>("the manager again", [](TfrmSetLoadFiles* m) { person::Click(m->btn_Close()); })
      .In<TfrmTemplate>("the leave request again", [&](TfrmTemplate* f) {
        cap.promptAnswers.push_back(MsgResult::No);
        person::Click(f->CloseButton());
      }, [&](TfrmTemplate*) { return page->Count("SABB") >= 2; });  // the added file, then the edited one
  ASSERT_TRUE(page->Open("请假单", ""));
  person::RunWalk(walk, 200000);
  EXPECT_TRUE(typedSeen);

  // The worker lived through the save, and nobody was told it went away.
  EXPECT_EQ(TOfficeWorker::Shared().ProcessId(), worker);
  EXPECT_TRUE(TOfficeWorker::Shared().Running());
  for (const auto& p : cap.prompts) EXPECT_EQ(p.text.find(Cp936("文档服务")), std::string::npos) << Cp936ToUtf8(p.text);
  // The server keeps the edited document under its name.
  const TCopy2Files files = page->Attachments("oa_leave", leave);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("空白.doc"));
  EXPECT_TRUE(HoldsText(files.FileData(0), "Typed")) << files.FileData(0).size() << " bytes";

  person::CloseLeftWindows();
  delete Tfrm_popup::Current();
  page.reset();
  ClearSessionValues();
}

TEST(OfficeSavesE2E, ABodySavedWhileTheServerIsDownStaysChangedUntilTheServerHasIt) {
  App();
  ClearSessionValues();
  ServiceCapture cap;
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  QWidget page;
  ComPtr<IDispatch> control = CreateControlForPage(&page);
  ASSERT_TRUE(control);
  {
    PageDriver driver(control);
    page.show();
    ASSERT_TRUE(driver.WaitForEvent("OnDoLogin", 1, 10000));
    ASSERT_EQ(driver.Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
    ASSERT_EQ(driver.Call("Login", {"zhangsan"}), S_OK);
    ASSERT_TRUE(driver.WaitForEvent("OnAfterLogin", 1, 10000));
    const AnsiString connectError = Cp936("无法连接远程服务器");
    auto told = [&](const AnsiString& what) {
      size_t n = 0;
      for (const auto& p : cap.prompts) n += p.text.find(what) != std::string::npos;
      return n;
    };
    size_t asked = 0;
    auto questions = [&] {
      size_t n = 0;
      for (const auto& p : cap.prompts) n += p.text == Cp936("是否保存文档?");
      return n;
    };
    const size_t uploadsBefore = server.Count("SABB");

    person::Walk walk(std::chrono::seconds(60));
    walk.In<TfrmTemplate>("the incoming letter", [](TfrmTemplate* f) { person::Click(f->AttachmentButton()); },
                          [](TfrmTemplate* f) { return f->Doc().Header.Text(dh::TableName) == kTable; })
        .In<TfrmOLEWord>("the Word body", [&](TfrmOLEWord* ed) {
          person::Click(ed->OleContainer());
          TypeThroughWindow(ed->OleContainer(), "Kept after all");
        }, [](TfrmOLEWord* ed) { return ed->OleContainer()->IsOpen(); })
        .In<TfrmOLEWord>("the typing taken", [&](TfrmOLEWord* ed) {
          server.Stop();
          ChooseMenu(ed, "保存文件");
        }, [](TfrmOLEWord* ed) { return ed->Changed(); })
        .In<TfrmOLEWord>("the save refused by the dead server", [&](TfrmOLEWord* ed) {
          // Still changed: closing asks, and "Yes" tries once more, in vain.
          EXPECT_TRUE(ed->Changed());
          cap.promptAnswers.push_back(MsgResult::Yes);
          CloseThroughWindow(ed);
          asked = questions();
        }, [&](TfrmOLEWord* ed) { return told(connectError) == 1 && !ed->Uploading(); })
        .In<TfrmOLEWord>("the save on closing refused too", [&](TfrmOLEWord* ed) {
          EXPECT_EQ(asked, 1u);
          EXPECT_TRUE(ed->Changed());
          ASSERT_TRUE(server.Restart());
          ChooseMenu(ed, "保存文件");
        }, [&](TfrmOLEWord* ed) { return told(connectError) == 2 && !ed->Uploading(); })
        .In<TfrmOLEWord>("the save kept", [&](TfrmOLEWord* ed) {
          // Kept: the close asks nothing more.
          CloseThroughWindow(ed);
        }, [](TfrmOLEWord* ed) { return !ed->Uploading() && !ed->Changed(); })
        .In<TfrmTemplate>("the incoming letter again", [&](TfrmTemplate* f) {
          cap.promptAnswers.push_back(MsgResult::No);
          person::Click(f->CloseButton());
        });
    ASSERT_EQ(driver.Call("GetStream", {"oa", kRecord, "0", "收文登记单", "3", "", ""}), S_OK);
    person::RunWalk(walk, 200000);
    EXPECT_EQ(questions(), 1u);
    EXPECT_EQ(server.Count("SABB"), uploadsBefore + 1);
  }

  // Asked again, the server has the body with what was typed.
  const AnsiString reader =
      frames::ParseLoginReply(e2e::Ask(server.Port(), frames::BuildLoginRequest("zhangsan"))).UserGUID;
  const std::string fileReply = e2e::Ask(
      server.Port(), frames::BuildFileRequest(reader, kTable, kRecord, Utf8ToCp936("收文正文.docx")));
  const std::string body(frames::ParseFileReply(fileReply).body);
  const std::string zip = WriteFile("kept-body.docx", body);
  QProcess unzip;
  unzip.start("unzip", {"-p", QString::fromStdString(zip), "word/document.xml"});
  unzip.waitForFinished(10000);
  EXPECT_NE(unzip.readAllStandardOutput().indexOf("Kept after all"), -1);

  person::CloseLeftWindows();
  delete Tfrm_popup::Current();
  control = {};
  PumpFor(200);
  ClearSessionValues();
}

}  // namespace office_saves_e2e
