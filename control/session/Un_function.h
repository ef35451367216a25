// The reply dispatcher: every complete reply is handed, by its code, to the
// window or handler that wants it. A reply of a known code that fails its size
// checks is dropped and the person told, in a box, that the operation did not
// complete; a reply of an unknown code is dropped without a word.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "control/session/ReplyWindows.h"
#include "core/AnsiString.h"
#include "core/Streams.h"

class TfrmMain;

// The windows one session's dispatcher created and still refers to. Each session form
// keeps its own, so two controls in one process never reach each other's windows.
struct TDispatchedWindows {
  // The document form. `modal` is true while the call that shows it modally is on the
  // stack: such a form is only closed when replaced, and freed by that call once its
  // loop has ended.
  struct Document {
    ITemplateForm* window = nullptr;
    QPointer<QWidget> widget;
    bool modal = false;
    bool retired = false;

    ITemplateForm* Alive() const { return widget && !retired ? window : nullptr; }
  };

  std::shared_ptr<Document> document;
  QPointer<QWidget> editorWidget;
  IChartEditor* editor = nullptr;
  QPointer<QWidget> managerWidget;
  IAttachmentManager* manager = nullptr;
};

// The s[4] code at the stream's position; empty when it is not one.
AnsiString ReadFrameCode(TStream& stream);

// Runs the handler for the reply's code, then empties the reply.
void DispatchReply(TfrmMain& session, TMemoryStream& reply);

// Into the open message popup (below its text), or a new one.
void ShowPopupMessage(const AnsiString& text);

// The session's document form, while one exists and has not been replaced.
ITemplateForm* frmTemplate(const TfrmMain& session);
// The session's workflow editor while it is open.
IChartEditor* ChartEditor(const TfrmMain& session);
// The session's attachment manager while it is open.
IAttachmentManager* frmSetLoadFiles(const TfrmMain& session);

// Frees the session's document form (at control teardown); ends its modal loop first.
void FreeDocumentForm(TfrmMain& session);

// Handlers, by reply code.
void HandleDocumentReply(TfrmMain& session, TMemoryStream& reply);     // EXCE
void HandleAttachmentsReply(TfrmMain& session, TMemoryStream& reply);  // STRM
void HandleNumbersReply(TfrmMain& session, TMemoryStream& reply);      // BHQZ
void HandleFileReply(TfrmMain& session, TMemoryStream& reply);         // FILE
void HandleSheetReply(TfrmMain& session, TMemoryStream& reply);        // XSLF
