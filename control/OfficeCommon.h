// What the windows that hold an office document share.
#pragma once

#include <string>

#include "core/AnsiString.h"

// Shown when the office worker died or stopped answering; the window then closes.
AnsiString OfficeWorkerLostText();
// True for ".doc" and ".docx" (any case): the steps that only Word documents take.
bool IsWordFile(const std::string& path);
// The file's lower-case extension with its dot ("" when none).
std::string LowerExtension(const std::string& path);
