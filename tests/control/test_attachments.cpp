// The attachment manager and the document's attachment list.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAccessible>
#include <map>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QKeyEvent>
#include <limits>
#include <csignal>
#include <sys/resource.h>
#include <type_traits>

#include "ControlTestSupport.h"
#include "ModalDriver.h"
#include "OfficeTestSupport.h"
#include "control/attachments/AttachmentList.h"
#include "control/attachments/AttachmentOpen.h"
#include "control/office/OfficeCommon.h"
#include "control/office/frmPrivew.h"
#include "control/office/frm_OLEWord.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/office/frmshtml.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "core/ByteIO.h"
#include "core/PrivateTemp.h"
#include "platform/QtText.h"
#include "core/ScopeGuard.h"
#include "imaging/ui/DemoForm.h"
#include "platform/Services.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/FlatButtonBase.h"
#include "uikit/TFlatButtonUnit.h"

namespace {


struct File {
  const char* name;
  std::string data;
  int32_t state;
};

std::string Container(const std::vector<File>& files) {
  TCopy2Files c;
  c.Init(0);
  for (const File& f : files) {
    c.Grow(1);
    c.AddStream(Cp936(f.name), f.data, f.state);
  }
  return c.SaveToBytes();
}

TMemoryStream Reply(const std::vector<File>& files, uint8_t readOnly = 0, int32_t slotCount = -1) {
  frames::AttachmentsReply r;
  r.recordId = "{REC}";
  r.tableName = "tblDoc";
  r.readOnly = readOnly;
  r.slotCount = slotCount >= 0 ? slotCount : static_cast<int32_t>(files.size());
  return TMemoryStream(frames::BuildAttachmentsReply(r, Container(files)));
}

TCopy2Files UploadedContainer(const std::string& sabb) {
  TCopy2Files c;
  c.LoadFromBytes(std::string_view(sabb).substr(frames::kAttachmentsHeaderSize));
  return c;
}

void PressEscape(QWidget& w) {
  QKeyEvent e(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

void Select(QListWidget* list, int row) {
  list->setCurrentRow(row);
  list->item(row)->setSelected(true);
}

std::string Disk(const std::string& name, const std::string& bytes) {
  std::string path = TestDir() + "/" + name;
  WriteText(path, QByteArray::fromStdString(bytes));
  return path;
}

class AttachmentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
  ServiceCapture cap;
  std::vector<std::string> sent;
  // How the server answers what is sent: saved, refused, or not there at all.
  enum class Server { Saves, Refuses, Down, Later } server = Server::Saves;
  std::vector<TfrmSetLoadFiles::RequestEnded> unanswered;  // Server::Later
  void Capture(TfrmSetLoadFiles& m) {
    m.SendFrame = [this](std::string f, TfrmSetLoadFiles::RequestEnded ended) {
      sent.push_back(std::move(f));
      if (server == Server::Later) {
        unanswered.push_back(std::move(ended));
        return;
      }
      if (server == Server::Down) {
        ended(nullptr);
        return;
      }
      TMemoryStream reply(frames::BuildServerMessage(Cp936(server == Server::Saves ? "附件保存成功！" : "|文档已归档")));
      ended(&reply);
    };
  }
  static void Answer(TfrmSetLoadFiles::RequestEnded& ended) {
    TMemoryStream reply(frames::BuildServerMessage(Cp936("附件保存成功！")));
    ended(&reply);
  }
};

TEST_F(AttachmentsTest, ManagerAddsSeveralFilesInOneUploadAndRemovesWithTheQuestion) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"old.txt", "old", fsFromServer}, {"gone.txt", "x", fsRemoved}});
  m.LoadFromReply(reply);
  EXPECT_FALSE(m.btn_AddFile()->isHidden());
  EXPECT_TRUE(m.Btn_Read()->isHidden());
  ASSERT_EQ(m.ListView()->count(), 1);

  cap.openAnswers = {{Disk("a.doc", "AAAA"), TestDir() + "/missing.bin", Disk("b.xyz", "BB")}};
  m.btn_AddFileClick();
  ASSERT_EQ(cap.fileDialogs.size(), 1u);
  EXPECT_TRUE(cap.fileDialogs[0].options.multiSelect);
  EXPECT_EQ(cap.fileDialogs[0].options.title, Cp936("选择导入文件"));
  EXPECT_EQ(m.ListView()->count(), 3);  // the missing file is not listed
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(frames::FrameCode(sent[0]), "SABB");
  TCopy2Files up = UploadedContainer(sent[0]);
  ASSERT_EQ(up.Count(), 4);
  EXPECT_EQ(up.GetFileName(2), "a.doc");
  EXPECT_EQ(up.GetState(2), fsAdded);
  EXPECT_EQ(up.FileData(2), "AAAA");
  EXPECT_EQ(up.GetState(3), fsAdded);
  EXPECT_TRUE(m.Uploaded());

  cap.promptAnswers = {MsgResult::No, MsgResult::Yes};
  Select(m.ListView(), 1);
  m.btn_MoveFileClick();
  EXPECT_EQ(cap.prompts.back().text, Cp936("是否移除文件 a.doc？"));
  EXPECT_EQ(m.ListView()->count(), 3);
  EXPECT_EQ(sent.size(), 1u);
  m.btn_MoveFileClick();
  EXPECT_EQ(m.ListView()->count(), 2);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(UploadedContainer(sent[1]).GetState(2), fsRemoved);

  // Nothing changed since: closing sends nothing more.
  m.close();
  EXPECT_EQ(sent.size(), 2u);
}

TEST_F(AttachmentsTest, ManagerOpensByExtension) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"data.xyz", "xyz bytes", fsFromServer},
                               {"SCAN.PDF", "%PDF-1.4\n", fsFromServer},
                               {"../../evil.xyz", "e", fsFromServer}});
  m.LoadFromReply(reply);

  Select(m.ListView(), 0);
  m.Btn_ReadClick();
  ASSERT_EQ(cap.shellOpens.size(), 1u);
  const QString opened = QString::fromStdString(cap.shellOpens[0]);
  // The copy lands in the user's private folder, never the shared temp directory.
  const std::string privateFolder =
      QFileInfo(QString::fromStdString(PrivateTempFolder())).absolutePath().toStdString();
  EXPECT_NE(privateFolder, QFileInfo(QDir::tempPath() + "/").absolutePath().toStdString());
  EXPECT_EQ(QFileInfo(opened).absolutePath().toStdString(), privateFolder);
  EXPECT_TRUE(QRegularExpression("^\\d{17}data\\.xyz$").match(QFileInfo(opened).fileName()).hasMatch());
  QFile copy(opened);
  EXPECT_EQ(copy.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner), 0);
  ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
  EXPECT_EQ(copy.readAll(), "xyz bytes");

  // A server name never leaves the temp directory.
  Select(m.ListView(), 2);
  m.Btn_ReadClick();
  ASSERT_EQ(cap.shellOpens.size(), 2u);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(cap.shellOpens[1])).fileName().endsWith("evil.xyz"));
  EXPECT_EQ(QFileInfo(QString::fromStdString(cap.shellOpens[1])).absolutePath().toStdString(), privateFolder);

  // Upper-case ".PDF" goes to the web viewer.
  bool viewer = false;
  auto driver = WhenModal<Tfrm_Shtml>([&](Tfrm_Shtml* v) {
    viewer = v->Btn_SetFlag()->isHidden();
    v->close();
  });
  Select(m.ListView(), 1);
  m.Btn_ReadClick();
  EXPECT_TRUE(viewer);

  Select(m.ListView(), 0);
  m.ListView()->item(0)->setSelected(false);
  m.Btn_ReadClick();
  EXPECT_EQ(cap.prompts.back().text, Cp936("请先在左边选择您要阅读的文件！"));
  // Scanning opens the scan form; closed without a document, it adds nothing.
  const int before = m.Files().Count();
  {
    auto scan = WhenModal<TScanForm>([](TScanForm* f) { f->close(); });
    m.btn_Copy2Click();
  }
  EXPECT_EQ(m.Files().Count(), before);
}

TEST_F(AttachmentsTest, AnEditedOfficeAttachmentIsUploadedReplaced) {
  std::string docx = MakeDocx("attached");
  QFile f(QString::fromStdString(docx));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const std::string original = f.readAll().toStdString();
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"正文.docx", original, fsFromServer}});
  m.LoadFromReply(reply);

  cap.promptAnswers = {MsgResult::Yes};  // save at close
  auto driver = WhenModal<TfrmOLEWord>([](TfrmOLEWord* ed) {
    ed->OleContainer()->TypeText("Edited");
    ed->close();
  }, std::chrono::seconds(30));
  Select(m.ListView(), 0);
  m.Btn_ReadClick();
  ASSERT_EQ(sent.size(), 1u);
  TCopy2Files up = UploadedContainer(sent[0]);
  ASSERT_EQ(up.Count(), 1);
  EXPECT_EQ(up.GetState(0), fsReplaced);
  const std::string xml = ZipMember(QByteArray(up.FileData(0).data(), int(up.FileData(0).size())),
                                    "word/document.xml");
  EXPECT_NE(xml.find("Edited"), std::string::npos);
  EXPECT_NE(xml.find("<w:ins "), std::string::npos);
  // The list tells the edited file's size, not the one it had when it was listed.
  EXPECT_EQ(m.ListView()->item(0)->data(Qt::AccessibleDescriptionRole).toString(),
            QString::number(up.FileData(0).size()));
}

TEST_F(AttachmentsTest, ReadOnlyManagerShowsTheReadingSetAndUploadsNothing) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"a.txt", "a", fsFromServer}}, 1);
  m.LoadFromReply(reply);
  EXPECT_FALSE(m.Btn_Read()->isHidden());
  EXPECT_FALSE(m.Btn_Exit()->isHidden());
  EXPECT_FALSE(m.Btn_SaveAs()->isHidden());
  EXPECT_TRUE(m.btn_AddFile()->isHidden());
  EXPECT_TRUE(m.btn_MoveFile()->isHidden());
  EXPECT_TRUE(m.btn_Copy2()->isHidden());
  EXPECT_TRUE(m.btn_Close()->isHidden());

  const std::string target = TestDir() + "/copy.txt";
  cap.saveAnswers = {target};
  Select(m.ListView(), 0);
  m.nSaveAsClick();
  EXPECT_EQ(cap.fileDialogs.back().options.fileName, "a.txt");
  EXPECT_EQ(cap.fileDialogs.back().options.defaultExt, "txt");
  QFile saved(QString::fromStdString(target));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), "a");
  m.close();
  EXPECT_TRUE(sent.empty());
}

TEST_F(AttachmentsTest, DocumentListShowsLiveFilesAndForgetsAnEarlierReply) {
  QWidget form;
  TAttachmentList* list = new TAttachmentList(&form);
  list->SetAttachBelow(true);
  form.show();

  TMemoryStream reply = Reply({{"a.txt", "a", fsFromServer}, {"b.txt", "b", fsRemoved},
                               {"c.doc", "c", fsFromServer}});
  list->LoadAttachments(reply);
  ASSERT_EQ(list->ListView()->count(), 2);
  EXPECT_EQ(list->ListView()->item(1)->text(), "c.doc");
  EXPECT_TRUE(list->isVisible());
  EXPECT_EQ(list->height(), 2 * 40 + 32);

  list->OpenSelected();
  EXPECT_EQ(cap.prompts.back().text, Cp936("请先选择您要阅读的文件！"));
  list->mniSaveAsClick();
  EXPECT_EQ(cap.prompts.back().text, Cp936("请先在左边选择您要保存的文件！"));

  TMemoryStream none = Reply({});
  list->LoadAttachments(none);
  EXPECT_EQ(list->ListView()->count(), 0);
  EXPECT_EQ(list->Files().Count(), 0);
  EXPECT_FALSE(list->isVisible());

  TMemoryStream allRemoved = Reply({{"x.txt", "x", fsRemoved}});
  list->LoadAttachments(allRemoved);
  EXPECT_FALSE(list->isVisible());

  TCopy2Files fromManager;
  fromManager.Init(0);
  fromManager.Grow(1);
  fromManager.AddStream("new.txt", "n", fsUploaded);
  list->RefreshFromContainer(fromManager.SaveToBytes(), 1);
  ASSERT_EQ(list->ListView()->count(), 1);
  EXPECT_TRUE(list->isVisible());
}

// Screen readers and UI automation read each listed file by its name with its size in bytes,
// in the document's list and in the manager alike.
TEST_F(AttachmentsTest, ListedFilesReadAsNameAndSizeThroughAccessibility) {
  auto read = [](QListWidget* view) {
    std::map<QString, QString> out;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    const QRect area(view->viewport()->mapToGlobal(QPoint(0, 0)), view->viewport()->size());
    for (int i = 0; list && i < list->childCount(); ++i) {
      QAccessibleInterface* item = list->child(i);
      if (!item || item->role() != QAccessible::ListItem) continue;
      EXPECT_TRUE(area.intersects(item->rect())) << item->text(QAccessible::Name).toStdString();
      out[item->text(QAccessible::Name)] = item->text(QAccessible::Description);
    }
    return out;
  };
  const std::map<QString, QString> expected{{QString::fromUtf8("报告.doc"), "5"}, {"c.txt", "0"}};
  QWidget form;
  form.resize(400, 300);
  TAttachmentList* list = new TAttachmentList(&form);
  list->SetAttachBelow(true);
  form.show();
  TMemoryStream reply = Reply({{"报告.doc", "abcde", fsFromServer}, {"b.txt", "bb", fsRemoved},
                               {"c.txt", "", fsFromServer}});
  list->LoadAttachments(reply);
  EXPECT_EQ(read(list->ListView()), expected);

  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream again = Reply({{"报告.doc", "abcde", fsFromServer}, {"b.txt", "bb", fsRemoved},
                               {"c.txt", "", fsFromServer}});
  m.LoadFromReply(again);
  m.show();
  EXPECT_EQ(read(m.ListView()), expected);
}

// A reply's slot count is only the sender's word: the slots come from the files really
// there, or a small reply could ask for gigabytes.
TEST_F(AttachmentsTest, AnnouncedSlotCountDoesNotSizeTheContainer) {
  const std::vector<File> files = {{"a.txt", "a", fsFromServer}, {"b.txt", "b", fsFromServer}};
  for (int32_t announced : {1000000, std::numeric_limits<int32_t>::max()}) {
    SCOPED_TRACE(announced);
    TMemoryStream reply = Reply(files, 0, announced);
    const int most = int(reply.Size() / kContainerEntrySize);

    TfrmSetLoadFiles m;
    m.LoadFromReply(reply);
    EXPECT_EQ(m.Files().Count(), 2);
    EXPECT_LE(m.Files().SlotCount(), most);
    EXPECT_EQ(m.ListView()->count(), 2);

    QWidget form;
    auto* list = new TAttachmentList(&form);
    list->LoadAttachments(reply);
    EXPECT_EQ(list->Files().Count(), 2);
    EXPECT_LE(list->Files().SlotCount(), most);
    // The manager hands its container back sized by its highest index, which the
    // server's entries set.
    list->RefreshFromContainer(Container(files), announced);
    EXPECT_EQ(list->ListView()->count(), 2);
    EXPECT_LE(list->Files().SlotCount(), most);
  }
}

// A reply whose container lies about a file is dropped and changes nothing shown.
TEST_F(AttachmentsTest, ARefusedReplyLeavesTheAttachmentsAsTheyWere) {
  const std::vector<File> files = {{"a.txt", "a", fsFromServer}, {"b.txt", "b", fsFromServer}};
  TMemoryStream good = Reply(files);
  std::string lying = Container(files);
  PutI32LE(lying.data() + kContainerHeaderSize + 264, 1 << 20);  // first file's size
  frames::AttachmentsReply r;
  r.readOnly = 1;
  r.slotCount = 2;
  TMemoryStream bad(frames::BuildAttachmentsReply(r, lying));

  TfrmSetLoadFiles m;
  m.LoadFromReply(good);
  EXPECT_THROW(m.LoadFromReply(bad), frames::EFrameError);
  EXPECT_FALSE(m.ReadOnly());
  EXPECT_FALSE(m.btn_AddFile()->isHidden());
  ASSERT_EQ(m.Files().Count(), 2);
  EXPECT_EQ(m.Files().FileData(1), "b");
  EXPECT_EQ(m.ListView()->count(), 2);

  QWidget form;
  auto* list = new TAttachmentList(&form);
  list->LoadAttachments(good);
  EXPECT_THROW(list->LoadAttachments(bad), frames::EFrameError);
  ASSERT_EQ(list->Files().Count(), 2);
  EXPECT_EQ(list->Files().FileData(0), "a");
  EXPECT_EQ(list->ListView()->count(), 2);
  EXPECT_EQ(list->AttachHeader(), good.Data().substr(0, frames::kAttachmentsHeaderSize));
}

// The window that opened a viewer may go while the viewer is up (a reply that closes the
// document form): the viewer goes with it and nothing touches either afterwards.
TEST_F(AttachmentsTest, AnOfficeAttachmentWithoutAWorkerSaysOnceThatTheServiceCannotStart) {
  QFile f(QString::fromStdString(MakeDocx("unstartable")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const std::string docx = f.readAll().toStdString();
  TOfficeWorker::Shared().Stop();
  qputenv("TARVO_OFFICE_WORKER", QByteArray::fromStdString(TestDir()) + "/no-such-worker");
  const auto restore = ScopeExit([] { qunsetenv("TARVO_OFFICE_WORKER"); });
  for (const uint8_t readOnly : {uint8_t(0), uint8_t(1)}) {
    SCOPED_TRACE(int(readOnly));
    cap.prompts.clear();
    TfrmSetLoadFiles m;
    Capture(m);
    TMemoryStream reply = Reply({{"body.docx", docx, fsFromServer}}, readOnly);
    m.LoadFromReply(reply);
    Select(m.ListView(), 0);
    m.Btn_ReadClick();
    ASSERT_EQ(cap.prompts.size(), 1u);
    EXPECT_EQ(cap.prompts[0].text, OfficeWorkerNotStartedText());
  }
}

TEST_F(AttachmentsTest, ViewersSurviveTheirOwnerGoingWhileTheyAreUp) {
  QFile f(QString::fromStdString(MakeDocx("owned")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const std::string docx = f.readAll().toStdString();
  const std::vector<File> files = {{"page.htm", "<html><body>page</body></html>", fsFromServer},
                                   {"note.txt", "note", fsFromServer},
                                   {"body.docx", docx, fsFromServer}};
  auto openAndLoseOwner = [&](int row, uint8_t readOnly, auto viewerType) {
    using Viewer = std::remove_pointer_t<decltype(viewerType)>;
    SCOPED_TRACE(row);
    auto* m = new TfrmSetLoadFiles;
    const QPointer<TfrmSetLoadFiles> owner(m);
    Capture(*m);
    TMemoryStream reply = Reply(files, readOnly);
    m->LoadFromReply(reply);
    Select(m->ListView(), row);
    auto gone = WhenModal<Viewer>([&owner](Viewer*) { delete owner.data(); }, std::chrono::seconds(30));
    m->Btn_ReadClick();
    EXPECT_TRUE(gone.Acted());
    EXPECT_TRUE(owner.isNull());
  };
  openAndLoseOwner(0, 1, static_cast<Tfrm_Shtml*>(nullptr));    // from memory
  openAndLoseOwner(1, 1, static_cast<Tfrm_Shtml*>(nullptr));    // from its copy
  openAndLoseOwner(2, 1, static_cast<Tfrm_Priview*>(nullptr));  // the preview
  openAndLoseOwner(2, 0, static_cast<TfrmOLEWord*>(nullptr));   // the Word editor
  EXPECT_TRUE(sent.empty());

  // The document form's own list.
  auto* form = new QWidget;
  const QPointer<QWidget> formAlive(form);
  auto* list = new TAttachmentList(form);
  TMemoryStream reply = Reply(files);
  list->LoadAttachments(reply);
  Select(list->ListView(), 1);
  auto gone = WhenModal<Tfrm_Shtml>([&formAlive](Tfrm_Shtml*) { formAlive->deleteLater(); });
  list->OpenSelected();
  EXPECT_TRUE(gone.Acted());
  EXPECT_TRUE(formAlive.isNull());
}

// A change counts as saved only when the server says so: until then 保存返回 sends it
// again and keeps the window; a reply to an older upload does not cover a newer change.
TEST_F(AttachmentsTest, ManagerKeepsItsChangesUntilTheServerConfirmsThem) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"old.txt", "old", fsFromServer}});
  m.LoadFromReply(reply);
  m.show();

  for (Server answer : {Server::Down, Server::Refuses}) {
    server = answer;
    cap.openAnswers = {{Disk("a.txt", "AAAA")}};
    m.btn_AddFileClick();
    EXPECT_FALSE(m.Uploaded());
    const size_t before = sent.size();
    m.btn_CloseClick();
    EXPECT_EQ(sent.size(), before + 1);  // sent again
    EXPECT_TRUE(m.isVisible());
    EXPECT_FALSE(m.Uploaded());
  }
  server = Server::Saves;
  m.btn_CloseClick();
  EXPECT_TRUE(m.Uploaded());
  EXPECT_FALSE(m.isVisible());
  const TCopy2Files last = UploadedContainer(sent.back());
  ASSERT_EQ(last.Count(), 3);
  EXPECT_EQ(last.GetState(1), fsAdded);
  EXPECT_EQ(last.GetState(2), fsAdded);
  EXPECT_TRUE(cap.prompts.empty());  // 保存返回 asks nothing: the session said why

  TfrmSetLoadFiles late;
  Capture(late);
  late.LoadFromReply(reply);
  late.show();
  server = Server::Later;
  cap.openAnswers = {{Disk("b.txt", "B")}};
  late.btn_AddFileClick();
  ASSERT_EQ(unanswered.size(), 1u);
  Select(late.ListView(), 0);
  cap.promptAnswers = {MsgResult::Yes};
  late.btn_MoveFileClick();  // removed while the first upload travels
  ASSERT_EQ(unanswered.size(), 2u);
  late.btn_CloseClick();
  EXPECT_EQ(unanswered.size(), 2u);  // the newest state is on its way already
  Answer(unanswered[0]);
  EXPECT_FALSE(late.Uploaded());
  EXPECT_TRUE(late.isVisible());
  Answer(unanswered[1]);
  EXPECT_TRUE(late.Uploaded());
  EXPECT_FALSE(late.isVisible());
}

// Escape and the close box save what changed; when that fails, the person decides.
TEST_F(AttachmentsTest, EscapeAndTheCloseBoxSaveFirstAndAskBeforeDropping) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"old.txt", "old", fsFromServer}});
  m.LoadFromReply(reply);
  m.show();
  server = Server::Down;
  cap.openAnswers = {{Disk("a.txt", "AAAA")}};
  m.btn_AddFileClick();

  cap.promptAnswers = {MsgResult::No, MsgResult::No};
  PressEscape(m);
  ASSERT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(cap.prompts[0].text, Cp936("附件的修改没有保存到服务器，是否放弃这些修改？"));
  EXPECT_EQ(cap.prompts[0].buttons, MsgButtons::YesNo);
  EXPECT_TRUE(m.isVisible());
  m.close();
  EXPECT_EQ(cap.prompts.size(), 2u);
  EXPECT_TRUE(m.isVisible());
  EXPECT_EQ(sent.size(), 3u);  // every attempt tried the server first

  // With the server back, Escape saves and closes without a word.
  server = Server::Saves;
  PressEscape(m);
  EXPECT_FALSE(m.isVisible());
  EXPECT_TRUE(m.Uploaded());
  EXPECT_EQ(cap.prompts.size(), 2u);

  // Answered Yes, the unsaved file is dropped and the window closes.
  TfrmSetLoadFiles drop;
  Capture(drop);
  drop.LoadFromReply(reply);
  drop.show();
  server = Server::Down;
  cap.openAnswers = {{Disk("b.txt", "B")}};
  drop.btn_AddFileClick();
  cap.promptAnswers = {MsgResult::Yes};
  drop.close();
  EXPECT_FALSE(drop.isVisible());
}

TEST_F(AttachmentsTest, ReadOnlyManagerReadsTheItemItShowsSelected) {
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"first.xyz", "1", fsFromServer}, {"second.xyz", "2", fsFromServer}}, 1);
  m.LoadFromReply(reply);
  m.Btn_ReadClick();
  EXPECT_TRUE(cap.prompts.empty());
  ASSERT_EQ(cap.shellOpens.size(), 1u);
  EXPECT_TRUE(QString::fromStdString(cap.shellOpens[0]).endsWith("first.xyz"));
}

// What cannot be written or opened is said; a long name still makes a copy.
TEST_F(AttachmentsTest, CopiesThatCannotBeMadeOrOpenedAreSaidAndLongNamesFit) {
  // 79 Chinese characters and ".doc": 241 bytes as UTF-8, 258 with the time stamp.
  std::string longName;
  for (int i = 0; i < 79; ++i) longName += "报";
  longName += ".doc";
  const std::string path = TimeStampedCopyPath(Cp936(longName.c_str()));
  const QString file = QFileInfo(QString::fromStdString(path)).fileName();
  EXPECT_LE(file.toUtf8().size(), 255);
  EXPECT_TRUE(file.endsWith(QString::fromUtf8("报.doc")));
  EXPECT_TRUE(QRegularExpression("^\\d{17}").match(file).hasMatch());
  EXPECT_EQ(file.toUtf8().toStdString().back(), 'c');  // no half character before it
  WritePrivateFile(path, "fits");

  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"data.xyz", "x", fsFromServer}, {"blocked.xyz", "y", fsFromServer}}, 1);
  m.LoadFromReply(reply);
  cap.shellResult = false;  // no program for the type
  Select(m.ListView(), 0);
  m.Btn_ReadClick();
  ASSERT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(cap.prompts[0].text, Cp936("没有可以打开此文件的程序：data.xyz"));
  EXPECT_EQ(cap.prompts[0].icon, MsgIcon::Warning);

  // A folder where the copy would go: the copy cannot be written.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(TimeStampedCopyPath("blocked.xyz")) + "/inner"));
  Select(m.ListView(), 1);
  m.Btn_ReadClick();
  ASSERT_EQ(cap.prompts.size(), 2u);
  EXPECT_EQ(cap.prompts[1].text, Cp936("附件无法写入临时文件，不能打开：blocked.xyz"));
  EXPECT_EQ(cap.shellOpens.size(), 1u);

  // A copy saved where it cannot be written is said too.
  cap.saveAnswers = {TestDir() + "/no-such-folder/copy.xyz"};
  m.nSaveAsClick();
  ASSERT_EQ(cap.prompts.size(), 3u);
  EXPECT_EQ(cap.prompts[2].text, Cp936("文件保存失败：") + Utf8ToCp936(TestDir() + "/no-such-folder/copy.xyz"));
}

// The preview's tool buttons show pictures, not letters, and 文件另存为 proposes the
// attachment's own name and type, not its time-stamped copy's.
TEST_F(AttachmentsTest, PreviewDrawsItsButtonsAndSavesUnderTheAttachmentsOwnName) {
  QFile f(QString::fromStdString(MakeXlsx("budget")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  TfrmSetLoadFiles m;
  Capture(m);
  TMemoryStream reply = Reply({{"预算表.xlsx", f.readAll().toStdString(), fsFromServer}}, 1);
  m.LoadFromReply(reply);
  const std::string target = TestDir() + "/saved-budget.xlsx";
  QFile::remove(QString::fromStdString(target));
  cap.saveAnswers = {target, target};
  std::vector<QImage> glyphs;
  bool lettered = false;
  std::string afterFailedSave;
  auto driver = WhenModal<Tfrm_Priview>([&](Tfrm_Priview* p) {
    for (const char* name : {"Btn_Save", "Btn_Print", "btn_BestSzie", "btnSmall", "btnBig", "btn_PageFitBestFit",
                             "btn_PageFitFullPage"}) {
      auto* b = p->findChild<TFlatButtonBase*>(name);
      if (!b) continue;
      glyphs.push_back(b->Glyph());
      lettered = lettered || !b->Caption().isEmpty();
    }
    p->Btn_SaveClick();
    // Saved again over a file the person keeps, onto a full disk: the file stays whole.
    WriteText(target, "kept");
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit full = old;
    full.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &full);
    p->Btn_SaveClick();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    QFile kept(QString::fromStdString(target));
    if (kept.open(QIODevice::ReadOnly)) afterFailedSave = kept.readAll().toStdString();
    p->close();
  }, std::chrono::seconds(30));
  m.Btn_ReadClick();
  ASSERT_TRUE(driver.Acted());

  ASSERT_EQ(glyphs.size(), 7u);
  EXPECT_FALSE(lettered);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    EXPECT_FALSE(glyphs[i].isNull());
    for (size_t j = 0; j < i; ++j) EXPECT_NE(glyphs[i], glyphs[j]) << i << " " << j;
  }
  ASSERT_FALSE(cap.fileDialogs.empty());
  const FileDialogOptions& o = cap.fileDialogs.back().options;
  EXPECT_EQ(o.fileName, "预算表.xlsx");
  EXPECT_EQ(o.defaultExt, "xlsx");  // a name typed without one is still a workbook
  EXPECT_EQ(o.filterIndex, 2);
  EXPECT_EQ(afterFailedSave, "kept");
  ASSERT_EQ(cap.prompts.size(), 1u);  // the second save only
  EXPECT_EQ(cap.prompts[0].text, Cp936("文件保存失败：") + Utf8ToCp936(target));
}

}  // namespace
