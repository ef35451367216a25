// The incoming letter's Word body against oa-server and the office worker, where a key, a
// close or the worker itself could throw the typing away: Escape and the close box on the
// editor's save question, a worker stopped in the middle of a save, and two programs of
// one user with Word bodies open at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStatusBar>
#include <QTest>
#include <QWindow>
#include <string_view>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "PageSession.h"
#include "PageTest.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "WordEditorSupport.h"
#include "control/form/frm_Template.h"
#include "control/office/OfficeCommon.h"
#include "control/office/frm_OLEWord.h"
#include "control/windows/frmPopup.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "core/Streams.h"
#include "platform/QtText.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"

namespace office_worker_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-office-worker"); }

using person::Modal;

using word_e2e::ChooseMenu;
using word_e2e::CloseThroughWindow;
using word_e2e::DarkPixels;
using word_e2e::HoldsText;

bool IsBox(QMessageBox* b, const char* text) { return b->text() == QString::fromUtf8(text); }

// The body the server keeps, as its document text.
std::string StoredBodyXml(uint16_t port) {
  const AnsiString reader = frames::ParseLoginReply(e2e::Ask(port, frames::BuildLoginRequest("zhangsan"))).UserGUID;
  const std::string reply =
      e2e::Ask(port, frames::BuildFileRequest(reader, kTable, kRecord, Utf8ToCp936("收文正文.docx")));
  const QString zip = QDir::tempPath() + "/stored-body-" + QString::number(QCoreApplication::applicationPid()) + ".docx";
  QFile f(zip);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
  const std::string body(frames::ParseFileReply(reply).body);
  f.write(body.data(), static_cast<qint64>(body.size()));
  f.close();
  QProcess unzip;
  unzip.start("unzip", {"-p", zip, "word/document.xml"});
  unzip.waitForFinished(10000);
  return unzip.readAllStandardOutput().toStdString();
}

// Every message box that shows while it lives, each once.
class BoxWatch {
 public:
  BoxWatch() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(10);
  }
  // Also called by whoever answers a box, so one answered between two looks counts too.
  // A box that goes and another that comes in its place (even at its address) are two.
  void Look() {
    auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (b && b != current_.data()) texts_ << b->text();
    current_ = b;
  }
  int Count(const QString& part) const {
    int n = 0;
    for (const QString& t : texts_) n += t.contains(part);
    return n;
  }
  const QStringList& Texts() const { return texts_; }

 private:
  QTimer timer_;
  QPointer<QMessageBox> current_;
  QStringList texts_;
};

class OfficeWorkerE2E : public PageTest {
 protected:
  void SetUp() override {
    App();
    PageTest::SetUp();
    ASSERT_TRUE(page_->Login("zhangsan"));
  }
  void TearDown() override {
    PageTest::TearDown();
    PumpFor(200);
  }
  // The incoming letter's form, then its Word body in the editor with text typed into it.
  void OpenBodyAndType(person::Walk& walk, const char* text) {
    walk.In<TfrmTemplate>("the incoming letter", [](TfrmTemplate* f) { person::Click(f->AttachmentButton()); },
                          [](TfrmTemplate* f) { return f->Doc().Header.Text(dh::TableName) == kTable; })
        .In<TfrmOLEWord>("the Word body", [this, text](TfrmOLEWord* ed) {
          ink_ = DarkPixels(ed->OleContainer());
          person::Click(ed->OleContainer());
          TypeThroughWindow(ed->OleContainer(), text);
        }, [](TfrmOLEWord* ed) {
          // On screen: the worker has painted the letter's text.
          return ed->OleContainer()->IsOpen() && DarkPixels(ed->OleContainer()) > 200 &&
                 ed->OleContainer()->FrameCurrent();
        });
  }
  // Typed, and the page painted with it.
  bool Typed(TfrmOLEWord* ed) const {
    return ed->Changed() && ed->OleContainer()->FrameCurrent() && DarkPixels(ed->OleContainer()) > ink_ + 50;
  }
  bool Run(person::Walk& walk, int ms) {
    walk.Start();
    // The walk ends in the letter's form: closed by its button, and what its closing asks
    // answered 否 (nothing of the form's own was changed); what a failed walk left, too.
    QTimer closer;
    bool closing = false;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      // Ended, or given up: either way nothing may stay open.
      if (!walk.Done()) return;
      if (auto* box = Modal<QMessageBox>()) {
        if (QAbstractButton* no = box->button(QMessageBox::No)) ClickThroughWindow(no);
        else ModalScript::CloseAllModal();
      } else if (auto* form = Modal<TfrmTemplate>(); form && !closing) {
        closing = true;
        QTimer::singleShot(0, form, [form] { person::Click(form->CloseButton()); });
      } else if (!Modal<TfrmTemplate>()) {
        closing = false;
      }
    });
    closer.start(50);
    const bool done = PumpUntil([&] { return walk.Done() && !QApplication::activeModalWidget(); }, ms);
    EXPECT_TRUE(walk.Finished()) << "stopped at: " << walk.Waiting();
    return done && walk.Finished();
  }
  bool OpenLetter() { return page_->driver->Call("GetStream", {"oa", kRecord, "0", "收文登记单", "3", "", ""}) == S_OK; }

  int ink_ = 0;
};

// Escape and the question's close box leave the editor open with the typing; Enter keeps
// the work: it is saved and the editor closes.
TEST_F(OfficeWorkerE2E, EscapeAndTheCloseBoxOnTheSaveQuestionKeepTheEditorAndItsText) {
  BoxWatch boxes;
  person::Walk walk(std::chrono::seconds(60));
  OpenBodyAndType(walk, "Kept through Escape");
  QPointer<TfrmOLEWord> editor;
  walk.In<TfrmOLEWord>("the typing shown", [&](TfrmOLEWord* ed) {
        editor = ed;
        CloseThroughWindow(ed);
      }, [this](TfrmOLEWord* ed) { return Typed(ed); })
      .In<QMessageBox>("the question, answered with Escape",
                       [&](QMessageBox* b) {
                         boxes.Look();
                         KeyThroughWindow(b, Qt::Key_Escape);
                       },
                       [](QMessageBox* b) { return IsBox(b, "是否保存文档?"); })
      .In<TfrmOLEWord>("the editor still open", [](TfrmOLEWord* ed) { CloseThroughWindow(ed); },
                       [this](TfrmOLEWord* ed) { return Typed(ed); })
      .In<QMessageBox>("the question, closed by its close box",
                       [&](QMessageBox* b) {
                         boxes.Look();
                         b->windowHandle()->close();
                       },
                       [](QMessageBox* b) { return IsBox(b, "是否保存文档?"); })
      .In<TfrmOLEWord>("the editor open once more", [](TfrmOLEWord* ed) { CloseThroughWindow(ed); },
                       [this](TfrmOLEWord* ed) { return Typed(ed); })
      .In<QMessageBox>("the question, answered with Enter",
                       [&](QMessageBox* b) {
                         boxes.Look();
                         KeyThroughWindow(b, Qt::Key_Return);
                       },
                       [](QMessageBox* b) { return IsBox(b, "是否保存文档?"); })
      .Then("the editor closed once the server had the body", [&] { return !editor && Modal<TfrmTemplate>(); },
            [] {});
  ASSERT_TRUE(OpenLetter());
  Run(walk, 200000);
  EXPECT_EQ(boxes.Count(QString::fromUtf8("是否保存文档?")), 3) << boxes.Texts().join(" / ").toStdString();
  EXPECT_NE(StoredBodyXml(page_->server.Port()).find("Kept through Escape"), std::string::npos);
}

// A worker stopped half-way through a save is given up within seconds of its last sign of
// life, and said once, in Chinese, over the editor; the status bar never says saved.
TEST_F(OfficeWorkerE2E, AWorkerStoppedDuringASaveIsReportedOnceWithinTenSeconds) {
  BoxWatch boxes;
  person::Walk walk(std::chrono::seconds(60));
  OpenBodyAndType(walk, "First save");
  QPointer<TfrmOLEWord> editor;
  qint64 worker = 0;
  QElapsedTimer sinceStop;
  qint64 reportedAfter = -1;
  QString statusAtReport;
  bool overEditor = false;
  QStringList shown;  // the boxes up to the end, before the letter is closed
  walk.In<TfrmOLEWord>("the typing shown", [](TfrmOLEWord* ed) { ChooseMenu(ed, "保存文件"); },
                       [this](TfrmOLEWord* ed) { return Typed(ed); })
      .In<TfrmOLEWord>("the first save kept", [&](TfrmOLEWord* ed) {
        editor = ed;
        person::Click(ed->OleContainer());
        TypeThroughWindow(ed->OleContainer(), " then more");
      }, [](TfrmOLEWord* ed) { return !ed->Uploading() && !ed->Changed(); })
      .In<TfrmOLEWord>("more typing shown", [&](TfrmOLEWord* ed) {
        worker = TOfficeWorker::Shared().ProcessId();
        ASSERT_GT(worker, 0);
        ::kill(static_cast<pid_t>(worker), SIGSTOP);
        sinceStop.start();
        ChooseMenu(ed, "保存文件");
      }, [](TfrmOLEWord* ed) { return ed->Changed() && ed->OleContainer()->FrameCurrent(); })
      .In<QMessageBox>("the report", [&](QMessageBox* b) {
        boxes.Look();
        reportedAfter = sinceStop.elapsed();
        // Centred over the window the person works in.
        overEditor = editor && b->parentWidget() == editor.data() &&
                     editor->frameGeometry().contains(b->frameGeometry().center());
        if (editor) statusAtReport = editor->findChild<QStatusBar*>()->currentMessage();
        ClickThroughWindow(b->button(QMessageBox::Ok));
      }, [](QMessageBox* b) { return b->text().contains(QString::fromUtf8("文档服务已停止")); })
      .Then("the editor gone, the form left", [&] { return !editor && Modal<TfrmTemplate>(); }, [] {})
      .Then("no second box", [&] { return sinceStop.elapsed() > reportedAfter + 1500; },
            [&] { shown = boxes.Texts(); });
  ASSERT_TRUE(OpenLetter());
  Run(walk, 200000);

  EXPECT_GE(reportedAfter, 0);
  EXPECT_LT(reportedAfter, 10000);
  ASSERT_EQ(shown.size(), qsizetype(1)) << shown.join(" / ").toStdString();
  EXPECT_TRUE(shown[0].contains(QString::fromUtf8("文档服务已停止"))) << shown[0].toStdString();
  EXPECT_NE(statusAtReport, QString::fromUtf8("文档已保存到服务器。"));
  EXPECT_TRUE(overEditor);
  // What was saved before the stop is what the server keeps.
  const std::string stored = StoredBodyXml(page_->server.Port());
  EXPECT_NE(stored.find("First save"), std::string::npos);
  EXPECT_EQ(stored.find("then more"), std::string::npos);
}

// One program's share of the two-programs test: the Word editor on its own copy of doc,
// its marker typed in, saved again and again until the other program is done too; each
// save must hold this program's text and never the other's.
void SaveAgainAndAgain(const std::string& doc, const std::string& mine, const std::string& theirs,
                       const QString& doneFlag, const QString& otherDone) {
  TfrmOLEWord ed;
  ed.OpenDocument(doc, false, false);
  ed.resize(800, 600);
  ed.show();
  ASSERT_TRUE(ed.OleContainer()->IsOpen());
  person::Click(ed.OleContainer());
  TypeThroughWindow(ed.OleContainer(), QString::fromStdString(mine));
  ASSERT_TRUE(PumpUntil([&] { return ed.Changed(); }, 20000));
  int saves = 0;
  QElapsedTimer clock;
  clock.start();
  while ((saves < 8 || !QFile::exists(otherDone)) && clock.elapsed() < 120000) {
    // Called as the menu calls it, with nothing swallowed: a copy taken away fails here.
    ASSERT_NO_THROW(ed.nSaveClick()) << "save " << saves;
    TMemoryStream* result = ed.GetResultStream();
    ASSERT_NE(result, nullptr) << "save " << saves;
    EXPECT_TRUE(HoldsText(result->Data(), mine)) << "save " << saves;
    EXPECT_FALSE(HoldsText(result->Data(), theirs)) << "save " << saves;
    if (::testing::Test::HasFailure()) break;
    ++saves;
    if (saves == 8) QFile(doneFlag).open(QIODevice::WriteOnly);
  }
  EXPECT_TRUE(QFile::exists(otherDone));
}

// Two programs of one user, each with a Word document open, save at the same time: the
// editors' temporary copies have the same names, and neither takes the other's.
TEST(OfficeWorkerTwoPrograms, EachKeepsItsOwnTextWhileBothSave) {
  App();
  ServiceCapture cap;
  const QByteArray second = qgetenv("TARVO_E2E_SECOND_PROGRAM");
  if (!second.isEmpty()) {
    // The second program, started by the first with the document and the flags' folder.
    const QStringList args = QString::fromUtf8(second).split('|');
    ASSERT_EQ(args.size(), 2);
    SaveAgainAndAgain(args[0].toStdString(), "SecondProgramText", "FirstProgramText", args[1] + "/second",
                      args[1] + "/first");
    return;
  }
  const QString dir = QDir::tempPath() + "/two-programs";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  const std::string html = (dir + "/letter.html").toStdString();
  {
    QFile f(QString::fromStdString(html));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><body><p>Letter</p></body></html>");
  }
  // Each program edits its own copy, as each host gets its own from the server.
  const std::string doc = (dir + "/mine.doc").toStdString(), theirs = (dir + "/theirs.doc").toStdString();
  {
    TOfficeContainer c;
    c.Open(html);
    c.SaveAs(doc);
  }
  ASSERT_TRUE(QFile::copy(QString::fromStdString(doc), QString::fromStdString(theirs)));

  QProcess other;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TARVO_E2E_SECOND_PROGRAM", QString::fromStdString(theirs) + "|" + dir);
  other.setProcessEnvironment(env);
  other.setProcessChannelMode(QProcess::ForwardedChannels);
  other.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=OfficeWorkerTwoPrograms.EachKeepsItsOwnTextWhileBothSave"});
  ASSERT_TRUE(other.waitForStarted(10000));
  SaveAgainAndAgain(doc, "FirstProgramText", "SecondProgramText", dir + "/first", dir + "/second");
  ASSERT_TRUE(PumpUntil([&] { return other.state() == QProcess::NotRunning; }, 150000));
  EXPECT_EQ(other.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(other.exitCode(), 0);
}

}  // namespace office_worker_e2e
