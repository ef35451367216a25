// The attachment manager as a person meets it off the main road, against the real oa-server
// and with the control as a page holds it: the server stops between two clicks, Escape
// closes the manager, and two attachments share a name.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>
#include <QWindow>

#include "tests/control/OfficeTestSupport.h"
#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/attachments/AttachmentList.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/frm_Template.h"
#include "control/office/frm_OLEWord.h"
#include "control/windows/frmPopup.h"
#include "control/wire/Un_CopyFiles.h"
#include "core/AnsiString.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "uikit/TFlatButtonUnit.h"

namespace {

QApplication& App() { return E2eApp("e2e-attachments"); }

using person::Modal;

const char* kAskToDrop = "附件的修改没有保存到服务器，是否放弃这些修改？";

std::string WriteFile(const std::string& name, const QByteArray& bytes) {
  const QString path = QDir::tempPath() + "/" + QString::fromStdString(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
  return path.toStdString();
}

QByteArray ReadFile(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Clicks (or double-clicks) row `row` of a list through its window.
void ClickRow(QListWidget* list, int row, bool twice = false) {
  const QPoint at = list->visualItemRect(list->item(row)).center();
  QWidget* top = list->window();
  const QPoint inTop = list->viewport()->mapTo(top, at);
  if (twice)
    QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, inTop);
  else
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, inTop);
}

class AttachmentsE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PageTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(page_->Login("zhangsan"));
  }
  size_t Asked(const char* text) const {
    size_t n = 0;
    for (const ServiceCapture::Prompt& p : cap_.prompts) n += p.text == Cp936(text);
    return n;
  }

  // A new leave request kept as a draft, then its 附件: the walk goes on in the manager.
  void ToTheManager(person::Walk& walk) {
    walk.In<TfrmTemplate>("the new leave request", [this](TfrmTemplate* f) {
          record_ = f->Doc().Header.Text(dh::RecordId);
          person::TypeInto(f, "标题", "Trip");
          person::Click(f->TemporaryButton());
        }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
        .Then("the draft saved", [this] { return Count("UPDA") == 1; },
              [] { person::Click(Modal<TfrmTemplate>()->AttachmentButton()); })
        .In<TfrmSetLoadFiles>("the attachment manager", [](TfrmSetLoadFiles*) {},
                              [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); });
  }
  void Run(person::Walk& walk) {
    ASSERT_TRUE(page_->Open("请假单", ""));
    person::RunWalk(walk, 240000);
  }

  ServiceCapture cap_;  // file dialogs and message boxes, answered as the person would
  std::string record_;
};

TEST_F(AttachmentsE2E, AFileAddedWhileTheServerIsDownStaysUnsavedAskedAboutAndGoesOnTheNextSave) {
  const std::string path = WriteFile("offline.txt", "added while the server was down");
  bool openAfterSave = false, unsavedAfterSave = false, openAfterAsking = false;
  int formItems = -1;
  person::Walk walk(std::chrono::seconds(60));
  ToTheManager(walk);
  walk.Then("the server stopped", [] { return true; },
            [&] {
              ASSERT_TRUE(page_->server.Stop());
              cap_.openAnswers = {{path}};
              person::Click(Modal<TfrmSetLoadFiles>()->btn_AddFile());
            })
      // The add was tried and refused by the dead server: listed, not saved.
      .In<TfrmSetLoadFiles>("the add refused", [&](TfrmSetLoadFiles* m) { person::Click(m->btn_Close()); },
                            [&](TfrmSetLoadFiles* m) {
                              return m->ListView()->count() == 1 && !cap_.prompts.empty();
                            })
      .In<TfrmSetLoadFiles>("保存返回 refused", [&](TfrmSetLoadFiles* m) {
        openAfterSave = m->isVisible();
        unsavedAfterSave = !m->Uploaded();
        cap_.promptAnswers = {MsgResult::Ok, MsgResult::No};  // the connect error, then keep it
        m->windowHandle()->close();  // the close box
      }, [&](TfrmSetLoadFiles*) { return cap_.prompts.size() >= 2; })
      .In<TfrmSetLoadFiles>("the close box asked", [&](TfrmSetLoadFiles* m) {
        openAfterAsking = m->isVisible();
        ASSERT_TRUE(page_->server.Restart());
        person::Click(m->btn_Close());
      }, [&](TfrmSetLoadFiles*) { return Asked(kAskToDrop) == 1; })
      .In<TfrmTemplate>("the form after the manager", [&](TfrmTemplate* f) {
        formItems = f->AttachmentList()->ListView()->count();
        person::Click(f->CloseButton());
      }, [&](TfrmTemplate*) { return Count("SABB") == 1; });
  Run(walk);

  EXPECT_TRUE(openAfterSave);
  EXPECT_TRUE(unsavedAfterSave);
  EXPECT_TRUE(openAfterAsking);
  EXPECT_EQ(formItems, 1);
  const TCopy2Files files = page_->Attachments("oa_leave", record_);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), "offline.txt");
  EXPECT_EQ(files.FileData(0), "added while the server was down");
}

TEST_F(AttachmentsE2E, EscapeRightAfterAddingKeepsTheFileOnTheServerAndInTheFormsList) {
  const std::string path = WriteFile("escaped.txt", "kept through Escape");
  int formItems = -1;
  person::Walk walk(std::chrono::seconds(60));
  ToTheManager(walk);
  walk.Then("the file added", [] { return true; },
            [&] {
              cap_.openAnswers = {{path}};
              person::Click(Modal<TfrmSetLoadFiles>()->btn_AddFile());
            })
      .In<TfrmSetLoadFiles>("Escape", [](TfrmSetLoadFiles* m) { KeyThroughWindow(m, Qt::Key_Escape); },
                            [](TfrmSetLoadFiles* m) { return m->ListView()->count() == 1; })
      .In<TfrmTemplate>("the form after Escape", [&](TfrmTemplate* f) {
        formItems = f->AttachmentList()->ListView()->count();
        person::Click(f->CloseButton());
      }, [&](TfrmTemplate*) { return Count("SABB") == 1; });
  Run(walk);

  EXPECT_EQ(formItems, 1);
  EXPECT_EQ(Asked(kAskToDrop), 0u);
  const TCopy2Files files = page_->Attachments("oa_leave", record_);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), "escaped.txt");
}

TEST_F(AttachmentsE2E, TheSecondOfTwoSameNamedAttachmentsIsEditedAndRemovedItself) {
  const std::string made = MakeDocx("same-name");
  const QByteArray original = ReadFile(made);
  ASSERT_FALSE(original.isEmpty());
  const std::string path = WriteFile("memo.docx", original);
  TCopy2Files afterEdit;
  person::Walk walk(std::chrono::seconds(90));
  ToTheManager(walk);
  walk.Then("the first copy", [] { return true; },
            [&] {
              cap_.openAnswers = {{path}};
              person::Click(Modal<TfrmSetLoadFiles>()->btn_AddFile());
            })
      .In<TfrmSetLoadFiles>("the second copy", [&](TfrmSetLoadFiles* m) {
        cap_.openAnswers = {{path}};
        person::Click(m->btn_AddFile());
      }, [&](TfrmSetLoadFiles* m) { return m->Uploaded() && Count("SABB") == 1; })
      .In<TfrmSetLoadFiles>("the second opened", [](TfrmSetLoadFiles* m) { ClickRow(m->ListView(), 1, true); },
                            [&](TfrmSetLoadFiles* m) {
                              return m->ListView()->count() == 2 && m->Uploaded() && Count("SABB") == 2;
                            })
      .In<TfrmOLEWord>("the second edited", [&](TfrmOLEWord* ed) {
        ed->OleContainer()->TypeText(QString::fromUtf8("第二份的修改"));
        cap_.promptAnswers = {MsgResult::Yes};  // 是否保存文档?
        ed->close();
      })
      .In<TfrmSetLoadFiles>("the second removed", [&](TfrmSetLoadFiles* m) {
        afterEdit = page_->Attachments("oa_leave", record_);
        ClickRow(m->ListView(), 1);
        cap_.promptAnswers = {MsgResult::Yes};  // 是否移除文件
        person::Click(m->btn_MoveFile());
      }, [&](TfrmSetLoadFiles* m) { return m->Uploaded() && Count("SABB") == 3; })
      .In<TfrmSetLoadFiles>("saved and back", [](TfrmSetLoadFiles* m) { person::Click(m->btn_Close()); },
                            [&](TfrmSetLoadFiles* m) {
                              return m->Uploaded() && Count("SABB") == 4 && m->ListView()->count() == 1;
                            })
      .In<TfrmTemplate>("the form after the manager", [](TfrmTemplate* f) { person::Click(f->CloseButton()); });
  Run(walk);

  // The edit went to the second file; the first stayed as it was.
  ASSERT_EQ(afterEdit.Count(), 2);
  EXPECT_TRUE(afterEdit.FileData(0) == original.toStdString()) << "the first file was changed";
  EXPECT_FALSE(afterEdit.FileData(1) == original.toStdString()) << "the second file was not changed";
  EXPECT_NE(ZipMember(QByteArray::fromStdString(std::string(afterEdit.FileData(1))), "word/document.xml")
                .find("第二份的修改"),
            std::string::npos);
  // Removing the second left the first, untouched.
  const TCopy2Files files = page_->Attachments("oa_leave", record_);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), "memo.docx");
  EXPECT_TRUE(files.FileData(0) == original.toStdString()) << "the file left is not the untouched first";
}

}  // namespace
