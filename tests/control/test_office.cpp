// The Word editor and the preview against the real office worker (one warm worker for the
// whole program).
#include <gtest/gtest.h>
#include <signal.h>

#include <QDirIterator>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <mutex>

#include "ControlTestSupport.h"
#include "ModalDriver.h"
#include "OfficeTestSupport.h"
#include "control/office/OfficeCommon.h"
#include "control/office/WordPlaceholders.h"
#include "control/office/frmPrivew.h"
#include "control/office/frm_OLEWord.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "core/PrivateTemp.h"
#include "platform/QtText.h"
#include "platform/Services.h"
#include "platform/office/OfficeWire.h"
#include "platform/office/OfficeWorker.h"

namespace {


void Type(QWidget* w, Qt::Key key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &release);
}

void TypeWord(QWidget* w, const QString& word) {
  for (QChar c : word) Type(w, Qt::Key(c.toUpper().unicode()), QString(c));
}

void Commit(QWidget* w, const QString& text) {
  QInputMethodEvent e;
  e.setCommitString(text);
  QApplication::sendEvent(w, &e);
}

int Count(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

// What the worker leaves in the temporary folders: its own folder, its socket's and its
// profile.
std::string WorkerLeftovers() {
  QStringList found;
  const std::pair<QString, QStringList> places[] = {
      {QDir::tempPath(), {"tarvo-office-*", "tarvo-sock-*"}},
      {QString::fromStdString(UserTempFolder()), {"tarvo-office-*", "w-*"}}};
  for (const auto& [where, names] : places) {
    QDirIterator it(where, names, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
  }
  found.removeDuplicates();
  return found.join(", ").toStdString();
}

// Records what goes to the log while it lives.
class LogCapture {
 public:
  LogCapture() {
    Lines().clear();
    old_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
      std::lock_guard<std::mutex> lock(Mutex());
      Lines() << m;
    });
  }
  ~LogCapture() { qInstallMessageHandler(old_); }
  QString All() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return Lines().join('\n');
  }

 private:
  static QStringList& Lines() {
    static QStringList lines;
    return lines;
  }
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  QtMessageHandler old_;
};

// Once every office test has run, nothing of the worker is left behind.
class NoLeftoversAtTheEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    TOfficeWorker::Shared().Stop();
    EXPECT_EQ(WorkerLeftovers(), "");
  }
};
const auto* const kNoLeftovers = ::testing::AddGlobalTestEnvironment(new NoLeftoversAtTheEnd);

class OfficeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    SessionValues().UserName = Cp936("张三");
    TOfficeWorker::Shared().SetRequestTimeout(60000);
  }
  void TearDown() override { SetPlaceholderSource(nullptr); }
};

TEST_F(OfficeTest, EditorTracksTypedTextFillsPlaceholdersAndKeepsTheLastSave) {
  std::string docx = MakeDocx("body");
  SetPlaceholderSource([] {
    return TFieldValues{{Cp936("标题"), Cp936("关于放假的通知|附加")}, {Cp936("空"), ""}};
  });
  ServiceCapture cap;
  TfrmOLEWord ed;
  ed.OpenDocument(docx, true, true);
  ed.resize(800, 600);
  ed.show();
  ASSERT_TRUE(ed.IsWord());
  EXPECT_TRUE(ed.nXD()->isVisible());
  EXPECT_TRUE(ed.nXD()->isChecked());
  EXPECT_TRUE(ed.OleContainer()->TrackRevisions());

  TOfficeContainer* view = ed.OleContainer();
  Type(view, Qt::Key_End, "");
  TypeWord(view, "Typed");
  Commit(view, QString::fromUtf8("中文"));
  ed.nSaveClick();
  ASSERT_NE(ed.GetResultStream(), nullptr);
  TypeWord(view, "Later");
  ed.nSaveClick();
  TMemoryStream* result = ed.GetResultStream();
  ASSERT_NE(result, nullptr);

  const QByteArray zip = QByteArray::fromStdString(result->Data());
  // One save's bytes, not two appended: a zip has one end record.
  EXPECT_EQ(Count(result->Data(), "PK\x05\x06"), 1);
  const std::string xml = ZipMember(zip, "word/document.xml");
  ASSERT_FALSE(xml.empty());
  EXPECT_EQ(xml.find("[标题]"), std::string::npos);
  EXPECT_NE(xml.find("关于放假的通知"), std::string::npos);
  EXPECT_EQ(xml.find("附加"), std::string::npos);
  // What was typed sits inside insertion marks by the session's user.
  for (const char* typed : {"Typed", "中文", "Later"}) {
    size_t at = xml.find(typed);
    ASSERT_NE(at, std::string::npos) << typed;
    size_t ins = xml.rfind("<w:ins ", at);
    ASSERT_NE(ins, std::string::npos) << typed;
    EXPECT_EQ(xml.find("</w:ins>", ins), xml.find("</w:ins>", at)) << typed;
    EXPECT_NE(xml.substr(ins, at - ins).find("w:author=\"张三\""), std::string::npos);
  }
  EXPECT_GT(InkPixels(view), 200);

  // Closing with a change since the last save asks; "No" keeps what was saved before.
  TypeWord(view, "Unsaved");
  cap.promptAnswers = {MsgResult::No};
  ed.close();
  ASSERT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(cap.prompts[0].text, Cp936("是否保存文档?"));
  EXPECT_EQ(cap.prompts[0].caption, Cp936("保存确认"));
  EXPECT_EQ(ed.GetResultStream()->Data(), zip.toStdString());
}

TEST_F(OfficeTest, NoAtTheSaveQuestionLeavesNoResult) {
  std::string docx = MakeDocx("unsaved");
  ServiceCapture cap;
  cap.promptAnswers = {MsgResult::No};
  TfrmOLEWord ed;
  ed.OpenDocument(docx, false, false);
  ed.show();
  TypeWord(ed.OleContainer(), "x");
  ed.close();
  EXPECT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(ed.GetResultStream(), nullptr);
  EXPECT_FALSE(ed.nXD()->isVisible());
}

TEST_F(OfficeTest, SpreadsheetOpensWithTheWordStepsSkipped) {
  std::string xlsx = MakeXlsx("sheet");
  int asked = 0;
  SetPlaceholderSource([&] {
    ++asked;
    return TFieldValues{{Cp936("标题"), Cp936("值")}};
  });
  ServiceCapture cap;
  cap.promptAnswers = {MsgResult::Yes};
  TfrmOLEWord ed;
  ed.OpenDocument(xlsx, true, true);
  ed.resize(800, 600);
  ed.show();
  EXPECT_FALSE(ed.IsWord());
  EXPECT_EQ(ed.OleContainer()->Kind(), TOfficeKind::Spreadsheet);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(ed.nXD()->isChecked());
  EXPECT_GT(InkPixels(ed.OleContainer()), 50);
  ed.nSaveClick();
  ed.close();
  EXPECT_TRUE(cap.prompts.empty());  // saved and untouched since: nothing to ask
  // Saved as a spreadsheet, placeholder untouched.
  ASSERT_NE(ed.GetResultStream(), nullptr);
  std::string sheet = ZipMember(QByteArray::fromStdString(ed.GetResultStream()->Data()),
                                "xl/sharedStrings.xml");
  EXPECT_NE(sheet.find("Sheet text ["), std::string::npos);
  EXPECT_NE(sheet.find("标题"), std::string::npos);
  EXPECT_EQ(sheet.find("值"), std::string::npos);
}

TEST_F(OfficeTest, TwoOpenDocumentsStayApart) {
  std::string docx = MakeDocx("first");
  std::string xlsx = MakeXlsx("second");
  TOfficeContainer text, sheet;
  text.Open(docx);
  sheet.Open(xlsx);
  EXPECT_EQ(text.Kind(), TOfficeKind::Text);
  EXPECT_EQ(sheet.Kind(), TOfficeKind::Spreadsheet);
  text.TypeText("Only here");
  sheet.Close();
  const std::string saved = TestDir() + "/first-saved.docx";
  text.SaveAs(saved);
  QFile f(QString::fromStdString(saved));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_NE(ZipMember(f.readAll(), "word/document.xml").find("Only here"), std::string::npos);

  // The older formats open too, as what they are.
  const std::string doc = TestDir() + "/old.doc", rtf = TestDir() + "/old.rtf", xls = TestDir() + "/old.xls";
  text.SaveAs(doc);
  text.SaveAs(rtf);
  ConvertWithWorker(xlsx, xls);
  for (const std::string& path : {doc, rtf, xls}) {
    TOfficeContainer c;
    c.Open(path);
    EXPECT_EQ(c.Kind(), path == xls ? TOfficeKind::Spreadsheet : TOfficeKind::Text) << path;
  }
}

TEST_F(OfficeTest, PreviewZoomsInStepsAndShowsTheText) {
  std::string docx = MakeDocx("preview", 3);
  Tfrm_Priview pv;
  pv.resize(800, 600);
  pv.OpenDocument(docx);
  pv.show();
  EXPECT_EQ(pv.edtZoom()->text(), "100%");
  for (int i = 0; i < 3; ++i) pv.btnSmallClick();
  EXPECT_EQ(pv.edtZoom()->text(), "70%");
  EXPECT_EQ(pv.OleContainer()->Zoom(), 70);
  for (int i = 0; i < 60; ++i) pv.btnSmallClick();
  EXPECT_EQ(pv.edtZoom()->text(), "10%");
  pv.btn_BestSzieClick();
  EXPECT_EQ(pv.edtZoom()->text(), "100%");
  pv.btn_PageFitBestFitClick();
  EXPECT_EQ(pv.ZoomPercent(), pv.OleContainer()->Zoom());
  EXPECT_NE(pv.ZoomPercent(), 100);
  EXPECT_GT(InkPixels(pv.OleContainer()), 200);
}

TEST_F(OfficeTest, AWorkerThatDiesOrHangsIsReportedAndTheNextOpenStartsAnother) {
  std::string docx = MakeDocx("killed");
  {
    ServiceCapture cap;
    TfrmOLEWord ed;
    ed.OpenDocument(docx, true, false);
    ed.show();
    ed.nSaveClick();
    const std::string saved = ed.GetResultStream()->Data();
    const qint64 worker = TOfficeWorker::Shared().ProcessId();
    ASSERT_GT(worker, 0);  // kill(0, ...) would hit the whole process group, ctest included
    ::kill(static_cast<pid_t>(worker), SIGKILL);
    Type(ed.OleContainer(), Qt::Key_A, "a");
    ASSERT_TRUE(WaitUntil([&] { return !ed.isVisible(); }, 10000));
    ASSERT_EQ(cap.prompts.size(), 1u);  // the message; no save question after the loss
    EXPECT_EQ(cap.prompts[0].text, OfficeWorkerLostText());
    EXPECT_TRUE(ed.WorkerGone());
    EXPECT_EQ(ed.GetResultStream()->Data(), saved);
  }
  {
    ServiceCapture cap;
    Tfrm_Priview pv;
    pv.OpenDocument(docx);  // a new worker
    pv.show();
    const qint64 pid = TOfficeWorker::Shared().ProcessId();
    ASSERT_GT(pid, 0);
    TOfficeWorker::Shared().SetRequestTimeout(1500);
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
    EXPECT_THROW(pv.OleContainer()->CommandState(".uno:TrackChanges"), EOfficeWorkerLost);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !pv.isVisible(); }, 10000));
    EXPECT_EQ(cap.prompts.size(), 1u);
  }
}

TEST_F(OfficeTest, AWorkerThatCannotStartSaysSoAndWhy) {
  std::string docx = MakeDocx("unstartable");
  TOfficeWorker::Shared().Stop();
  const QByteArray missing = QByteArray::fromStdString(TestDir()) + "/no-such-worker";
  qputenv("TARVO_OFFICE_WORKER", missing);
  {
    ServiceCapture cap;
    LogCapture log;
    TfrmOLEWord ed;
    // Said once, by the editor itself, whoever opened it.
    EXPECT_NO_THROW(ed.OpenDocument(docx, false, true));
    ASSERT_TRUE(WaitUntil([&] { return !cap.prompts.empty(); }, 20000));
    EXPECT_EQ(cap.prompts[0].text, OfficeWorkerNotStartedText());
    EXPECT_TRUE(log.All().contains(QString::fromUtf8(missing))) << log.All().toStdString();
    EXPECT_TRUE(ed.WorkerGone());
  }
  qunsetenv("TARVO_OFFICE_WORKER");
  // Found again, the next document opens in a new worker.
  TOfficeContainer c;
  c.Open(docx);
  EXPECT_TRUE(c.IsOpen());
}

TEST_F(OfficeTest, AnEndedWorkerLeavesNoFolderBehind) {
  std::string docx = MakeDocx("leftovers");
  {
    TOfficeContainer c;
    c.Open(docx);
    ASSERT_NE(WorkerLeftovers(), "");  // while it runs it has its folders
    TOfficeWorker::Shared().Stop();
  }
  EXPECT_EQ(WorkerLeftovers(), "");

  // A worker told to end, as when the program that started it dies, removes them itself.
  {
    TOfficeContainer c;
    c.Open(docx);
    const qint64 pid = TOfficeWorker::Shared().ProcessId();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_TRUE(WaitUntil([] { return WorkerLeftovers().empty(); }, 20000)) << WorkerLeftovers();
    // Its end noticed, the next open starts another.
    EXPECT_TRUE(WaitUntil([] { return !TOfficeWorker::Shared().Running(); }, 20000));
  }

  // A worker that hangs is killed, and its folders go all the same.
  TOfficeContainer c;
  c.Open(docx);
  const qint64 pid = TOfficeWorker::Shared().ProcessId();
  ASSERT_GT(pid, 0);
  TOfficeWorker::Shared().SetRequestTimeout(1500);
  ::kill(static_cast<pid_t>(pid), SIGSTOP);
  EXPECT_THROW(c.CommandState(".uno:TrackChanges"), EOfficeWorkerLost);
  EXPECT_FALSE(TOfficeWorker::Shared().Running());
  EXPECT_EQ(WorkerLeftovers(), "");
}

TEST_F(OfficeTest, AHungWorkerLeavesTheEditorPaintingAndIsReportedWithinSeconds) {
  std::string docx = MakeDocx("hung", 3);
  ServiceCapture cap;
  TfrmOLEWord ed;
  ed.OpenDocument(docx, false, false);
  ed.resize(800, 600);
  ed.show();
  TOfficeContainer* view = ed.OleContainer();
  const int ink = InkPixels(view);
  ASSERT_GT(ink, 200);

  // Paints counted while the worker is stopped and the editor has not yet given it up.
  int paintsWhileHung = 0;
  struct PaintCounter : QObject {
    std::function<void()> onPaint;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) onPaint();
      return false;
    }
  } counter;
  counter.onPaint = [&] {
    if (!ed.WorkerGone()) ++paintsWhileHung;
  };
  view->installEventFilter(&counter);

  const qint64 pid = TOfficeWorker::Shared().ProcessId();
  ASSERT_GT(pid, 0);
  ::kill(static_cast<pid_t>(pid), SIGSTOP);
  // Typing and scrolling go on: each changes the view and asks for a new frame.
  Type(view, Qt::Key_A, "a");
  int inkWhileHung = -1;
  QTimer scroller;
  int ticks = 0;
  QObject::connect(&scroller, &QTimer::timeout, [&] {
    view->SmallScroll(++ticks % 2 ? 1 : -1);
    if (ticks == 10 && !ed.WorkerGone()) inkWhileHung = InkPixels(view->grab().toImage());
  });
  scroller.start(50);
  const bool reported = WaitUntil([&] { return !cap.prompts.empty(); }, 30000);
  scroller.stop();
  ::kill(static_cast<pid_t>(pid), SIGKILL);  // in case it was not ended
  ASSERT_TRUE(reported);
  EXPECT_EQ(cap.prompts[0].text, OfficeWorkerLostText());
  EXPECT_GT(paintsWhileHung, 5);
  // The last frame stood in for the view meanwhile.
  EXPECT_GT(inkWhileHung, 200);
  ASSERT_TRUE(WaitUntil([&] { return !ed.isVisible(); }, 10000));
  EXPECT_NE(TOfficeWorker::Shared().ProcessId(), pid);

  // A new worker takes the next document.
  TOfficeContainer next;
  next.Open(docx);
  EXPECT_GT(InkPixels(&next), 200);
}

TEST_F(OfficeTest, ClosingAsksOnlyAboutWhatTheServerDoesNotHave) {
  std::string docx = MakeDocx("uploaded");
  ServiceCapture cap;
  TfrmOLEWord ed;
  std::vector<std::string> sent;
  std::function<void(bool)> pending;
  ASSERT_TRUE(ed.SetUploader([&](const std::string& bytes, std::function<void(bool)> done) {
    sent.push_back(bytes);
    pending = std::move(done);
  }));
  ed.OpenDocument(docx, false, false);
  ed.show();
  // Opened and not touched: nothing to ask.
  EXPECT_FALSE(ed.Changed());
  TypeWord(ed.OleContainer(), "One");
  EXPECT_TRUE(ed.Changed());

  // A save the server refused (or never answered) leaves the change: closing asks, and
  // "Yes" sends it again; the editor stays open until the server has it.
  ed.nSaveClick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(ed.Uploading());
  std::exchange(pending, nullptr)(false);
  EXPECT_TRUE(ed.Changed());
  cap.promptAnswers = {MsgResult::Yes};
  ed.close();
  ASSERT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(cap.prompts[0].text, Cp936("是否保存文档?"));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(ed.isVisible());
  // The close box while it is on its way waits for it without asking again.
  ed.close();
  EXPECT_TRUE(ed.isVisible());
  EXPECT_EQ(sent.size(), 2u);
  std::exchange(pending, nullptr)(true);
  EXPECT_FALSE(ed.isVisible());
  EXPECT_EQ(cap.prompts.size(), 1u);
  EXPECT_NE(ZipMember(QByteArray::fromStdString(sent[1]), "word/document.xml").find("One"), std::string::npos);

  // Right after a kept save there is nothing to ask about.
  TfrmOLEWord again;
  again.SetUploader([&](const std::string& bytes, std::function<void(bool)> done) {
    sent.push_back(bytes);
    done(true);
  });
  again.OpenDocument(docx, false, false);
  again.show();
  TypeWord(again.OleContainer(), "Two");
  again.nSaveClick();
  EXPECT_FALSE(again.Changed());
  again.close();
  EXPECT_FALSE(again.isVisible());
  EXPECT_EQ(cap.prompts.size(), 1u);
  EXPECT_EQ(sent.size(), 3u);
}

TEST_F(OfficeTest, AnEmptyWordFileOpensTakesTextAndSaves) {
  const std::string empty = TestDir() + "/empty.doc";
  WriteText(empty, QByteArray());
  // As the attachment manager opens it: revisions on, the form's fields filled in.
  SetPlaceholderSource([] { return TFieldValues{{Cp936("标题"), Cp936("请假")}}; });
  ServiceCapture cap;
  TfrmOLEWord ed;
  ed.OpenDocument(empty, true, true);
  ed.resize(800, 600);
  ed.show();
  QTest::mouseClick(ed.OleContainer(), Qt::LeftButton);
  TypeWord(ed.OleContainer(), "Hello");
  ed.nSaveClick();
  ASSERT_NE(ed.GetResultStream(), nullptr);
  EXPECT_FALSE(ed.WorkerGone());
  EXPECT_TRUE(TOfficeWorker::Shared().Running());
  // Saved as a Word 97 file: its compound-file signature, and the typed text in it.
  const std::string saved = ed.GetResultStream()->Data();
  EXPECT_EQ(saved.substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
  // Word keeps text in 8 or 16 bits a character.
  const bool hasText = saved.find("Hello") != std::string::npos ||
                       saved.find(std::string("H\0e\0l\0l\0o\0", 10)) != std::string::npos;
  EXPECT_TRUE(hasText);
  EXPECT_TRUE(cap.prompts.empty());
}

TEST_F(OfficeTest, AWaitForTheWorkerKeepsTheWindowAliveAndItsDeathIsToldAtOnce) {
  std::string docx = MakeDocx("waiting");
  ServiceCapture cap;
  TfrmOLEWord ed;
  ed.OpenDocument(docx, false, false);
  ed.show();
  const qint64 pid = TOfficeWorker::Shared().ProcessId();
  ASSERT_GT(pid, 0);

  // A call to a stopped worker: timers keep firing (painting, the session's sockets) while
  // it waits for its time-out.
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(20);
  TOfficeWorker::Shared().SetRequestTimeout(1500);
  ::kill(static_cast<pid_t>(pid), SIGSTOP);
  EXPECT_THROW(ed.OleContainer()->CommandState(".uno:TrackChanges"), EOfficeWorkerLost);
  tick.stop();
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_GT(ticks, 10);
  ASSERT_TRUE(WaitUntil([&] { return !ed.isVisible(); }, 10000));
  ASSERT_EQ(cap.prompts.size(), 1u);
  TOfficeWorker::Shared().SetRequestTimeout(60000);

  // A worker that dies while nobody types is reported without waiting for a key.
  TfrmOLEWord idle;
  idle.OpenDocument(docx, false, false);
  idle.show();
  // Painted and waiting for nothing: no request of its own would find the worker gone.
  CurrentFrame(idle.OleContainer());
  const qint64 next = TOfficeWorker::Shared().ProcessId();
  ASSERT_GT(next, 0);
  ASSERT_NE(next, pid);
  ::kill(static_cast<pid_t>(next), SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return cap.prompts.size() == 2; }, 10000));
  EXPECT_EQ(cap.prompts[1].text, OfficeWorkerLostText());
  EXPECT_TRUE(WaitUntil([&] { return !idle.isVisible(); }, 10000));
}

// The next whole answer from a worker, past the signs of life it sends while it works;
// empty when none comes within a minute.
QByteArray ReadAnswer(QLocalSocket* s) {
  QByteArray in;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 60000) {
    while (in.size() >= 8) {
      const uint32_t n = office_wire::FrameLength(in.constData());
      if (in.size() < 4 + qsizetype(n)) break;
      const QByteArray frame = in.left(4 + qsizetype(n));
      in.remove(0, frame.size());
      if (office_wire::FrameLength(frame.constData() + 4) != office_wire::kAliveId) return frame;
    }
    if (!s->waitForReadyRead(1000) && s->state() != QLocalSocket::ConnectedState) break;
    in += s->readAll();
  }
  return {};
}

TEST_F(OfficeTest, AWorkerWhoseProgramDiedRemovesItsFilesItself) {
  const std::string docx = MakeDocx("orphan");
  // A dying program's worker is told by SIGTERM and by the end of its connection,
  // whichever comes first.
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "the connection ended" : "SIGTERM");
    // As the control lays it out: a private folder holding the socket, the worker's TMPDIR.
    const QString folder = QString::fromStdString(MakePrivateTempDir("w-"));
    const QString socketPath = folder + "/w";
    auto server = std::make_unique<QLocalServer>();
    ASSERT_TRUE(server->listen(socketPath));
    QProcess worker;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", folder);
    worker.setProcessEnvironment(env);
    worker.start(QString::fromStdString(TOfficeWorker::WorkerPath()), {socketPath});
    ASSERT_TRUE(worker.waitForStarted(10000));
    ASSERT_TRUE(server->waitForNewConnection(20000));
    QLocalSocket* s = server->nextPendingConnection();
    // A document open and typed into, so that the suite has its files and its threads.
    office_wire::Writer open;
    open.U32(1);
    open.U8(static_cast<uint8_t>(office_wire::Op::Open));
    open.Str(docx);
    open.Str("");
    const std::string opening = open.Frame();
    s->write(opening.data(), static_cast<qint64>(opening.size()));
    s->flush();
    const QByteArray opened = ReadAnswer(s);
    ASSERT_GE(opened.size(), 13);
    office_wire::Writer type;
    type.U32(2);
    type.U8(static_cast<uint8_t>(office_wire::Op::Text));
    type.Raw(opened.mid(9, 4).toStdString());  // the document's number
    type.Str("typed");
    const std::string typing = type.Frame();
    s->write(typing.data(), static_cast<qint64>(typing.size()));
    s->flush();
    ASSERT_FALSE(ReadAnswer(s).isEmpty());
    // Nobody is left to clean up after it: the worker does.
    if (closed) {
      s->abort();
      server.reset();  // as the program's end takes its listening socket
    } else {
      ::kill(static_cast<pid_t>(worker.processId()), SIGTERM);
    }
    ASSERT_TRUE(worker.waitForFinished(10000));
    EXPECT_FALSE(QFileInfo::exists(folder)) << WorkerLeftovers();
    QDir(folder).removeRecursively();
  }
}

TEST_F(OfficeTest, TheWorkerGoneReportIsNotAnsweredByTheKeysBeingTyped) {
  // The real message box, not a recorded one, driven once it is up.
  bool shown = false, survivedKeys = false;
  auto script = WhenModal<QMessageBox>([&](QMessageBox* box) {
    if (shown) {
      // Read, then answered with the mouse.
      if (survivedKeys) QTest::mouseClick(box->buttons().value(0), Qt::LeftButton);
      return;
    }
    shown = true;
    // Keys of the word being typed reach the box: they do not answer it.
    const QPointer<QMessageBox> alive(box);
    for (Qt::Key k : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
      if (!alive) break;
      QTest::keyClick(box, k);
      QApplication::processEvents();
    }
    survivedKeys = alive && box->isVisible();
  });
  QWidget owner;
  owner.show();
  ReportOfficeWorkerGone(OfficeWorkerLostText(), &owner);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(survivedKeys);
}

}  // namespace

namespace {

// A server reply that comes while a call waits on the worker (a document opening, the
// worker starting) is handled once the call has returned: the windows its handler opens
// call the worker themselves, and one opened inside the call could never close.
TEST_F(OfficeTest, AServerReplyThatComesDuringAWorkerCallIsHandledAfterIt) {
  AppInit app;
  ServiceCapture capture;
  QTemporaryDir dir;
  setenv("TARVO_LOCALE_FILE", (dir.path() + "/locale.ini").toUtf8().constData(), 1);
  const std::string docx = MakeDocx("reply-during-call");
  TOfficeWorker::Shared().Stop();  // the call below starts it, which takes a while

  FrameServer server;
  // The reply, then the connection closed, as the server does.
  const std::string reply = frames::BuildServerMessage("first");
  server.QueueRaw({{Le32(int32_t(reply.size())) + reply}, 0, true});
  TfrmMain session;
  session.SetServer("127.0.0.1", server.Port());
  std::vector<bool> duringCall;
  session.OnReply = [&](TMemoryStream&) { duringCall.push_back(TOfficeWorker::Shared().Calling()); };
  session.SendToServer(frames::BuildUnitsRequest(1));
  {
    TOfficeContainer c;
    c.Open(docx);
    // Answered at once, while the worker started.
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_TRUE(duringCall.empty());
    c.Close();
  }
  ASSERT_TRUE(WaitUntil([&] { return duringCall.size() == 1; }, 10000));
  EXPECT_FALSE(duringCall[0]);
}

}  // namespace

namespace {

// A document's window going closes the document without running the event loop: the
// window's other parts are gone by then and must not be painted or walked meanwhile.
TEST_F(OfficeTest, AContainerGoingClosesItsDocumentWithoutRunningTheLoop) {
  const std::string docx = MakeDocx("closed-as-it-goes");
  auto* c = new TOfficeContainer;
  c->Open(docx);
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  delete c;
  EXPECT_FALSE(ran);
  // The worker took the close, and works on.
  EXPECT_TRUE(WaitUntil([] { return !TOfficeWorker::Shared().Waiting(); }, 10000));
  TOfficeContainer again;
  again.Open(docx);
  again.Close();
}

}  // namespace
