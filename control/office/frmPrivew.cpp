#include "control/office/frmPrivew.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <unistd.h>

#include "control/office/OfficeCommon.h"
#include "control/office/frame_w.h"
#include "core/Exception.h"
#include "core/PrivateTemp.h"
#include "core/SaveFile.h"
#include "core/ScopeGuard.h"
#include "platform/QtText.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/TFlatButtonUnit.h"
#include "uikit/TFlatSpeedButtonUnit.h"
#include "uikit/wiaTile.h"

// Drawn without smoothing so that no edge pixel is half ground.
QImage DrawViewerGlyph(ViewerGlyph g) {
  QImage img(16, 16, QImage::Format_RGB32);
  img.fill(QColor(255, 0, 255));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor ink(0, 0, 0), paper(255, 255, 255), blue(0, 0, 160);
  auto page = [&] {
    p.setPen(ink);
    p.setBrush(paper);
    p.drawRect(3, 1, 10, 13);
  };
  auto lens = [&](bool plus) {
    p.setPen(ink);
    p.setBrush(paper);
    p.drawEllipse(1, 1, 9, 9);
    p.drawLine(3, 5, 8, 5);
    if (plus) p.drawLine(5, 3, 5, 8);
    p.setPen(QPen(ink, 2));
    p.drawLine(10, 10, 14, 14);
  };
  using Glyph = ViewerGlyph;
  switch (g) {
    case Glyph::Save:  // a disk
      p.setPen(ink);
      p.setBrush(blue);
      p.drawRect(1, 1, 13, 13);
      p.setBrush(paper);
      p.drawRect(4, 1, 7, 5);
      p.fillRect(4, 10, 8, 4, QColor(192, 192, 192));
      break;
    case Glyph::Print:  // a printer with its sheet
      p.setPen(ink);
      p.setBrush(paper);
      p.drawRect(4, 1, 7, 5);
      p.setBrush(QColor(192, 192, 192));
      p.drawRect(1, 6, 13, 6);
      p.setBrush(paper);
      p.drawRect(4, 10, 7, 4);
      break;
    case Glyph::ActualSize:  // "1:1" on a page
      page();
      p.drawLine(5, 4, 5, 10);
      p.drawPoint(8, 5);
      p.drawPoint(8, 9);
      p.drawLine(10, 4, 10, 10);
      break;
    case Glyph::ZoomOut: lens(false); break;
    case Glyph::ZoomIn: lens(true); break;
    case Glyph::FitWidth:  // a page with a double arrow across it
      page();
      p.setPen(blue);
      p.drawLine(4, 7, 12, 7);
      p.drawLine(5, 6, 5, 8);
      p.drawLine(11, 6, 11, 8);
      break;
    case Glyph::FitHeight:  // a page with a double arrow down it
      page();
      p.setPen(blue);
      p.drawLine(8, 2, 8, 12);
      p.drawLine(7, 3, 9, 3);
      p.drawLine(7, 11, 9, 11);
      break;
  }
  return img;
}

namespace {

using Glyph = ViewerGlyph;

TFlatSpeedButton* ZoomButton(QWidget* parent, int x, const char* hint, Glyph glyph) {
  auto* b = new TFlatSpeedButton(parent);
  b->setGeometry(x, 5, 25, 25);
  b->setToolTip(QString::fromUtf8(hint));
  b->SetGlyph(DrawViewerGlyph(glyph));
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
  auto* save = ZoomButton(pnlBtn_, 8, "文件另存为", Glyph::Save);
  auto* print = ZoomButton(pnlBtn_, 36, "打印文件", Glyph::Print);
  auto* best = ZoomButton(pnlBtn_, 72, "原始大小", Glyph::ActualSize);
  auto* small = ZoomButton(pnlBtn_, 100, "缩小", Glyph::ZoomOut);
  auto* big = ZoomButton(pnlBtn_, 128, "放大", Glyph::ZoomIn);
  auto* fitW = ZoomButton(pnlBtn_, 156, "最合适宽度", Glyph::FitWidth);
  auto* fitP = ZoomButton(pnlBtn_, 184, "最合适高度", Glyph::FitHeight);
  save->setObjectName("Btn_Save");
  print->setObjectName("Btn_Print");
  best->setObjectName("btn_BestSzie");
  small->setObjectName("btnSmall");
  big->setObjectName("btnBig");
  fitW->setObjectName("btn_PageFitBestFit");
  fitP->setObjectName("btn_PageFitFullPage");
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

void Tfrm_Priview::OpenDocument(const std::string& path, const std::string& name) {
  isWord_ = IsWordFile(path);
  fileName_ = name.empty() ? QFileInfo(QString::fromStdString(path)).fileName().toStdString() : name;
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
  // A name typed without extension gets the document's own: a workbook saved as ".doc"
  // cannot be written.
  const std::string ext = LowerExtension(fileName_);
  o.defaultExt = ext.size() > 1 ? ext.substr(1) : "doc";
  o.filter = Cp936("Word 文档|*.doc|Excel 文档|*.xls|所有文件|*");
  o.filterIndex = isWord_ ? 1 : (ext == ".xls" || ext == ".xlsx") ? 2 : 3;
  o.fileName = fileName_;
  std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this);
  if (!path) return;
  const QPointer<Tfrm_Priview> self(this);
  try {
    SaveWholeThroughCopy(*path);
  } catch (const Exception&) {
    if (!self) return;
    ShowMessageBox(Cp936("文件保存失败：") + Utf8ToCp936(*path), Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok,
                   this);
  }
}

// The office suite writes in place; it writes a private copy instead, which then replaces
// the person's file whole, so a failed save leaves that file as it was.
void Tfrm_Priview::SaveWholeThroughCopy(const std::string& path) {
  const std::string copy = PrivateTempPath("PreviewSave" + LowerExtension(path));
  const auto removeCopy = ScopeExit([&copy] { ::unlink(copy.c_str()); });
  ole_->SaveAs(copy);
  QFile saved(QString::fromStdString(copy));
  if (!saved.open(QIODevice::ReadOnly)) throw EFOpenError("Cannot open file \"" + copy + "\"");
  const QByteArray bytes = saved.readAll();
  SaveWholeFile(path, std::string_view(bytes.constData(), size_t(bytes.size())));
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
  ReportOfficeWorkerGone(OfficeWorkerGoneText(*ole_), this);
  if (self) close();
}
