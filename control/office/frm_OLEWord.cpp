#include "control/office/frm_OLEWord.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QVBoxLayout>

#include "control/office/OfficeCommon.h"
#include "core/PrivateTemp.h"
#include "core/ScopeGuard.h"
#include "control/office/WordPlaceholders.h"
#include "control/wire/Un_type.h"
#include "platform/QtText.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"

namespace {
const char* kFilter = "Word 文件|*.doc|Excel 文件|*.xls|所有文件|*.*";
}  // namespace

TfrmOLEWord::TfrmOLEWord(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("Calvessa 办公自动化文档管理系统"));
  setWindowFlag(Qt::Window);
  resize(796, 550);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);

  auto* menuBar = new QMenuBar(this);
  QMenu* nFile = menuBar->addMenu(QString::fromUtf8("文件"));
  auto add = [&](const char* text, void (TfrmOLEWord::*fn)()) {
    QAction* a = nFile->addAction(QString::fromUtf8(text));
    connect(a, &QAction::triggered, this, [this, fn] { Guarded([&] { (this->*fn)(); }); });
    return a;
  };
  nAcpXD_ = add("接受所有修订", &TfrmOLEWord::nAcpXDClick);
  nXD_ = add("文档处于修订状态", &TfrmOLEWord::nXDClick);
  nXD_->setCheckable(true);
  nFile->addSeparator();
  nNotPH_ = add("不打印文件红头", &TfrmOLEWord::nNotPHClick);
  nNotPH_->setCheckable(true);
  add("打印文件...", &TfrmOLEWord::nPrintClick);
  nFile->addSeparator();
  add("保存文件", &TfrmOLEWord::nSaveClick);
  nOpen_ = add("打开本地文件", &TfrmOLEWord::nOpenClick);
  nOpen_->setVisible(false);
  add("保存到本机上", &TfrmOLEWord::nSaveToPCClick);
  nFile->addSeparator();
  QAction* exit = nFile->addAction(QString::fromUtf8("退出文档编辑"));
  connect(exit, &QAction::triggered, this, [this] { close(); });
  lay->setMenuBar(menuBar);

  ole_ = new TOfficeContainer(this);
  ole_->OnWorkerLost = [this] { WorkerLost(); };
  lay->addWidget(ole_, 1);
  statusBar_ = new QStatusBar(this);
  statusBar_->showMessage(QString::fromUtf8("Tarvo 办公自动化"));
  lay->addWidget(statusBar_);
}

TfrmOLEWord::~TfrmOLEWord() = default;

int TfrmOLEWord::ShowModal() {
  setWindowState(windowState() | Qt::WindowMaximized);
  return exec();
}

TMemoryStream* TfrmOLEWord::GetResultStream() { return result_.Size() > 0 ? &result_ : nullptr; }

bool TfrmOLEWord::SetUploader(Uploader upload) {
  upload_ = std::move(upload);
  return static_cast<bool>(upload_);
}

bool TfrmOLEWord::Changed() const { return ole_->IsOpen() && ole_->ChangeCount() != keptChanges_; }

void TfrmOLEWord::OpenDocument(const std::string& path, bool revisions, bool fill) {
  isWord_ = IsWordFile(path);
  revisions_ = revisions;
  fileName_ = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
  ole_->SetAuthor(Cp936ToUtf8(SessionValues().UserName));
  try {
    ole_->Open(path);
  } catch (const EOfficeWorkerLost&) {
    // Reported once, by the window, from the event loop (WorkerLost): whoever opened the
    // editor shows it as usual and sees it close.
    return;
  }
  // Only Word documents have placeholders; a fill that fails leaves the document as it is.
  if (fill && isWord_ && PlaceholderSource())
    Guarded([&] { FillWordPlaceholders(*ole_, PlaceholderSource()()); });
  // The fields filled in are what the person opened, not a change of theirs.
  keptChanges_ = ole_->ChangeCount();
  if (!isWord_) return;
  nAcpXD_->setVisible(revisions);
  nXD_->setVisible(revisions);
  nXD_->setChecked(revisions);
  Guarded([&] {
    if (ole_->ProtectionType() != -1) return;
    ole_->SetShowRevisions(revisions);
    ole_->SetTrackRevisions(revisions);
    nNotPH_->setChecked(!ole_->PrintDrawingObjects());
  });
}

void TfrmOLEWord::nAcpXDClick() {
  if (ConfirmYesNo(Cp936("是否接受所有修订？"), Cp936("系统提示"), this)) ole_->AcceptAllRevisions();
}

void TfrmOLEWord::nXDClick() {
  // The action checked itself already.
  ole_->SetTrackRevisions(nXD_->isChecked());
  ole_->SetShowRevisions(nXD_->isChecked());
}

void TfrmOLEWord::nNotPHClick() {
  if (isWord_) ole_->SetPrintDrawingObjects(!nNotPH_->isChecked());
}

void TfrmOLEWord::nPrintClick() {
  if (!ole_->IsOpen()) return;
  FileDialogOptions o;
  o.title = Cp936("打印文件");
  o.filter = Cp936("PDF 文件|*.pdf");
  o.defaultExt = "pdf";
  if (std::optional<std::string> pdf = Services::FileDialogs().SaveFile(o, this))
    ole_->PrintToPdf(*pdf);
}

void TfrmOLEWord::SaveToResult() {
  const std::string path = PrivateTempPath("Temp" + LowerExtension(fileName_));
  ole_->SaveAs(path);
  QFile::setPermissions(QString::fromStdString(path), QFile::ReadOwner | QFile::WriteOwner);
  TMemoryStream saved;
  saved.LoadFromFile(path);
  QFile::remove(QString::fromStdString(path));
  result_.Clear();
  result_.LoadFromStream(saved);
}

void TfrmOLEWord::nSaveClick() { Save(false); }

void TfrmOLEWord::Save(bool closeAfter) {
  // One upload at a time; the close waits for the one under way.
  if (uploading_) {
    closeAfterUpload_ = closeAfterUpload_ || closeAfter;
    return;
  }
  const int changes = ole_->ChangeCount();
  // Whatever an earlier save said no longer holds for this one.
  statusBar_->showMessage(QString::fromUtf8("正在保存..."));
  {
    const auto notSaved = ScopeFail([&] { statusBar_->showMessage(QString::fromUtf8("文档没有保存。")); });
    SaveToResult();
  }
  if (!upload_) {
    keptChanges_ = changes;  // the caller takes the result
    statusBar_->clearMessage();
    return;
  }
  uploading_ = true;
  closeAfterUpload_ = closeAfter;
  statusBar_->showMessage(QString::fromUtf8("正在保存到服务器..."));
  QPointer<TfrmOLEWord> self(this);
  upload_(result_.Data(), [self, changes](bool kept) {
    if (self) self->UploadEnded(changes, kept);
  });
}

void TfrmOLEWord::UploadEnded(int changes, bool kept) {
  uploading_ = false;
  const bool closeNow = kept && closeAfterUpload_;
  closeAfterUpload_ = false;
  if (!kept) {
    // The server does not have it: the change stays, and saving sends it again.
    statusBar_->showMessage(QString::fromUtf8("文档没有保存到服务器，请再次保存。"));
    return;
  }
  keptChanges_ = changes;
  statusBar_->showMessage(QString::fromUtf8("文档已保存到服务器。"));
  if (closeNow) close();
}

void TfrmOLEWord::nOpenClick() {
  FileDialogOptions o;
  o.title = Cp936("打开文件");
  o.filter = Cp936(kFilter);
  std::vector<std::string> files = Services::FileDialogs().OpenFiles(o, this);
  if (!files.empty()) OpenDocument(files.front(), false, false);
}

void TfrmOLEWord::nSaveToPCClick() {
  if (!ole_->IsOpen()) return;
  FileDialogOptions o;
  o.title = Cp936("保存文件");
  o.filter = Cp936(kFilter);
  o.filterIndex = isWord_ ? 1 : 2;
  std::string ext = LowerExtension(fileName_);
  o.defaultExt = ext.empty() ? "doc" : ext.substr(1);
  if (std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this))
    ole_->SaveAs(*path);
}

void TfrmOLEWord::closeEvent(QCloseEvent* e) {
  QPointer<TfrmOLEWord> self(this);
  // The close box while the worker opens or saves: the window waits for it, as it did
  // when it could not be clicked at all.
  if (!lost_ && ole_->WorkerBusy()) return e->ignore();
  // The editor closes once the server has the save under way.
  if (uploading_) {
    closeAfterUpload_ = true;
    return e->ignore();
  }
  // A close while the question is up waits for its answer.
  if (closing_) return e->ignore();
  // With the worker gone there is nothing left to save; asked only about what is not kept.
  if (!lost_ && Changed()) {
    closing_ = true;
    const MsgResult answer =
        AskKeepingWork(Cp936("是否保存文档?"), Cp936("保存确认"), MsgButtons::YesNo, MsgResult::Yes, this);
    if (!self) return;
    closing_ = false;
    // Escape or the question's close box: as if closing had not been asked.
    if (answer == MsgResult::Cancel) return e->ignore();
    if (answer == MsgResult::Yes) {
      bool saved = false;
      Guarded([&] {
        Save(true);
        saved = true;
      });
      if (!self) return;
      // Closed by the upload's success, or open again with the change kept.
      if (!saved || upload_) return e->ignore();
    }
  }
  Guarded([&] { ole_->Close(); });
  e->accept();
}

void TfrmOLEWord::WorkerLost() {
  if (lost_) return;
  lost_ = true;
  QPointer<TfrmOLEWord> self(this);
  ReportOfficeWorkerGone(OfficeWorkerGoneText(*ole_), this);
  if (self) close();
}
