#include "control/office/frmPrivew.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "control/office/OfficeCommon.h"
#include "control/form/frame_w.h"
#include "core/QtText.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/TFlatButtonUnit.h"
#include "uikit/TFlatSpeedButtonUnit.h"
#include "uikit/wiaTile.h"

namespace {

TFlatSpeedButton* ZoomButton(QWidget* parent, int x, const char* hint, const char* caption) {
  auto* b = new TFlatSpeedButton(parent);
  b->setGeometry(x, 5, 25, 25);
  b->setToolTip(QString::fromUtf8(hint));
  b->SetCaption(QString::fromUtf8(caption));
  return b;
}
}  // namespace

Tfrm_Priview::Tfrm_Priview(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("显示文件"));
  setWindowFlag(Qt::Window);
  resize(788, 542);

  pnlBtn_ = new QWidget(this);
  pnlBtn_->setGeometry(0, 0, width() - 12, 35);
  auto* tile = new TwiaTile(pnlBtn_);
  tile->SetAlignClient(true);
  btnSetFlag_ = new TFlatButton(pnlBtn_);
  btnSetFlag_->SetCaption(QString::fromUtf8("签批意见"));
  btnSetFlag_->resize(75, 25);
  btnExit_ = new TFlatButton(pnlBtn_);
  btnExit_->SetCaption(QString::fromUtf8("关闭返回"));
  btnExit_->resize(75, 25);
  auto* save = ZoomButton(pnlBtn_, 8, "文件另存为", "S");
  auto* print = ZoomButton(pnlBtn_, 36, "打印文件", "P");
  auto* best = ZoomButton(pnlBtn_, 72, "原始大小", "1");
  auto* small = ZoomButton(pnlBtn_, 100, "缩小", "-");
  auto* big = ZoomButton(pnlBtn_, 128, "放大", "+");
  auto* fitW = ZoomButton(pnlBtn_, 156, "最合适宽度", "W");
  auto* fitP = ZoomButton(pnlBtn_, 184, "最合适高度", "H");
  edtZoom_ = new QLineEdit("100%", pnlBtn_);
  edtZoom_->setObjectName("edtZoom");
  edtZoom_->setReadOnly(true);
  edtZoom_->setGeometry(214, 7, 50, 21);

  frameW_ = new TFrameW(this);
  frameW_->resize(width(), 150);
  frameW_->hide();
  ole_ = new TOfficeContainer(this);
  ole_->SetReadOnly(true);
  ole_->SetWheelLines(1);
  ole_->OnWorkerLost = [this] { WorkerLost(); };
  ole_->OnZoomChanged = [this] { ShowZoom(ole_->Zoom()); };

  auto bind = [this](TFlatButtonBase* b, void (Tfrm_Priview::*fn)()) {
    b->OnClick = [this, fn](QObject*) { Guarded([&] { (this->*fn)(); }); };
  };
  bind(best, &Tfrm_Priview::btn_BestSzieClick);
  bind(small, &Tfrm_Priview::btnSmallClick);
  bind(big, &Tfrm_Priview::btnBigClick);
  bind(fitW, &Tfrm_Priview::btn_PageFitBestFitClick);
  bind(fitP, &Tfrm_Priview::btn_PageFitFullPageClick);
  bind(print, &Tfrm_Priview::Btn_PrintClick);
  bind(save, &Tfrm_Priview::Btn_SaveClick);
  bind(btnSetFlag_, &Tfrm_Priview::Btn_SetFlagClick);
  btnExit_->OnClick = [this](QObject*) { close(); };
}

Tfrm_Priview::~Tfrm_Priview() = default;

void Tfrm_Priview::OpenDocument(const std::string& path) {
  isWord_ = IsWordFile(path);
  fileName_ = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
  ole_->Open(path);
  // View set-up failures are not worth refusing the file for.
  Guarded([&] {
    if (isWord_) {
      ole_->SetShowRevisions(false);
      ole_->SetTrackRevisions(false);
    }
  });
  ShowZoom(ole_->Zoom() == 0 ? 100 : ole_->Zoom());
}

void Tfrm_Priview::ShowZoom(int zoom) {
  zoom_ = zoom;
  edtZoom_->setText(QString::number(zoom) + "%");
}

// Only Word files zoom; for the rest the buttons do nothing.
void Tfrm_Priview::btn_BestSzieClick() {
  if (!isWord_) return;
  ole_->SetZoom(100);
  ShowZoom(100);
  ole_->setFocus();
}

void Tfrm_Priview::btnSmallClick() {
  if (!isWord_) return;
  // Kept within what the view accepts, so the box never shows a zoom the view refused.
  ole_->SetZoom(std::clamp(zoom_ - 10, 10, 500));
  ShowZoom(ole_->Zoom());
  ole_->setFocus();
}

void Tfrm_Priview::btnBigClick() {
  if (!isWord_) return;
  ole_->SetZoom(std::clamp(zoom_ + 10, 10, 500));
  ShowZoom(ole_->Zoom());
  ole_->setFocus();
}

void Tfrm_Priview::btn_PageFitBestFitClick() {
  if (!isWord_) return;
  ole_->SetPageFit(TPageFit::BestFit);
  ShowZoom(ole_->Zoom() == 0 ? 100 : ole_->Zoom());
  ole_->setFocus();
}

void Tfrm_Priview::btn_PageFitFullPageClick() {
  if (!isWord_) return;
  ole_->SetPageFit(TPageFit::FullPage);
  ShowZoom(ole_->Zoom() == 0 ? 100 : ole_->Zoom());
  ole_->setFocus();
}

void Tfrm_Priview::Btn_PrintClick() {
  if (!ole_->IsOpen()) return;
  FileDialogOptions o;
  o.title = Cp936("打印文件");
  o.filter = Cp936("PDF 文件|*.pdf");
  o.defaultExt = "pdf";
  if (std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this))
    ole_->PrintToPdf(*path);
}

void Tfrm_Priview::Btn_SaveClick() {
  if (!ole_->IsOpen()) return;
  FileDialogOptions o;
  o.title = Cp936("保存文档");
  o.defaultExt = "doc";
  o.filter = Cp936("Word 文档|*.doc|Excel 文档|*.xls|所有文件|*.*");
  o.fileName = fileName_;
  if (std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this))
    ole_->SaveAs(*path);
}

void Tfrm_Priview::Btn_SetFlagClick() {
  frameW_->setVisible(!frameW_->isVisible());
  resizeEvent(nullptr);
}

void Tfrm_Priview::resizeEvent(QResizeEvent*) {
  pnlBtn_->setGeometry(0, 0, width() - 12, 35);
  btnExit_->move(width() - btnExit_->width() - 50, 5);
  btnSetFlag_->move(btnExit_->x() - btnSetFlag_->width() - 5, 5);
  int top = (pnlBtn_->isVisible() ? pnlBtn_->geometry().bottom() + 1 : 35);
  if (frameW_->isVisible()) {
    frameW_->setGeometry(0, top, width(), 150);
    top += frameW_->height();
  }
  ole_->setGeometry(1, top, width() - 12, std::max(0, height() - top - 35));
}

void Tfrm_Priview::closeEvent(QCloseEvent* e) {
  Guarded([&] { ole_->Close(); });
  e->accept();
}

void Tfrm_Priview::WorkerLost() {
  QPointer<Tfrm_Priview> self(this);
  ShowMessageBox(OfficeWorkerGoneText(*ole_), Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, this);
  if (self) close();
}
