// The document form's hand-overs, walked as a person walks them through the windows,
// against the real oa-server and with the control as a page holds it: "附件" opens the
// attachment manager, whose file reaches the server and is listed again by the read-only
// "附件" of the archived document; the next-handler picker asks for its other pages.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>

#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/attachments/AttachmentList.h"
#include "control/select/UnitTree.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/select/frm_SelectUser.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/frm_Template.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "platform/QtText.h"
#include "core/ByteIO.h"
#include "uikit/TFlatButtonUnit.h"

namespace {

QApplication& App() { return E2eApp("e2e-seams"); }

const char* kLisi = "{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}";

using person::Modal;

class SeamsE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    PageTest::SetUp();
  }
};

TEST_F(SeamsE2E, AFileAddedThroughTheFormsManagerReachesTheServerAndTheReadOnlyButtonListsIt) {
  // The file dialog opens in the working folder, where the person keeps the file.
  QDir::setCurrent(QDir::tempPath());
  const QString path = QDir::tempPath() + "/note.txt";
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("a note for the file");
  }
  ASSERT_TRUE(page_->Login("zhangsan"));
  std::string record;  // the new document's, as the form holds it
  int formFiles = -1, readOnlyItems = -1;
  QString readOnlyItem;
  bool readOnlyManager = false;

  person::Walk walk;
  // The leave request at its first step: written, kept as a draft, then "附件".
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        record = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Trip");
        person::TypeInto(f, "请假天数", "1");
        ClickThroughWindow(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return Count("UPDA") == 1; },
            [] { ClickThroughWindow(Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [](TfrmSetLoadFiles* m) { ClickThroughWindow(m->btn_AddFile()); },
                            [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); })
      .In<QFileDialog>("the file dialog", [&](QFileDialog* d) {
        TypeThroughWindow(d, "note.txt");
        KeyThroughWindow(d, Qt::Key_Return);
      })
      .In<TfrmSetLoadFiles>("the file listed and sent", [](TfrmSetLoadFiles* m) { ClickThroughWindow(m->btn_Close()); },
                            [&](TfrmSetLoadFiles* m) { return m->ListView()->count() == 1 && Count("SABB") == 1; })
      // Back on the form, its list shows the file; the request goes on to its last step.
      .In<TfrmTemplate>("the form after the manager", [&](TfrmTemplate* f) {
        formFiles = f->AttachmentList()->ListView()->count();
        ClickThroughWindow(f->SendButton());
      })
      .Then("the request submitted", [&] { return Count("UPDA") == 2 && !Modal<QWidget>(); }, [&] {
        ASSERT_TRUE(page_->Login("lisi"));  // the reviewer the request went to
        page_->Open("请假单", record.c_str());
      })
      .In<TfrmTemplate>("the review step", [](TfrmTemplate* f) { ClickThroughWindow(f->SendButton()); },
                        [](TfrmTemplate* f) { return f->CurStepNo() == 2; })
      .Then("the review submitted", [&] { return Count("UPDA") == 3 && !Modal<QWidget>(); },
            [&] {
              ASSERT_TRUE(page_->Login("chener"));
              page_->Open("请假单", record.c_str());
            })
      .In<TfrmTemplate>("the filing step", [](TfrmTemplate* f) { ClickThroughWindow(f->ArchiveButton()); },
                        [](TfrmTemplate* f) { return f->CurStepNo() == 4 && !f->ArchiveButton()->isHidden(); })
      .In<QMessageBox>("the archive question", [](QMessageBox* b) { ClickThroughWindow(b->button(QMessageBox::Yes)); })
      .Then("the document archived", [&] { return Count("DCMD") == 1 && !Modal<QWidget>(); },
            [&] { page_->Open("请假单", record.c_str()); })
      // Archived, the document opens read-only; its own "附件" shows the manager read-only.
      .In<TfrmTemplate>("the archived document", [](TfrmTemplate* f) { ClickThroughWindow(f->FileReadonlyButton()); },
                        [](TfrmTemplate* f) { return f->ReadOnlyDoc() && f->FileReadonlyButton()->isVisible(); })
      .In<TfrmSetLoadFiles>("the read-only manager", [&](TfrmSetLoadFiles* m) {
        readOnlyManager = m->ReadOnly() && m->Btn_Exit()->isVisible() && m->btn_AddFile()->isHidden();
        readOnlyItems = m->ListView()->count();
        if (readOnlyItems > 0) readOnlyItem = m->ListView()->item(0)->text();
        ClickThroughWindow(m->Btn_Exit());
      }, [](TfrmSetLoadFiles* m) { return m->ListView()->count() > 0; })
      .In<TfrmTemplate>("the archived document again", [](TfrmTemplate* f) { ClickThroughWindow(f->ExitButton()); });
  ASSERT_TRUE(page_->Open("请假单", ""));
  person::RunWalk(walk, 180000);
  // A units request through the page's session goes out after anything the walk queued.
  auto ended = std::make_shared<bool>(false);
  frmMain()->SendToServer(frames::BuildUnitsRequest(1), [ended](TRequestEnd, const std::string&) { *ended = true; });
  ASSERT_TRUE(PumpUntil([&] { return *ended; }, 20000));
  // The read-only list was asked for read-only, and nothing was uploaded from it.
  const std::vector<std::string> queries = page_->Received("QUEY");
  ASSERT_FALSE(queries.empty());
  EXPECT_EQ(frames::ReadQueryRequest(queries.back()).readOnlyFlag, 1);
  EXPECT_EQ(Count("SABB"), 1u);

  EXPECT_EQ(formFiles, 1);
  TCopy2Files files = page_->Attachments("oa_leave", record);
  ASSERT_EQ(files.Count(), 1);
  EXPECT_EQ(files.GetFileName(0), "note.txt");
  EXPECT_EQ(files.FileData(0), "a note for the file");
  EXPECT_TRUE(readOnlyManager);
  EXPECT_EQ(readOnlyItems, 1);
  EXPECT_EQ(readOnlyItem, "note.txt");
}

TEST_F(SeamsE2E, TheNextHandlerPickerAsksForItsGroupAndOutsidePagesAndListsTheirUsers) {
  ASSERT_TRUE(page_->Login("zhangsan"));
  // The "USER" requests after the first, as (mode, list, step) from the frame.
  auto lists = [&] {
    std::vector<std::tuple<int, int32_t, AnsiString>> out;
    for (const std::string& f : page_->Received("USER"))
      out.emplace_back(uint8_t(f[95]), GetI32LE(f.data() + 140), FrameText(f, 56));
    return out;
  };
  std::vector<AnsiString> groupUsers, outsideUsers;
  QString chosen, added;

  person::Walk walk;
  walk.In<TfrmTemplate>("the new leave request", [](TfrmTemplate* f) { ClickThroughWindow(f->NextUserButton()); },
                        [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .In<TfrmSelectUser>("the picker", [](TfrmSelectUser* d) { person::ClickTab(d->pgcUser(), TfrmSelectUser::pgGroup); })
      .In<TfrmSelectUser>("the group page filled", [](TfrmSelectUser* d) {
        person::ClickTab(d->pgcUser(), TfrmSelectUser::pgOther);
      }, [](TfrmSelectUser* d) { return d->Tree(TfrmSelectUser::pgGroup)->NodeCount() > 0; })
      .In<TfrmSelectUser>("the outside page filled", [&](TfrmSelectUser* d) {
        for (auto [page, ids] : {std::pair{TfrmSelectUser::pgGroup, &groupUsers}, {TfrmSelectUser::pgOther, &outsideUsers}}) {
          std::vector<TUserNode*> users;
          CollectUserNodes(d->Tree(page)->invisibleRootItem(), users);
          for (TUserNode* n : users) ids->push_back(n->Data().key);
        }
        // The pre-chosen handler, 李四, is taken off the chosen list and picked again from
        // the group page.
        ClickThroughWindow(d->findChild<QPushButton*>("Btn_DelAll"));
        person::ClickTab(d->pgcUser(), TfrmSelectUser::pgGroup);
        TUserTree* group = d->Tree(TfrmSelectUser::pgGroup);
        if (TUserNode* lisi = group->Find(kLisi, nkUser)) {
          added = ToQString(lisi->Caption());
          person::ClickItem(group, lisi);
        }
        ClickThroughWindow(d->findChild<QPushButton*>("Btn_Add"));
        ClickThroughWindow(d->findChild<QPushButton*>("BitBtn1"));
      }, [](TfrmSelectUser* d) { return d->Tree(TfrmSelectUser::pgOther)->NodeCount() > 0; })
      .In<TfrmTemplate>("the form with two handlers", [&](TfrmTemplate* f) {
        chosen = f->NextUserLabel()->toolTip();
        ClickThroughWindow(f->CloseButton());
      });
  ASSERT_TRUE(page_->Open("请假单", ""));
  person::RunWalk(walk, 60000);

  // One request per page, each as the next step's handler list, and both pages filled.
  using L = std::tuple<int, int32_t, AnsiString>;
  EXPECT_EQ(lists(), (std::vector<L>{{2, 0, "2"}, {2, 5, "2"}, {2, 2, "2"}}));
  EXPECT_FALSE(groupUsers.empty());
  EXPECT_FALSE(outsideUsers.empty());
  EXPECT_NE(std::find(groupUsers.begin(), groupUsers.end(), AnsiString(kLisi)), groupUsers.end());
  EXPECT_EQ(added, QString::fromUtf8("李四"));
  EXPECT_EQ(chosen, QString::fromUtf8("李四"));
}

}  // namespace
