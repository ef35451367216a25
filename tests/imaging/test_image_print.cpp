#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QPageSetupDialog>
#include <QPageLayout>
#include <QPrinter>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "ImagingTestUtil.h"
#include "ModalDriver.h"
#include "core/Rounding.h"
#include "imaging/ui/EnPrint.h"
#include "imaging/ui/FrmtForm.h"
#include "imaging/ui/POptForm.h"
#include "imaging/ui/ReszForm.h"
#include "platform/PrintTarget.h"
#include "platform/Services.h"

namespace {
int argc = 1;
char name[] = "imaging_print";
char* argv[] = {name, nullptr};
void App() {
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

std::string TempDir() {
  const QString dir = QDir::tempPath() + "/imaging-print";
  QDir().mkpath(dir);
  return dir.toStdString();
}

// The page rendered at a tenth of the printer's 600 dpi, as grey bytes.
struct Rendered {
  int width = 0, height = 0;
  std::vector<uint8_t> grey;
  TRect InkBox() const {
    TRect box{width, height, -1, -1};
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (grey[size_t(y) * size_t(width) + size_t(x)] < 128) {
          box.Left = std::min(box.Left, x);
          box.Top = std::min(box.Top, y);
          box.Right = std::max(box.Right, x + 1);
          box.Bottom = std::max(box.Bottom, y + 1);
        }
    return box;
  }
};

Rendered Render(const std::string& pdf) {
  const std::string base = TempDir() + "/page";
  const std::string cmd = "pdftoppm -r 60 -gray -singlefile '" + pdf + "' '" + base + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(base + ".pgm", std::ios::binary);
  std::string magic;
  int maxval = 0;
  Rendered r;
  in >> magic >> r.width >> r.height >> maxval;
  in.get();
  r.grey.resize(size_t(r.width) * size_t(r.height));
  in.read(reinterpret_cast<char*>(r.grey.data()), std::streamsize(r.grey.size()));
  EXPECT_EQ(magic, "P5");
  return r;
}

// Where the next print goes, as the person names the PDF file.
void ChooseFile(const std::string& pdf) {
  ServiceCapture services;
  services.saveAnswers = {pdf};
  ASSERT_TRUE(PrintTarget::Choose(nullptr));
}

// The page set-up dialog, answered as a person would: A5, 10 mm margins.
void SetUpA5() {
  auto script = WhenModal<QPageSetupDialog>([](QPageSetupDialog* d) {
    auto* size = d->findChild<QComboBox*>(QStringLiteral("pageSizeCombo"));
    ASSERT_NE(size, nullptr);
    size->setCurrentText(QStringLiteral("A5"));
    for (const char* side : {"topMargin", "leftMargin", "rightMargin", "bottomMargin"}) {
      auto* margin = d->findChild<QDoubleSpinBox*>(QString::fromLatin1(side));
      ASSERT_NE(margin, nullptr) << side;
      margin->setValue(10);
    }
    d->accept();
  });
  EXPECT_TRUE(PrintTarget::SetUp(nullptr));
}

void ExpectBox(const TRect& ink, const TRect& dots, int mode) {
  // Dots at 600 dpi land on pixels at 60 dpi: a tenth, give or take one.
  EXPECT_NEAR(ink.Left, dots.Left / 10.0, 1) << "mode " << mode;
  EXPECT_NEAR(ink.Top, dots.Top / 10.0, 1) << "mode " << mode;
  EXPECT_NEAR(ink.Right, dots.Right / 10.0, 1) << "mode " << mode;
  EXPECT_NEAR(ink.Bottom, dots.Bottom / 10.0, 1) << "mode " << mode;
}
}  // namespace

TEST(PrintRect, FollowsTheSizeTable) {
  TPrintPageMetrics m;
  m.PageWidth = 4800;
  m.PageHeight = 6000;
  m.DpiX = m.DpiY = 600;
  TPrintSizeParams p;
  p.PrintSize = 0;
  // 5100 x 6600 does not fit: the smaller factor 6000 / 6600 scales both axes.
  EXPECT_EQ(PrintRect(p, m, 1700, 2200, 200, 200), (TRect{0, 0, 4636, 6000}));
  // An image without a resolution prints at 96 dpi instead of dividing by zero.
  EXPECT_EQ(PrintRect(p, m, 96, 48, 0, 0), (TRect{0, 0, 600, 300}));
  p.LeftMargin = 1;
  p.TopMargin = 0.5;
  m.OffsetX = 100;
  EXPECT_EQ(PrintRect(p, m, 96, 48, 96, 96), (TRect{500, 300, 1100, 600}));
  p.PrintSize = 5;  // ignores the margins
  EXPECT_EQ(PrintRect(p, m, 96, 48, 96, 96), (TRect{0, 0, 4799, 5999}));
  p.PrintSize = 9;  // unknown modes fit the page
  EXPECT_EQ(PrintRect(p, m, 100, 300, 96, 96), (TRect{0, 0, 2000, 6000}));
  p.PrintSize = 3;
  p.LeftMargin = p.TopMargin = 0;
  p.Height = 1.25;  // 750 dots high, so 187.5 wide: halves round to even
  EXPECT_EQ(PrintRect(p, m, 1, 4, 96, 96), (TRect{0, 0, 188, 750}));
  // An image without pixels goes nowhere instead of dividing by zero.
  for (int mode = 0; mode <= 5; ++mode) {
    p.PrintSize = mode;
    EXPECT_EQ(PrintRect(p, m, 0, 0, 96, 96), (TRect{0, 0, 0, 0})) << mode;
  }
}

TEST(DibGraphicPrinter, EachSizeModeLandsWhereItsArithmeticSays) {
  App();
  {
    // Before the person chose a printer: the no-printer page.
    TDibGraphicPrinter unchosen;
    EXPECT_EQ(unchosen.Metrics().PageWidth, 4676);
    EXPECT_EQ(unchosen.Metrics().PageHeight, 6744);
    EXPECT_EQ(unchosen.Metrics().DpiX, 600);
  }
  TDibGraphic img;
  img.NewImage(300, 200, ifTrueColor, nullptr, 100, 100);  // all black
  struct Case {
    int mode;
    double width, height, left, top;
    bool landscape;
    TRect dots;  // on the paper
  };
  // The chosen PDF printer: A4 at 600 dpi, its printable area 142 and 133 dots in, 6733 x
  // 4692 dots across (4674 x 6751 upright). Margins count from the paper's edge.
  const Case cases[] = {
      {0, 5, 5, 0, 0, true, {142, 133, 1942, 1333}},
      {1, 5, 5, 1, 1, true, {142, 133, 6875, 4622}},
      {2, 2, 5, 1, 0.5, true, {600, 300, 1800, 1100}},
      {3, 5, 2, 0, 0, true, {142, 133, 1942, 1333}},
      {4, 3, 4, 0, 0, false, {142, 133, 1942, 2533}},
      {5, 5, 5, 1, 1, true, {142, 133, 6874, 4824}},
  };
  for (const Case& c : cases) {
    const std::string pdf = TempDir() + "/mode" + std::to_string(c.mode) + ".pdf";
    ChooseFile(pdf);
    TDibGraphicPrinter printer;
    printer.SetWidth(c.width);
    printer.SetHeight(c.height);
    printer.SetLeftMargin(c.left);
    printer.SetTopMargin(c.top);
    printer.SetPrintSize(c.mode);
    printer.SetTitle("scan");
    printer.Print(img);
    EXPECT_EQ(printer.Metrics().PageWidth, c.landscape ? 6733 : 4674) << c.mode;
    EXPECT_EQ(printer.Metrics().OffsetX, 142) << c.mode;
    const Rendered page = Render(pdf);
    EXPECT_EQ(page.width > page.height, c.landscape) << "mode " << c.mode;
    ExpectBox(page.InkBox(), c.dots, c.mode);
  }
  // An empty image starts no job: no blank page.
  const std::string none = TempDir() + "/none.pdf";
  ChooseFile(none);
  TDibGraphicPrinter().Print(TDibGraphic());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(none)));
  // The job's orientation was its own.
  EXPECT_EQ(PrintTarget::Printer().pageLayout().orientation(), QPageLayout::Portrait);
}

TEST(DibGraphicPrinter, AfterThePageSetUpEverySizeModeFitsThePrintersPage) {
  App();
  TDibGraphic img;
  img.NewImage(300, 200, ifTrueColor, nullptr, 100, 100);  // prints across
  SetUpA5();
  // The page as the job turns it, read from the printer.
  QPrinter& pr = PrintTarget::Printer();
  pr.setPageOrientation(QPageLayout::Landscape);
  const QRect page = pr.pageRect(QPrinter::DevicePixel).toRect();
  const QRect paper = pr.paperRect(QPrinter::DevicePixel).toRect();
  pr.setPageOrientation(QPageLayout::Portrait);
  ASSERT_NEAR(paper.width(), 4961, 5);  // A5 across: 210 mm
  EXPECT_NEAR(page.left(), 236, 4);     // 10 mm, in whole points
  const int fitHeight = int(RoundHalfEven(200.0 * page.width() / 300));
  struct Case {
    int mode;
    TRect dots;
  };
  const Case cases[] = {
      {0, {page.left(), page.top(), page.left() + 1800, page.top() + 1200}},
      {1, {page.left(), page.top(), page.right() + 1, page.top() + fitHeight}},
      {5, {page.left(), page.top(), page.right(), page.bottom()}},
  };
  for (const Case& c : cases) {
    const std::string pdf = TempDir() + "/a5-mode" + std::to_string(c.mode) + ".pdf";
    ChooseFile(pdf);
    TDibGraphicPrinter printer;
    printer.SetPrintSize(c.mode);
    printer.Print(img);
    EXPECT_EQ(printer.Metrics().PageWidth, page.width()) << c.mode;
    EXPECT_EQ(printer.Metrics().PageHeight, page.height()) << c.mode;
    EXPECT_EQ(printer.Metrics().BottomStrip, paper.height() - page.bottom() - 1) << c.mode;
    const Rendered r = Render(pdf);
    EXPECT_NEAR(r.width, paper.width() / 10.0, 1) << c.mode;
    ExpectBox(r.InkBox(), c.dots, c.mode);
  }
}

TEST(ImageDialogs, ControlsFollowTheirChoices) {
  App();
  TResizeForm resize;
  EXPECT_EQ(resize.FilterCB->currentText(), "Triangle");
  EXPECT_FALSE(resize.FilterCB->isEnabled());
  resize.InterpolatedCB->click();
  EXPECT_TRUE(resize.FilterCB->isEnabled());
  EXPECT_TRUE(resize.DestFormatCB->isEnabled());

  TFormatConversionForm conv;
  conv.SetImageFormat(ifTrueColor);
  EXPECT_FALSE(conv.TrueColorRB->isEnabled());
  EXPECT_EQ(conv.GetImageFormat(), 5);  // nothing checked
  conv.Gray16RB->setChecked(true);
  EXPECT_EQ(conv.GetImageFormat(), 1);

  TPrintOptionForm opt;
  EXPECT_EQ(opt.GetPrintSize(), 1);
  EXPECT_FALSE(opt.WidthFld->isEnabled());
  opt.SpecificWidthAndHeightRB->setChecked(true);
  EXPECT_EQ(opt.GetPrintSize(), 4);
  EXPECT_TRUE(opt.HeightFld->isEnabled());
  EXPECT_EQ(opt.HeightFld->value(), 3);
  opt.StetchToPageRB->setChecked(true);
  EXPECT_EQ(opt.GetPrintSize(), 5);
  EXPECT_FALSE(opt.WidthFld->isEnabled());
  // Only digits reach the page edits, and typing a first page picks the range.
  opt.show();
  QTest::keyClicks(opt.edt_PageBegin, "1a2");
  EXPECT_EQ(opt.edt_PageBegin->text(), "12");
  EXPECT_TRUE(opt.PrintFrom->isChecked());
}
