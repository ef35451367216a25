#include "control/attachments/frm_SetLoadFiles.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

#include "control/attachments/AttachmentOpen.h"
#include "control/session/Un_function.h"
#include "control/session/frm_Main.h"
#include "control/wire/AttachmentReply.h"
#include "platform/QtText.h"
#include "core/ScopeGuard.h"
#include "imaging/ui/DemoForm.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "uikit/TFlatButtonUnit.h"

namespace {
constexpr int kIndexRole = Qt::UserRole + 1;  // the container index behind an item
}  // namespace

TfrmSetLoadFiles::TfrmSetLoadFiles(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("文件管理"));
  resize(420, 300);
  auto* lay = new QHBoxLayout(this);

  listView_ = new QListWidget(this);
  listView_->setObjectName("ListView");
  listView_->setToolTip(QString::fromUtf8("双击打开文件"));
  listView_->setViewMode(QListView::IconMode);
  listView_->setIconSize(QSize(32, 32));
  listView_->setContextMenuPolicy(Qt::CustomContextMenu);
  lay->addWidget(listView_, 1);

  auto* buttons = new QVBoxLayout();
  auto button = [&](const char* caption, void (TfrmSetLoadFiles::*fn)()) {
    auto* b = new TFlatButton(this);
    b->SetCaption(QString::fromUtf8(caption));
    b->setFixedSize(75, 25);
    b->OnClick = [this, fn](QObject*) { Guarded([&] { (this->*fn)(); }); };
    buttons->addWidget(b);
    return b;
  };
  // The read-only set takes the place of the editing set.
  btnAddFile_ = button("添加文件", &TfrmSetLoadFiles::btn_AddFileClick);
  btnRead_ = button("阅读", &TfrmSetLoadFiles::Btn_ReadClick);
  btnMoveFile_ = button("删除文件", &TfrmSetLoadFiles::btn_MoveFileClick);
  btnCopy2_ = button("扫描文件", &TfrmSetLoadFiles::btn_Copy2Click);
  btnSaveAs_ = button("另存", &TfrmSetLoadFiles::nSaveAsClick);
  btnClose_ = button("保存返回", &TfrmSetLoadFiles::btn_CloseClick);
  btnExit_ = button("返回", &TfrmSetLoadFiles::btn_CloseClick);
  buttons->addStretch(1);
  lay->addLayout(buttons);
  btnRead_->hide();
  btnExit_->hide();
  btnSaveAs_->hide();

  popupMenu_ = new QMenu(this);
  nSaveAs_ = popupMenu_->addAction(QString::fromUtf8("文件另存为..."));
  popupMenu_->addSeparator();
  nBigIcon_ = popupMenu_->addAction(QString::fromUtf8("大图标"));
  nBigIcon_->setCheckable(true);
  nBigIcon_->setChecked(true);
  nDetail_ = popupMenu_->addAction(QString::fromUtf8("详细列表"));
  nDetail_->setCheckable(true);
  connect(nSaveAs_, &QAction::triggered, this, [this] { Guarded([&] { nSaveAsClick(); }); });
  connect(nBigIcon_, &QAction::triggered, this, [this] { nBigIconClick(); });
  connect(nDetail_, &QAction::triggered, this, [this] { nDetailClick(); });
  connect(listView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
    nSaveAs_->setEnabled(SelectedIndex() >= 0);
    popupMenu_->popup(listView_->viewport()->mapToGlobal(p));
  });
  connect(listView_, &QListWidget::itemDoubleClicked, this, [this] { Guarded([&] { Btn_ReadClick(); }); });

  SendFrame = [](std::string frame, RequestEnded ended) {
    if (TfrmMain* session = frmMain()) {
      session->SendToServer(std::move(frame), [ended = std::move(ended)](TRequestEnd end, const std::string& reply) {
        if (!ended) return;
        const TMemoryStream told(end == TRequestEnd::Replied ? reply : std::string());
        ended(end == TRequestEnd::Replied ? &told : nullptr);
      });
      return;
    }
    if (ended) ended(nullptr);
  };
}

TfrmSetLoadFiles::~TfrmSetLoadFiles() = default;

void TfrmSetLoadFiles::LoadFromReply(TMemoryStream& reply) {
  if (reply.Size() == 0) return;
  // A reply without files replaces what an earlier one held; a refused one changes nothing.
  const frames::AttachmentsReply r = LoadAttachmentsReply(reply.Data(), files_);
  readOnly_ = r.readOnly != 0;
  recordId_ = r.recordId;
  tableName_ = r.tableName;
  comments_ = r.comments;
  btnRead_->setVisible(readOnly_);
  btnExit_->setVisible(readOnly_);
  btnSaveAs_->setVisible(readOnly_);
  btnAddFile_->setVisible(!readOnly_);
  btnCopy2_->setVisible(!readOnly_);
  btnMoveFile_->setVisible(!readOnly_);
  btnClose_->setVisible(!readOnly_);
  listView_->clear();
  for (int i = 0; i < files_.Count(); ++i)
    if (files_.GetState(i) != fsRemoved) AddListItem(i);
  // The list marks its first item current: it is the selected one too, so 阅读 reads
  // what the person sees marked.
  if (listView_->count() > 0) listView_->setCurrentRow(0);
  savedContainer_ = files_.SaveToBytes();
  uploaded_ = true;
}

void TfrmSetLoadFiles::AddListItem(int index) {
  const AnsiString name = files_.GetFileName(index);
  auto* item = new QListWidgetItem(AttachmentIcon(name), QFileInfo(ToQString(name)).fileName());
  item->setData(kIndexRole, index);
  DescribeItem(item);
  listView_->addItem(item);
}

void TfrmSetLoadFiles::DescribeItem(QListWidgetItem* item) const {
  // Screen readers and UI automation hear the size in bytes with the name.
  item->setData(Qt::AccessibleDescriptionRole,
                QString::number(files_.FileData(item->data(kIndexRole).toInt()).size()));
}

int TfrmSetLoadFiles::SelectedIndex() const {
  QListWidgetItem* item = listView_->currentItem();
  if (!item || !item->isSelected()) return -1;
  return item->data(kIndexRole).toInt();
}

void TfrmSetLoadFiles::btn_AddFileClick() {
  FileDialogOptions o;
  o.title = Cp936("选择导入文件");
  // "*" and not "*.*": on this desktop a name need not have a dot.
  o.filter = Cp936("所有文件|*|Word文件|*.doc|Excel文件|*.xls|网页|*.htm|文本文件|*.txt|"
               "视频文件|*.avi|音频文件|*.wav|图像文件|*.jpg|Gif文件|*.gif|位图|*.bmp");
  o.multiSelect = true;
  const std::vector<std::string> chosen = Services::FileDialogs().OpenFiles(o, this);
  if (chosen.empty()) return;
  for (const std::string& path : chosen) {
    const AnsiString name = ToAnsi(QFileInfo(QString::fromStdString(path)).fileName());
    files_.Grow(1);
    // Only a file that could be read is listed.
    if (!files_.AddFile(path, name, fsAdded)) continue;
    AddListItem(files_.Count() - 1);
    Changed();
  }
  UploadFiles();
}

void TfrmSetLoadFiles::btn_Copy2Click() {
  // A close still waiting for the server's answer is given up: the person works on here,
  // and the manager must not close under the scan form and drop the document it makes.
  closeWish_ = CloseWish::None;
  QPointer<TfrmSetLoadFiles> self(this);
  // Said here, whatever else is on the screen: a click that opens nothing says why.
  auto sayWhy = [this](const AnsiString& why) {
    ShowMessageBox(Cp936("扫描窗口无法打开：") + why, Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, this);
  };
  QPointer<TScanForm> scan;
  try {
    scan = new TScanForm(this);
  } catch (const Exception& e) {
    sayWhy(e.Message());
    return;
  } catch (const std::exception& e) {
    sayWhy(Utf8ToCp936(e.what()));
    return;
  }
  auto release = ScopeExit([&scan] { delete scan.data(); });
  const int ran = scan->exec();
  if (!self) return;
  if (!scan || !scan->ClosedByPerson()) {
    // The person did not close it: the program ended it, perhaps before it was ever seen.
    const bool seen = scan && scan->WasShown();
    LogFailure("the scan form ended without being closed (exec " + std::to_string(ran) +
               (seen ? ", shown)" : ", never shown)"));
    sayWhy(Utf8ToCp936(seen ? "窗口被程序关闭了，请再试一次。" : "窗口没有能显示出来，请再试一次。"));
    if (!scan) return;
  }
  // The stream belongs to the scan form: it is copied before the form goes.
  TMemoryStream* doc = scan->GetResultStream();
  if (!doc) return;
  const AnsiString name = Cp936("扫描件") + std::to_string(files_.MaxIndex() + 1) + ".doc";
  files_.Grow(1);
  files_.AddStream(name, doc->Data(), fsAdded);
  AddListItem(files_.Count() - 1);
  Changed();
}

void TfrmSetLoadFiles::btn_MoveFileClick() {
  QListWidgetItem* item = listView_->currentItem();
  if (!item || !item->isSelected()) return;
  const AnsiString caption = ToAnsi(item->text());
  QPointer<TfrmSetLoadFiles> self(this);
  MsgResult answer = ShowMessageBox(Cp936("是否移除文件 ") + caption + Cp936("？"), Cp936("系统提示"),
                                    MsgIcon::Information, MsgButtons::YesNo, this);
  if (!self || answer != MsgResult::Yes) return;
  // By its place: another file may have the same name.
  files_.RemoveFileAt(item->data(kIndexRole).toInt());
  delete item;
  Changed();
  UploadFiles();
}

void TfrmSetLoadFiles::Btn_ReadClick() {
  const int i = SelectedIndex();
  if (i < 0) {
    ShowMessageBox(Cp936("请先在左边选择您要阅读的文件！"), Cp936("系统提示"), MsgIcon::Information,
                   MsgButtons::Ok, this);
    return;
  }
  const AnsiString name = files_.GetFileName(i);
  QPointer<TfrmSetLoadFiles> self(this);
  std::optional<std::string> edited =
      OpenAttachmentData(this, name, std::string(files_.FileData(i)), readOnly_);
  if (!self || !edited) return;
  files_.ReplaceFileAt(i, *edited);
  // The list may have been filled again while the file was open: its item is found by place.
  for (int row = 0; row < listView_->count(); ++row)
    if (listView_->item(row)->data(kIndexRole).toInt() == i) DescribeItem(listView_->item(row));
  Changed();
  UploadFiles();
}

void TfrmSetLoadFiles::nSaveAsClick() { SaveAttachmentAs(this, files_, SelectedIndex()); }

void TfrmSetLoadFiles::nBigIconClick() {
  listView_->setViewMode(QListView::IconMode);
  listView_->setIconSize(QSize(32, 32));
  nBigIcon_->setChecked(true);
  nDetail_->setChecked(false);
}

void TfrmSetLoadFiles::nDetailClick() {
  listView_->setViewMode(QListView::ListMode);
  listView_->setIconSize(QSize(16, 16));
  nBigIcon_->setChecked(false);
  nDetail_->setChecked(true);
}

void TfrmSetLoadFiles::Changed() {
  ++generation_;
  uploaded_ = false;
}

namespace {
// The server confirms a save with a message; a refusal begins with "|".
bool IsSavedReply(const TMemoryStream* reply) { return reply && frames::IsAcceptedReply(reply->Data()); }
}  // namespace

void TfrmSetLoadFiles::UploadFiles() {
  if (readOnly_ || uploaded_ || !files_.HasChanges()) return;
  // What is on its way already goes out once.
  if (uploadsInFlight_ > 0 && sentGeneration_ == generation_) return;
  const int generation = generation_;
  sentGeneration_ = generation;
  ++uploadsInFlight_;
  const QPointer<TfrmSetLoadFiles> self(this);
  std::string frame = frames::BuildUploadRequest(recordId_, tableName_, files_.Count(), files_.SaveToBytes());
  if (!SendFrame) {
    UploadEnded(generation, nullptr);
    return;
  }
  SendFrame(std::move(frame), [self, generation](const TMemoryStream* reply) {
    if (self) self->UploadEnded(generation, reply);
  });
}

void TfrmSetLoadFiles::UploadEnded(int generation, const TMemoryStream* reply) {
  --uploadsInFlight_;
  const bool saved = IsSavedReply(reply);
  // A change made while this upload travelled is not in it and stays unsaved.
  if (saved && generation == generation_) {
    files_.SetAllStates(fsUploaded);
    uploaded_ = true;
    savedContainer_ = files_.SaveToBytes();
  }
  if (closeWish_ == CloseWish::None || uploadsInFlight_ > 0) return;
  if (uploaded_) {
    FinishClose(true);
    return;
  }
  if (saved) {
    UploadFiles();  // what changed meanwhile goes too before the window closes
    return;
  }
  const CloseWish wish = std::exchange(closeWish_, CloseWish::None);
  // 保存返回 stays open: the person has been told why, and the list is still unsaved.
  if (wish != CloseWish::AskToDrop) return;
  const QPointer<TfrmSetLoadFiles> self(this);
  // Enter keeps the changes; Escape and the box's close box leave the window as it is.
  const MsgResult answer = AskKeepingWork(Cp936("附件的修改没有保存到服务器，是否放弃这些修改？"),
                                          Cp936("系统提示"), MsgButtons::YesNo, MsgResult::No, this);
  if (self && answer == MsgResult::Yes) FinishClose(false);
}

void TfrmSetLoadFiles::btn_CloseClick() { RequestClose(CloseWish::Save); }

void TfrmSetLoadFiles::reject() { RequestClose(CloseWish::AskToDrop); }

void TfrmSetLoadFiles::RequestClose(CloseWish wish) {
  if (closing_) return;
  if (readOnly_ || uploaded_ || !files_.HasChanges()) {
    FinishClose(true);
    return;
  }
  closeWish_ = wish;
  if (uploadsInFlight_ > 0 && sentGeneration_ == generation_) return;  // its reply decides
  UploadFiles();
}

void TfrmSetLoadFiles::FinishClose(bool keepChanges) {
  if (closing_) return;
  closing_ = true;
  closeWish_ = CloseWish::None;
  const QPointer<TfrmSetLoadFiles> self(this);
  if (ITemplateForm* form = frmMain() ? frmTemplate(*frmMain()) : nullptr) {
    const std::string container = keepChanges ? files_.SaveToBytes() : savedContainer_;
    TCopy2Files shown;
    Guarded([&] { shown.LoadFromBytes(container); });
    Guarded([&] { form->RefreshFromContainer(container, std::max<int>(shown.Count(), shown.MaxIndex())); });
  }
  if (self) QDialog::done(QDialog::Rejected);
}
