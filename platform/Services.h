#pragma once
// Services that reach the person or the desktop: message boxes and confirmations, file
// dialogs, opening a file with its program, and the clock. Each is an interface with a
// Qt implementation installed by default; tests install a ServiceCapture, which records
// the exact texts and answers from a script.
//
// Texts (messages, captions, titles, filters) are code page 936; file paths are the
// file system's (UTF-8).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AnsiString.h"
#include "core/DateTime.h"

class QWidget;

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
// Numbered as the desktop's dialog results.
enum class MsgResult { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

class IPromptService {
 public:
  virtual ~IPromptService() = default;
  // Modal. "\r\n" and lone "\r" in text are line breaks.
  virtual MsgResult MessageBox(const AnsiString& text, const AnsiString& caption, MsgIcon icon,
                               MsgButtons buttons, QWidget* parent) = 0;
  // A question that decides whether a change is kept (question icon). Enter answers keep,
  // the button that keeps the work; Escape and the close box answer Cancel: the window
  // that asked stays open with its changes, as if closing had not been asked.
  virtual MsgResult AskKeepingWork(const AnsiString& text, const AnsiString& caption, MsgButtons buttons,
                                   MsgResult keep, QWidget* parent) = 0;
};

struct FileDialogOptions {
  AnsiString title;
  AnsiString filter;  // "Word files|*.doc;*.rtf|All|*.*"
  int filterIndex = 1;  // 1-based, as the framework counts
  std::string initialDir;
  std::string fileName;       // proposed name (save) or selection
  std::string defaultExt;     // without the dot; added when the typed name has none
  bool multiSelect = false;   // open only
  bool overwritePrompt = true;  // save only
};

class IFileDialogService {
 public:
  virtual ~IFileDialogService() = default;
  // Chosen files; empty when cancelled.
  virtual std::vector<std::string> OpenFiles(const FileDialogOptions& o, QWidget* parent) = 0;
  virtual std::optional<std::string> SaveFile(const FileDialogOptions& o, QWidget* parent) = 0;
};

class IShellService {
 public:
  virtual ~IShellService() = default;
  // Opens a file or URL with its associated program; false when nothing could open it.
  // The desktop may find only later that no program takes it: then refused is called,
  // on the UI thread.
  virtual bool Open(const std::string& pathOrUrl, std::function<void()> refused) = 0;
  bool Open(const std::string& pathOrUrl) { return Open(pathOrUrl, {}); }
};

class IClockService {
 public:
  virtual ~IClockService() = default;
  virtual TDateTime Now() = 0;
  // Milliseconds since an arbitrary start, wrapping at 2^32 like the desktop's tick count.
  virtual uint32_t TickCount() = 0;
};

// The framework's "Text|*.txt|All|*.*" as Qt's "Text (*.txt);;All (*.*)"; a description
// that already ends in its pattern list is not given a second one.
std::string ConvertFileFilter(const AnsiString& filter);
// "\r\n" and lone "\r" become "\n", for display.
AnsiString NormalizeLineBreaks(const AnsiString& text);

namespace Services {
IPromptService& Prompt();
IFileDialogService& FileDialogs();
IShellService& Shell();
IClockService& Clock();

// Replace a service (nullptr restores the Qt implementation). Returns the previous one.
std::unique_ptr<IPromptService> SetPrompt(std::unique_ptr<IPromptService> s);
std::unique_ptr<IFileDialogService> SetFileDialogs(std::unique_ptr<IFileDialogService> s);
std::unique_ptr<IShellService> SetShell(std::unique_ptr<IShellService> s);
std::unique_ptr<IClockService> SetClock(std::unique_ptr<IClockService> s);
}  // namespace Services

// Shorthands used across the system.
MsgResult ShowMessageBox(const AnsiString& text, const AnsiString& caption,
                         MsgIcon icon = MsgIcon::Information, MsgButtons buttons = MsgButtons::Ok,
                         QWidget* parent = nullptr);
// The window a box or dialog about near should stand over: the modal window the person
// works in, else near's own window when it shows, else the active window, else a
// visible main window; null: none.
QWidget* DialogAnchor(QWidget* near);
// A Yes/No box with the question icon; true for Yes.
bool ConfirmYesNo(const AnsiString& text, const AnsiString& caption, QWidget* parent = nullptr);
// Every question whose answer may throw a change away goes through here (see
// IPromptService::AskKeepingWork): Cancel means stay, whatever the buttons shown.
MsgResult AskKeepingWork(const AnsiString& text, const AnsiString& caption, MsgButtons buttons, MsgResult keep,
                         QWidget* parent = nullptr);

// Installs recording services for its lifetime and restores the previous ones after.
// Prompts are answered from a queue (default: the first button's result: Ok, Yes,
// Retry or Abort); dialogs from queues (default: cancelled); shell opens succeed; the
// clock stands still until advanced.
class ServiceCapture {
 public:
  struct Prompt {
    AnsiString text;
    AnsiString caption;
    MsgIcon icon;
    MsgButtons buttons;
    MsgResult keep = MsgResult::None;  // the default (Enter) of a question about keeping work
  };
  struct FileDialog {
    bool save;
    FileDialogOptions options;
  };

  ServiceCapture();
  ~ServiceCapture();
  ServiceCapture(const ServiceCapture&) = delete;
  ServiceCapture& operator=(const ServiceCapture&) = delete;

  std::vector<Prompt> prompts;
  std::vector<FileDialog> fileDialogs;
  std::vector<std::string> shellOpens;
  std::deque<MsgResult> promptAnswers;
  std::deque<std::vector<std::string>> openAnswers;
  std::deque<std::optional<std::string>> saveAnswers;
  bool shellResult = true;
  TDateTime now = 0;
  uint32_t tick = 0;

  void Advance(uint32_t ms);  // moves the clock and the tick count together

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
