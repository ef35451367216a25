#include "control/session/Un_function.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QWidget>
#include <memory>

#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/ReplyText.h"
#include "control/wire/SingleFileContainer.h"
#include "core/PrivateTemp.h"
#include "control/windows/frmPopup.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "control/session/frm_Main.h"
#include "core/Exception.h"
#include "core/ScopeGuard.h"
#include "platform/Guard.h"
#include "platform/Services.h"


namespace {

const char* const kCaption = "系统提示";
const char* const kFileSentText = "文件操作成功！";
const char* const kArchivedText = "文件归档完毕！";

using DocRef = TDispatchedWindows::Document;

IChartEditor* EditorOf(const TDispatchedWindows& state) { return state.editorWidget ? state.editor : nullptr; }

// The document form as a target of replies: it must still be shown, since a
// closed form has let go of its document.
ITemplateForm* OpenDocumentForm(const TfrmMain& session) {
  ITemplateForm* f = frmTemplate(session);
  return f && session.Dispatched()->document->widget->isVisible() ? f : nullptr;
}

// Frees a window after its own modal loop has returned.
void FreeWidget(const QPointer<QWidget>& w) {
  if (w) w->deleteLater();
}

void Retire(DocRef& ref) {
  ref.retired = true;
  if (!ref.widget) return;
  if (ref.modal) {
    ref.window->CloseForm();  // its showing call frees it when the loop ends
    return;
  }
  ref.widget->deleteLater();
}

void HandleUserReply(const TfrmMain& session, TMemoryStream& reply) {
  frames::ParseUserListReply(reply.Data());
  // A lazily loaded page of the selection dialog that is open: it goes into that dialog.
  if (const TUserPageSink sink = UserPageSink(); sink && sink(reply.Data())) return;
  if (IChartEditor* editor = ChartEditor(session)) {
    editor->WriteUserList(reply);
  } else if (ITemplateForm* form = OpenDocumentForm(session)) {
    form->ShowUserSelection(reply);
  }
}

void HandleServerMessage(TfrmMain& session, const std::string& data) {
  const AnsiString text = frames::ParseServerMessage(data);
  if (text == Cp936(kFileSentText)) {
    session.FireSendFile();
  } else if (text == Cp936(kArchivedText)) {
    FireDoit(session);
  }
  if (!text.empty() && text[0] == '|') {
    ShowMessageBox(text.substr(1), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, nullptr);
    if (ITemplateForm* form = OpenDocumentForm(session)) {
      form->SetSubmitted(false);
      form->SetCloseOnReply(false);
    }
    return;
  }
  // An empty message shows nothing, but still closes a form waiting for it.
  if (!text.empty()) ShowPopupMessage(WrapMessageText(text));
  if (ITemplateForm* form = OpenDocumentForm(session); form && form->Submitted() && form->CloseOnReply())
    form->CloseForm();
}

void HandleLoginReply(TfrmMain& session, const std::string& data) {
  UnpackLoginReply(data);
  QCoreApplication::postEvent(&session, new QEvent(QEvent::Type(TfrmMain::kWMAfterLogin)));
}

void HandleFlowReply(const TfrmMain& session, TMemoryStream& reply) {
  // An editor already open keeps its definition; a second modal editor on the
  // same reference would be freed under the first one's loop.
  if (ChartEditor(session) || !ReplyWindowFactories().CreateChartEditor) return;
  ParseFlowMessage(reply.Data());  // refuses step records or a chart beyond the reply
  IChartEditor* editor = ReplyWindowFactories().CreateChartEditor();
  if (!editor) return;
  const std::shared_ptr<TDispatchedWindows> state = session.Dispatched();
  state->editor = editor;
  state->editorWidget = editor->AsWidget();
  const QPointer<QWidget> widget = state->editorWidget;
  const auto release = ScopeExit([&] {
    if (state->editorWidget == widget) {
      state->editorWidget = nullptr;
      state->editor = nullptr;
    }
    FreeWidget(widget);
  });
  editor->LoadFlow(reply);
  editor->ShowModal();
}

void HandleUnitsReply(const TfrmMain& session, TMemoryStream& reply) {
  frames::ParseUnitsReply(reply.Data());
  if (ITemplateForm* form = OpenDocumentForm(session)) form->ShowUnitSelection(reply);
}

}  // namespace

TReplyWindowFactories& ReplyWindowFactories() {
  static TReplyWindowFactories factories;
  return factories;
}

TUserPageSink& UserPageSink() {
  static TUserPageSink sink = nullptr;
  return sink;
}

ITemplateForm* frmTemplate(const TfrmMain& session) {
  const auto& ref = session.Dispatched()->document;
  return ref ? ref->Alive() : nullptr;
}

IChartEditor* ChartEditor(const TfrmMain& session) { return EditorOf(*session.Dispatched()); }

IAttachmentManager* frmSetLoadFiles(const TfrmMain& session) {
  const TDispatchedWindows& state = *session.Dispatched();
  return state.managerWidget ? state.manager : nullptr;
}

void FreeDocumentForm(TfrmMain& session) {
  if (auto ref = std::exchange(session.Dispatched()->document, nullptr)) Retire(*ref);
}

AnsiString ReadFrameCode(TStream& stream) {
  char code[frames::kCodeSize];
  if (stream.Read(code, sizeof code) != int64_t(sizeof code)) return {};
  return frames::FrameCode(std::string_view(code, sizeof code));
}

void ShowPopupMessage(const AnsiString& text) {
  if (Tfrm_popup* popup = Tfrm_popup::Current()) {
    popup->RestartHold();
    popup->AppendMessageText(text);
    return;
  }
  auto* popup = new Tfrm_popup(nullptr);
  popup->SetMessageText(text);
  popup->show();
}

void DispatchReply(TfrmMain& session, TMemoryStream& reply) {
  struct Emptier {
    TMemoryStream& s;
    ~Emptier() { s.Clear(); }
  } emptier{reply};

  reply.SetPosition(0);
  const AnsiString code = ReadFrameCode(reply);
  reply.SetPosition(0);
  try {
    if (code == "EXCE") {
      HandleDocumentReply(session, reply);
    } else if (code == "STRM") {
      HandleAttachmentsReply(session, reply);
    } else if (code == "USER") {
      HandleUserReply(session, reply);
    } else if (code == "SMSG") {
      HandleServerMessage(session, reply.Data());
    } else if (code == "LOGN") {
      HandleLoginReply(session, reply.Data());
    } else if (code == "BHQZ") {
      HandleNumbersReply(session, reply);
    } else if (code == "FILE") {
      HandleFileReply(session, reply);
    } else if (code == "FLOW") {
      HandleFlowReply(session, reply);
    } else if (code == "XSLF") {
      HandleSheetReply(session, reply);
    } else if (code == "COMP") {
      HandleUnitsReply(session, reply);
    }
  } catch (const frames::EFrameError& e) {
    // Refused before anything was shown: the person learns the request did not complete.
    LogFailure("reply " + Cp936ToUtf8(code) + " refused: " + Cp936ToUtf8(e.Message()));
    ShowUnreadableReply();
  } catch (const EReadError& e) {
    LogFailure("reply " + Cp936ToUtf8(code) + " refused: " + Cp936ToUtf8(e.Message()));
    ShowUnreadableReply();
  }
}

void HandleDocumentReply(TfrmMain& session, TMemoryStream& reply) {
  auto& factories = ReplyWindowFactories();
  if (!factories.CreateTemplateForm) return;
  // A reply that does not parse is dropped before it replaces the open form.
  TStream2Array().LoadFromBytes(reply.Data());
  FreeDocumentForm(session);
  ITemplateForm* form = factories.CreateTemplateForm();
  if (!form) return;
  auto ref = std::make_shared<DocRef>();
  ref->window = form;
  ref->widget = form->AsWidget();
  ref->modal = true;
  session.Dispatched()->document = ref;
  form->SetNewDoc(NewDocumentFlag() != 0);
  // The form stays referenced after it closes, until the next document
  // replaces it; a replaced form is freed here once its loop has ended.
  const auto release = ScopeExit([&] {
    ref->modal = false;
    if (ref->retired) FreeWidget(ref->widget);
  });
  form->LoadFromStream(reply);
}

void HandleAttachmentsReply(TfrmMain& session, TMemoryStream& reply) {
  const frames::AttachmentsReply attachments = frames::ParseAttachmentsReply(reply.Data());
  if (!attachments.container.empty()) TCopy2Files().LoadFromBytes(attachments.container);
  ITemplateForm* form = OpenDocumentForm(session);
  if (!form) return;
  const QPointer<QWidget> formWidget = form->AsWidget();
  form->LoadAttachments(reply);
  form = OpenDocumentForm(session);
  if (!form || !form->ManagerRequested()) return;
  auto& factories = ReplyWindowFactories();
  // A manager already open keeps running; this reply has updated the list.
  if (frmSetLoadFiles(session) || !factories.CreateAttachmentManager) {
    form->SetManagerRequested(false);
    return;
  }
  IAttachmentManager* manager = factories.CreateAttachmentManager();
  if (!manager) return;
  const std::shared_ptr<TDispatchedWindows> state = session.Dispatched();
  state->manager = manager;
  state->managerWidget = manager->AsWidget();
  const QPointer<QWidget> widget = state->managerWidget;
  const auto release = ScopeExit([&] {
    if (state->managerWidget == widget) {
      state->managerWidget = nullptr;
      state->manager = nullptr;
    }
    FreeWidget(widget);
    // The form may have been replaced while the manager was open.
    const auto& doc = state->document;
    if (formWidget && doc && doc->Alive() == form) form->SetManagerRequested(false);
  });
  reply.SetPosition(0);
  manager->LoadFromReply(reply);
  manager->ShowModal();
}

void HandleNumbersReply(TfrmMain& session, TMemoryStream& reply) {
  frames::ParseNumbersReply(reply.Data());
  if (ITemplateForm* form = OpenDocumentForm(session)) form->ShowNumberList(reply);
}

void HandleFileReply(TfrmMain& session, TMemoryStream& reply) {
  const frames::FileReply file = frames::ParseFileReply(reply.Data());
  if (!OpenDocumentForm(session) || !ReplyWindowFactories().CreateWordEditor) return;
  const std::optional<std::string> localName = LocalFileName(file.fileName);
  if (!localName) return;
  const std::string path = PrivateTempFolder() + *localName;
  WritePrivateFile(path, file.body);

  IWordEditor* editor = ReplyWindowFactories().CreateWordEditor();
  if (!editor) return;
  const QPointer<QWidget> widget = editor->AsWidget();
  const QPointer<TfrmMain> sessionRef(&session);
  const AnsiString fileName = *ServerFileName(file.fileName);  // the server's own bytes
  // Each save goes to the server while the editor is open; the editor counts it kept
  // only on the server's success reply.
  // Each upload names the body it was made from: the one received, then the one last kept.
  const auto madeFrom = std::make_shared<uint32_t>(frames::ContentToken(file.body));
  const bool uploadsItself = editor->SetUploader([sessionRef, file, fileName, madeFrom](const std::string& bytes,
                                                                                       std::function<void(bool)> done) {
    if (!sessionRef) return done(false);
    const std::string container = BuildSingleFileContainer(fileName, bytes, kAttachmentStateAdded);
    const uint32_t sent = frames::ContentToken(bytes);
    sessionRef->SendToServer(frames::BuildUploadRequest(file.recordId, file.tableName, 1, container, *madeFrom),
                             [done, madeFrom, sent](TRequestEnd end, const std::string& reply) {
                               const bool kept = end == TRequestEnd::Replied && frames::IsAcceptedReply(reply);
                               if (kept) *madeFrom = sent;
                               done(kept);
                             });
  });
  std::string upload;
  {
    const auto release = ScopeExit([&] { FreeWidget(widget); });
    editor->OpenDocument(path, false, true);
    editor->ShowModal();
    TMemoryStream* result = widget && !uploadsItself ? editor->GetResultStream() : nullptr;
    if (result && result->Size() > 0) {
      const std::string container = BuildSingleFileContainer(fileName, result->Data(), kAttachmentStateAdded);
      upload = frames::BuildUploadRequest(file.recordId, file.tableName, 1, container, *madeFrom);
    }
  }
  if (!upload.empty()) session.SendToServer(std::move(upload));
}

namespace {

// The cell picker opens full screen: without a window manager's close box the person still
// needs a way out: the button takes the current cell, Escape takes none (cancelled is set).
void AddPickerClose(QWidget* form, const std::shared_ptr<bool>& cancelled) {
  auto* done = new QPushButton(QString::fromUtf8("选定单元格"), form);
  done->setObjectName("btnPickCell");
  QObject::connect(done, &QPushButton::clicked, form, &QWidget::close);
  if (auto* bar = form->findChild<QStatusBar*>()) {
    bar->addPermanentWidget(done);
  } else {
    done->adjustSize();
    done->move(form->width() - done->width() - 8, 8);
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), form);
  QObject::connect(escape, &QShortcut::activated, form, [form, cancelled] {
    *cancelled = true;
    form->close();
  });
}

}  // namespace

void HandleSheetReply(TfrmMain& session, TMemoryStream& reply) {
  const std::string_view sheet = frames::ParseSheetReply(reply.Data());
  // Only the workflow editor asks for a sheet; with none open nobody takes the cell.
  if (!ChartEditor(session) || !ReplyWindowFactories().CreateTemplateForm) return;
  // The session may go while the picker's loop runs; what it kept stays for the end.
  const std::shared_ptr<TDispatchedWindows> state = session.Dispatched();
  ITemplateForm* picker = ReplyWindowFactories().CreateTemplateForm();
  if (!picker) return;
  const QPointer<QWidget> widget = picker->AsWidget();
  AnsiString text;
  {
    const auto release = ScopeExit([&] { FreeWidget(widget); });
    picker->SetCellPicker(true);
    TMemoryStream sheetStream{std::string(sheet)};
    picker->LoadSheet(sheetStream);
    picker->AdjustLayout();
    picker->FitFormToGrid();
    // On the cell already chosen, so closing it again changes nothing.
    if (IChartEditor* editor = EditorOf(*state)) picker->GoToCellText(editor->PickedCell());
    const auto cancelled = std::make_shared<bool>(false);
    AddPickerClose(widget, cancelled);
    picker->ShowModal();
    if (widget && !*cancelled) text = picker->CurrentCellText();
  }
  IChartEditor* editor = EditorOf(*state);
  if (text.empty() || !editor) return;
  switch (editor->PickMode()) {
    case 0: editor->SetTitleFieldText(text); break;
    case 1: editor->SetNumberFieldText(text); break;
    case 2: editor->SetMsgFieldCell(text); break;
    case 3: editor->AddEditCell(text); break;
    default: break;
  }
}
