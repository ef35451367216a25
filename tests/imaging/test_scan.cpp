#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "ImagingTestUtil.h"
#include "ModalDriver.h"
#include "WindowInput.h"
#include "imaging/ui/EnScan.h"
#include "imaging/ui/SaneDsm.h"
#include "SaneTestSupport.h"

namespace {
void App() { SaneTestApp(); }

void Options(std::map<std::string, std::string> extra = {}) { SetScanOptions("Solid black", extra); }

struct Page {
  int xres = 0, yres = 0;
  std::unique_ptr<TDibGraphic> image;
};

struct Scan {
  std::vector<Page> pages;
  void Run(TScanner& s) {
    s.Acquire(this, [](HGLOBAL h, int x, int y, void* ctx) {
      Page p{x, y, std::make_unique<TDibGraphic>()};
      p.image->AssignFromHDIB(GlobalLock(h), GlobalSize(h));
      static_cast<Scan*>(ctx)->pages.push_back(std::move(p));
    });
  }
};

// A person who reads each box shown during a scan and clicks its OK; a box still up at
// the deadline fails the test and is closed.
struct BoxesRead {
  std::vector<std::string> texts;
  std::vector<QWidget*> parents;
  std::vector<QRect> places;
};
BoxesRead ScanReadingBoxes(Scan& scan, TScanner& scanner) {
  BoxesRead seen;
  QPointer<QMessageBox> last;
  auto person = WhenModal<QMessageBox>(
      [&](QMessageBox* box) {
        if (box == last) return;
        last = box;
        seen.texts.push_back(box->text().toStdString());
        seen.parents.push_back(box->parentWidget());
        seen.places.push_back(box->frameGeometry());
        ClickThroughWindow(box->button(QMessageBox::Ok));
      },
      std::chrono::seconds(60));
  scan.Run(scanner);
  return seen;
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    TScanner::SetSourceManager(&SaneDsmEntry);
    Options();
    scanner = std::make_unique<TScanner>();
    scanner->SetShowUI(false);
  }
  void TearDown() override { scanner.reset(); }
  void Settings(int format, int dpi) {
    scanner->SetImageFormat(format);
    scanner->SetXResolution(uint16_t(dpi));
    scanner->SetYResolution(uint16_t(dpi));
  }
  std::unique_ptr<TScanner> scanner;
};
}  // namespace

TEST_F(ScanTest, GreyAndColourA4PagesArriveWithSizeDepthAndResolution) {
  for (int format : {ifGray256, ifTrueColor}) {
    for (int dpi : {150, 300}) {
      Settings(format, dpi);
      Scan scan;
      scan.Run(*scanner);
      ASSERT_EQ(scan.pages.size(), 1u) << format << " " << dpi;
      const Page& p = scan.pages[0];
      EXPECT_EQ(p.xres, dpi);
      EXPECT_EQ(p.yres, dpi);
      EXPECT_NEAR(p.image->Width(), 210 / 25.4 * dpi, 1.0);
      EXPECT_NEAR(p.image->Height(), 297 / 25.4 * dpi, 1.0);
      EXPECT_EQ(p.image->XDotsPerInch(), dpi);
      EXPECT_EQ(p.image->BitmapInfo().bmiHeader.biBitCount, format == ifTrueColor ? 24 : 8);
      EXPECT_EQ(p.image->GetPixelRGB(5, 5), 0u);  // the test backend's solid black
    }
  }
}

TEST_F(ScanTest, LineArtIsInvertedToAWhiteIsOneTable) {
  Settings(ifBlackWhite, 50);
  for (const char* picture : {"Solid black", "Solid white"}) {
    Options({{"test-picture", picture}});
    Scan scan;
    scan.Run(*scanner);
    ASSERT_EQ(scan.pages.size(), 1u);
    const TDibGraphic& img = *scan.pages[0].image;
    EXPECT_EQ(img.ImageFormat(), ifBlackWhite);
    const RgbValue expected = std::string(picture) == "Solid black" ? 0 : 0xFFFFFF;
    EXPECT_EQ(img.GetPixelRGB(0, 0), expected) << picture;
    EXPECT_EQ(img.GetPixelRGB(img.Width() - 1, img.Height() - 1), expected) << picture;
  }
}

TEST_F(ScanTest, ThreePassAndHandScannerFramesGiveTheSamePage) {
  Settings(ifTrueColor, 50);
  Options({{"test-picture", "Color pattern"}});
  Scan one;
  one.Run(*scanner);
  Options({{"test-picture", "Color pattern"}, {"three-pass", "yes"}});
  Scan three;
  three.Run(*scanner);
  ASSERT_EQ(one.pages.size(), 1u);
  ASSERT_EQ(three.pages.size(), 1u);
  EXPECT_EQ(PixelsRGB(*one.pages[0].image), PixelsRGB(*three.pages[0].image));

  // A hand scanner announces no height: the page is as long as what arrives.
  Options({{"hand-scanner", "yes"}});
  Scan hand;
  hand.Run(*scanner);
  ASSERT_EQ(hand.pages.size(), 1u);
  EXPECT_GT(hand.pages[0].image->Height(), 1);
}

TEST_F(ScanTest, TheFeederScansUntilItIsEmpty) {
  Settings(ifGray256, 30);
  Options({{"source", "Automatic Document Feeder"}});
  Scan scan;
  scan.Run(*scanner);
  EXPECT_EQ(scan.pages.size(), 10u);  // the test backend's feeder holds ten sheets
}

TEST_F(ScanTest, CancelledAndJammedScansEndQuietlyAndTheScannerStaysUsable) {
  Settings(ifGray256, 50);
  for (const int status : {SANE_STATUS_CANCELLED, SANE_STATUS_JAMMED}) {
    ForceSaneReadEnd(status);
    Scan failed;
    EXPECT_NO_THROW(ScanReadingBoxes(failed, *scanner)) << status;
    EXPECT_TRUE(failed.pages.empty()) << status;
    Options();
    Scan next;
    next.Run(*scanner);
    EXPECT_EQ(next.pages.size(), 1u) << status;
  }
}

TEST_F(ScanTest, AFailedScanSaysWhyOnceOverThePersonsWindowAndKeepsThePagesRead) {
  Settings(ifGray256, 30);
  // The third sheet of a feeder batch jams while it is read, with a window in use.
  Options({{"source", "Automatic Document Feeder"}});
  ForceSaneReadEnd(SANE_STATUS_JAMMED, 2);
  QDialog window;
  window.resize(640, 480);
  Scan jammed;
  BoxesRead jam;
  const int startsBefore = SaneStarts();
  ExecWithScript(window, [&] {
    jam = ScanReadingBoxes(jammed, *scanner);
    window.accept();
  }, std::chrono::seconds(120));
  EXPECT_EQ(jammed.pages.size(), 2u);
  EXPECT_EQ(SaneStarts() - startsBefore, 3) << "no sheet is fed after the jam";
  ASSERT_EQ(jam.texts, std::vector<std::string>{"扫描失败：进纸器卡纸"});
  EXPECT_EQ(jam.parents[0], &window);
  EXPECT_TRUE(window.frameGeometry().contains(jam.places[0].center()));

  // Other faults say theirs; the person's own cancel and a batch that simply ends say nothing.
  Options();
  ForceSaneReadEnd(SANE_STATUS_IO_ERROR);
  Scan broken;
  EXPECT_EQ(ScanReadingBoxes(broken, *scanner).texts,
            std::vector<std::string>{"扫描失败：与扫描仪通信出错"});
  ForceSaneReadEnd(SANE_STATUS_CANCELLED);
  Scan cancelled;
  EXPECT_TRUE(ScanReadingBoxes(cancelled, *scanner).texts.empty());
  EXPECT_TRUE(cancelled.pages.empty());
  Options({{"source", "Automatic Document Feeder"}});
  Scan batch;
  EXPECT_TRUE(ScanReadingBoxes(batch, *scanner).texts.empty());
  EXPECT_EQ(batch.pages.size(), 10u);
}

TEST_F(ScanTest, AStartThatFailsSaysWhyAndKeepsTheBatchsEarlierPages) {
  Settings(ifGray256, 30);
  struct Case {
    SANE_Status status;
    int startsBefore;
    size_t pages;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {SANE_STATUS_NO_DOCS, 0, 0, {"扫描失败：进纸器中没有纸张"}},
      {SANE_STATUS_DEVICE_BUSY, 0, 0, {"扫描失败：扫描仪正忙"}},
      {SANE_STATUS_COVER_OPEN, 0, 0, {"扫描失败：扫描仪盖子没有关好"}},
      // The third sheet jams as the feeder takes it; the two before it are kept.
      {SANE_STATUS_JAMMED, 2, 2, {"扫描失败：进纸器卡纸"}},
      // An empty feeder after a page is the end of the batch.
      {SANE_STATUS_NO_DOCS, 3, 3, {}},
  };
  for (const Case& c : cases) {
    Options({{"source", "Automatic Document Feeder"}});
    ForceSaneStartFailure(c.status, c.startsBefore);
    Scan scan;
    EXPECT_EQ(ScanReadingBoxes(scan, *scanner).texts, c.texts) << c.status << " " << c.startsBefore;
    EXPECT_EQ(scan.pages.size(), c.pages) << c.status << " " << c.startsBefore;
  }
}

TEST_F(ScanTest, ACallbackErrorReachesTheCallerAndClosesTheSource) {
  Settings(ifGray256, 50);
  try {
    scanner->Acquire(nullptr, [](HGLOBAL, int, int, void*) { throw std::runtime_error("disk full"); });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "disk full");
  }
  Scan next;
  next.Run(*scanner);
  EXPECT_EQ(next.pages.size(), 1u);
}

TEST_F(ScanTest, OneScannerAtATimeAndNoSourceManagerMeansUnavailable) {
  EXPECT_IMAGING_ERROR(TScanner(), "Only one scanner object is permitted");
  scanner.reset();
  TScanner::SetSourceManager(nullptr);
  TScanner lonely;
  EXPECT_FALSE(lonely.TwainAvailable());
  TScanner::SetSourceManager(&SaneDsmEntry);
  EXPECT_TRUE(lonely.TwainAvailable());
}

// A source that records what the scanner asks and delivers three pages, as a
// feeder with three sheets would.
namespace fake {
std::vector<std::pair<TW_UINT16, TW_UINT32>> caps;
int pagesLeft = 0;
int enabled = 0;

TW_UINT16 Entry(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                TW_MEMREF data) {
  if (dat == DAT_IDENTITY && msg == MSG_OPENDS) static_cast<TW_IDENTITY*>(data)->Id = 7;
  if (dat == DAT_CAPABILITY) {
    auto* c = static_cast<TW_CAPABILITY*>(data);
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(HGLOBAL(c->hContainer)));
    caps.push_back({c->Cap, TW_UINT32(one->Item)});
  }
  if (dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) enabled = 1;
  if (dat == DAT_EVENT) {
    if (enabled != 1) return TWRC_NOTDSEVENT;
    enabled = 2;
    static_cast<TW_EVENT*>(data)->TWMessage = MSG_XFERREADY;
    return TWRC_DSEVENT;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO) {
    static_cast<TW_IMAGEINFO*>(data)->XResolution.Whole = 100;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_IMAGENATIVEXFER) {
    TSanePage p;
    p.width = 8;
    p.height = 4 - pagesLeft;  // each page its own height: 1, 2, 3
    p.bytesPerLine = 8;
    p.data.assign(32, uint8_t(pagesLeft * 10));
    p.dpi = 100;
    *static_cast<HGLOBAL*>(data) = PackSanePage(p);
    return TWRC_XFERDONE;
  }
  if (dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER)
    static_cast<TW_PENDINGXFERS*>(data)->Count = TW_UINT16(--pagesLeft);
  return TWRC_SUCCESS;
}
}  // namespace fake

TEST_F(ScanTest, ThreeFeederPagesGiveThreeCallbacksWithTheNegotiatedSettings) {
  TScanner::SetSourceManager(&fake::Entry);
  scanner.reset();
  scanner = std::make_unique<TScanner>();
  scanner->SetShowUI(false);
  Settings(ifGray256, 150);
  fake::pagesLeft = 3;
  Scan scan;
  scan.Run(*scanner);
  ASSERT_EQ(scan.pages.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(scan.pages[size_t(i)].image->Height(), i + 1);
    EXPECT_EQ(scan.pages[size_t(i)].xres, 100);
  }
  const std::vector<std::pair<TW_UINT16, TW_UINT32>> expected = {
      {ICAP_XFERMECH, TWSX_NATIVE}, {CAP_XFERCOUNT, 0xFFFF}, {ICAP_UNITS, TWUN_INCHES},
      {ICAP_XRESOLUTION, 150},      {ICAP_YRESOLUTION, 150}, {ICAP_PIXELTYPE, TWPT_GRAY},
      {ICAP_BITDEPTH, 8}};
  EXPECT_EQ(fake::caps, expected);
  scanner->SetImageFormat(6);
  EXPECT_IMAGING_ERROR(scanner->Acquire(nullptr, nullptr), "Invalid image type");
}
