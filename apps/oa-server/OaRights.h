#pragma once
// Who may do what with a stored document. The protocol carries no password, so a request's
// user is the one it names; every request is held to what that user may do.
#include <vector>

#include "apps/oa-server/OaDatabase.h"

namespace oa {

const TStepRecord* FindStep(const TFlowMessage& wf, int32_t id);
// The first step: the one no connection leads to, which the sample workflows list first.
int32_t StartStep(const TFlowMessage& wf);

// The handlers of the document's current step: those picked for it when the document came
// there, else the step's own (its author when the step makes the author its handler).
bool HandlesCurrentStep(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId);
// Submitting, saving, archiving, destroying, numbering and distributing: an open document,
// by a handler of its current step or by its author while it stands at the start step.
bool MayChange(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId);
// Comments: on a document not destroyed, from a handler of its current step, its author or
// someone holding it by distribution.
bool MayComment(const StoredDocument& d, const TFlowMessage& wf, const AnsiString& userId,
                const std::vector<AnsiString>& holders);
// Those holding a document: distributed to ("FEFA") more often than recalled from ("FEFB").
std::vector<AnsiString> Holders(const std::vector<AnsiString>& given, const std::vector<AnsiString>& taken);

}  // namespace oa
