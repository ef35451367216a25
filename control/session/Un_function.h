// The reply dispatcher: every complete reply is handed, by its code, to the
// window or handler that wants it. A reply of a known code that fails its size
// checks is dropped and the person told, in a box, that the operation did not
// complete; a reply of an unknown code is dropped without a word.
#pragma once

#include "control/session/ReplyWindows.h"
#include "core/AnsiString.h"
#include "core/Streams.h"

class TfrmMain;

// The s[4] code at the stream's position; empty when it is not one.
AnsiString ReadFrameCode(TStream& stream);

// Runs the handler for the reply's code, then empties the reply.
void DispatchReply(TfrmMain& session, TMemoryStream& reply);

// Into the open message popup (below its text), or a new one.
void ShowPopupMessage(const AnsiString& text);

// The document form, while one exists and has not been replaced.
ITemplateForm* frmTemplate();
// The workflow editor while it is open.
IChartEditor* ChartEditor();
// The attachment manager while it is open.
IAttachmentManager* frmSetLoadFiles();

// Frees the document form (at control teardown); ends its modal loop first.
void FreeDocumentForm();

// Handlers, by reply code.
void HandleDocumentReply(TMemoryStream& reply);     // EXCE
void HandleAttachmentsReply(TMemoryStream& reply);  // STRM
void HandleNumbersReply(TMemoryStream& reply);      // BHQZ
void HandleFileReply(TfrmMain& session, TMemoryStream& reply);  // FILE
void HandleSheetReply(TMemoryStream& reply);        // XSLF
