// End to end against oa-server, through the document forms the server's replies open: a
// leave request's attachment manager adds two files in one upload, an incoming letter's
// Word body is edited with revisions and saved, and a second look finds both on the server.
// Then the Word body as the demo opens it: the control library loaded from the build tree
// as the host loads it, the office worker found from there with nothing naming it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "ControlFactory.h"
#include "E2eSupport.h"
#include "ModalDriver.h"
#include "PageSession.h"
#include "PersonWalk.h"
#include "WindowInput.h"
#include "control/attachments/AttachmentList.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/office/frm_OLEWord.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/frm_Template.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "core/ScopeGuard.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/com/ComLoader.h"
#include "platform/com/Registration.h"
#include "platform/office/OfficeContainer.h"
#include "uikit/TFlatButtonUnit.h"
#include "tests/apps/RawClient.h"

namespace office_e2e {

const char* kRecord = "{7A0B1C2D-3E4F-4051-8263-748596A7B8C9}";
const char* kTable = "oa_incoming";

QApplication& App() { return E2eApp("e2e-office"); }

using e2e::Ask;

std::string WriteFile(const std::string& name, const std::string& bytes) {
  QString path = QDir::tempPath() + "/" + QString::fromStdString(name);
  QFile f(path);
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path.toStdString();
}

std::string DocumentXml(const std::string& docx) {
  std::string path = WriteFile("body-check.docx", docx);
  QProcess p;
  p.start("unzip", {"-p", QString::fromStdString(path), "word/document.xml"});
  p.waitForFinished(10000);
  return p.readAllStandardOutput().toStdString();
}

TEST(OfficeE2E, AttachmentsAndTheEditedBodyReachTheServer) {
  App();
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  ClearSessionValues();
  ServiceCapture cap;
  auto page = std::make_unique<PageSession>();
  ASSERT_TRUE(page->Start());
  ASSERT_TRUE(page->Login("zhangsan"));

  const std::string fileA = WriteFile("通知.txt", "attachment one");
  const std::string fileB = WriteFile("data.bin", std::string("\0\1\2binary", 9));
  std::string leave;
  // A leave request (no Word body): its 附件 opens the attachment manager; the incoming
  // letter's 附件 opens its Word body.
  person::Walk walk(std::chrono::seconds(60));
  walk.In<TfrmTemplate>("the new leave request", [&](TfrmTemplate* f) {
        leave = f->Doc().Header.Text(dh::RecordId);
        person::TypeInto(f, "标题", "Trip");
        person::Click(f->TemporaryButton());
      }, [](TfrmTemplate* f) { return f->CurStepNo() == 1; })
      .Then("the draft saved", [&] { return page->Count("UPDA") == 1; },
            [] { person::Click(person::Modal<TfrmTemplate>()->AttachmentButton()); })
      .In<TfrmSetLoadFiles>("the attachment manager", [&](TfrmSetLoadFiles* m) {
        cap.openAnswers = {{fileA, fileB}};
        person::Click(m->btn_AddFile());
      }, [](TfrmSetLoadFiles* m) { return !m->ReadOnly(); })
      .In<TfrmSetLoadFiles>("both files sent", [](TfrmSetLoadFiles* m) { person::Click(m->btn_Close()); },
                            [&](TfrmSetLoadFiles* m) { return m->ListView()->count() == 2 && page->Count("SABB") == 1; })
      .In<TfrmTemplate>("the leave request again", [](TfrmTemplate* f) { person::Click(f->CloseButton()); })
      .Then("the leave request closed", [] { return !QApplication::activeModalWidget(); },
            [&] { page->Open("收文登记单", kRecord); })
      .In<TfrmTemplate>("the incoming letter", [](TfrmTemplate* f) { person::Click(f->AttachmentButton()); },
                        [](TfrmTemplate* f) { return f->Doc().Header.Text(dh::TableName) == kTable; })
      .In<TfrmOLEWord>("the Word body", [&](TfrmOLEWord* ed) {
        ed->OleContainer()->SetTrackRevisions(true);
        ed->OleContainer()->TypeText(QString::fromUtf8("端到端修改"));
        ed->nSaveClick();
        cap.promptAnswers.push_back(MsgResult::No);  // already saved
        ed->close();
      })
      .In<TfrmTemplate>("the incoming letter again", [&](TfrmTemplate* f) {
        cap.promptAnswers.push_back(MsgResult::No);  // its fields are not what this is about
        person::Click(f->CloseButton());
      });
  ASSERT_TRUE(page->Open("请假单", ""));
  person::RunWalk(walk, 200000);
  // The body's upload leaves after the editor closed.
  ASSERT_TRUE(PumpUntil([&] { return page->Count("SABB") == 2; }, 20000));
  const OaServerProcess& server = page->server;

  // One upload carried both files, then one the body (the log keeps only the head of a
  // large frame, so the body's upload is counted, not read).
  std::vector<std::string> uploads;
  for (const std::string& line : server.LogLines())
    if (line.rfind("SABB", 0) == 0) uploads.push_back(line);
  ASSERT_EQ(uploads.size(), 2u);
  const std::optional<LoggedFrame> first = ParseLogLine(uploads[0]);
  ASSERT_TRUE(first);
  TCopy2Files added;
  added.LoadFromBytes(std::string_view(first->frame).substr(frames::kAttachmentsHeaderSize));
  EXPECT_EQ(added.Count(), 2);

  // Asked again, the server has the two attachments and the edited body.
  const TCopy2Files files = page->Attachments("oa_leave", leave);
  ASSERT_EQ(files.Count(), 2);
  EXPECT_EQ(files.GetFileName(0), Utf8ToCp936("通知.txt"));
  EXPECT_EQ(files.FileData(0), "attachment one");
  EXPECT_EQ(files.GetFileName(1), "data.bin");
  EXPECT_EQ(files.FileData(1), std::string("\0\1\2binary", 9));

  const std::string fileReply = Ask(server.Port(), frames::BuildFileRequest(SessionValues().UserGUID, kTable, kRecord,
                                                                            Utf8ToCp936("收文正文.docx")));
  const frames::FileReply body = frames::ParseFileReply(fileReply);
  const std::string xml = DocumentXml(std::string(body.body));
  const size_t at = xml.find("端到端修改");
  ASSERT_NE(at, std::string::npos);
  const size_t ins = xml.rfind("<w:ins ", at);
  ASSERT_NE(ins, std::string::npos);
  EXPECT_EQ(xml.find("</w:ins>", ins), xml.find("</w:ins>", at));

  person::CloseLeftWindows();
  delete Tfrm_popup::Current();
  page.reset();
  ClearSessionValues();
}

// The windows below belong to the loaded library's own copy of the control, so they are
// known by class name, and every input goes through their windows.
QWidget* ModalNamed(const char* className) {
  QWidget* w = QApplication::activeModalWidget();
  return w && w->isVisible() && qstrcmp(w->metaObject()->className(), className) == 0 ? w : nullptr;
}

// Closes a window as its title bar's close button does. Posted: what the close asks runs
// a loop of its own, and the caller (a timer) must keep running meanwhile.
void CloseThroughWindowLater(QWidget* w) {
  QTimer::singleShot(0, [window = QPointer<QWindow>(w->windowHandle())] {
    if (window) window->close();
  });
}

// Each character as a key with its text, as a keyboard (or an input method's commit) sends it.
void TypeThroughWindow(QWindow* window, const QString& text) {
  for (QChar c : text) {
    Qt::Key key = Qt::Key_unknown;
    if (c.isLetterOrNumber() && c.unicode() < 128) key = Qt::Key(c.toUpper().unicode());
    if (c == ' ') key = Qt::Key_Space;
    QTest::sendKeyEvent(QTest::Click, window, key, QString(c), Qt::NoModifier);
  }
}

int DarkPixels(QWidget* w) {
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += qGray(img.pixel(x, y)) < 100;
  return n;
}

class UnsetEnv {
 public:
  explicit UnsetEnv(const char* name) : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    qunsetenv(name);
  }
  ~UnsetEnv() {
    if (had_) qputenv(name_, old_);
  }

 private:
  const char* name_;
  QByteArray old_;
  bool had_;
};

TEST(OfficeE2E, TheWordBodyOpensFromTheFormWithTheWorkerFoundAsTheDemoLaysItOut) {
  App();
  const std::string build = qEnvironmentVariable("TARVO_BUILD_DIR").toStdString();
  ASSERT_FALSE(build.empty());
  const UnsetEnv noBuildDir("TARVO_BUILD_DIR"), noWorker("TARVO_OFFICE_WORKER");
  OaServerProcess server;
  ASSERT_TRUE(server.Started());

  // As tarvo-host does: register the build's control library, create the control from
  // the registry inside the page.
  std::string error;
  auto lib = LoadInprocLibrary(build + "/control/libTarvoProj.so", &error);
  ASSERT_TRUE(lib) << error;
  ASSERT_EQ(lib->RegisterServer(), S_OK);
  Registry registry;
  registry.Load();
  TGUID clsid;
  ASSERT_TRUE(ClsidFromProgId(registry, "TarvoProj.TarvoX", clsid));
  QWidget page;
  ComPtr<IDispatch> control;
  ASSERT_EQ(CreateInstanceFromRegistry(registry, clsid, &page, IID_IDispatch, control.PutVoid(), &error), S_OK)
      << error;
  {
    PageDriver driver(control);
    page.show();
    ASSERT_TRUE(driver.WaitForEvent("OnDoLogin"));
    ASSERT_EQ(driver.Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
    ASSERT_EQ(driver.Call("Login", {"zhangsan"}), S_OK);
    ASSERT_TRUE(driver.WaitForEvent("OnAfterLogin"));

    // The windows are modal, each in its own loop: a timer plays the person.
    enum Step { OpenForm, OpenBody, Type, CloseEditor, AnswerSave, CloseForm, Abort, Done };
    Step step = OpenForm;
    QStringList messages;
    int inkBefore = -1;
    QTimer person;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&person, &QTimer::timeout, [&] {
      if (step < Abort && clock.elapsed() > 150000) {
        ADD_FAILURE() << "stopped at step " << step << "; messages: " << messages.join(" / ").toStdString();
        step = Abort;
      }
      // Any message box is read and answered: Yes to saving the body, else its default.
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        messages << box->text();
        if (step < AnswerSave) {
          // Nothing is asked while the body opens; a message here is the failure.
          ADD_FAILURE() << "at step " << step << ": " << box->text().toStdString();
          step = Abort;
        }
        QAbstractButton* answer = box->button(step == AnswerSave ? QMessageBox::Yes : QMessageBox::No);
        if (!answer) answer = box->button(QMessageBox::Ok);
        if (!answer) answer = box->buttons().value(0);
        if (step == AnswerSave) step = CloseForm;
        if (answer) ClickThroughWindow(answer, answer->rect().center());
        return;
      }
      QWidget* form = ModalNamed("TfrmTemplate");
      QWidget* editor = ModalNamed("TfrmOLEWord");
      QWidget* view = nullptr;
      if (editor)
        for (QWidget* c : editor->findChildren<QWidget*>())
          if (qstrcmp(c->metaObject()->className(), "TOfficeContainer") == 0) view = c;
      switch (step) {
        case OpenForm:
          // The form's body button asks for the Word body; its reply opens the editor.
          if (!form) return;
          if (QAbstractButton* body = VisibleButton(form, QString::fromUtf8("附件"))) {
            ClickThroughWindow(body, body->rect().center());
            step = OpenBody;
          }
          return;
        case OpenBody:
          // The body is on screen once the worker has painted its text.
          if (!view || DarkPixels(view) < 200) return;
          inkBefore = DarkPixels(view);
          ClickThroughWindow(view, QPoint(view->width() / 2, view->height() - 20));
          QTest::keyClick(editor->windowHandle(), Qt::Key_End, Qt::ControlModifier);
          QTest::keyClick(editor->windowHandle(), Qt::Key_Return);
          TypeThroughWindow(editor->windowHandle(), QString::fromUtf8("端到端 typed line"));
          step = Type;
          return;
        case Type:
          if (!view || DarkPixels(view) <= inkBefore + 100) return;
          step = CloseEditor;
          return;
        case CloseEditor:
          if (!editor) return;
          step = AnswerSave;
          CloseThroughWindowLater(editor);
          return;
        case AnswerSave:
          return;
        case Abort:
          // Modal loops nest inside the wait below: each window is closed (and what it
          // asks answered) until none is left, or the wait never returns.
          if (QWidget* w = QApplication::activeModalWidget())
            CloseThroughWindowLater(w);
          else
            step = Done;
          return;
        case CloseForm:
          if (editor) return;
          if (!form) {
            step = Done;
            return;
          }
          CloseThroughWindowLater(form);
          return;
        case Done:
          return;
      }
    });
    person.start(100);
    const auto stop = ScopeExit([&] { person.stop(); });
    ASSERT_EQ(driver.Call("GetStream", {"oa", kRecord, "0", "收文登记单", "3", "", ""}), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return step == Done; }, 180000));
    ASSERT_FALSE(::testing::Test::HasFailure());
  }

  // The saved body reached the server with the typed line.
  ASSERT_TRUE(PumpUntil([&] {
    for (const std::string& line : server.LogLines())
      if (line.rfind("SABB", 0) == 0) return true;
    return false;
  }, 20000));
  // The server lets only known users read a body.
  const AnsiString reader = frames::ParseLoginReply(Ask(server.Port(), frames::BuildLoginRequest("zhangsan"))).UserGUID;
  const std::string fileReply =
      Ask(server.Port(), frames::BuildFileRequest(reader, kTable, kRecord, Utf8ToCp936("收文正文.docx")));
  const std::string xml = DocumentXml(std::string(frames::ParseFileReply(fileReply).body));
  EXPECT_NE(xml.find("端到端"), std::string::npos);
  EXPECT_NE(xml.find("typed line"), std::string::npos);
  control = {};
  PumpFor(200);
}

}  // namespace office_e2e

