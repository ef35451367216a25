#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <sys/stat.h>
#include <csignal>

#include <cstdlib>
#include <sstream>

#include "ShellOutput.h"
#include "ImagingTestUtil.h"
#include "ForeignLocale.h"
#include "ModalDriver.h"
#include "WindowInput.h"
#include "core/PrivateTemp.h"
#include "core/ScopeGuard.h"
#include "imaging/EnTifGr.h"
#include "imaging/ScanDoc.h"
#include "imaging/ui/DemoForm.h"
#include "imaging/ui/EnDibQt.h"
#include "imaging/ui/EnRubber.h"
#include "imaging/ui/ReszForm.h"
#include "imaging/ui/SaneDsm.h"
#include "SaneTestSupport.h"
#include "platform/Services.h"
#include "platform/office/OfficeContainer.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/XPStyler.h"

namespace {
void App() { SaneTestApp(); }

void Options(std::map<std::string, std::string> extra = {}) { SetScanOptions("Color pattern", extra); }

std::string Utf8(const AnsiString& s) { return Cp936ToUtf8(s); }

struct Form {
  ServiceCapture services;
  std::unique_ptr<TScanForm> form;
  Form() {
    App();
    Options();
    form = std::make_unique<TScanForm>();
    form->resize(900, 700);
    form->show();
  }
  ~Form() {
    form.reset();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& p : services.prompts) t.push_back(Utf8(p.text));
    return t;
  }
};

QDialog* VisibleSourceDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && d->windowTitle() == QString::fromUtf8("扫描")) return d;
  }
  return nullptr;
}

QPushButton* ButtonOf(QDialog* d, const QString& text) {
  for (QPushButton* b : d->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

// The source's own dialog is modeless: the scanner's loop waits for its answer, so a poll
// acts on it from inside that loop. Make one per scan. A scan still waiting at the deadline
// fails the test and the source is enabled again without its dialog, so the loop gets a
// page and ends instead of hanging.
class SourceDialogDriver {
 public:
  explicit SourceDialogDriver(std::function<void(QDialog*)> act) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act)] {
      if (clock_.elapsed() > 10000) {
        timer_.stop();
        ADD_FAILURE() << "the scan still waits for its source dialog";
        TW_USERINTERFACE ui{0, 0, nullptr};
        SaneDsmEntry(nullptr, nullptr, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        return;
      }
      if (QDialog* d = VisibleSourceDialog()) {
        ++acted;
        act(d);
      }
    });
    timer_.start(20);
  }
  int acted = 0;

 private:
  QTimer timer_;
  QElapsedTimer clock_;
};
}  // namespace

TEST(ThumbnailRect, KeepsTheShapeCentredAcrossTheShortSide) {
  EXPECT_EQ(ThumbnailRect(TRect{0, 0, 100, 100}, 50, 100), (TRect{27, 5, 73, 95}));
  EXPECT_EQ(ThumbnailRect(TRect{0, 100, 100, 200}, 200, 100), (TRect{5, 127, 95, 173}));
  EXPECT_EQ(ThumbnailRect(TRect{0, 0, 100, 100}, 80, 80), (TRect{5, 5, 95, 95}));
}

TEST(ScanForm, ScannedPagesJoinTheListAndTheLastBecomesCurrent) {
  Form f;
  f.form->Scan(true);
  f.form->Scan(false);  // keeps the high-speed settings: no dialog
  ASSERT_EQ(f.form->PageCount(), 2);
  EXPECT_EQ(f.form->CurrentPage(), 1);
  EXPECT_EQ(f.form->PageEdit->text(), "2");
  const TPageRecord& p = f.form->Page(1);
  EXPECT_NEAR(p.Width, 210 / 25.4 * 100, 1);
  EXPECT_EQ(p.Image->XDotsPerInch(), 100);
  EXPECT_EQ(p.Image->BitmapInfo().bmiHeader.biBitCount, 8);
  EXPECT_EQ(f.form->windowTitle().toStdString(),
            "图像扫描  [ " + std::to_string(p.Width) + "×" + std::to_string(p.Height) + " ]");

  // An edit saved goes into the page shown, the one just added.
  const int height = p.Height;
  f.form->Rotate90Menu->trigger();
  f.form->SaveMenu->trigger();
  EXPECT_EQ(f.form->Page(1).Width, height);
  EXPECT_EQ(f.form->Page(0).Width, f.form->Page(0).Image->Width());
  EXPECT_LT(f.form->Page(0).Width, f.form->Page(0).Height);
  f.form->UndoMenu->trigger();
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Width(), f.form->Page(0).Width);
}

TEST(ScanForm, CancelledAndJammedScansKeepThePages) {
  Form f;
  f.form->Scan(true);
  ASSERT_EQ(f.form->PageCount(), 1);
  for (const int status : {SANE_STATUS_CANCELLED, SANE_STATUS_JAMMED}) {
    ForceSaneReadEnd(status);
    f.form->Scan(true);
    EXPECT_EQ(f.form->PageCount(), 1) << status;
    EXPECT_TRUE(f.form->ScanMenu->isEnabled()) << status;
  }
  // The form itself says nothing; the jam is told by the source, the cancel by nobody.
  EXPECT_EQ(f.Texts(), std::vector<std::string>{"扫描失败：进纸器卡纸"});
  Options();
  f.form->Scan(true);
  EXPECT_EQ(f.form->PageCount(), 2);
}

TEST(ScanForm, DeletingPagesShowsTheNeighbourAndFinallyNothing) {
  Form f;
  for (int i = 0; i < 3; ++i) f.form->Scan(true);
  ASSERT_EQ(f.form->CurrentPage(), 2);
  f.services.promptAnswers = {MsgResult::No};
  f.form->DeletePage();
  EXPECT_EQ(f.form->PageCount(), 3);
  f.form->DeletePage();  // answered Yes by default
  EXPECT_EQ(f.form->PageCount(), 2);
  EXPECT_EQ(f.form->CurrentPage(), 1);
  EXPECT_EQ(f.Texts().back(), "是否删除当前图像？");
  f.form->DeletePage();
  f.form->DeletePage();
  EXPECT_EQ(f.form->PageCount(), 0);
  EXPECT_TRUE(f.form->ImageScrollBox->Graphic().IsEmpty());
}

TEST(ScanForm, WithoutAScannerTheFormSaysSoAndStaysUsable) {
  App();
  TScanner::SetSourceManager(nullptr);
  {
    Form f;
    f.form->Scan(false);
    EXPECT_EQ(f.Texts(), std::vector<std::string>{"您的电脑没有正确连接扫描仪！"});
    EXPECT_TRUE(f.form->ScanMenu->isEnabled());
  }
  TScanner::SetSourceManager(&SaneDsmEntry);
}

TEST(ScanForm, ThreePagesBecomeOneWordDocumentWithTheirOrientations) {
  Form f;
  TScanForm::SetDocumentConverter(nullptr);  // the office worker
  for (int i = 0; i < 3; ++i) f.form->Scan(true);
  f.form->ShowPage(1, false);
  f.form->Rotate90Menu->trigger();  // page 2 turns landscape
  f.form->SaveMenu->trigger();
  f.form->ShowPage(2, false);
  f.form->btn_SaveAll->trigger();
  ASSERT_TRUE(f.services.prompts.empty()) << f.Texts().front();
  TMemoryStream* doc = f.form->GetResultStream();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->Data().substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // a Word 97 file
  const QString tmp = QString::fromStdString(PrivateTempFolder());
  EXPECT_FALSE(QFile::exists(QDir::tempPath() + "/QBTmpDoc.doc"));  // only in the private folder
  EXPECT_FALSE(QFile::exists(tmp + "/QBTmpJpg.jpg"));
  EXPECT_TRUE(QFile::exists(tmp + "/QBTmpDoc.doc"));
  // The viewer still shows the current page.
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Width(), f.form->Page(2).Width);

  // Opened again by the office worker: three pages, the second landscape, three pictures.
  const std::string pdf = tmp.toStdString() + "/again.pdf";
  {
    TOfficeContainer again;
    again.Open(tmp.toStdString() + "/QBTmpDoc.doc");
    again.PrintToPdf(pdf);
    again.Close();
  }
  const std::string info = Shell("pdfinfo -f 1 -l 3 '" + pdf + "'");
  EXPECT_NE(info.find("Pages:           3"), std::string::npos) << info;
  std::vector<bool> landscape;
  std::istringstream lines(info);
  for (std::string line; std::getline(lines, line);) {
    double w = 0, h = 0;
    int n = 0;
    if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &n, &w, &h) == 3)
      landscape.push_back(w > h);
  }
  EXPECT_EQ(landscape, (std::vector<bool>{false, true, false}));
  const std::string images = Shell("pdfimages -list '" + pdf + "' | tail -n +3 | wc -l");
  EXPECT_EQ(std::stoi(images), 3);
}

TEST(ScanForm, AFailedConversionSaysWhyAndLeavesNoStream) {
  TScanForm::SetDocumentConverter(
      [](const std::string&, const std::string&) { throw Exception("disk full"); });
  Form g;
  g.form->btn_SaveAll->trigger();
  EXPECT_EQ(g.Texts(), std::vector<std::string>{"进行文件转换失败，请联系管理员。disk full"});
  EXPECT_EQ(g.form->GetResultStream(), nullptr);
  TScanForm::SetDocumentConverter(nullptr);
}

TEST(ScanForm, ClosingAsksOnceChangedAndCancelKeepsThePages) {
  {
    Form f;
    f.form->Scan(true);
    f.services.promptAnswers = {MsgResult::Cancel, MsgResult::No};
    EXPECT_FALSE(f.form->close());
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_EQ(f.form->PageCount(), 1);
    EXPECT_TRUE(f.form->close());
    EXPECT_EQ(f.Texts(), (std::vector<std::string>{"图像还没有保存，是否保存?", "图像还没有保存，是否保存?"}));
    EXPECT_EQ(f.form->GetResultStream(), nullptr);
  }
  // Escape closes the dialog as its close box does: with the same question first, and
  // a second Escape on that question (its Cancel) keeps the form and its pages.
  Form g;
  g.form->Scan(true);
  g.services.promptAnswers = {MsgResult::Cancel, MsgResult::No};
  QTest::keyClick(g.form->windowHandle(), Qt::Key_Escape);
  EXPECT_TRUE(g.form->isVisible());
  EXPECT_EQ(g.form->PageCount(), 1);
  QTest::keyClick(g.form->windowHandle(), Qt::Key_Escape);
  EXPECT_FALSE(g.form->isVisible());
  EXPECT_EQ(g.Texts(), (std::vector<std::string>{"图像还没有保存，是否保存?", "图像还没有保存，是否保存?"}));
}

TEST(ScanForm, AResizeThatFailsKeepsThePictureAndSaveWritesItBack) {
  Form f;
  f.form->Scan(true);
  const QImage before = DibToQImage(f.form->ImageScrollBox->Graphic());
  for (const char* size : {"0", "100000"}) {
    auto person = WhenModal<QDialog>([size](QDialog* d) {
      auto* resize = dynamic_cast<TResizeForm*>(d);
      ASSERT_NE(resize, nullptr);
      resize->WidthFld->setText(QString::fromLatin1(size));
      resize->HeightFld->setText(QString::fromLatin1(size));
      resize->accept();
    });
    f.form->ResizeMenu->trigger();
    EXPECT_TRUE(person.Acted()) << size;
    EXPECT_EQ(DibToQImage(f.form->ImageScrollBox->Graphic()), before) << size;
    EXPECT_FALSE(f.form->ProgressBar->isVisible()) << size;
  }
  EXPECT_EQ(f.Texts(), (std::vector<std::string>{"CreateDibSection failed", "CreateDibSection failed"}));
  f.form->SaveMenu->trigger();
  EXPECT_EQ(DibToQImage(*f.form->Page(0).Image), before);
  EXPECT_EQ(f.form->Page(0).Width, before.width());
}

TEST(ScanForm, TheFormFitsTheScreenAndThePageListFollowsTheNewPage) {
  App();
  Options();
  struct {
    ServiceCapture services;
    std::unique_ptr<TScanForm> form = std::make_unique<TScanForm>();
  } f;  // as it opens, not resized
  QScreen* screen = f.form->screen();
  ASSERT_NE(screen, nullptr);
  EXPECT_TRUE(screen->geometry().contains(f.form->frameGeometry()))
      << f.form->frameGeometry().x() << "," << f.form->frameGeometry().y() << " "
      << f.form->frameGeometry().width() << "x" << f.form->frameGeometry().height();
  f.form->showNormal();
  QScrollArea* list = nullptr;
  for (auto* area : f.form->findChildren<QScrollArea*>())
    if (static_cast<QObject*>(area) != static_cast<QObject*>(f.form->ImageScrollBox) && area->widget()) list = area;
  ASSERT_NE(list, nullptr);
  const int cell = list->widget()->height() / std::max(1, f.form->PageCount());
  for (int i = 0; i < 12; ++i) {
    f.form->Scan(true);
    QApplication::sendPostedEvents();
    const int top = f.form->CurrentPage() * cell, shown = list->verticalScrollBar()->value();
    EXPECT_TRUE(top >= shown && top + cell <= shown + list->viewport()->height())
        << "page " << f.form->CurrentPage() + 1 << " at " << top << ", list shows from " << shown;
  }
}

TEST(ScanForm, CtrlCAfterABandCopiesTheBandWhereverAClickLeftTheFocus) {
  Form f;
  f.form->Scan(true);
  f.form->ActualSizeMenu->trigger();
  f.form->SelectMenu->trigger();
  f.form->ImageScrollBox->SetCentered(false);
  f.form->activateWindow();
  QWidget* img = f.form->ImageScrollBox->Image();
  QWindow* window = f.form->windowHandle();
  const QPoint from = img->mapTo(f.form.get(), QPoint(20, 30)), to = img->mapTo(f.form.get(), QPoint(120, 80));
  QTest::mousePress(window, Qt::LeftButton, {}, from);
  QTest::mouseMove(window, to);
  QTest::mouseRelease(window, Qt::LeftButton, {}, to);
  auto* band = dynamic_cast<TRubberbandMouseHandler*>(f.form->ImageScrollBox->MouseHandler());
  ASSERT_NE(band, nullptr);
  const TRect sel = band->GetSelection();
  ASSERT_GT(sel.Width(), 10);
  EXPECT_EQ(QApplication::focusWidget(), f.form->PageEdit);  // where the click leaves it

  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  QTest::keyClick(window, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->image().size(), QSize(sel.Width(), sel.Height()));

  // Undo from the same place brings back the picture an edit changed.
  const int width = f.form->ImageScrollBox->Graphic().Width();
  f.form->Rotate90Menu->trigger();
  f.form->PageEdit->setFocus();
  QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Width(), width);
}

TEST(ScanForm, TheKeptWordDocumentIsPrivate) {
  // A converter that creates the file as any program would, with the usual mode.
  TScanForm::SetDocumentConverter([](const std::string&, const std::string& docPath) {
    QFile out(QString::fromStdString(docPath));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("word");
  });
  auto restore = ScopeExit([] { TScanForm::SetDocumentConverter(nullptr); });
  const mode_t mask = ::umask(022);
  auto restoreMask = ScopeExit([mask] { ::umask(mask); });
  Form f;
  f.form->Scan(true);
  f.form->btn_SaveAll->trigger();
  ASSERT_NE(f.form->GetResultStream(), nullptr);
  struct stat st {};
  ASSERT_EQ(::stat((PrivateTempFolder() + "QBTmpDoc.doc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The page sizes are written with a point whatever the C library's locale.
TEST(ScanForm, TheWordDocumentsPageSizesReadTheSameInEveryLocale) {
  const std::vector<TScanDocPage> pages = {{"jpeg", 100, 200, 96, 96}, {"jpeg", 200, 100, 96, 96}};
  const std::string plain = WriteScanDocument(pages);
  ASSERT_NE(plain.find("210.00mm"), std::string::npos);
  for (const char* name : kCommaLocales) {
    ForeignLocale locale(name);
    ASSERT_TRUE(locale.Active()) << name << " is not installed (scripts/install-deps)";
    EXPECT_EQ(WriteScanDocument(pages), plain) << name;
  }
}

TEST(ScanForm, ScreenshotWithPagesAndABand) {
  Form f;
  Options({{"test-picture", "Grid"}});
  for (int i = 0; i < 3; ++i) f.form->Scan(true);
  f.form->FullPageMenu->trigger();
  f.form->SelectMenu->trigger();
  QWidget* img = f.form->ImageScrollBox->Image();
  f.form->ImageScrollBox->SetCentered(false);
  for (auto [type, x, y] : {std::tuple{QEvent::MouseButtonPress, 40, 60},
                            std::tuple{QEvent::MouseMove, 200, 260},
                            std::tuple{QEvent::MouseButtonRelease, 200, 260}}) {
    QMouseEvent e(type, QPointF(x, y), img->mapToGlobal(QPointF(x, y)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(img, &e);
  }
  auto* band = dynamic_cast<TRubberbandMouseHandler*>(f.form->ImageScrollBox->MouseHandler());
  ASSERT_NE(band, nullptr);
  EXPECT_EQ(band->GetSelection(), (TRect{40, 60, 200, 260}));
  const QImage shot = f.form->grab().toImage();
  EXPECT_FALSE(shot.isNull());
  if (const char* home = std::getenv("TARVO_TEST_HOME"))
    shot.save(QString::fromUtf8(home) + "/scan-form.png");
}

TEST(ScanForm, MenusAndToolButtonsTakeTheXPLook) {
  Form f;
  ASSERT_NE(f.form->XPStyler1, nullptr);
  EXPECT_TRUE(f.form->XPStyler1->Active());
  QStyle* xp = f.form->XPStyler1->MenuStyle();
  auto* bar = f.form->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->style(), xp);
  // Every drop-down, down to the sub-menus of the view and image menus.
  std::vector<QMenu*> menus;
  std::function<void(const QList<QAction*>&)> collect = [&](const QList<QAction*>& actions) {
    for (QAction* a : actions)
      if (QMenu* m = a->menu()) {
        menus.push_back(m);
        collect(m->actions());
      }
  };
  collect(bar->actions());
  EXPECT_EQ(menus.size(), 9u);
  for (QMenu* m : menus) EXPECT_EQ(m->style(), xp) << m->title().toStdString();
  auto* tools = f.form->findChild<QToolBar*>();
  ASSERT_NE(tools, nullptr);
  QToolButton* scan = qobject_cast<QToolButton*>(tools->widgetForAction(f.form->Btn_Scan));
  ASSERT_NE(scan, nullptr);
  EXPECT_TRUE(scan->autoRaise());
  EXPECT_TRUE(f.form->XPStyler1->IsHooked(scan));
  EXPECT_TRUE(f.form->XPStyler1->IsHooked(f.form->ZoomEdit));
}

TEST(ScanForm, TheSourceDialogsModeAndResolutionAreScanned) {
  Form f;
  SourceDialogDriver driver([](QDialog* d) {
    auto combos = d->findChildren<QComboBox*>();
    auto* res = d->findChild<QSpinBox*>();
    ASSERT_EQ(combos.size(), 2);
    ASSERT_NE(res, nullptr);
    combos[0]->setCurrentText(QString::fromUtf8("黑白"));
    res->setValue(100);
    ButtonOf(d, QString::fromUtf8("扫描"))->click();
  });
  f.form->Scan(false);
  EXPECT_EQ(driver.acted, 1);
  EXPECT_EQ(VisibleSourceDialog(), nullptr);
  ASSERT_EQ(f.form->PageCount(), 1);
  const TDibGraphic& page = *f.form->Page(0).Image;
  EXPECT_EQ(page.BitmapInfo().bmiHeader.biBitCount, 1);
  EXPECT_EQ(page.XDotsPerInch(), 100);
  EXPECT_NEAR(page.Width(), 210 / 25.4 * 100, 1);
  EXPECT_NEAR(page.Height(), 297 / 25.4 * 100, 1);
}

TEST(ScanForm, CancellingTheSourceDialogEndsTheScanWithoutAPage) {
  Form f;
  const std::vector<std::function<void(QDialog*)>> cancels = {
      [](QDialog* d) { ButtonOf(d, QString::fromUtf8("取消"))->click(); },
      [](QDialog* d) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(d, &esc);
      },
      [](QDialog* d) { d->close(); },
  };
  for (size_t i = 0; i < cancels.size(); ++i) {
    SourceDialogDriver driver(cancels[i]);
    f.form->Scan(false);
    EXPECT_EQ(driver.acted, 1) << i;
    EXPECT_EQ(f.form->PageCount(), 0) << i;
    EXPECT_TRUE(f.form->ScanMenu->isEnabled()) << i;
    EXPECT_TRUE(f.form->HSpeedScanMenu->isEnabled()) << i;
  }
  EXPECT_TRUE(f.services.prompts.empty());
  // Still usable: the next scan brings its page.
  f.form->Scan(true);
  EXPECT_EQ(f.form->PageCount(), 1);
}

TEST(ScanForm, TheChosenScannerBecomesTheDefaultSource) {
  Form f;
  unsetenv("TARVO_SANE_DEVICE");
  const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/tarvo/sane-source";
  auto forget = ScopeExit([&config] { QFile::remove(config); });
  QStringList listed;
  int preselected = -1;
  auto pick = [&](int row, bool ok) {
    auto script = WhenModal<QDialog>([&, row, ok](QDialog* d) {
      auto* list = d->findChild<QListWidget*>();
      auto* box = d->findChild<QDialogButtonBox*>();
      ASSERT_TRUE(list && box);
      if (d->windowTitle() != QString::fromUtf8("选择扫描仪")) return;
      listed.clear();
      for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
      preselected = list->currentRow();
      list->setCurrentRow(row);
      box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    f.form->SelectScannerMenu->trigger();
    EXPECT_TRUE(script.Acted());
  };
  pick(1, true);
  ASSERT_EQ(listed.size(), 2);
  EXPECT_TRUE(listed[0].endsWith("(test:0)")) << listed[0].toStdString();
  EXPECT_TRUE(listed[1].endsWith("(test:1)")) << listed[1].toStdString();
  EXPECT_EQ(SaneDefaultSource(), "test:1");
  QFile file(config);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().trimmed().toStdString(), "test:1");
  file.close();
  f.form->Scan(true);  // the default opens
  EXPECT_EQ(f.form->PageCount(), 1);

  // Opened again it shows the default; a cancelled choice changes nothing.
  pick(0, false);
  EXPECT_EQ(preselected, 1);
  EXPECT_EQ(SaneDefaultSource(), "test:1");
  EXPECT_TRUE(f.services.prompts.empty());
}

TEST(ScanForm, TheCopyAndPasteButtonsCopyTheShownImageAndPasteTheClipboardAsANewPicture) {
  Form f;
  f.form->Scan(true);
  ASSERT_EQ(f.form->PageCount(), 1);
  const TDibGraphic& shown = f.form->ImageScrollBox->Graphic();
  const int width = shown.Width(), height = shown.Height();
  auto* tools = f.form->findChild<QToolBar*>();
  ASSERT_NE(tools, nullptr);
  auto buttonFor = [tools](const char* text) -> QWidget* {
    for (QAction* a : tools->actions())
      if (a->text() == QString::fromUtf8(text)) return tools->widgetForAction(a);
    return nullptr;
  };
  QWidget* copy = buttonFor("复制");
  QWidget* paste = buttonFor("粘贴为新图片");
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(paste, nullptr);
  // The menu items stay disabled: Ctrl+C and Ctrl+V belong to the selection commands.
  EXPECT_FALSE(f.form->CopyMenu->isEnabled());
  EXPECT_FALSE(f.form->PasteMenu->isEnabled());

  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  ClickThroughWindow(copy);
  EXPECT_EQ(clipboard->image().size(), QSize(width, height));

  // A picture from elsewhere replaces the shown one, after the close check; no page is added.
  QImage red(40, 30, QImage::Format_RGB32);
  red.fill(Qt::red);
  clipboard->setImage(red);
  f.services.promptAnswers = {MsgResult::No};
  ClickThroughWindow(paste);
  EXPECT_EQ(f.Texts(), std::vector<std::string>{"图像还没有保存，是否保存?"});
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Width(), 40);
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Height(), 30);
  EXPECT_EQ(QColor(DibToQImage(f.form->ImageScrollBox->Graphic()).pixel(5, 5)), QColor(Qt::red));
  EXPECT_EQ(f.form->PageCount(), 1);
  EXPECT_EQ(f.form->Page(0).Width, width);
  // The picture before the paste comes back with undo.
  f.form->UndoMenu->trigger();
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().Width(), width);
}

TEST(ScanForm, TheOfficeWorkerDyingWhileClosingWithYesKeepsTheFormAndItsPages) {
  Form f;
  TScanForm::SetDocumentConverter(nullptr);  // the office worker, killed below
  f.form->Scan(true);
  f.form->Scan(true);
  // The worker is killed as soon as the conversion waits for it.
  bool killed = false;
  QTimer killer;
  QObject::connect(&killer, &QTimer::timeout, [&] {
    TOfficeWorker& worker = TOfficeWorker::Shared();
    const qint64 pid = worker.ProcessId();
    if (killed || !worker.Calling() || pid <= 0) return;
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    killed = true;
  });
  killer.start(1);
  f.services.promptAnswers = {MsgResult::Yes};
  EXPECT_FALSE(f.form->close());
  killer.stop();
  ASSERT_TRUE(killed);
  EXPECT_TRUE(f.form->isVisible());
  EXPECT_EQ(f.form->PageCount(), 2);
  EXPECT_EQ(f.Texts(), (std::vector<std::string>{"图像还没有保存，是否保存?",
                                                 "进行文件转换失败，请联系管理员。文档服务已停止"}));
  EXPECT_EQ(f.form->GetResultStream(), nullptr);
  // With a new worker the same answer converts and closes.
  f.services.promptAnswers = {MsgResult::Yes};
  EXPECT_TRUE(f.form->close());
  ASSERT_NE(f.form->GetResultStream(), nullptr);
  EXPECT_EQ(f.form->GetResultStream()->Data().substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
}

namespace {
// A black-and-white page opened from a file, as the person opens one.
void OpenBlackAndWhitePage(Form& f, int width, int height) {
  TTiffGraphic page;
  page.NewImage(width, height, ifBlackWhite, nullptr, 300, 300);
  for (int y = 0; y < height; ++y) {
    std::memset(page.ScanLine(y), 0xFF, size_t(page.RowBytes()));
    page.SetPixelIndex(y % width, y, 0);
  }
  const std::string path = QDir::tempPath().toStdString() + "/scan-form-bw.tif";
  page.SaveToFile(path);
  f.services.openAnswers = {{path}};
  f.form->OpenMenu->trigger();
  ASSERT_EQ(f.form->ImageScrollBox->Graphic().ImageFormat(), ifBlackWhite);
}
}  // namespace

TEST(ScanForm, AnEditWhoseResultCannotBeShownKeepsThePictureAndThePage) {
  Form f;
  OpenBlackAndWhitePage(f, 100, 100);
  ASSERT_EQ(f.form->PageCount(), 1);
  f.form->ZoomEdit->setText("999");
  const QImage before = DibToQImage(f.form->ImageScrollBox->Graphic());
  const QString caption = f.form->windowTitle();
  // The result itself fits; its copy for the screen at 999 % does not.
  auto person = WhenModal<QDialog>([](QDialog* d) {
    auto* resize = dynamic_cast<TResizeForm*>(d);
    ASSERT_NE(resize, nullptr);
    resize->WidthFld->setText("13200");
    resize->HeightFld->setText("13200");
    resize->accept();
  });
  f.form->ResizeMenu->trigger();
  EXPECT_TRUE(person.Acted());
  EXPECT_EQ(f.Texts(), std::vector<std::string>{"CreateDibSection failed"});
  EXPECT_EQ(DibToQImage(f.form->ImageScrollBox->Graphic()), before);
  EXPECT_EQ(f.form->windowTitle(), caption);
  // What is shown is still the old picture, and Save writes that back.
  EXPECT_EQ(f.form->ImageScrollBox->DisplayGraphic().Width(), DisplayExtent(100, 999));
  f.form->SaveMenu->trigger();
  EXPECT_EQ(f.form->Page(0).Width, 100);
  EXPECT_EQ(DibToQImage(*f.form->Page(0).Image), before);

  // A zoom whose copy for the screen cannot be made is refused the same way.
  f.form->ZoomEdit->setText("100");
  OpenBlackAndWhitePage(f, 13200, 13200);
  ASSERT_EQ(f.form->ImageScrollBox->Graphic().Width(), 13200) << ::testing::PrintToString(f.Texts());
  f.services.prompts.clear();
  f.form->ZoomEdit->setText("999");
  EXPECT_EQ(f.Texts(), std::vector<std::string>{"CreateDibSection failed"});
  EXPECT_EQ(f.form->ZoomEdit->text(), "100");
  EXPECT_EQ(f.form->ImageScrollBox->DisplayGraphic().Width(), 13200);
  EXPECT_EQ(f.form->ImageScrollBox->ZoomPercent(), 100.0f);
}

TEST(ScanForm, ALongEditShowsItsProgressAndItsCancelKeepsThePicture) {
  Form f;
  f.form->Scan(true);
  const QImage before = DibToQImage(f.form->ImageScrollBox->Graphic());
  int percentSeen = -1, clicksElsewhere = 0;
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (!f.form->CancelButton->isVisible()) return;
    percentSeen = f.form->ProgressBar->value();
    // Other commands wait for the edit: a click on the tool bar does nothing.
    const int pages = f.form->PageCount();
    ClickThroughWindow(f.form->findChild<QToolBar*>()->widgetForAction(f.form->Btn_delImg));
    clicksElsewhere += f.form->PageCount() != pages;
    ClickThroughWindow(f.form->CancelButton);
  });
  person.start(0);
  f.form->SharpenMenu->trigger();
  person.stop();
  EXPECT_GE(percentSeen, 0);
  EXPECT_EQ(clicksElsewhere, 0);
  EXPECT_TRUE(f.Texts().empty());
  EXPECT_FALSE(f.form->CancelButton->isVisible());
  EXPECT_FALSE(f.form->ProgressBar->isVisible());
  EXPECT_EQ(DibToQImage(f.form->ImageScrollBox->Graphic()), before);
  // Without 取消 the same edit goes through.
  f.form->SharpenMenu->trigger();
  EXPECT_EQ(f.form->ImageScrollBox->Graphic().ImageFormat(), ifTrueColor);
}
