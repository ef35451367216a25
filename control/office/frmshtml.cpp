#include "control/office/frmshtml.h"

#include <QFrame>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "control/office/frame_w.h"
#include "control/office/frmPrivew.h"
#include "platform/QtText.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "platform/web/WebContent.h"
#include "uikit/TFlatButtonUnit.h"
#include "uikit/TFlatSpeedButtonUnit.h"
#include "uikit/wiaTile.h"

Tfrm_Shtml::Tfrm_Shtml(QWidget* owner) : QDialog(owner) {
  setWindowTitle(QString::fromUtf8("显示文件"));
  setWindowFlag(Qt::Window);
  resize(788, 542);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);

  panel1_ = new QWidget(this);
  panel1_->setFixedHeight(35);
  auto* tile = new TwiaTile(panel1_);
  tile->SetAlignClient(true);
  btnSave_ = new TFlatSpeedButton(panel1_);
  btnSave_->setToolTip(QString::fromUtf8("文件另存为"));
  btnSave_->setGeometry(8, 5, 25, 25);
  btnSave_->SetGlyph(DrawViewerGlyph(ViewerGlyph::Save));
  btnSave_->setObjectName("Btn_Save");
  btnSave_->setAccessibleName(btnSave_->toolTip());
  btnPrint_ = new TFlatSpeedButton(panel1_);
  btnPrint_->setToolTip(QString::fromUtf8("打印文件"));
  btnPrint_->setGeometry(36, 5, 25, 25);
  btnPrint_->SetGlyph(DrawViewerGlyph(ViewerGlyph::Print));
  btnPrint_->setObjectName("Btn_Print");
  btnPrint_->setAccessibleName(btnPrint_->toolTip());
  btnSetFlag_ = new TFlatButton(panel1_);
  btnSetFlag_->SetCaption(QString::fromUtf8("签批意见"));
  btnSetFlag_->resize(75, 25);
  btnExit_ = new TFlatButton(panel1_);
  btnExit_->SetCaption(QString::fromUtf8("关闭返回"));
  btnExit_->resize(75, 25);
  lay->addWidget(panel1_);

  splitter1_ = new QFrame(this);
  splitter1_->setFixedHeight(0);
  lay->addWidget(splitter1_);
  frameW_ = new TFrameW(this);
  frameW_->setFixedHeight(150);
  frameW_->hide();
  lay->addWidget(frameW_);

  web_ = new TWebContainer(this);
  lay->addWidget(web_, 1);

  btnSave_->OnClick = [this](QObject*) { Guarded([&] { Btn_SaveClick(); }); };
  btnPrint_->OnClick = [this](QObject*) { Guarded([&] { Btn_PrintClick(); }); };
  btnSetFlag_->OnClick = [this](QObject*) { Guarded([&] { Btn_SetFlagClick(); }); };
  btnExit_->OnClick = [this](QObject*) { close(); };
}

Tfrm_Shtml::~Tfrm_Shtml() = default;

void Tfrm_Shtml::showEvent(QShowEvent*) {
  panel1_->show();
  panel1_->setFocus();
  // Maximised once it is up: the browser shown straight into a maximised window stays blank
  // where no window manager runs.
  if (!maximised_) {
    maximised_ = true;
    QTimer::singleShot(0, this, [this] {
      // Sized to the screen as well: with no window manager the state alone sizes nothing.
      if (const QScreen* screen = this->screen()) setGeometry(screen->availableGeometry());
      setWindowState(windowState() | Qt::WindowMaximized);
    });
  }
}

void Tfrm_Shtml::resizeEvent(QResizeEvent*) {
  btnExit_->move(width() - btnExit_->width() - 12, 5);
  btnSetFlag_->move(btnExit_->x() - btnSetFlag_->width() - 5, 5);
}

void Tfrm_Shtml::ShowContent(const std::string& path, TStream* stream) {
  if (!stream) {
    web_->Navigate(path);
    return;
  }
  std::string bytes(static_cast<size_t>(stream->Size()), '\0');
  stream->Seek(0, soBeginning);
  stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  web_->ShowHtml(QByteArray::fromStdString(bytes));
  // Bounded: a page that never completes must not hold the window.
  web_->WaitLoaded(5000);
}

void Tfrm_Shtml::Btn_PrintClick() {
  FileDialogOptions o;
  o.title = Cp936("打印文件");
  o.filter = Cp936("PDF 文件|*.pdf");
  o.defaultExt = "pdf";
  std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this);
  if (!path) return;
  if (!web_->PrintToPdf(*path)) ShowMessageBox(Cp936("打印失败。"), Cp936("系统提示"), MsgIcon::Warning);
}

void Tfrm_Shtml::Btn_SaveClick() {
  FileDialogOptions o;
  o.title = Cp936("保存文件");
  o.filter = Cp936("所有文件|*.*");
  std::optional<std::string> path = Services::FileDialogs().SaveFile(o, this);
  if (!path) return;
  if (!web_->SaveSourceAs(*path)) ShowMessageBox(Cp936("文件保存失败。"), Cp936("系统提示"), MsgIcon::Warning);
}

void Tfrm_Shtml::Btn_SetFlagClick() {
  frameW_->setVisible(!frameW_->isVisible());
  splitter1_->setFixedHeight(frameW_->isVisible() ? 3 : 0);
}
