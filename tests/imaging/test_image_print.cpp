#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTest>
#include <cstdlib>
#include <fstream>

#include "ImagingTestUtil.h"
#include "imaging/ui/EnPrint.h"
#include "imaging/ui/FrmtForm.h"
#include "imaging/ui/POptForm.h"
#include "imaging/ui/ReszForm.h"

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
}

TEST(DibGraphicPrinter, EachSizeModeLandsWhereItsArithmeticSays) {
  App();
  TDibGraphic img;
  img.NewImage(300, 200, ifTrueColor, nullptr, 100, 100);  // all black
  struct Case {
    int mode;
    double width, height, left, top;
    bool landscape;
    TRect dots;
  };
  const Case cases[] = {
      {0, 5, 5, 0, 0, true, {0, 0, 1800, 1200}},
      {1, 5, 5, 1, 1, true, {0, 0, 6744, 4496}},
      {2, 2, 5, 1, 0.5, true, {600, 300, 1800, 1100}},
      {3, 5, 2, 0, 0, true, {0, 0, 1800, 1200}},
      {4, 3, 4, 0, 0, false, {0, 0, 1800, 2400}},
      {5, 5, 5, 1, 1, true, {0, 0, 6743, 4675}},
  };
  for (const Case& c : cases) {
    const std::string pdf = TempDir() + "/mode" + std::to_string(c.mode) + ".pdf";
    SetImagePrinterOutput(pdf);
    TDibGraphicPrinter printer;
    printer.SetWidth(c.width);
    printer.SetHeight(c.height);
    printer.SetLeftMargin(c.left);
    printer.SetTopMargin(c.top);
    printer.SetPrintSize(c.mode);
    printer.SetTitle("scan");
    printer.Print(img);
    EXPECT_EQ(printer.Metrics().PageWidth, c.landscape ? 6744 : 4676) << c.mode;
    const Rendered page = Render(pdf);
    EXPECT_EQ(page.width > page.height, c.landscape) << "mode " << c.mode;
    ExpectBox(page.InkBox(), c.dots, c.mode);
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
