// What a person saves in the document form counts only once the real oa-server has it:
// a picked list item comes back when the document is opened again, a save made while
// the server was down goes out again on the next save and closing asks until then, and
// 是 on closing keeps the document at its author's step. Walked through the windows, with
// the control as a page holds it.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "platform/QtText.h"
#include "grid/XLCells.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLEdits.h"
#include "grid/ui/GSCtrls.h"
#include "grid/ui/XLGridView.h"

namespace {

QApplication& App() { return E2eApp("e2e-saves"); }

using person::Modal;

const TFieldEntry* FieldOf(TfrmTemplate* f, const char* name) {
  for (const TFieldEntry& e : f->Doc().Fields)
    if (e.name == Cp936(name)) return &e;
  return nullptr;
}

QString CellText(TfrmTemplate* f, const char* field) {
  const TFieldEntry* e = FieldOf(f, field);
  TXLCell* cell = e ? f->Sheet().FindCell(e->col, e->row) : nullptr;
  return cell ? ToQString(cell->GetDisplayText()) : QString();
}

QPoint CellCentre(TfrmTemplate* f, const char* field) {
  const TFieldEntry* e = FieldOf(f, field);
  return e ? f->Grid()->View(sClient)->CellRect(TPoint{e->col, e->row}).center() : QPoint();
}

// The pick list of the editor open over the form's current cell, if any.
TGSPickList* OpenPickList() {
  TfrmTemplate* f = Modal<TfrmTemplate>();
  if (!f || !f->Grid()->Editor()->Shown()) return nullptr;
  auto* pick = dynamic_cast<TXLPickEdit*>(f->Grid()->Editor()->EditorControl());
  return pick ? pick->PickList() : nullptr;
}

// The question a closing form asks, and the box the session form shows.
bool IsBox(QMessageBox* b, const char* text) { return b->text() == QString::fromUtf8(text); }

// Nothing on its way to the server: a server stopped now cuts no request short.
bool SessionIdle() {
  TfrmMain* m = frmMain();
  return m && !m->Busy() && m->QueuedFrames() == 0;
}

class SavesE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    PageTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(page_->Login("zhangsan"));
  }
  // The values the server holds for the document, as its next reader gets them.
  TStream2Array Stored(const std::string& record, const char* templateName) const {
    frames::QueryRecord q;
    q.userId = SessionValues().UserGUID;
    q.recordId = record;
    q.templateName = Cp936(templateName);
    q.commandFlag = 1;
    q.readOnlyFlag = 1;
    TStream2Array d;
    d.LoadFromBytes(page_->Ask(frames::BuildQueryRequest(q)));
    return d;
  }
  static AnsiString StoredValue(const TStream2Array& d, const char* field) {
    for (const TFieldEntry& e : d.Fields)
      if (e.name == Cp936(field)) return e.stored;
    return "<none>";
  }

};

TEST_F(SavesE2E, AnItemPickedWithTheMouseIsStoredAndShownWhenTheDocumentOpensAgain) {
  ASSERT_TRUE(page_->Open("收文登记单", ""));
  std::string record;
  QString shownAgain;
  AnsiString branchValue;

  person::Walk walk;
  walk.In<TfrmTemplate>("the new incoming document", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Notice");
        // A click makes the list cell current and F2 opens its editor, whose arrow drops
        // the list down.
        ClickThroughWindow(f->Grid()->View(sClient), CellCentre(f, "紧急程度"));
        KeyThroughWindow(f, Qt::Key_F2);
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1 && SessionIdle(); })
      .Then("the arrow of the list cell's editor", [] {
        TfrmTemplate* f = Modal<TfrmTemplate>();
        return f && f->Grid()->Editor()->Shown() && f->Grid()->Editor()->Button()->isVisible();
      }, [] { ClickThroughWindow(Modal<TfrmTemplate>()->Grid()->Editor()->Button()); })
      .Then("the dropped list", [] {
        TGSPickList* pick = OpenPickList();
        return pick && pick->view()->isVisible() && pick->count() == 3;
      }, [] {
        QAbstractItemView* view = OpenPickList()->view();
        ClickThroughWindow(view->viewport(), view->visualRect(view->model()->index(2, 0)).center());
      })
      .Then("the item picked", [] {
        TGSPickList* pick = OpenPickList();
        return pick && !pick->view()->isVisible() && pick->currentText() == QString::fromUtf8("特急");
      }, [] { ClickThroughWindow(Modal<TfrmTemplate>()->TemporaryButton()); })
      .Then("the draft saved", [&] { return Count("UPDA") == 1 && SessionIdle() && !Modal<QMessageBox>(); },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->CloseButton()); })
      .Then("the form closed", [] { return !Modal<QWidget>(); },
            [&] { page_->Open("收文登记单", record.c_str()); })
      .In<TfrmTemplate>("the document opened again", [&](TfrmTemplate* f) {
        shownAgain = CellText(f, "紧急程度");
        branchValue = f->GetFieldValue(Cp936("紧急程度"));
        ClickThroughWindow(f->CloseButton());
      }, [&](TfrmTemplate* f) { return f->Doc().Header.Text(dh::RecordId) == record; });
  ASSERT_TRUE(person::RunWalk(walk, 120000));

  EXPECT_EQ(shownAgain, QString::fromUtf8("特急"));
  EXPECT_EQ(branchValue, Cp936("特急"));
  const TStream2Array stored = Stored(record, "收文登记单");
  EXPECT_EQ(StoredValue(stored, "紧急程度"), Cp936("特急"));
  EXPECT_EQ(StoredValue(stored, "标题"), "Notice");  // typed into a field spanning several columns
}

TEST_F(SavesE2E, ASaveMadeWhileTheServerWasDownIsSentAgainAndClosingAsksUntilTheServerHasIt) {
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  bool formStayedAfterFailedClose = false;

  person::Walk walk;
  // A first draft makes the document the server's; it opens again as a stored one.
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "First");
        ClickThroughWindow(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the first draft saved", [&] { return Count("UPDA") == 1 && SessionIdle() && !Modal<QMessageBox>(); },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->CloseButton()); })
      .Then("the form closed", [] { return !Modal<QWidget>(); }, [&] { page_->Open("请假单", record.c_str()); })
      .In<TfrmTemplate>("the stored leave request", [&](TfrmTemplate* f) {
        person::TypeInto(f, "标题", "Second");
        ASSERT_TRUE(page_->server.Stop());
        ClickThroughWindow(f->TemporaryButton());
      }, [&](TfrmTemplate* f) { return f->Doc().Header.Text(dh::RecordId) == record && SessionIdle(); })
      .In<QMessageBox>("the connect error", [](QMessageBox* b) { ClickThroughWindow(b->button(QMessageBox::Ok)); },
                       [](QMessageBox* b) { return b->text().startsWith(QString::fromUtf8("无法连接远程服务器")); })
      // Not on the server: closing asks, and 是 with the server still down keeps the form.
      .Then("the form again", [] { return Modal<TfrmTemplate>() != nullptr; },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->CloseButton()); })
      .In<QMessageBox>("the close question", [](QMessageBox* b) { ClickThroughWindow(b->button(QMessageBox::Yes)); },
                       [](QMessageBox* b) { return IsBox(b, "是否保存审批单？"); })
      .In<QMessageBox>("the connect error again", [](QMessageBox* b) { ClickThroughWindow(b->button(QMessageBox::Ok)); },
                       [](QMessageBox* b) { return b->text().startsWith(QString::fromUtf8("无法连接远程服务器")); })
      .Then("the form kept", [] { return Modal<TfrmTemplate>() != nullptr; }, [&] {
        formStayedAfterFailedClose = Modal<TfrmTemplate>()->isVisible();
        ASSERT_TRUE(page_->server.Restart());
        ClickThroughWindow(Modal<TfrmTemplate>()->TemporaryButton());
      })
      // Saved once the server's reply is in, not when the server has read the request.
      .Then("the second draft saved", [&] {
        return Count("UPDA") == 2 && !Modal<QMessageBox>() && Modal<TfrmTemplate>() &&
               !Modal<TfrmTemplate>()->CollectFieldValues(false, false);
      },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->CloseButton()); });
  ASSERT_TRUE(person::RunWalk(walk, 120000));

  // Saved, the form closed without a question (a question would have been left up).
  EXPECT_TRUE(formStayedAfterFailedClose);
  EXPECT_EQ(Count("UPDA"), 2u);
  EXPECT_EQ(StoredValue(Stored(record, "请假单"), "标题"), "Second");
}

TEST_F(SavesE2E, YesOnClosingSavesTheDraftWithoutSendingItToTheNextStep) {
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  QString nextStepShown;

  person::Walk walk;
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Draft");
        ClickThroughWindow(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return Count("UPDA") == 1 && SessionIdle() && !Modal<QMessageBox>(); },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->CloseButton()); })
      .Then("the form closed", [] { return !Modal<QWidget>(); }, [&] { page_->Open("请假单", record.c_str()); })
      .In<TfrmTemplate>("the stored leave request", [&](TfrmTemplate* f) {
        nextStepShown = f->NextStepLabel()->text();
        person::TypeInto(f, "标题", "Changed");
        ClickThroughWindow(f->CloseButton());
      }, [&](TfrmTemplate* f) { return f->Doc().Header.Text(dh::RecordId) == record; })
      .In<QMessageBox>("the close question", [](QMessageBox* b) { ClickThroughWindow(b->button(QMessageBox::Yes)); },
                       [](QMessageBox* b) { return IsBox(b, "是否保存审批单？"); })
      .Then("the change saved and the form closed", [&] { return Count("UPDA") == 2 && !Modal<QWidget>(); }, [] {});
  ASSERT_TRUE(person::RunWalk(walk, 120000));

  // The form offered a next step, yet the document stays with its author.
  EXPECT_FALSE(nextStepShown.isEmpty());
  const TStream2Array stored = Stored(record, "请假单");
  EXPECT_EQ(stored.Header.I32(dh::CurrentStep), 1);
  EXPECT_EQ(StoredValue(stored, "标题"), "Changed");
}

}  // namespace
