// What the windows that hold an office document share.
#pragma once

#include <string>

#include "core/AnsiString.h"

class QWidget;
class TOfficeContainer;

// Shown when the office worker died or stopped answering; the window then closes.
AnsiString OfficeWorkerLostText();
// Shown when the office worker could not be started at all.
AnsiString OfficeWorkerNotStartedText();
// The one of the two that fits what happened to the container's worker.
AnsiString OfficeWorkerGoneText(const TOfficeContainer& ole);
// Reports that the worker went away (caption "系统提示", warning icon). Keys that were being
// typed into the document when it appeared do not answer it: for its first second the
// report takes no keys, so a person typing on sees it rather than dismissing it unseen.
void ReportOfficeWorkerGone(const AnsiString& text, QWidget* parent);
// How long the report ignores keys.
constexpr int kReportKeyGraceMs = 1000;

// True for ".doc" and ".docx" (any case): the steps that only Word documents take.
bool IsWordFile(const std::string& path);
// The file's lower-case extension with its dot ("" when none).
std::string LowerExtension(const std::string& path);
