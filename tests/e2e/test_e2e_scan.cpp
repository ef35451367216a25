// End to end against oa-server, walked through the windows: the document form's "附件"
// opens the attachment manager, "扫描文件" its scan form, whose 扫描 brings up the source's
// own dialog; a page is scanned from the SANE test backend, the scan form is closed and
// its pages become one Word document that the manager uploads as "扫描件1.doc".
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <cstdlib>

#include "ModalDriver.h"
#include "PageSession.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/attachments/AttachmentList.h"
#include "control/windows/frmPopup.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/frm_Template.h"
#include "control/wire/Frames.h"
#include "imaging/SourceDialogPerson.h"
#include "imaging/ui/DemoForm.h"
#include "imaging/SaneTestSupport.h"
#include "imaging/ui/EnScan.h"
#include "imaging/ui/SaneDsm.h"
#include "platform/Services.h"
#include "uikit/TFlatButtonUnit.h"

namespace scan_e2e {

QApplication& App() { return E2eApp("e2e-scan"); }

using person::Modal;

TEST(ScanE2E, APageScannedFromTheFormsManagerReachesTheServerAsAWordAttachment) {
  UseSaneTestPage();
  App();
  ClearSessionValues();
  auto page = std::make_unique<PageSession>();
  ASSERT_TRUE(page->Start());
  ASSERT_TRUE(page->Login("zhangsan"));

  std::string record;
  int pages = 0, formFiles = -1;
  QString listed, question;
  bool sourceDialog = false;
  // The office worker starts for the conversion: its steps get time.
  person::Walk walk(std::chrono::seconds(120));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Scan");
        ClickThroughWindow(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return page->Count("UPDA") == 1; },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [](TfrmSetLoadFiles* m) { ClickThroughWindow(m->btn_Copy2()); },
                            [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); })
      .In<TScanForm>("the scan form", [](TScanForm* f) {
        ClickThroughWindow(f->findChild<QToolBar*>()->widgetForAction(f->Btn_Scan));
      })
      .Then("the source's dialog", [] { return VisibleScanSourceDialog() != nullptr; },
            [&] {
              sourceDialog = true;
              ClickThroughWindow(DialogButton(VisibleScanSourceDialog(), QString::fromUtf8("扫描")));
            })
      .In<TScanForm>("the scanned page", [&](TScanForm* f) {
        pages = f->PageCount();
        f->windowHandle()->close();  // the close box
      }, [](TScanForm* f) { return f->PageCount() > 0 && f->Btn_Scan->isEnabled(); })
      .In<QMessageBox>("the keep-the-pages question", [&](QMessageBox* b) {
        question = b->text();
        ClickThroughWindow(b->button(QMessageBox::Yes));
      })
      .In<TfrmSetLoadFiles>("the scan in the manager", [&](TfrmSetLoadFiles* m) {
        listed = m->ListView()->item(0)->text();
        ClickThroughWindow(m->btn_Close());
      }, [](TfrmSetLoadFiles* m) { return m->ListView()->count() == 1; })
      .In<TfrmTemplate>("the form after the manager", [&](TfrmTemplate* f) {
        formFiles = f->AttachmentList()->ListView()->count();
        ClickThroughWindow(f->CloseButton());
      }, [&](TfrmTemplate*) { return page->Count("SABB") == 1; });
  ASSERT_TRUE(page->Open("请假单", ""));
  person::RunWalk(walk, 280000);

  EXPECT_TRUE(sourceDialog);
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(question, QString::fromUtf8("图像还没有保存，是否保存?"));
  EXPECT_EQ(listed, QString::fromUtf8("扫描件1.doc"));
  EXPECT_EQ(formFiles, 1);
  const TCopy2Files files = page->Attachments("oa_leave", record);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("扫描件1.doc"));
  EXPECT_EQ(std::string(files.FileData(0)).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));

  person::CloseLeftWindows();
  delete Tfrm_popup::Current();
  page.reset();
  ClearSessionValues();
}

// A click on 扫描文件 that cannot open the scan form says why, here because another
// window holds the one scanner a program may have.
TEST(ScanE2E, AScanFormThatCannotOpenSaysWhy) {
  App();
  ServiceCapture services;
  TfrmSetLoadFiles manager;
  manager.show();
  TScanner elsewhere;
  ClickThroughWindow(manager.btn_Copy2());
  std::vector<std::string> said;
  for (const auto& p : services.prompts) said.push_back(Cp936ToUtf8(p.text));
  EXPECT_EQ(said, std::vector<std::string>{"扫描窗口无法打开：Only one scanner object is permitted"});
  EXPECT_EQ(manager.ListView()->count(), 0);
}

// Every click on 扫描文件 opens the form or says why: a form that something other than the
// person ends says so, and leaves nothing behind that keeps the next click from opening it.
TEST(ScanE2E, AScanFormEndedByTheProgramSaysWhyAndTheNextClickOpensTheForm) {
  App();
  ServiceCapture services;
  TfrmSetLoadFiles manager;
  manager.show();
  {
    auto ended = WhenModal<TScanForm>([](TScanForm* f) { f->done(QDialog::Rejected); });
    ClickThroughWindow(manager.btn_Copy2());
  }
  ASSERT_EQ(services.prompts.size(), 1u);
  EXPECT_EQ(Cp936ToUtf8(services.prompts[0].text).rfind("扫描窗口无法打开：", 0), 0u)
      << Cp936ToUtf8(services.prompts[0].text);

  bool opened = false;
  {
    auto closed = WhenModal<TScanForm>([&](TScanForm* f) {
      opened = true;
      f->windowHandle()->close();  // the close box
    });
    ClickThroughWindow(manager.btn_Copy2());
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(services.prompts.size(), 1u);  // closed by the person: nothing to say
  EXPECT_EQ(manager.ListView()->count(), 0);
  EXPECT_NO_THROW(TScanner());  // no scanner of either form is left behind
}

// 保存返回 waits for the server's answer to the last upload; a scan form opened meanwhile
// must not have the manager close under it, which would drop the document it makes.
TEST(ScanE2E, AManagerDoesNotCloseUnderAScanFormOpenedWhileItsUploadTravels) {
  App();
  ServiceCapture services;
  const QString file = QDir::tempPath() + "/scan-while-saving.txt";
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("kept");
  f.close();
  services.openAnswers.push_back({file.toStdString()});
  TfrmSetLoadFiles manager;
  std::vector<TfrmSetLoadFiles::RequestEnded> unanswered;  // the server answers when told
  manager.SendFrame = [&](std::string, TfrmSetLoadFiles::RequestEnded ended) {
    unanswered.push_back(std::move(ended));
  };
  manager.show();
  ClickThroughWindow(manager.btn_AddFile());
  ClickThroughWindow(manager.btn_Close());
  ASSERT_EQ(unanswered.size(), 1u);
  ASSERT_TRUE(manager.isVisible());
  bool answered = false;
  {
    auto scan = WhenModal<TScanForm>([&](TScanForm* form) {
      if (!std::exchange(answered, true)) {
        const TMemoryStream saved(frames::BuildServerMessage(Cp936("附件保存成功！")));
        unanswered.front()(&saved);
        return;
      }
      form->windowHandle()->close();
    });
    ClickThroughWindow(manager.btn_Copy2());
  }
  EXPECT_TRUE(answered);
  EXPECT_TRUE(manager.Uploaded());
  EXPECT_TRUE(manager.isVisible());
  EXPECT_EQ(manager.ListView()->count(), 1);
}

}  // namespace scan_e2e
