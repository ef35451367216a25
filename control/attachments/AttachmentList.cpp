#include "control/attachments/AttachmentList.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

#include "control/attachments/AttachmentOpen.h"
#include "control/wire/AttachmentReply.h"
#include "control/wire/Frames.h"
#include "platform/QtText.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {
constexpr int kIndexRole = Qt::UserRole + 1;
}  // namespace

TAttachmentList::TAttachmentList(QWidget* parent) : QWidget(parent) {
  setObjectName("pnlFile");
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  title_ = new QLabel(QString::fromUtf8("附件列表"), this);
  lay->addWidget(title_);
  listView_ = new QListWidget(this);
  listView_->setObjectName("ListView2");
  listView_->setToolTip(QString::fromUtf8("双击打开文件"));
  listView_->setContextMenuPolicy(Qt::CustomContextMenu);
  lay->addWidget(listView_, 1);
  pmFile_ = new QMenu(this);
  mniSaveAs_ = pmFile_->addAction(QString::fromUtf8("另存为..."));
  connect(mniSaveAs_, &QAction::triggered, this, [this] { Guarded([&] { mniSaveAsClick(); }); });
  connect(listView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
    mniSaveAs_->setEnabled(SelectedIndex() >= 0);
    pmFile_->popup(listView_->viewport()->mapToGlobal(p));
  });
  connect(listView_, &QListWidget::itemDoubleClicked, this, [this] { Guarded([&] { OpenSelected(); }); });
  hide();
}

void TAttachmentList::LoadAttachments(TMemoryStream& reply) {
  if (reply.Size() == 0) {
    hide();
    return;
  }
  // A reply without files replaces what an earlier one held; a refused one changes nothing.
  LoadAttachmentsReply(reply.Data(), files_);
  header_ = reply.Data().substr(0, frames::kAttachmentsHeaderSize);
  FillList();
}

// The slot count is the manager's highest index, which the server's entries set: the
// container's own files size it instead.
void TAttachmentList::RefreshFromContainer(const std::string& container, int /*slotCount*/) {
  LoadAttachmentContainer(container, files_);
  FillList();
}

void TAttachmentList::FillList() {
  listView_->clear();
  if (attachBelow_) {
    listView_->setViewMode(QListView::ListMode);
    listView_->setIconSize(QSize(16, 16));
    listView_->setGridSize(QSize(0, 40));
  } else {
    listView_->setViewMode(QListView::IconMode);
    listView_->setIconSize(QSize(32, 32));
    listView_->setGridSize(QSize());
  }
  for (int i = 0; i < files_.Count(); ++i) {
    if (files_.GetState(i) == fsRemoved) continue;
    const AnsiString name = files_.GetFileName(i);
    auto* item = new QListWidgetItem(AttachmentIcon(name), QFileInfo(ToQString(name)).fileName());
    item->setData(kIndexRole, i);
    // Screen readers and UI automation hear the size in bytes with the name.
    item->setData(Qt::AccessibleDescriptionRole, QString::number(files_.FileData(i).size()));
    if (attachBelow_) item->setSizeHint(QSize(item->sizeHint().width(), 40));
    listView_->addItem(item);
  }
  if (listView_->count() == 0) {
    hide();
    return;
  }
  setFixedHeight(attachBelow_ ? listView_->count() * 40 + 32 : gridPanelHeight_);
  show();
}

int TAttachmentList::SelectedIndex() const {
  QListWidgetItem* item = listView_->currentItem();
  if (!item || !item->isSelected()) return -1;
  return item->data(kIndexRole).toInt();
}

void TAttachmentList::OpenSelected() {
  const int i = SelectedIndex();
  if (i < 0) {
    ShowMessageBox(Utf8ToCp936("请先选择您要阅读的文件！"), Utf8ToCp936("系统提示"),
                   MsgIcon::Information, MsgButtons::Ok, this);
    return;
  }
  // From the document's own list attachments are only read.
  OpenAttachmentData(this, files_.GetFileName(i), std::string(files_.FileData(i)), true);
}

void TAttachmentList::mniSaveAsClick() { SaveAttachmentAs(this, files_, SelectedIndex()); }
