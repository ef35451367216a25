// Reply routing with fake windows: what each reply code does to the session,
// the page's events, the popup, the windows and the wire.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "ModalDriver.h"
#include "ControlTestSupport.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Frames.h"
#include "control/wire/RecordReader.h"
#include "control/wire/Un_CopyFiles.h"
#include "core/ByteIO.h"
#include "core/PrivateTemp.h"
#include "control/session/Un_function.h"
#include "control/wire/Un_type.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "platform/Services.h"

namespace {

// A well-formed document reply; the tag travels as its chart.
std::string DocumentReply(const std::string& tag) { return TStream2Array().BuildDocumentReply("", tag); }

// Counts the events of one type delivered to an object.
class EventCounter : public QObject {
 public:
  EventCounter(QObject* target, QEvent::Type type) : type_(type) { target->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == type_) ++count;
    return false;
  }
  int count = 0;

 private:
  QEvent::Type type_;
};

// Frees what was scheduled for deletion (the test body runs outside any loop, where Qt
// keeps it) and says whether w is gone.
template <class T>
bool FreedLater(const QPointer<T>& w) {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return w.isNull();
}

// A modal window whose test script runs once its loop is up.
class FakeModal : public QDialog {
 public:
  std::function<void()> whileShown;
  int RunModal() {
    return ExecWithScript(*this, [this] {
      if (whileShown) whileShown();
    });
  }
};

class FakeForm : public FakeModal, public ITemplateForm {
 public:
  ~FakeForm() override { ++destroyed(); }
  static int& destroyed() {
    static int n = 0;
    return n;
  }
  QWidget* AsWidget() override { return this; }
  bool NewDoc() const override { return newDoc; }
  void SetNewDoc(bool v) override { newDoc = v; }
  bool Submitted() const override { return submitted; }
  void SetSubmitted(bool v) override { submitted = v; }
  bool CloseOnReply() const override { return closeOnReply; }
  void SetCloseOnReply(bool v) override { closeOnReply = v; }
  bool ManagerRequested() const override { return managerRequested; }
  void SetManagerRequested(bool v) override { managerRequested = v; }
  void LoadFromStream(TMemoryStream& r) override {
    calls.push_back("load");
    loaded = r.Data();
    RunModal();
    calls.push_back("loop ended");  // a real form goes on using itself here
  }
  void LoadAttachments(TMemoryStream& r) override { calls.push_back("attachments:" + frames::FrameCode(r.Data())); }
  void ShowUserSelection(TMemoryStream&) override { calls.push_back("users"); }
  void ShowNumberList(TMemoryStream&) override { calls.push_back("numbers"); }
  void ShowUnitSelection(TMemoryStream&) override { calls.push_back("units"); }
  void CloseForm() override {
    calls.push_back("close");
    reject();
  }
  void SetCellPicker(bool v) override { cellPicker = v; }
  void LoadSheet(TStream& s) override { sheet = s.ReadRest(); }
  void AdjustLayout() override { calls.push_back("adjust"); }
  void FitFormToGrid() override { calls.push_back("fit"); }
  int ShowModal() override { return RunModal(); }
  AnsiString CurrentCellText() const override { return cellText; }

  bool newDoc = false, submitted = false, closeOnReply = false, managerRequested = false, cellPicker = false;
  std::vector<std::string> calls;
  std::string loaded, sheet;
  AnsiString cellText;
};

class FakeEditor : public FakeModal, public IChartEditor {
 public:
  QWidget* AsWidget() override { return this; }
  void LoadFlow(TMemoryStream& r) override { flow = r.Data(); }
  int ShowModal() override { return RunModal(); }
  void WriteUserList(TMemoryStream&) override { calls.push_back("users"); }
  int PickMode() const override { return pickMode; }
  void SetTitleFieldText(const AnsiString& t) override { calls.push_back("title:" + t); }
  void SetNumberFieldText(const AnsiString& t) override { calls.push_back("number:" + t); }
  void SetMsgFieldCell(const AnsiString& t) override { calls.push_back("msg:" + t); }
  void AddEditCell(const AnsiString& t) override { calls.push_back("edit:" + t); }
  int pickMode = 0;
  std::string flow;
  std::vector<std::string> calls;
};

class FakeManager : public FakeModal, public IAttachmentManager {
 public:
  QWidget* AsWidget() override { return this; }
  void LoadFromReply(TMemoryStream& r) override { loaded = r.Data(); }
  int ShowModal() override { return RunModal(); }
  std::string loaded;
};

class FakeWord : public FakeModal, public IWordEditor {
 public:
  QWidget* AsWidget() override { return this; }
  void OpenDocument(const std::string& p, bool rev, bool fill) override {
    path = p;
    revisions = rev;
    fillPlaceholders = fill;
  }
  int ShowModal() override { return RunModal(); }
  TMemoryStream* GetResultStream() override { return result.Size() ? &result : nullptr; }
  std::string path;
  bool revisions = true, fillPlaceholders = false;
  TMemoryStream result;
};

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSessionValues();
    FakeForm::destroyed() = 0;
    setenv("TMPDIR", tmp.path().toUtf8().constData(), 1);
    session.SetServer("127.0.0.1", server.Port());
    session.OnSendFile = [this] { events.push_back("SendFile"); };
    session.OnAfterLogin = [this] { events.push_back("AfterLogin"); };
    session.OnDoit = [this](const AnsiString& t, const AnsiString& id) { events.push_back("Doit:" + t + "," + id); };
    auto& f = ReplyWindowFactories();
    f.CreateTemplateForm = [this] {
      auto* form = new FakeForm;
      forms.push_back(form);
      if (formScript) form->whileShown = [this, form] { formScript(*form); };
      return form;
    };
    f.CreateChartEditor = [this] {
      editor = new FakeEditor;
      editor->pickMode = pickMode;
      editor->whileShown = [this] { editorScript(*editor); };
      return editor;
    };
    f.CreateAttachmentManager = [this] {
      manager = new FakeManager;
      manager->whileShown = [this] { manager->accept(); };
      return manager;
    };
    f.CreateWordEditor = [this] {
      word = new FakeWord;
      ++wordsCreated;
      word->result = TMemoryStream(wordResult);
      word->whileShown = [this] { word->accept(); };
      return word;
    };
  }
  void TearDown() override {
    FreeDocumentForm(session);
    ReplyWindowFactories() = {};
    if (Tfrm_popup* p = Tfrm_popup::Current()) p->close();
    Pump(20);
    ClearSessionValues();
  }

  void Dispatch(const std::string& frame) {
    TMemoryStream s(frame);
    DispatchReply(session, s);
    EXPECT_EQ(s.Size(), 0) << "the reply is emptied after dispatch";
  }

  // Opens a document form and runs `inside` while it is shown modally.
  void WithOpenForm(std::function<void(FakeForm&)> inside) {
    formScript = [inside](FakeForm& f) {
      inside(f);
      if (f.isVisible()) f.accept();
    };
    Dispatch(DocumentReply("d"));
    formScript = nullptr;
  }

  AppInit app;
  QTemporaryDir tmp;
  ServiceCapture capture;
  FrameServer server;
  TfrmMain session;
  std::vector<std::string> events;
  std::vector<QPointer<FakeForm>> forms;
  std::function<void(FakeForm&)> formScript;
  FakeEditor* editor = nullptr;
  std::function<void(FakeEditor&)> editorScript = [](FakeEditor& e) { e.accept(); };
  int pickMode = 0;
  FakeManager* manager = nullptr;
  FakeWord* word = nullptr;
  std::string wordResult;
  int wordsCreated = 0;
};

TEST_F(Dispatcher, ServerMessagesFireEventsAndFillThePopup) {
  SetPendingDoit("tab", "{R}");
  Dispatch(frames::BuildServerMessage(Cp936("文件操作成功！")));
  EXPECT_EQ(events, std::vector<std::string>{"SendFile"});
  ASSERT_NE(Tfrm_popup::Current(), nullptr);
  EXPECT_EQ(Tfrm_popup::Current()->MessageTextValue(), Cp936("文件操作成功！"));

  // A second message goes below the first in the same popup.
  Tfrm_popup* popup = Tfrm_popup::Current();
  Dispatch(frames::BuildServerMessage(Cp936("文件归档完毕！")));
  EXPECT_EQ(Tfrm_popup::Current(), popup);
  EXPECT_EQ(popup->MessageTextValue(), Cp936("文件操作成功！") + "\r\n" + Cp936("文件归档完毕！"));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], "Doit:tab,{R}");
  // The pair was used up.
  FireDoit();
  EXPECT_EQ(events.back(), "Doit:,");
  EXPECT_TRUE(capture.prompts.empty());
}

TEST_F(Dispatcher, LongMessageIsWrappedAndBarMessageGoesToAMessageBox) {
  std::string forty(40, 'x');
  Dispatch(frames::BuildServerMessage(forty));
  ASSERT_NE(Tfrm_popup::Current(), nullptr);
  EXPECT_EQ(Tfrm_popup::Current()->MessageTextValue(),
            std::string(18, 'x') + "\r\n" + std::string(18, 'x') + "\r\n" + "xxxx");

  WithOpenForm([&](FakeForm& f) {
    f.submitted = f.closeOnReply = true;
    Dispatch(frames::BuildServerMessage("|" + Cp936("请先保存")));
    EXPECT_FALSE(f.submitted);
    EXPECT_FALSE(f.closeOnReply);
    EXPECT_TRUE(f.isVisible());
  });
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("请先保存"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("系统提示"));
  EXPECT_EQ(capture.prompts[0].icon, MsgIcon::Information);
}

TEST_F(Dispatcher, MessageClosesASubmittedFormWaitingForIt) {
  bool closedByReply = false;
  WithOpenForm([&](FakeForm& f) {
    f.submitted = f.closeOnReply = true;
    Dispatch(frames::BuildServerMessage(""));  // empty: no popup, the close rule still runs
    closedByReply = !f.isVisible();
  });
  EXPECT_TRUE(closedByReply);
  EXPECT_EQ(Tfrm_popup::Current(), nullptr);
  ASSERT_FALSE(forms.empty());
  EXPECT_EQ(forms[0]->calls, (std::vector<std::string>{"load", "close", "loop ended"}));
}

TEST_F(Dispatcher, ListRepliesNeedAnOpenFormAndValidFrames) {
  // No form: nothing happens and nothing breaks.
  Dispatch(frames::BuildNumbersReply({{1, "A", 0, 2}}));
  Dispatch(frames::BuildUnitsReply({{1, "u"}}));
  Dispatch(frames::BuildUserListReply({}));
  Dispatch(frames::BuildAttachmentsReply({}, ""));
  Dispatch("\x04ZZZZ");
  EXPECT_TRUE(forms.empty());

  WithOpenForm([&](FakeForm& f) {
    Dispatch(frames::BuildNumbersReply({{1, "A", 0, 2}}));
    Dispatch(frames::BuildUnitsReply({{1, "u"}}));
    Dispatch(frames::BuildUserListReply({}));
    // A lying count is refused before it reaches the form.
    Dispatch(frames::FrameWriter(frames::BuildNumbersReply({})).I32(64, 5).Take());
    Dispatch(frames::FrameWriter(frames::BuildUnitsReply({})).I32(12, -1).Take());
    Dispatch(frames::BuildUserListReply({}).substr(0, 11));
    EXPECT_EQ(f.calls, (std::vector<std::string>{"load", "numbers", "units", "users"}));
  });

  // A closed form no longer takes replies.
  ASSERT_EQ(forms.size(), 1u);
  Dispatch(frames::BuildNumbersReply({}));
  EXPECT_EQ(forms[0]->calls.back(), "loop ended");
  EXPECT_EQ(frmTemplate(session), forms[0].data());
}

// Two controls in one process: a document for one leaves the other's form open, a list
// reaches the form of the session it came to, and freeing one form leaves the other.
TEST_F(Dispatcher, TwoSessionsKeepTheirFormsApart) {
  TfrmMain other;
  other.SetServer("127.0.0.1", server.Port());
  bool firstStayedOpen = false;
  formScript = [&](FakeForm& f) {
    if (forms.size() == 1) {
      TMemoryStream s(DocumentReply("other"));
      DispatchReply(other, s);  // the other control's form opens and closes meanwhile
      firstStayedOpen = f.isVisible();
      Dispatch(frames::BuildNumbersReply({{1, "A", 0, 2}}));
    }
    f.accept();
  };
  Dispatch(DocumentReply("first"));
  formScript = nullptr;
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_TRUE(firstStayedOpen);
  ASSERT_FALSE(forms[0].isNull());
  EXPECT_EQ(forms[0]->calls, (std::vector<std::string>{"load", "numbers", "loop ended"}));
  EXPECT_EQ(forms[1]->calls, (std::vector<std::string>{"load", "loop ended"}));
  EXPECT_EQ(frmTemplate(session), forms[0].data());
  EXPECT_EQ(frmTemplate(other), forms[1].data());

  FreeDocumentForm(other);
  EXPECT_TRUE(FreedLater(forms[1]));
  EXPECT_FALSE(forms[0].isNull());
  EXPECT_EQ(frmTemplate(session), forms[0].data());
  EXPECT_EQ(frmTemplate(other), nullptr);
}

TEST_F(Dispatcher, NewDocumentReplaysSafelyOverAnOpenForm) {
  NewDocumentFlag() = 1;
  bool secondShownInsideFirst = false;
  formScript = [&](FakeForm& f) {
    if (forms.size() == 1) {
      NewDocumentFlag() = 0;
      Dispatch(DocumentReply("second"));  // arrives while the first form is modal
      secondShownInsideFirst = forms.size() == 2;
      return;
    }
    f.accept();
  };
  Dispatch(DocumentReply("first"));
  formScript = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return FreedLater(forms[0]); }));
  ASSERT_TRUE(secondShownInsideFirst);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_TRUE(forms[0].isNull()) << "the replaced form is freed once its loop has ended";
  ASSERT_FALSE(forms[1].isNull());
  EXPECT_EQ(frmTemplate(session), forms[1].data());
  EXPECT_EQ(forms[1]->loaded, DocumentReply("second"));
  EXPECT_FALSE(forms[1]->newDoc);
  EXPECT_EQ(FakeForm::destroyed(), 1);

  // A later document frees the closed one at once.
  formScript = [](FakeForm& f) { f.accept(); };
  NewDocumentFlag() = 1;
  Dispatch(DocumentReply("third"));
  EXPECT_TRUE(WaitUntil([&] { return FreedLater(forms[1]); }));
  EXPECT_TRUE(forms[2]->newDoc);
  EXPECT_EQ(FakeForm::destroyed(), 2);
}

TEST_F(Dispatcher, LoginReplyUnpacksAndFiresAfterLoginLater) {
  Dispatch(frames::BuildLoginReply({}));  // refused login: empty user ID
  EXPECT_TRUE(events.empty()) << "fired from the posted message, not at once";
  ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"AfterLogin"});
  EXPECT_TRUE(SessionValues().UserGUID.empty());

  frames::LoginReply l;
  l.UserGUID = "{U}";
  l.CompID = 5;
  Dispatch(frames::BuildLoginReply(l));
  EXPECT_EQ(SessionValues().UserGUID, "{U}");
  EXPECT_EQ(SessionValues().CompID, 5);
  ASSERT_TRUE(WaitUntil([&] { return events.size() == 2; }));

  // A short login reply is refused: no event, the session stays. The event goes out through
  // a message posted to the session, so once what was posted has run, none can follow.
  EventCounter posted(&session, QEvent::Type(TfrmMain::kWMAfterLogin));
  Dispatch(frames::BuildLoginReply({}).substr(0, 379));
  ASSERT_TRUE(PostedEventsHandled());
  EXPECT_EQ(posted.count, 0);
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(SessionValues().UserGUID, "{U}");
}

TEST_F(Dispatcher, AttachmentListOpensTheManagerOnlyWhenAsked) {
  frames::AttachmentsReply header;
  header.recordId = "{R}";
  header.tableName = "tab";
  const std::string strm = frames::BuildAttachmentsReply(header, "");
  WithOpenForm([&](FakeForm& f) {
    Dispatch(strm);
    EXPECT_EQ(manager, nullptr);
    f.managerRequested = true;
    Dispatch(strm);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->loaded, strm);
    EXPECT_FALSE(f.managerRequested);
    EXPECT_EQ(frmSetLoadFiles(session), nullptr);
    // A lying container offset is refused before the form sees it.
    Dispatch(frames::FrameWriter(strm).I32(8, 5000).Take());
    EXPECT_EQ(f.calls, (std::vector<std::string>{"load", "attachments:STRM", "attachments:STRM"}));
  });
}

TEST_F(Dispatcher, FlowOpensTheEditorWhichThenTakesUsersAndPickedCells) {
  pickMode = 2;
  bool usersWentToEditor = false;
  editorScript = [&](FakeEditor& e) {
    EXPECT_EQ(ChartEditor(session), &e);
    Dispatch(frames::BuildUserListReply({}));
    usersWentToEditor = e.calls == std::vector<std::string>{"users"};
    // A second definition while the editor is open does not open another.
    FakeEditor* first = editor;
    Dispatch(BuildFlowMessage({}));
    EXPECT_EQ(editor, first);
    // Cell picking: the sheet after the 144-byte header goes to a picker form.
    formScript = [](FakeForm& picker) {
      picker.cellText = "B3";
      picker.accept();
    };
    Dispatch(frames::BuildSheetReply("SHEETDATA"));
    e.accept();
  };
  Dispatch(BuildFlowMessage({}));
  ASSERT_FALSE(forms.empty());
  EXPECT_TRUE(WaitUntil([&] { return FreedLater(forms[0]); }));
  EXPECT_TRUE(usersWentToEditor);
  EXPECT_EQ(ChartEditor(session), nullptr);
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_TRUE(forms[0].isNull()) << "the picker is freed";
  // Without an editor a sheet reply opens nothing.
  Dispatch(frames::BuildSheetReply("SHEETDATA"));
  EXPECT_EQ(forms.size(), 1u);
}

TEST_F(Dispatcher, PickedCellGoesWhereThePickModeSays) {
  for (int mode = 0; mode < 4; ++mode) {
    pickMode = mode;
    std::vector<std::string> delivered;
    std::string pickerSheet;
    bool pickerFlag = false;
    editorScript = [&](FakeEditor& e) {
      formScript = [&](FakeForm& picker) {
        pickerSheet = picker.sheet;
        pickerFlag = picker.cellPicker;
        picker.cellText = "C" + std::to_string(mode);
        picker.accept();
      };
      Dispatch(frames::BuildSheetReply("SHEET"));
      // An empty cell delivers nothing.
      formScript = [](FakeForm& picker) { picker.accept(); };
      Dispatch(frames::BuildSheetReply("SHEET"));
      delivered = e.calls;
      e.accept();
    };
    Dispatch(BuildFlowMessage({}));
    const char* kinds[] = {"title:", "number:", "msg:", "edit:"};
    EXPECT_EQ(delivered, std::vector<std::string>{kinds[mode] + ("C" + std::to_string(mode))});
    EXPECT_EQ(pickerSheet, "SHEET");
    EXPECT_TRUE(pickerFlag);
  }
}

TEST_F(Dispatcher, BodyFileIsWrittenPrivatelyAndTheSavedResultUploaded) {
  wordResult = "EDITED-DOC";
  const std::string reply = frames::BuildFileReply("tab", "{R}", "..\\..\\evil/body.doc", "ORIGINAL");
  Dispatch(reply);  // no form: dropped
  EXPECT_EQ(word, nullptr);

  WithOpenForm([&](FakeForm&) { Dispatch(reply); });
  ASSERT_NE(word, nullptr);
  const std::string expectedPath = PrivateTempFolder() + "body.doc";
  EXPECT_EQ(word->path, expectedPath);
  EXPECT_FALSE(word->revisions);
  EXPECT_TRUE(word->fillPlaceholders);
  std::ifstream in(expectedPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "ORIGINAL");
  struct stat st {};
  ASSERT_EQ(stat(expectedPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 1; }));
  const std::string sabb = server.requests[0].frame;
  wire::RecordReader r(sabb, 112, "Upload");
  EXPECT_EQ(frames::FrameCode(sabb), "SABB");
  EXPECT_EQ(r.Text(12, 38), "{R}");
  EXPECT_EQ(r.Text(51, 50), "tab");
  EXPECT_EQ(r.I32(104), 1);
  const std::string container = sabb.substr(112);
  wire::RecordReader c(container, 320, "Container");
  EXPECT_EQ(c.I32(0), 1);
  EXPECT_EQ(c.Text(48 + 4, 255), "body.doc");
  EXPECT_EQ(c.I32(48 + 268), 1);
  EXPECT_EQ(container.substr(320), "EDITED-DOC");

  // Nothing saved: nothing uploaded. A refused name writes nothing.
  wordResult.clear();
  word = nullptr;
  WithOpenForm([&](FakeForm&) {
    Dispatch(reply);
    Dispatch(frames::BuildFileReply("tab", "{R}", "dir\\..", "X"));
    // Names that only turn into "" or ".." once converted for the file system.
    Dispatch(frames::BuildFileReply("tab", "{R}", "..\x81", "X"));
    Dispatch(frames::BuildFileReply("tab", "{R}", "\x81", "X"));
  });
  const std::string marker = frames::BuildUnitsRequest(99);
  server.QueueRaw({{Le32(0)}});
  ASSERT_TRUE(RoundTrip(session, marker));
  ASSERT_EQ(server.requests.size(), 2u);
  EXPECT_EQ(server.requests[1].frame, marker);
  EXPECT_EQ(wordsCreated, 2);
}

}  // namespace

TEST_F(Dispatcher, DocumentContainerAndFlowThatDoNotParseAreDropped) {
  // A document whose step count reaches beyond it leaves the open form alone.
  std::string lying = DocumentReply("x");
  PutI32LE(lying.data() + dh::StepCount, 3);
  WithOpenForm([&](FakeForm& f) {
    Dispatch(lying);
    EXPECT_EQ(forms.size(), 1u);
    EXPECT_TRUE(f.isVisible());
    // An attachment list whose container lies is not handed to the form.
    TCopy2Files files;
    files.AddStream("a.txt", "abc", fsFromServer);
    std::string container = files.SaveToBytes();
    const std::string good = frames::BuildAttachmentsReply({"{R}", "tab"}, container);
    PutI32LE(container.data() + 48 + 264, 4);  // one byte more than the data
    Dispatch(frames::BuildAttachmentsReply({"{R}", "tab"}, container));
    Dispatch(good);
    EXPECT_EQ(f.calls, (std::vector<std::string>{"load", "attachments:STRM"}));
  });
  // A definition announcing a step record it does not carry opens no editor.
  std::string flow = BuildFlowMessage({});
  PutI32LE(flow.data() + 288, 1);
  Dispatch(flow);
  EXPECT_EQ(editor, nullptr);
  // Each refusal is said once, so the person knows the request did not complete.
  ASSERT_EQ(capture.prompts.size(), 3u);
  for (const auto& p : capture.prompts) {
    EXPECT_EQ(p.text, Cp936("服务器返回的数据不完整或无法识别，操作没有完成。"));
    EXPECT_EQ(p.caption, Cp936("系统提示"));
    EXPECT_EQ(p.icon, MsgIcon::Information);
  }
}
