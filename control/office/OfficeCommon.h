// What the windows that hold an office document share.
#pragma once

#include <string>

#include "core/AnsiString.h"

class TOfficeContainer;

// Shown when the office worker died or stopped answering; the window then closes.
AnsiString OfficeWorkerLostText();
// Shown when the office worker could not be started at all.
AnsiString OfficeWorkerNotStartedText();
// The one of the two that fits what happened to the container's worker.
AnsiString OfficeWorkerGoneText(const TOfficeContainer& ole);
// True for ".doc" and ".docx" (any case): the steps that only Word documents take.
bool IsWordFile(const std::string& path);
// The file's lower-case extension with its dot ("" when none).
std::string LowerExtension(const std::string& path);
