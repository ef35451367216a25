#pragma once
// Handing a file or a link to the desktop's program for its type, and telling the person
// when no program takes it.
#include <functional>
#include <string>

#include "core/AnsiString.h"
#include "platform/Services.h"

class QWidget;

// The desktop's launcher (xdg-open) for local files, watched until it ends, so that a file
// no program takes is known; links go through Qt's own launcher.
class TDesktopShell : public IShellService {
 public:
  bool Open(const std::string& pathOrUrl, std::function<void()> refused) override;
};

// "没有可以打开此文件的程序：" and the name.
AnsiString NoProgramText(const AnsiString& name);

// Opens the file through Services::Shell(); when no program takes it, says so with
// NoProgramText(name) over parent (or none, when parent is gone by then).
void OpenWithDesktop(const std::string& path, const AnsiString& name, QWidget* parent);
