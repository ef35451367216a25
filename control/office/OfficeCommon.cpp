#include "control/office/OfficeCommon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <memory>

#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "platform/Services.h"

#include "platform/office/OfficeContainer.h"

AnsiString OfficeWorkerLostText() {
  return Utf8ToCp936("文档服务已停止，窗口将关闭。此前保存的内容没有丢失。");
}

AnsiString OfficeWorkerNotStartedText() { return Utf8ToCp936("文档服务无法启动，文档不能打开。"); }

AnsiString OfficeWorkerGoneText(const TOfficeContainer& ole) {
  return ole.WorkerNotStarted() ? OfficeWorkerNotStartedText() : OfficeWorkerLostText();
}

namespace {

// Swallows keys for a moment from when it is made.
class KeyGrace : public QObject {
 public:
  explicit KeyGrace(int ms) : ms_(ms) {
    since_.start();
    qApp->installEventFilter(this);
  }
  ~KeyGrace() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    const QEvent::Type t = e->type();
    const bool key = t == QEvent::KeyPress || t == QEvent::KeyRelease || t == QEvent::ShortcutOverride;
    return key && since_.elapsed() < ms_;
  }

 private:
  int ms_;
  QElapsedTimer since_;
};

}  // namespace

void ReportOfficeWorkerGone(const AnsiString& text, QWidget* parent) {
  std::unique_ptr<KeyGrace> grace;
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) grace = std::make_unique<KeyGrace>(kReportKeyGraceMs);
  // Over the window the person works in, even when the one that lost its document
  // never showed.
  ShowMessageBox(text, Utf8ToCp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, DialogAnchor(parent));
}

std::string LowerExtension(const std::string& path) { return LowerCase(ExtractFileExt(path)); }

bool IsWordFile(const std::string& path) {
  std::string ext = LowerExtension(path);
  return ext == ".doc" || ext == ".docx";
}
