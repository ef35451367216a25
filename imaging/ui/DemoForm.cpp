#include "imaging/ui/DemoForm.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include "core/FloatFormat.h"
#include "core/PrivateTemp.h"
#include "platform/QtText.h"
#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "imaging/EnFormats.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnTifGr.h"
#include "imaging/ScanDoc.h"
#include "imaging/ui/CropForm.h"
#include "imaging/ui/EnDibQt.h"
#include "imaging/ui/EnPrint.h"
#include "imaging/ui/EnRubber.h"
#include "imaging/ui/FrmtForm.h"
#include "imaging/ui/POptForm.h"
#include "imaging/ui/ReszForm.h"
#include "platform/PrintTarget.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/XPStyler.h"

namespace {
const char* kCaption = "系统提示";

// Raised from the progress handler when the person cancels a long edit.
struct TEditCancelled {};
const char* kNoScanner = "您的电脑没有正确连接扫描仪！";
constexpr QRgb kCellGray = 0x5f5f5f, kFrameGray = 0xd2d2d2;

// The office worker opens the flat document text and saves it as Word 97.
void OfficeConvert(const std::string& text, const std::string& docPath) {
  const std::string source = PrivateTempPath("QBTmpDoc.fodt");
  WritePrivateFile(source, text);
  auto removeSource = ScopeExit([&source] { QFile::remove(QString::fromStdString(source)); });
  TOfficeContainer doc;
  doc.Open(source);
  auto close = ScopeExit([&doc] {
    // The document is saved or the error is already on its way: a failing
    // close adds nothing.
    try {
      doc.Close();
    } catch (const std::exception&) {
    }
  });
  doc.SaveAs(docPath);
}

TScanForm::TDocumentConverter& Converter() {
  static TScanForm::TDocumentConverter converter = &OfficeConvert;
  return converter;
}

void Tell(QWidget* parent, const std::string& utf8, MsgIcon icon = MsgIcon::Information,
          MsgButtons buttons = MsgButtons::Ok) {
  ShowMessageBox(Utf8ToCp936(utf8), Cp936(kCaption), icon, buttons, parent);
}

MsgResult Ask(QWidget* parent, const std::string& utf8, MsgButtons buttons) {
  return ShowMessageBox(Utf8ToCp936(utf8), Cp936(kCaption),
                        buttons == MsgButtons::YesNo ? MsgIcon::Question : MsgIcon::Information,
                        buttons, parent);
}

// The format a page is written to JPEG in: grey pages stay grey, the rest
// become true colour (the JPEG class takes nothing else).
void ToJpegFormat(const TDibGraphic& page, TDibGraphic& out) {
  const int f = page.ImageFormat();
  if (f == ifGray256 || f == ifTrueColor) {
    out.Assign(&page);
    return;
  }
  bool grey = f == ifBlackWhite || f == ifGray16;
  if (!grey) {
    grey = true;
    const int n = f == ifColor16 ? 16 : 256;
    for (int i = 0; i < n && grey; ++i) {
      const TPaletteEntry& e = page.LogPalette().palPalEntry[i];
      grey = e.peRed == e.peGreen && e.peGreen == e.peBlue;
    }
  }
  if (grey) {
    TConvertToGrayTransform t;
    t.DestImageFormat = ifGray256;
    t.ApplyOnDest(page, out);
  } else {
    TImageFormatTransform t;
    t.DestImageFormat = ifTrueColor;
    t.ApplyOnDest(page, out);
  }
}
}  // namespace

TRect ThumbnailRect(const TRect& cell, int iw, int ih) {
  TRect r{cell.Left + 5, cell.Top + 5, cell.Right - 5, cell.Bottom - 5};
  if (iw <= 0 || ih <= 0) return r;
  if (iw < ih) {
    const int w = int(int64_t(r.Width()) * iw / ih);
    const int spare = r.Width() - w;
    r.Left += spare / 2;
    r.Right -= spare / 2;
  } else {
    const int h = int(int64_t(r.Height()) * ih / iw);
    const int spare = r.Height() - h;
    r.Top += spare / 2;
    r.Bottom -= spare / 2;
  }
  return r;
}

// The page list: one column of square cells with a thumbnail and the number.
class TPageGrid : public QWidget {
 public:
  TPageGrid(TScanForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(0x5f, 0x5f, 0x5f));
    setPalette(p);
  }
  std::function<void(int)> OnSelectCell;
  int cellSize = 100;
  int selected = 0;

  void RowsChanged() {
    setFixedHeight(std::max(1, form_->PageCount()) * cellSize);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const int rows = std::max(1, form_->PageCount());
    for (int row = 0; row < rows; ++row) {
      const TRect cell{0, row * cellSize, cellSize, (row + 1) * cellSize};
      const QRect qc(cell.Left, cell.Top, cell.Width(), cell.Height());
      if (row >= form_->PageCount()) {
        p.fillRect(qc, QColor::fromRgb(kCellGray));
        continue;
      }
      const bool sel = row == selected;
      const QColor back = sel ? QColor(0, 84, 227) : QColor::fromRgb(kCellGray);
      p.fillRect(qc, back);
      const TPageRecord& page = form_->Page(row);
      const TRect pic = ThumbnailRect(cell, page.Width, page.Height);
      const QRect qp(pic.Left, pic.Top, pic.Width(), pic.Height());
      p.setRenderHint(QPainter::SmoothPixmapTransform, true);
      p.drawImage(qp, DibToQImage(*page.Image));
      p.setPen(QColor::fromRgb(kFrameGray));
      p.setBrush(Qt::NoBrush);
      p.drawRect(sel ? qc.adjusted(0, 0, -1, -1) : qp.adjusted(0, 0, -1, -1));
      p.setPen(Qt::white);
      p.setBackgroundMode(Qt::OpaqueMode);
      p.setBackground(back);
      p.drawText(cell.Left + 5, cell.Top + 5 + p.fontMetrics().ascent(),
                 QString::number(row + 1));
      p.setBackgroundMode(Qt::TransparentMode);
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    const int row = int(e->position().y()) / cellSize;
    if (row < 0 || row >= form_->PageCount()) return;
    selected = row;
    update();
    if (OnSelectCell) OnSelectCell(row);
  }

 private:
  TScanForm* form_;
};

void TScanForm::SetDocumentConverter(TDocumentConverter converter) {
  Converter() = converter ? std::move(converter) : TDocumentConverter(&OfficeConvert);
}

TScanForm::TScanForm(QWidget* owner) : QDialog(owner) {
  RegisterImagingFormats();
  InstallImagingQtHooks();
  setWindowTitle(QString::fromUtf8("图像扫描"));
  scanner_ = std::make_unique<TScanner>();
  scanner_->SetProductName("Ruvi");

  ImageScrollBox = new TImageScrollBox;
  ImageScrollBox->SetCentered(true);
  ImageScrollBox->viewport()->setStyleSheet("background: gray");
  ProgressBar = new QProgressBar;
  ProgressBar->setRange(0, 100);
  ProgressBar->setTextVisible(false);
  ProgressBar->hide();
  CancelButton = new QPushButton(QString::fromUtf8("取消"));
  // Only a click cancels: a key typed for the form must not.
  CancelButton->setAutoDefault(false);
  CancelButton->setFocusPolicy(Qt::NoFocus);
  CancelButton->hide();
  connect(CancelButton, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });
  PageEdit = new QLineEdit(QStringLiteral("1"));
  PageEdit->setMaxLength(5);
  PageEdit->setFixedWidth(50);
  ZoomEdit = new QLineEdit(QStringLiteral("100"));
  ZoomEdit->setMaxLength(3);
  ZoomEdit->setFixedWidth(40);

  auto* gridScroll = gridScroll_ = new QScrollArea;
  gridScroll->setWidgetResizable(true);
  gridScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid_ = new TPageGrid(this, gridScroll);
  gridScroll->setWidget(grid_);
  gridScroll->setMinimumWidth(121);
  grid_->RowsChanged();
  grid_->OnSelectCell = [this](int row) { ShowPage(row, false); };

  BuildMenus();

  auto* splitter = new QSplitter;
  splitter->addWidget(gridScroll);
  splitter->addWidget(ImageScrollBox);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({121, 800});
  connect(splitter, &QSplitter::splitterMoved, this, [this, gridScroll] {
    // Square cells as wide as the list.
    grid_->cellSize = std::max(30, gridScroll->width() - 21);
    grid_->RowsChanged();
  });

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel(QString::fromUtf8("页")));
  bottom->addWidget(PageEdit);
  bottom->addWidget(new QLabel(QString::fromUtf8("缩放")));
  bottom->addWidget(ZoomEdit);
  bottom->addWidget(ProgressBar, 1);
  bottom->addWidget(CancelButton);
  bottom->addStretch();
  layout()->addWidget(splitter);
  static_cast<QVBoxLayout*>(layout())->addLayout(bottom);
  static_cast<QVBoxLayout*>(layout())->setStretch(1, 1);

  ImageScrollBox->OnZoomChange = [this](TImageScrollBox*, float zoom) {
    const QSignalBlocker block(ZoomEdit);
    ZoomEdit->setText(QString::number(RoundHalfEven(zoom)));
  };
  ImageScrollBox->OnRedraw = [this](TDibGraphic* g) {
    setWindowTitle(QString::fromUtf8("图像扫描  [ %1×%2 ]").arg(g->Width()).arg(g->Height()));
  };
  ImageScrollBox->OnBeforeSave = [](TImageScrollBox*, TDibGraphic* g) {
    auto* tiff = dynamic_cast<TTiffGraphic*>(g);
    if (!tiff) return;
    const int f = tiff->ImageFormat();
    tiff->SetCompression(f == ifTrueColor ? tcJPEG : f == ifBlackWhite ? tcGroup4 : tcPackbits);
  };
  ImageScrollBox->OnQuickSelect = [this](TImageScrollBox*, TDibGraphic* g, const TRect&) {
    if (Ask(this, "是否将选择中区域保存至剪贴版?", MsgButtons::YesNo) == MsgResult::Yes)
      CopyDibToClipboard(*g);
  };
  ImageScrollBox->OnImageMouseDown = [this](QWidget*, Qt::MouseButton, Qt::KeyboardModifiers,
                                            int, int) { PageEdit->setFocus(); };
  // A click on the image leaves the focus in the page edit; the window's copy,
  // paste and undo keys must still reach the image.
  PageEdit->installEventFilter(this);
  connect(ZoomEdit, &QLineEdit::textChanged, this, [this] { ApplyZoomEdit(); });

  // A file named on the command line opens at once, without becoming a page.
  const QStringList args = QCoreApplication::arguments();
  if (args.size() > 1 && FindGraphicClass(args[1].toStdString())) {
    try {
      OpenFile(args[1].toStdString());
    } catch (const std::exception&) {
    }
  }
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    // The whole screen less the task bar, and no pixel off it.
    const QRect g = s->geometry(), a = s->availableGeometry();
    setGeometry(a.x(), a.y(), a.width(), std::min(a.height(), std::max(400, g.height() - 26)));
  }
  // Last, so its walk finds every menu, tool button and edit of the form.
  XPStyler1 = new TXPStyler(this);
  XPStyler1->SetActive(true);
}

TScanForm::~TScanForm() = default;

bool TScanForm::eventFilter(QObject* watched, QEvent* e) {
  if (watched == windowHandle()) {
    if (e->type() == QEvent::Expose && windowHandle()->isExposed()) shown_ = true;
    return false;
  }
  if (editing_ && BlockedWhileEditing(watched, e)) return true;
  if (watched == PageEdit && e->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Paste) ||
        key->matches(QKeySequence::Undo)) {
      e->ignore();  // not taken by the edit: the shortcut goes to the window
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

TMemoryStream* TScanForm::GetResultStream() { return result_.Size() != 0 ? &result_ : nullptr; }

QAction* TScanForm::Command(QMenu* menu, const QString& caption, std::function<void()> run,
                            const QKeySequence& key) {
  auto* a = menu->addAction(caption);
  if (!key.isEmpty()) a->setShortcut(key);
  connect(a, &QAction::triggered, this, [this, run = std::move(run)] {
    // No exception leaves a command: it reaches the user as a message.
    QPointer<TScanForm> self(this);
    try {
      run();
    } catch (const Exception& e) {
      if (self) ShowMessageBox(e.Message(), Cp936(kCaption), MsgIcon::Error, MsgButtons::Ok, this);
    } catch (const std::exception& e) {
      if (self)
        ShowMessageBox(Utf8ToCp936(e.what()), Cp936(kCaption), MsgIcon::Error, MsgButtons::Ok,
                       this);
    }
  });
  return a;
}

void TScanForm::BuildMenus() {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QMenuBar;
  top->setMenuBar(bar);
  QMenu* file = bar->addMenu(QString::fromUtf8("文件"));
  OpenMenu = Command(file, QString::fromUtf8("打开 ..."), [this] { Open(); }, QKeySequence("Ctrl+O"));
  SaveMenu = Command(file, QString::fromUtf8("保存"), [this] { SavePage(); }, QKeySequence("Ctrl+S"));
  SaveAsMenu = Command(file, QString::fromUtf8("另存为..."), [this] { SaveAs(); });
  file->addSeparator();
  PrintMenu = Command(file, QString::fromUtf8("打印 ..."), [this] { Print(); });
  PrintSetupMenu = Command(file, QString::fromUtf8("打印设置 ..."), [this] { PrintTarget::SetUp(this); });
  file->addSeparator();
  ScanMenu = Command(file, QString::fromUtf8("扫描 ..."), [this] { Scan(false); }, QKeySequence("F5"));
  HSpeedScanMenu = Command(file, QString::fromUtf8("高速扫描"), [this] { Scan(true); }, QKeySequence("F9"));
  SelectScannerMenu = Command(file, QString::fromUtf8("选择扫描仪 ..."), [this] {
    if (!scanner_->TwainAvailable() || (!scanner_->SelectSource() && scanner_->NoSourceFound()))
      Tell(this, "您的电脑没有正确连接扫描仪", MsgIcon::None);
  });
  file->addSeparator();
  ExitMenu = Command(file, QString::fromUtf8("退出"), [this] { close(); });

  QMenu* edit = bar->addMenu(QString::fromUtf8("编辑"));
  UndoMenu = Command(edit, QString::fromUtf8("撤消"), [this] { Undo(); }, QKeySequence("Ctrl+Z"));
  // Ctrl+C and Ctrl+V also belong to the selection commands; these stay disabled.
  CopyMenu = Command(edit, QString::fromUtf8("复制"), [this] { Copy(); }, QKeySequence("Ctrl+C"));
  CopyMenu->setEnabled(false);
  PasteMenu = Command(edit, QString::fromUtf8("粘贴为新图片"), [this] { Paste(); }, QKeySequence("Ctrl+V"));
  PasteMenu->setEnabled(false);
  CopySelectionMenu = Command(edit, QString::fromUtf8("复制选择区域"),
                              [this] { ImageScrollBox->CopySelectionToClipboard(); },
                              QKeySequence("Ctrl+C"));
  PasteIntoSelectionMenu = Command(edit, QString::fromUtf8("粘贴至选择区域"),
                                   [this] { PasteIntoSelection(); }, QKeySequence("Ctrl+V"));
  CroptoSelectionMenu = Command(edit, QString::fromUtf8("裁剪"), [this] {
    undo_.Assign(&ImageScrollBox->Graphic());
    ImageScrollBox->CropToSelection();
  });

  QMenu* view = bar->addMenu(QString::fromUtf8("查看"));
  CenteredMenu = Command(view, QString::fromUtf8("居中"), [this] {
    ImageScrollBox->SetCentered(!ImageScrollBox->Centered());
    CenteredMenu->setChecked(ImageScrollBox->Centered());
  });
  CenteredMenu->setCheckable(true);
  CenteredMenu->setChecked(true);
  QMenu* mouse = view->addMenu(QString::fromUtf8("鼠标模式"));
  DragMenu = Command(mouse, QString::fromUtf8("拖放"), [this] { SetMouseMode(0); });
  QuickSelectMenu = Command(mouse, QString::fromUtf8("快速选取"), [this] { SetMouseMode(1); });
  SelectMenu = Command(mouse, QString::fromUtf8("选择"), [this] { SetMouseMode(2); });
  for (QAction* a : {DragMenu, QuickSelectMenu, SelectMenu}) a->setCheckable(true);
  DragMenu->setChecked(true);
  ActualSizeMenu = Command(view, QString::fromUtf8("原始尺寸"), [this] { SetZoomMode(zmOriginalSize); }, QKeySequence("F1"));
  FullPageMenu = Command(view, QString::fromUtf8("全页"), [this] { SetZoomMode(zmFullPage); }, QKeySequence("F2"));
  FitWidthMenu = Command(view, QString::fromUtf8("全页宽"), [this] { SetZoomMode(zmFitWidth); }, QKeySequence("F3"));
  FitHeightMenu = Command(view, QString::fromUtf8("全页高"), [this] { SetZoomMode(zmFitHeight); }, QKeySequence("F4"));
  FitToPageMenu = Command(view, QString::fromUtf8("适应页面"), [this] { SetZoomMode(zmFitToPage); });

  QMenu* image = bar->addMenu(QString::fromUtf8("图像"));
  QMenu* rotate = image->addMenu(QString::fromUtf8("旋转"));
  auto rotateBy = [this](double angle) {
    TRotateTransform t;
    t.Angle = angle;
    Edit(t);
  };
  Rotate90Menu = Command(rotate, QString::fromUtf8("90度"), [rotateBy] { rotateBy(90.0); });
  Rotate180Menu = Command(rotate, QString::fromUtf8("180度"), [rotateBy] { rotateBy(180.0); });
  Rotate270Menu = Command(rotate, QString::fromUtf8("270度"), [rotateBy] { rotateBy(270.0); });
  RotateArbitraryMenu = Command(rotate, QString::fromUtf8("自定义角度"), [this] {
    bool ok = false;
    const QString text = QInputDialog::getText(this, QString::fromUtf8("图像旋转"),
                                               QString::fromUtf8("旋转角度："), QLineEdit::Normal,
                                               QStringLiteral("45"), &ok);
    if (!ok) return;
    TRotateTransform t;
    t.Angle = StrToFloat(ToAnsi(text));
    t.FillColor = 0;
    Edit(t);
  });
  QMenu* mirror = image->addMenu(QString::fromUtf8("镜像"));
  FlipHorizontalMenu = Command(mirror, QString::fromUtf8("水平镜像"), [this] {
    TFlipHorizontalTransform t;
    Edit(t);
  });
  FlipVerticalMenu = Command(mirror, QString::fromUtf8("垂直镜像"), [this] {
    TFlipVerticalTransform t;
    Edit(t);
  });
  NegativeMenu = Command(image, QString::fromUtf8("负片效果"), [this] {
    TNegativeTransform t;
    Edit(t);
  });
  CropMenu = Command(image, QString::fromUtf8("剪裁 ..."), [this] { Crop(); });
  SharpenMenu = Command(image, QString::fromUtf8("锐化"), [this] {
    TSharpenTransform t;
    Edit(t);
  });
  SmoothMenu = Command(image, QString::fromUtf8("平滑"), [this] {
    TSmoothTransform t;
    Edit(t);
  });
  QMenu* bright = image->addMenu(QString::fromUtf8("亮度"));
  auto brightness = [this](double v) {
    TBrightnessTransform t;
    t.SetBrightness(v);
    Edit(t);
  };
  IncreassBrightnessMenu = Command(bright, QString::fromUtf8("增强"), [brightness] { brightness(3.0); });
  DecreaseBrightnessMenu = Command(bright, QString::fromUtf8("减弱"), [brightness] { brightness(-3.0); });
  QMenu* contrast = image->addMenu(QString::fromUtf8("对比度"));
  auto contrastBy = [this](bool up) {
    TContrastTransform t;
    t.Increase = up;
    Edit(t);
  };
  IncreaseContrastMenu = Command(contrast, QString::fromUtf8("对比度增强"), [contrastBy] { contrastBy(true); });
  DecreaseContrastMenu = Command(contrast, QString::fromUtf8("对比度减弱"), [contrastBy] { contrastBy(false); });
  EdgeDetectionMenu = Command(image, QString::fromUtf8("描边"), [this] {
    TEdgeTransform t;
    Edit(t);
  });
  EmbossMenu = Command(image, QString::fromUtf8("浮雕效果"), [this] {
    TEmbossTransform t;
    Edit(t);
  });
  GammaMenu = Command(image, QString::fromUtf8("伽玛矫正 ..."), [this] {
    bool ok = false;
    const QString text = QInputDialog::getText(this, QString::fromUtf8("伽玛效果"),
                                               QString::fromUtf8("伽玛值： (0.1 - 7.0)"),
                                               QLineEdit::Normal, QStringLiteral("1.0"), &ok);
    if (!ok) return;
    TGammaTransform t;
    t.SetGamma(StrToFloat(ToAnsi(text)));
    Edit(t);
  });
  ConvertToGrayMenu = Command(image, QString::fromUtf8("转换为灰度图像"), [this] {
    TConvertToGrayTransform t;
    t.DestImageFormat = ifGray256;
    Edit(t);
  });
  FormatConversionMenu = Command(image, QString::fromUtf8("格式转换 ..."), [this] { FormatConversion(); });
  ResizeMenu = Command(image, QString::fromUtf8("调整尺寸 ..."), [this] { Resize(); });

  auto* tools = new QToolBar;
  top->addWidget(tools);
  auto button = [this, tools](QAction* a) { tools->addAction(a); };
  Btn_Scan = ScanMenu;
  button(OpenMenu);
  button(SaveMenu);
  button(PrintMenu);
  button(ScanMenu);
  // The tool buttons reach copy and paste while their menu items stay disabled.
  Btn_Copy = Command(edit, QString::fromUtf8("复制"), [this] { Copy(); });
  edit->removeAction(Btn_Copy);
  button(Btn_Copy);
  Btn_Paste = Command(edit, QString::fromUtf8("粘贴为新图片"), [this] { Paste(); });
  edit->removeAction(Btn_Paste);
  button(Btn_Paste);
  Btn_delImg = Command(file, QString::fromUtf8("删除"), [this] { DeletePage(); });
  file->removeAction(Btn_delImg);
  button(Btn_delImg);
  btn_SaveAll = Command(file, QString::fromUtf8("转换为 Word 文档"), [this] { ConvertToWord(); });
  file->removeAction(btn_SaveAll);
  button(btn_SaveAll);
}

void TScanForm::Progress(uint8_t percent) {
  if (percent < 100) {
    ProgressBar->setValue(percent);
    ProgressBar->show();
  } else {
    ProgressBar->hide();
  }
  if (!editing_) return;
  // A long edit keeps the window painting and its 取消 working; nothing else
  // reaches the form until it ends.
  CancelButton->setVisible(percent < 100);
  QCoreApplication::processEvents();
  if (cancelRequested_) throw TEditCancelled();
}

bool TScanForm::BlockedWhileEditing(QObject* watched, QEvent* e) const {
  switch (e->type()) {
    case QEvent::Shortcut:
      return true;  // sent to the command itself, not to a widget
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu: {
      // Windows pass input on to their widgets, where it is judged.
      if (!watched->isWidgetType()) return false;
      auto* w = static_cast<QWidget*>(watched);
      return w != CancelButton && !CancelButton->isAncestorOf(w);
    }
    default:
      return false;
  }
}

void TScanForm::Edit(TImageTransform& t) {
  undo_.Assign(&ImageScrollBox->Graphic());
  t.OnProgress = [this](void*, uint8_t p) { Progress(p); };
  // Into a new image first: a transform that fails or is cancelled, or whose
  // result cannot be shown, leaves the shown picture and the page whole.
  auto result = std::make_unique<TDibGraphic>();
  {
    editing_ = true;
    cancelRequested_ = false;
    qApp->installEventFilter(this);
    auto done = ScopeExit([this] {
      qApp->removeEventFilter(this);
      editing_ = false;
      ProgressBar->hide();
      CancelButton->hide();
    });
    try {
      t.ApplyOnDest(undo_, *result);
    } catch (const TEditCancelled&) {
      return;
    }
  }
  ImageScrollBox->ShowGraphic(std::move(result));
}

void TScanForm::Undo() {
  if (undo_.IsEmpty()) return;
  ImageScrollBox->SetGraphic(&undo_);
  undo_.FreeImage();
}

void TScanForm::SetMouseMode(int mode) {
  ImageScrollBox->SetMouseMode(mode);
  DragMenu->setChecked(mode == 0);
  QuickSelectMenu->setChecked(mode == 1);
  SelectMenu->setChecked(mode == 2);
}

void TScanForm::SetZoomMode(TZoomMode mode) { ImageScrollBox->SetZoomMode(mode); }

void TScanForm::ApplyZoomEdit() {
  int32_t zoom = 0;
  if (!TryStrToInt(ZoomEdit->text().toStdString(), zoom)) zoom = 100;
  try {
    ImageScrollBox->SetZoomPercent(float(zoom));
  } catch (const Exception& e) {
    // Too large to show: the picture stays at the zoom it had, and says so.
    const QSignalBlocker block(ZoomEdit);
    ZoomEdit->setText(QString::number(RoundHalfEven(ImageScrollBox->ZoomPercent())));
    ShowMessageBox(e.Message(), Cp936(kCaption), MsgIcon::Error, MsgButtons::Ok, this);
  }
}

void TScanForm::AddPage() {
  auto page = std::make_unique<TPageRecord>();
  page->Index = PageCount();
  page->Image = std::make_unique<TDibGraphic>();
  page->Image->Assign(&ImageScrollBox->Graphic());
  page->Width = page->Image->Width();
  page->Height = page->Image->Height();
  pages_.push_back(std::move(page));
  // The added page is the one shown: it becomes current, so Save writes back
  // into it and not into the page that was current before.
  current_ = PageCount() - 1;
  grid_->selected = current_;
  PageEdit->setText(QString::number(current_ + 1));
  grid_->RowsChanged();
  gridScroll_->ensureVisible(0, current_ * grid_->cellSize + grid_->cellSize / 2, 0, grid_->cellSize / 2);
  changed_ = true;
}

void TScanForm::ShowPage(int n, bool force) {
  if (!force && n == current_ && PageCount() > 0) return;
  if (PageCount() == 0) {
    ImageScrollBox->Clear();
    grid_->RowsChanged();
    return;
  }
  current_ = std::clamp(n, 0, PageCount() - 1);
  grid_->selected = current_;
  ImageScrollBox->SetGraphic(pages_[size_t(current_)]->Image.get());
  PageEdit->setText(QString::number(current_ + 1));
  grid_->update();
}

void TScanForm::SavePage() {
  if (PageCount() == 0) return;
  TPageRecord& page = *pages_[size_t(current_)];
  page.Image->Assign(&ImageScrollBox->Graphic());
  page.Width = page.Image->Width();
  page.Height = page.Image->Height();
  grid_->update();
  changed_ = true;
}

void TScanForm::DeletePage() {
  if (PageCount() == 0 || scanning_) return;
  if (Ask(this, "是否删除当前图像？", MsgButtons::YesNo) == MsgResult::No) return;
  pages_.erase(pages_.begin() + current_);
  for (size_t i = 0; i < pages_.size(); ++i) pages_[i]->Index = int(i);
  if (current_ >= PageCount()) current_ = std::max(0, PageCount() - 1);
  grid_->RowsChanged();
  ShowPage(current_, true);
}

void TScanForm::OpenFile(const std::string& fileName) {
  BeginWaitCursor();
  auto done = ScopeExit([] { EndWaitCursor(); });
  const int count = ImageScrollBox->GetImageCount(fileName);
  PageEdit->setText(QStringLiteral("1"));
  bool all = false;
  if (count >= 2) {
    all = Ask(this,
              "The file contains " + std::to_string(count) + " images.\r" +
                  "Note that for animations, all images\r" + "must be loaded in memory.\r" +
                  "Load all images in memory?\r",
              MsgButtons::YesNo) == MsgResult::Yes;
  }
  ImageScrollBox->LoadFromFile(fileName, all ? 0 : 1);
  if (count >= 2) {
    fileName_.clear();
    multiFileName_ = fileName;
  } else {
    fileName_ = fileName;
  }
  ApplyZoomEdit();
}

void TScanForm::Open() {
  std::string filter = "All images|";
  for (const TGraphicFormat& f : GraphicFormats()) filter += "*." + f.extension + ";";
  filter += "*.bmp|";
  FileDialogOptions o;
  o.filter = Utf8ToCp936(filter);
  const std::vector<std::string> files = Services::FileDialogs().OpenFiles(o, this);
  if (files.empty()) return;
  OpenFile(files.front());
  AddPage();
}

void TScanForm::SetScanning(bool on) {
  scanning_ = on;
  // Nothing that touches the pages may run inside the scanner's loop.
  for (QAction* a : findChildren<QAction*>()) {
    if (a == CopyMenu || a == PasteMenu) continue;
    a->setEnabled(!on);
  }
}

void TScanForm::Scan(bool highSpeed) {
  if (scanning_) return;
  if (!scanner_->TwainAvailable()) {
    Tell(this, kNoScanner);
    return;
  }
  SetScanning(true);
  auto enable = ScopeExit([this] { SetScanning(false); });
  if (highSpeed) {
    scanner_->SetShowUI(false);
    scanner_->SetXResolution(100);
    scanner_->SetYResolution(100);
    scanner_->SetImageFormat(ifGray256);
  }
  QPointer<TScanForm> self(this);
  try {
    scanner_->Acquire(this, [](HGLOBAL h, int xres, int yres, void* ctx) {
      auto* form = static_cast<TScanForm*>(ctx);
      TDibGraphic page;
      page.AssignFromHDIB(GlobalLock(h), GlobalSize(h));
      page.SetXDotsPerInch(uint16_t(xres));
      page.SetYDotsPerInch(uint16_t(yres));
      form->ImageScrollBox->SetGraphic(&page);
      form->fileName_.clear();
      form->ApplyZoomEdit();
      form->AddPage();
    });
  } catch (const std::exception&) {
    if (self) Tell(this, kNoScanner);
  }
}

bool TScanForm::CloseCheck() {
  if (!changed_) return true;
  // Enter converts; Escape and the question's close box keep the form and its pages.
  const MsgResult answer = AskKeepingWork(Utf8ToCp936("图像还没有保存，是否保存?"), Cp936(kCaption),
                                          MsgButtons::YesNoCancel, MsgResult::Yes, this);
  if (answer == MsgResult::Cancel) return false;
  // A conversion that failed has said why: the form stays with every page.
  return answer != MsgResult::Yes || ConvertToWord();
}

void TScanForm::closeEvent(QCloseEvent* e) {
  // A close inside the scanner's loop would free the pages under the callback.
  if (scanning_ || editing_ || !CloseCheck()) {
    e->ignore();
    return;
  }
  closedByPerson_ = true;
  e->accept();
}

void TScanForm::reject() {
  if (scanning_ || editing_ || !CloseCheck()) return;
  closedByPerson_ = true;
  QDialog::reject();
}

bool TScanForm::event(QEvent* e) {
  const bool done = QDialog::event(e);
  const QEvent::Type t = e->type();
  // The window is on the screen once its native window is exposed.
  if (t == QEvent::Show && windowHandle()) windowHandle()->installEventFilter(this);
  // The window manager's border is known only once the window is up: the
  // frame, not only the client area, must fit the screen.
  if ((t == QEvent::Show || t == QEvent::Move || t == QEvent::Resize) && isVisible() &&
      !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
    FitFrameToScreen();
  return done;
}

void TScanForm::FitFrameToScreen() {
  QScreen* s = screen();
  if (!s) return;
  const QRect avail = s->availableGeometry(), frame = frameGeometry(), client = geometry();
  if (frame.width() <= avail.width() && frame.height() <= avail.height()) return;
  const QMargins border(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
  setGeometry(avail.marginsRemoved(border));
}

void TScanForm::wheelEvent(QWheelEvent* e) {
  QScrollBar* v = ImageScrollBox->verticalScrollBar();
  const auto action = e->angleDelta().y() > 0 ? QAbstractSlider::SliderSingleStepSub
                                              : QAbstractSlider::SliderSingleStepAdd;
  for (int i = 0; i < 3; ++i) v->triggerAction(action);
  e->accept();
}

bool TScanForm::ConvertToWord() {
  try {
    const std::string docPath = PrivateTempPath("QBTmpDoc.doc"), jpgPath = PrivateTempPath("QBTmpJpg.jpg");
    auto removeJpeg = ScopeExit([&jpgPath] { QFile::remove(QString::fromStdString(jpgPath)); });
    std::vector<TScanDocPage> doc;
    // Each page is written from its own copy: the viewer and the current page
    // stay as they were.
    for (const auto& page : pages_) {
      TJpegGraphic jpeg;
      ToJpegFormat(*page->Image, jpeg);
      {
        TFileStream out(jpgPath, fmCreate);
        jpeg.SaveToStream(out);
      }
      TMemoryStream bytes;
      bytes.LoadFromFile(jpgPath);
      doc.push_back(TScanDocPage{bytes.Data(), jpeg.Width(), jpeg.Height(),
                                 page->Image->XDotsPerInch(), page->Image->YDotsPerInch()});
    }
    QFile::remove(QString::fromStdString(docPath));
    Converter()(WriteScanDocument(doc), docPath);
    TMemoryStream converted;
    converted.LoadFromFile(docPath);
    // The converter creates the file with the usual mode; the copy that stays is private.
    WritePrivateFile(docPath, converted.Data());
    result_.Clear();
    result_.Write(converted.Memory(), converted.Size());
    result_.Seek(0, soBeginning);
    return true;
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (dynamic_cast<const EOfficeWorkerNotStarted*>(&e))
      message = "文档服务无法启动";
    else if (dynamic_cast<const EOfficeWorkerLost*>(&e))
      message = "文档服务已停止";
    else if (const auto* ex = dynamic_cast<const Exception*>(&e))
      message = Cp936ToUtf8(ex->Message());
    Tell(this, "进行文件转换失败，请联系管理员。" + message, MsgIcon::Error);
    return false;
  }
}

void TScanForm::SaveAs() {
  for (;;) {
    std::string filter;
    for (const TGraphicFormat& f : GraphicFormats())
      filter += f.description + " (*." + f.extension + ")|*." + f.extension + "|";
    FileDialogOptions o;
    o.filter = Utf8ToCp936(filter);
    o.fileName = "*.*";
    o.overwritePrompt = false;
    const std::optional<std::string> name = Services::FileDialogs().SaveFile(o, this);
    if (!name) return;
    fileName_ = *name;
    if (QFileInfo(QString::fromStdString(fileName_)).suffix().isEmpty()) {
      Tell(this, "必须指定要保存文件的格式\r请输入文件的扩展名");
      return;
    }
    if (QFile::exists(QString::fromStdString(fileName_)) &&
        Ask(this, "文件 " + fileName_ + " 已经存在，是否覆盖 ?", MsgButtons::YesNo) ==
            MsgResult::No)
      return;
    if (ImageScrollBox->Graphic().IsEmpty()) return;
    if (!fileName_.empty()) break;
  }
  ImageScrollBox->SaveToFile(fileName_);
  PageEdit->setText(QStringLiteral("1"));
  setWindowTitle(QString::fromStdString(fileName_));
}

void TScanForm::Print() {
  if (ImageScrollBox->Graphic().IsEmpty()) return;  // nothing shown, nothing to print
  TPrintOptionForm opt(this);
  if (opt.exec() != QDialog::Accepted) return;
  // Where it goes: a system printer, or a PDF file when there is none.
  if (!PrintTarget::Choose(this)) return;
  TDibGraphicPrinter printer;
  printer.SetPrintSize(opt.GetPrintSize());
  printer.SetWidth(opt.WidthFld->value());
  printer.SetHeight(opt.HeightFld->value());
  printer.SetOwnPrintJob(true);
  printer.SetTitle("Ruvi");
  printer.Print(ImageScrollBox->Graphic());
}

void TScanForm::Crop() {
  TCropForm dlg(this);
  if (dlg.exec() != QDialog::Accepted) return;
  TCropTransform t;
  t.LeftMargin = StrToInt(ToAnsi(dlg.LeftFld->text()));
  t.TopMargin = StrToInt(ToAnsi(dlg.TopFld->text()));
  t.RightMargin = StrToInt(ToAnsi(dlg.RightFld->text()));
  t.BottomMargin = StrToInt(ToAnsi(dlg.BottomFld->text()));
  Edit(t);
}

void TScanForm::FormatConversion() {
  TFormatConversionForm dlg(this);
  dlg.SetImageFormat(ImageScrollBox->Graphic().ImageFormat());
  if (dlg.exec() != QDialog::Accepted) return;
  TImageFormatTransform t;
  t.DestImageFormat = TImageFormat(dlg.GetImageFormat());
  t.Quantize = dlg.QuantizeCB->isChecked();
  t.Dither = dlg.DitherCB->isChecked();
  Edit(t);
}

void TScanForm::Resize() {
  const TDibGraphic& g = ImageScrollBox->Graphic();
  TResizeForm dlg(this);
  dlg.WidthFld->setText(QString::number(g.Width()));
  dlg.HeightFld->setText(QString::number(g.Height()));
  dlg.DestFormatCB->setCurrentIndex(g.ImageFormat());
  if (dlg.exec() != QDialog::Accepted) return;
  TResizeTransform t;
  t.Interpolate = dlg.InterpolatedCB->isChecked();
  if (t.Interpolate) {
    t.Filter = TResizeFilter(dlg.FilterCB->currentIndex());
    if (dlg.DestFormatCB->currentIndex() != g.ImageFormat()) {
      t.ChangeFormat = true;
      t.DestImageFormat = TImageFormat(dlg.DestFormatCB->currentIndex());
      if (t.DestImageFormat == ifColor16 || t.DestImageFormat == ifColor256)
        ShowMessageBox("When converting to 16 or 256 colors it is\rrecommended to use the Format "
                       "Conversion operation\ras the Resize operation will not perform color\r"
                       "quantization.",
                       Cp936(kCaption), MsgIcon::Warning, MsgButtons::Ok, this);
    }
  }
  t.Width = StrToInt(ToAnsi(dlg.WidthFld->text()));
  t.Height = StrToInt(ToAnsi(dlg.HeightFld->text()));
  Edit(t);
}

void TScanForm::Copy() {
  if (!ImageScrollBox->Graphic().IsEmpty()) CopyDibToClipboard(ImageScrollBox->Graphic());
}

void TScanForm::Paste() {
  (void)CloseCheck();
  const QImage clip = QGuiApplication::clipboard()->image();
  if (clip.isNull()) return;
  undo_.Assign(&ImageScrollBox->Graphic());
  AssignFromQImage(ImageScrollBox->Graphic(), clip);
  fileName_.clear();
  ImageScrollBox->Redraw(true);
}

void TScanForm::PasteIntoSelection() {
  TDibGraphic pasted;
  LoadDibFromClipboard(pasted);
  undo_.Assign(&ImageScrollBox->Graphic());
  ImageScrollBox->PasteIntoSelection(pasted);
  ImageScrollBox->Redraw(true);
}
