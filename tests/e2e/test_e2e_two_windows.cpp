// Two windows on one document's attachments, and two on one workflow, against the real
// oa-server: the window whose copy is older is told, in its own window, and keeps its
// changes unsaved; nothing the other window saved is undone. The window driven here is the
// control's own, as a page holds it; the other is a second client saving over the wire.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QWindow>
#include <fstream>

#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/flow/fcEditFlow.h"
#include "control/form/frm_Template.h"
#include "control/wire/AttachmentReply.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Un_CopyFiles.h"
#include "platform/Services.h"
#include "uikit/TFlatButtonUnit.h"

namespace {

QApplication& App() { return E2eApp("e2e-two-windows"); }

using person::Modal;

class TwoWindowsE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    PageTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(page_->Login("zhangsan"));
    ASSERT_TRUE(dir_.isValid());
  }
  size_t Told(const char* text) const {
    size_t n = 0;
    for (const ServiceCapture::Prompt& p : cap_.prompts) n += p.text == Cp936(text);
    return n;
  }
  // The other window's attachment list: its own copy of what the server holds.
  TCopy2Files OtherList() const {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.tableName = "oa_leave";
    q.recordId = record_;
    q.commandFlag = 1;
    TCopy2Files files;
    LoadAttachmentsReply(page_->Ask(frames::BuildQueryRequest(q)), files);
    return files;
  }
  AnsiString SendOther(const std::string& frame) const { return frames::ParseServerMessage(page_->Ask(frame)); }
  std::string WriteFile(const char* name, const char* bytes) {
    const std::string path = dir_.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  ServiceCapture cap_;
  QTemporaryDir dir_;
  AnsiString record_;
};

// Selects the review step on the editor's chart, with the mouse.
void ClickReviewStep(TFFlowEditor* ed) {
  for (int i = 0; i < ed->Chart->ObjectCount(); ++i) {
    if (ed->Chart->Objects(i)->Text() != Cp936("科室审核")) continue;
    const TRect r = ed->Chart->Objects(i)->ZoomedRect();
    const TPoint org = ed->Chart->ScrollOrigin();
    ClickThroughWindow(ed->Chart->viewport(), {(r.Left + r.Right) / 2 - org.x, (r.Top + r.Bottom) / 2 - org.y});
    return;
  }
  ADD_FAILURE() << "no review step on the chart";
}

const char* kAttachmentsChanged = "附件已被他人修改，请关闭后重新打开。";

TEST_F(TwoWindowsE2E, TheManagerWhoseFileAnotherReplacedIsToldAndKeepsItsRemovalUnsaved) {
  const std::string pic = WriteFile("pic.jpg", "picture");
  TCopy2Files other;
  bool unsavedAfterRefusal = false, openAfterSave = false, unsavedAfterSave = false;
  int listedAfterRefusal = -1;
  person::Walk walk(std::chrono::seconds(60));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record_ = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Trip");
        person::Click(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [this] { return Count("UPDA") == 1; },
            [&] {
              // The other window attaches a note first.
              other = OtherList();
              other.AddStream("note.txt", "first note", fsAdded);
              ASSERT_EQ(SendOther(frames::BuildUploadRequest(record_, "oa_leave", other.Count(), other.SaveToBytes())),
                        Cp936("附件保存成功！"));
              other.SetAllStates(fsUploaded);
              person::Click(Modal<TfrmTemplate>()->AttachmentButton());
            })
      .In<TfrmSetLoadFiles>("this manager adds a picture", [&](TfrmSetLoadFiles* m) {
        cap_.openAnswers = {{pic}};
        person::Click(m->btn_AddFile());
      }, [](TfrmSetLoadFiles* m) { return !m->ReadOnly() && m->ListView()->count() == 1; })
      .In<TfrmSetLoadFiles>("the other replaces the note; this one removes it", [&](TfrmSetLoadFiles* m) {
        other.ReplaceFile("note.txt", "the other's note");
        ASSERT_EQ(SendOther(frames::BuildUploadRequest(record_, "oa_leave", other.Count(), other.SaveToBytes())),
                  Cp936("附件保存成功！"));
        QListWidget* list = m->ListView();
        ClickThroughWindow(list->viewport(), list->visualItemRect(list->item(0)).center());
        cap_.promptAnswers = {MsgResult::Yes, MsgResult::Ok};  // 是否移除文件, then the server's word
        person::Click(m->btn_MoveFile());
      }, [](TfrmSetLoadFiles* m) { return m->Uploaded() && m->ListView()->count() == 2; })
      .In<TfrmSetLoadFiles>("保存返回 after the refusal", [&](TfrmSetLoadFiles* m) {
        unsavedAfterRefusal = !m->Uploaded();
        listedAfterRefusal = m->ListView()->count();
        cap_.promptAnswers = {MsgResult::Ok};
        person::Click(m->btn_Close());
      }, [&](TfrmSetLoadFiles*) { return Told(kAttachmentsChanged) == 1; })
      .In<TfrmSetLoadFiles>("the close box after the second refusal", [&](TfrmSetLoadFiles* m) {
        openAfterSave = m->isVisible();
        unsavedAfterSave = !m->Uploaded();
        cap_.promptAnswers = {MsgResult::Yes};  // give up the removal
        m->windowHandle()->close();
      }, [&](TfrmSetLoadFiles*) { return Told(kAttachmentsChanged) == 2; })
      .In<TfrmTemplate>("the form after the manager", [](TfrmTemplate* f) { person::Click(f->CloseButton()); });
  ASSERT_TRUE(page_->Open("请假单", ""));
  person::RunWalk(walk, 240000);

  EXPECT_TRUE(unsavedAfterRefusal);
  EXPECT_EQ(listedAfterRefusal, 1);
  EXPECT_TRUE(openAfterSave);
  EXPECT_TRUE(unsavedAfterSave);
  const TCopy2Files kept = page_->Attachments("oa_leave", record_);
  ASSERT_EQ(kept.Count(), 2);
  EXPECT_EQ(kept.GetFileName(0), "note.txt");
  EXPECT_EQ(kept.FileData(0), "the other's note");
  EXPECT_EQ(kept.GetFileName(1), "pic.jpg");
  EXPECT_EQ(kept.FileData(1), "picture");
}

TEST_F(TwoWindowsE2E, TheWorkflowEditorOpenedFirstIsToldAndKeepsItsChange) {
  const auto chat = [&] { return ParseFlowMessage(page_->Ask(frames::BuildChatRequest(1))); };
  bool toldOpen = false;
  QString daysAfterRefusal;
  person::Walk walk(std::chrono::seconds(60));
  walk.In<TFFlowEditor>("this editor changes the review step's days", [&](TFFlowEditor* ed) {
        ClickReviewStep(ed);
        ClickThroughWindow(ed->edtWFValue);
        KeyThroughWindow(ed->edtWFValue, Qt::Key_A, Qt::ControlModifier);
        TypeThroughWindow(ed->edtWFValue, "12");
        // Meanwhile the other editor adds a step and saves.
        TFlowMessage other = chat();
        TStepRecord added = NewStepRecord();
        added.name = Cp936("复核");
        other.steps.push_back(added);
        ASSERT_EQ(SendOther(BuildFlowMessage(other)), Cp936("流程保存成功！"));
        cap_.promptAnswers = {MsgResult::Ok};
        ClickThroughWindow(ed->BitBtn1);
      }, [](TFFlowEditor* ed) { return ed->Chart->ObjectCount() == 4; })
      .In<TFFlowEditor>("the close box after the refusal", [&](TFFlowEditor* ed) {
        toldOpen = ed->isVisible() && ed->BitBtn1->isEnabled() && ed->Modified();
        ClickReviewStep(ed);
        daysAfterRefusal = ed->edtWFValue->text();
        cap_.promptAnswers = {MsgResult::Yes};  // 是否放弃修改并退出
        ed->windowHandle()->close();
      }, [&](TFFlowEditor*) { return Told("流程定义已被他人修改，请关闭后重新打开。") == 1; });
  ASSERT_EQ(page_->driver->Call("GetFlowChart", {"1"}), S_OK);
  person::RunWalk(walk, 120000);

  EXPECT_TRUE(toldOpen);
  EXPECT_EQ(daysAfterRefusal, "12");
  const TFlowMessage stored = chat();
  ASSERT_EQ(stored.steps.size(), 5u);
  EXPECT_EQ(stored.steps[4].name, Cp936("复核"));
  EXPECT_NE(stored.steps[1].daysToHandle, "12");
}

}  // namespace
