// Closing the document form and the attachment manager never throws away what a person
// did: Escape and the close box on a save question keep the window and its typing, Enter
// keeps the work, a new document typed into is asked about and kept as a draft, an
// untouched one closes without a word, and an archive with the server down keeps the form
// until the server has it. Walked through the real windows and message boxes, with the
// control as a page holds it and the real oa-server.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "apps/oa-server/OaDatabase.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/frm_Template.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/wire/Class_StoExcel.h"
#include "grid/XLCells.h"
#include "grid/ui/XLGridView.h"
#include "platform/QtText.h"
#include "platform/Services.h"
#include "uikit/TFlatButtonUnit.h"

namespace {

QApplication& App() { return E2eApp("e2e-closing"); }

using person::Modal;

const char* kSaveQuestion = "是否保存审批单？";
const char* kArchiveQuestion = "是否将此审批（文件）归档？";
const char* kDropQuestion = "附件的修改没有保存到服务器，是否放弃这些修改？";

bool IsBox(QMessageBox* b, const char* text) { return b->text() == QString::fromUtf8(text); }
bool IsConnectError(QMessageBox* b) { return b->text().startsWith(QString::fromUtf8("无法连接远程服务器")); }

// Nothing on its way to the server: a server stopped now cuts no request short.
bool SessionIdle() {
  TfrmMain* m = frmMain();
  return m && !m->Busy() && m->QueuedFrames() == 0;
}

QString CellText(TfrmTemplate* f, const char* field) {
  for (const TFieldEntry& e : f->Doc().Fields)
    if (e.name == Cp936(field))
      if (TXLCell* cell = f->Sheet().FindCell(e.col, e.row)) return ToQString(cell->GetDisplayText());
  return {};
}

// A command button as automation finds it: by its name.
QPushButton* Command(TfrmTemplate* f, const char* name) {
  QPushButton* b = f->findChild<QPushButton*>(QString::fromLatin1(name));
  EXPECT_TRUE(b && b->isVisible()) << "no visible button named " << name;
  return b;
}

// The form that stays after a question was dismissed: the active window, no box over it.
bool FormUp() {
  TfrmTemplate* f = Modal<TfrmTemplate>();
  return f && f->isVisible();
}

// pred, once it has held for ms without a break: a window that is about to go does not
// count as kept.
std::function<bool()> HeldFor(std::function<bool()> pred, int ms) {
  auto since = std::make_shared<QElapsedTimer>();
  return [pred = std::move(pred), since, ms] {
    if (!pred()) {
      since->invalidate();
      return false;
    }
    if (!since->isValid()) since->start();
    return since->elapsed() >= ms;
  };
}

// The box's own close box (its title bar's ×).
void CloseBox(QWidget* w) { w->windowHandle()->close(); }

class ClosingE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    PageTest::SetUp();
  }

  std::optional<oa::StoredDocument> Stored(const std::string& id) const { return page_->Stored(id); }
  static AnsiString Value(const oa::StoredDocument& d, const char* field) { return e2e::StoredValue(d, field); }

  // user submits the leave request id (a new one, titled, for ""); returns its record ID
  // once the server's answer has closed the form.
  std::string Submit(const char* user, const std::string& id) {
    EXPECT_TRUE(page_->Login(user));
    std::string record = id;
    person::Walk walk;
    walk.In<TfrmTemplate>("the leave request to submit", [&](TfrmTemplate* f) {
      record = f->Doc().Header.Text(dh::RecordId);
      if (id.empty()) person::TypeInto(f, "标题", "Trip");
      person::Click(f->SendButton());
    });
    EXPECT_TRUE(page_->Open("请假单", id.c_str()));
    person::RunWalk(walk, 60000);
    return record;
  }
  // admin's leave request, passed on by zhangsan to the filing step, where chener works.
  std::string LeaveAtTheFilingStep() {
    const std::string id = Submit("admin", "");
    Submit("zhangsan", id);
    EXPECT_TRUE(page_->Login("chener"));
    return id;
  }
  // A walk's first step: the new leave request titled "Kept", then its 关闭.
  static person::Walk& TitleAndClose(person::Walk& walk, std::string& record) {
    return walk.In<TfrmTemplate>("the new leave request", [&record](TfrmTemplate* f) {
          record = f->Doc().Header.Text(dh::RecordId);
          person::TypeInto(f, "标题", "Kept");
          person::Click(Command(f, "btnClose"));
        }, [](TfrmTemplate* f) { return f->CurStepNo() == 1 && SessionIdle(); });
  }
  // The OnDoit events the page heard from the n-th on.
  std::vector<std::pair<std::string, std::string>> DoitsFrom(size_t n) const {
    std::vector<std::pair<std::string, std::string>> out;
    size_t seen = 0;
    for (const RecordedEvent& e : page_->driver->Events()) {
      if (e.name != "OnDoit" || seen++ < n) continue;
      out.emplace_back(e.args.at(0).value.AsUtf8(), e.args.at(1).value.AsUtf8());
    }
    return out;
  }
};

TEST_F(ClosingE2E, EscapeAndTheCloseBoxKeepATypedNewDocumentAndEnterKeepsItAsADraft) {
  ASSERT_TRUE(page_->Login("zhangsan"));
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  QString afterEscape, afterCloseBox;

  person::Walk walk;
  TitleAndClose(walk, record)
      .In<QMessageBox>("the save question", [](QMessageBox* b) { KeyThroughWindow(b, Qt::Key_Escape); },
                       [](QMessageBox* b) { return IsBox(b, kSaveQuestion); })
      .Then("the form after Escape", FormUp, [&] {
        afterEscape = CellText(Modal<TfrmTemplate>(), "标题");
        person::Click(Command(Modal<TfrmTemplate>(), "btnClose"));
      })
      .In<QMessageBox>("the save question again", [](QMessageBox* b) { CloseBox(b); },
                       [](QMessageBox* b) { return IsBox(b, kSaveQuestion); })
      .Then("the form after the question's close box", FormUp, [&] {
        afterCloseBox = CellText(Modal<TfrmTemplate>(), "标题");
        // The form's own close box asks the same.
        CloseBox(Modal<TfrmTemplate>());
      })
      .In<QMessageBox>("the save question a third time", [](QMessageBox* b) { KeyThroughWindow(b, Qt::Key_Return); },
                       [](QMessageBox* b) { return IsBox(b, kSaveQuestion); })
      .Then("the draft saved and the form closed", [&] { return Count("UPDA") == 1 && !Modal<QWidget>(); },
            [] {});
  ASSERT_TRUE(person::RunWalk(walk, 120000));

  EXPECT_EQ(afterEscape, "Kept");
  EXPECT_EQ(afterCloseBox, "Kept");
  const std::optional<oa::StoredDocument> d = Stored(record);
  ASSERT_TRUE(d);
  EXPECT_EQ(Value(*d, "标题"), "Kept");
  EXPECT_EQ(d->status, 0);  // a draft, at its author's step
  EXPECT_EQ(d->currentStep, 1);
}

TEST_F(ClosingE2E, AnUntouchedDraftOpenedAgainClosesWithoutAQuestion) {
  ASSERT_TRUE(page_->Login("zhangsan"));
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  person::Walk walk;
  // The server keeps a new document as a draft from the moment it is opened.
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::Click(Command(f, "btnClose"));
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the form closed", [] { return !Modal<QWidget>(); }, [&] { page_->Open("请假单", record.c_str()); })
      .In<TfrmTemplate>("the draft opened again", [](TfrmTemplate* f) { person::Click(Command(f, "btnClose")); },
                        [&](TfrmTemplate* f) { return f->Doc().Header.Text(dh::RecordId) == record; })
      // A question would stay up: the form must be gone without one.
      .Then("the untouched draft closed", [] { return !Modal<QWidget>(); }, [] {});
  ASSERT_TRUE(person::RunWalk(walk, 60000));
  EXPECT_EQ(Count("UPDA"), 0u);
}

TEST_F(ClosingE2E, ArchivingWithTheServerDownKeepsTheFormAndTheTypedNumberAndArchivesAfterARestart) {
  const std::string id = LeaveAtTheFilingStep();
  ASSERT_FALSE(HasFailure());
  ASSERT_TRUE(page_->Open("请假单", id.c_str()));
  QString kept;
  bool sawArchived = false;

  person::Walk walk;
  walk.In<TfrmTemplate>("the leave request at the filing step", [&](TfrmTemplate* f) {
        person::TypeInto(f, "备案编号", "No9");
        ASSERT_TRUE(page_->server.Stop());
        person::Click(Command(f, "btnFile"));
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 4 && SessionIdle(); })
      .In<QMessageBox>("the archive question", [](QMessageBox* b) { person::Click(b->button(QMessageBox::Yes)); },
                       [](QMessageBox* b) { return IsBox(b, kArchiveQuestion); })
      .In<QMessageBox>("the connect error", [](QMessageBox* b) { person::Click(b->button(QMessageBox::Ok)); },
                       IsConnectError)
      .Then("the form kept", HeldFor([] { return FormUp() && SessionIdle(); }, 1500), [&] {
        kept = CellText(Modal<TfrmTemplate>(), "备案编号");
        ASSERT_TRUE(page_->server.Restart());
        person::Click(Command(Modal<TfrmTemplate>(), "btnFile"));
      })
      .In<QMessageBox>("the archive question again", [](QMessageBox* b) { person::Click(b->button(QMessageBox::Yes)); },
                       [](QMessageBox* b) { return IsBox(b, kArchiveQuestion); })
      .Then("archived and closed", [&] {
        if (Tfrm_popup* popup = Tfrm_popup::Current())
          sawArchived = sawArchived || popup->MessageTextValue().find(Cp936("文件归档完毕！")) != std::string::npos;
        return !Modal<QWidget>() && SessionIdle();
      }, [] {});
  ASSERT_TRUE(person::RunWalk(walk, 120000));

  EXPECT_EQ(kept, "No9");
  EXPECT_TRUE(sawArchived) << "no archive message";
  const std::optional<oa::StoredDocument> d = Stored(id);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->state, "archived");
  EXPECT_EQ(Value(*d, "备案编号"), "No9");
}

TEST_F(ClosingE2E, ThePageHearsTheArchivedDocumentsTableAndIdEveryTime) {
  const std::string id = LeaveAtTheFilingStep();
  ASSERT_FALSE(HasFailure());
  const size_t before = page_->driver->CountEvents("OnDoit");
  ASSERT_TRUE(page_->Open("请假单", id.c_str()));
  person::Walk walk;
  walk.In<TfrmTemplate>("the leave request at the filing step",
                        [](TfrmTemplate* f) { person::Click(Command(f, "btnFile")); },
                        [](TfrmTemplate* f) { return f->CurStepNo() == 4; })
      .In<QMessageBox>("the archive question", [](QMessageBox* b) { person::Click(b->button(QMessageBox::Yes)); },
                       [](QMessageBox* b) { return IsBox(b, kArchiveQuestion); })
      .Then("archived and closed", [] { return !Modal<QWidget>() && SessionIdle(); }, [] {});
  ASSERT_TRUE(person::RunWalk(walk, 60000));
  PumpFor(200);

  const auto doits = DoitsFrom(before);
  ASSERT_FALSE(doits.empty());
  for (const auto& [table, record] : doits) {
    EXPECT_EQ(table, "oa_leave");
    EXPECT_EQ(record, id);
  }
  EXPECT_EQ(Stored(id)->state, "archived");
}

// The window system's close while the form asks whether to save (another window's close
// box, a session ending): Qt would take it, as the form's own close is under way.
TEST_F(ClosingE2E, AWindowSystemCloseWhileTheSaveQuestionIsUpLeavesTheAnswerToThePerson) {
  ASSERT_TRUE(page_->Login("zhangsan"));
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  QString kept;
  bool formUnderQuestion = false;

  person::Walk walk;
  TitleAndClose(walk, record)
      .In<QMessageBox>("the save question", [&](QMessageBox* b) {
        auto* form = qobject_cast<TfrmTemplate*>(b->parentWidget());
        ASSERT_TRUE(form && form->windowHandle());
        // As the window system hands a close to a window: to its QWindow.
        QCloseEvent close;
        QCoreApplication::sendEvent(form->windowHandle(), &close);
        PumpFor(200);
        formUnderQuestion = form->isVisible() && b->isVisible();
        KeyThroughWindow(b, Qt::Key_Escape);
      }, [](QMessageBox* b) { return IsBox(b, kSaveQuestion); })
      .Then("the form kept after Escape", HeldFor(FormUp, 1000), [&] {
        kept = CellText(Modal<TfrmTemplate>(), "标题");
        person::Click(Command(Modal<TfrmTemplate>(), "btnClose"));
      })
      .In<QMessageBox>("the save question again", [](QMessageBox* b) { KeyThroughWindow(b, Qt::Key_Return); },
                       [](QMessageBox* b) { return IsBox(b, kSaveQuestion); })
      .Then("the draft saved and the form closed", [&] { return Count("UPDA") == 1 && !Modal<QWidget>(); },
            [] {});
  ASSERT_TRUE(person::RunWalk(walk, 90000));

  EXPECT_TRUE(formUnderQuestion);
  EXPECT_EQ(kept, "Kept");
  const std::optional<oa::StoredDocument> d = Stored(record);
  ASSERT_TRUE(d);
  EXPECT_EQ(Value(*d, "标题"), "Kept");
}

TEST_F(ClosingE2E, EscapeTheCloseBoxAndEnterOnTheManagersQuestionKeepTheUnsavedFile) {
  const QString path = QDir::tempPath() + "/unsaved.txt";
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("added while the server was down");
  }
  ServiceCapture files;  // the file dialog answers; the boxes are the real ones
  Services::SetPrompt(nullptr);
  files.openAnswers = {{path.toStdString()}};
  ASSERT_TRUE(page_->Login("zhangsan"));
  ASSERT_TRUE(page_->Open("请假单", ""));
  std::string record;
  std::vector<int> listed;  // the manager's files after each way out of the question

  person::Walk walk(std::chrono::seconds(60));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Files");
        person::Click(Command(f, "btnTemporary"));
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [this] { return Count("UPDA") == 1 && SessionIdle(); },
            [] { person::Click(Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [&](TfrmSetLoadFiles* m) {
        ASSERT_TRUE(page_->server.Stop());
        person::Click(m->btn_AddFile());
      }, [](TfrmSetLoadFiles* m) { return !m->ReadOnly() && SessionIdle(); })
      .In<QMessageBox>("the add refused", [](QMessageBox* b) { person::Click(b->button(QMessageBox::Ok)); },
                       IsConnectError)
      .In<TfrmSetLoadFiles>("the manager with the unsaved file",
                            [](TfrmSetLoadFiles* m) { KeyThroughWindow(m, Qt::Key_Escape); },
                            [](TfrmSetLoadFiles* m) { return m->ListView()->count() == 1 && SessionIdle(); });
  // Each way out of the question: the save is tried again and refused, the question
  // answered, and the manager looked at; the last one saves with the server back.
  auto askAndLook = [&](const char* what, std::function<void(QMessageBox*)> answer, bool last) {
    walk.In<QMessageBox>(std::string("the connect error before ") + what,
                         [](QMessageBox* b) { person::Click(b->button(QMessageBox::Ok)); }, IsConnectError)
        .In<QMessageBox>(std::string("the question, answered with ") + what, answer,
                         [](QMessageBox* b) { return IsBox(b, kDropQuestion); })
        .Then(std::string("the manager after ") + what, [] { return Modal<TfrmSetLoadFiles>() && SessionIdle(); },
              [&, last] {
                TfrmSetLoadFiles* m = Modal<TfrmSetLoadFiles>();
                listed.push_back(m->ListView()->count());
                if (!last) {
                  CloseBox(m);
                  return;
                }
                ASSERT_TRUE(page_->server.Restart());
                person::Click(m->btn_Close());
              });
  };
  askAndLook("Escape", [](QMessageBox* b) { KeyThroughWindow(b, Qt::Key_Escape); }, false);
  askAndLook("the close box", [](QMessageBox* b) { CloseBox(b); }, false);
  askAndLook("Enter", [](QMessageBox* b) { KeyThroughWindow(b, Qt::Key_Return); }, true);
  walk.In<TfrmTemplate>("the form after the manager", [](TfrmTemplate* f) { person::Click(Command(f, "btnClose")); },
                        [this](TfrmTemplate*) { return Count("SABB") == 1 && SessionIdle(); })
      .Then("the form closed", [] { return !Modal<QWidget>(); }, [] {});
  ASSERT_TRUE(person::RunWalk(walk, 240000));

  EXPECT_EQ(listed, (std::vector<int>{1, 1, 1}));
  const TCopy2Files stored = page_->Attachments("oa_leave", record);
  ASSERT_EQ(stored.Count(), 1);
  EXPECT_EQ(stored.GetFileName(0), "unsaved.txt");
}

}  // namespace
