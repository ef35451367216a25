#include "control/attachments/AttachmentOpen.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>

#include "control/office/OfficeCommon.h"
#include "core/PrivateTemp.h"
#include "control/office/frmPrivew.h"
#include "control/office/frm_OLEWord.h"
#include "control/office/frmshtml.h"
#include "control/wire/ReplyText.h"
#include "control/wire/Un_CopyFiles.h"
#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/ScopeGuard.h"
#include "platform/QtText.h"
#include "platform/Services.h"
#include "platform/Shell.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/TFlatButtonUnit.h"

namespace {


bool OneOf(const std::string& ext, std::initializer_list<const char*> list) {
  for (const char* e : list)
    if (ext == e) return true;
  return false;
}

// A file name component holds 255 bytes: a long name loses the end of its stem, cut
// between characters, and keeps its extension, so the copy still opens by its type.
std::string FitName(const std::string& name, size_t room) {
  if (name.size() <= room) return name;
  const size_t dot = name.rfind('.');
  std::string ext = dot != std::string::npos && dot > 0 && name.size() - dot <= 16 ? name.substr(dot) : "";
  if (ext.size() >= room) ext.clear();
  size_t cut = std::min(name.size() - ext.size(), room - ext.size());
  while (cut > 0 && (uint8_t(name[cut]) & 0xC0) == 0x80) --cut;  // never half a character
  return name.substr(0, cut) + ext;
}

void SayCannotOpen(const AnsiString& name, QWidget* parent) {
  ShowMessageBox(Cp936("附件无法写入临时文件，不能打开：") + name, Cp936("系统提示"), MsgIcon::Warning,
                 MsgButtons::Ok, parent);
}

}  // namespace

std::string TimeStampedCopyPath(const AnsiString& name) {
  const std::optional<std::string> local = LocalFileName(name);
  if (!local) return "";
  const AnsiString stamp = FormatDateTime("yyyymmddhhnnsszzz", Services::Clock().Now());
  return PrivateTempFolder() + stamp + FitName(*local, kMaxFileNameBytes - stamp.size());
}

QIcon AttachmentIcon(const AnsiString& name) {
  static QMimeDatabase db;
  QMimeType t = db.mimeTypeForFile(ToQString(name), QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(t.iconName(), QIcon::fromTheme(t.genericIconName()));
  if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
  return icon;
}

// Every viewer below is owned by the owner, which may go while the viewer runs its modal
// loop (a reply that closes the document form) and take the viewer with it; otherwise the
// viewer is freed here.
std::optional<std::string> OpenAttachmentData(QWidget* owner, const AnsiString& name,
                                              std::string_view data, bool readOnly) {
  const QPointer<QWidget> alive(owner);
  const std::string ext = LowerExtension(Cp936ToUtf8(name));
  if (ext == ".htm") {
    const QPointer<Tfrm_Shtml> viewer = new Tfrm_Shtml(owner);
    const auto release = ScopeExit([viewer] { delete viewer.data(); });
    viewer->Btn_SetFlag()->hide();
    TMemoryStream stream{std::string(data)};
    viewer->ShowContent("", &stream);
    if (viewer) viewer->exec();
    return std::nullopt;
  }
  std::string path;
  try {
    path = TimeStampedCopyPath(name);
    if (path.empty()) return std::nullopt;
    WritePrivateFile(path, data);
  } catch (const Exception&) {
    SayCannotOpen(name, owner);
    return std::nullopt;
  }

  if (OneOf(ext, {".doc", ".docx", ".xls", ".dot", ".xlsx"})) {
    try {
      if (readOnly) {
        const QPointer<Tfrm_Priview> preview = new Tfrm_Priview(owner);
        const auto release = ScopeExit([preview] { delete preview.data(); });
        preview->Btn_SetFlag()->hide();
        preview->OpenDocument(path, Cp936ToUtf8(name));
        if (!preview) return std::nullopt;
        preview->setWindowState(preview->windowState() | Qt::WindowMaximized);
        preview->exec();
        return std::nullopt;
      }
      const QPointer<TfrmOLEWord> editor = new TfrmOLEWord(owner);
      const auto release = ScopeExit([editor] { delete editor.data(); });
      editor->OpenDocument(path, true, true);
      if (!editor) return std::nullopt;
      editor->ShowModal();
      // With the owner gone there is no one left to take the edit.
      if (!editor || !alive) return std::nullopt;
      if (TMemoryStream* result = editor->GetResultStream()) return result->Data();
    } catch (const EOfficeWorkerNotStarted&) {
      // The window that would have said so is gone with its queued report.
      ShowMessageBox(OfficeWorkerNotStartedText(), Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, alive.data());
    } catch (const EOfficeWorkerLost&) {
      ShowMessageBox(OfficeWorkerLostText(), Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, alive.data());
    } catch (const EOfficeError&) {
      ShowMessageBox(Cp936("文件无法打开：") + name, Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, alive.data());
    }
    return std::nullopt;
  }
  if (OneOf(ext, {".mht", ".jpg", ".gif", ".txt", ".pdf"})) {
    const QPointer<Tfrm_Shtml> viewer = new Tfrm_Shtml(owner);
    const auto release = ScopeExit([viewer] { delete viewer.data(); });
    viewer->Btn_SetFlag()->hide();
    viewer->ShowContent(path, nullptr);
    viewer->exec();
    return std::nullopt;
  }
  // The manager does not wait for the program.
  OpenWithDesktop(path, name, owner);
  return std::nullopt;
}

void SaveAttachmentAs(QWidget* owner, const TCopy2Files& files, int i) {
  if (i < 0) {
    ShowMessageBox(Cp936("请先在左边选择您要保存的文件！"), Cp936("系统提示"), MsgIcon::Information,
                   MsgButtons::Ok, owner);
    return;
  }
  const AnsiString name = files.GetFileName(i);
  std::optional<AnsiString> safe = ServerFileName(name);
  FileDialogOptions o;
  o.title = Cp936("保存文件");
  o.fileName = safe ? Cp936ToUtf8(*safe) : std::string();
  std::string ext = LowerExtension(o.fileName);
  o.defaultExt = ext.empty() ? "" : ext.substr(1);
  o.overwritePrompt = true;
  const std::optional<std::string> path = Services::FileDialogs().SaveFile(o, owner);
  if (!path) return;
  try {
    files.SaveFileAs(i, *path);
  } catch (const Exception&) {
    ShowMessageBox(Cp936("文件保存失败：") + Utf8ToCp936(*path), Cp936("系统提示"), MsgIcon::Warning,
                   MsgButtons::Ok, owner);
  }
}
