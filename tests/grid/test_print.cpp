// Printing to PDF: page count by the page-break rule, titles on every page, hidden rows
// left out; checked with poppler's pdfinfo and pdftotext.
#include <gtest/gtest.h>

#include <QPageLayout>
#include <QPrinter>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "ShellOutput.h"
#include "GridUiApp.h"
#include "grid/XLCells.h"
#include "grid/XLSheet.h"
#include "grid/XLManager.h"
#include "grid/ui/XLPdfPrinter.h"
#include "platform/PrintTarget.h"
#include "platform/Services.h"

namespace {

std::string PageText(const std::string& pdf, int page) {
  const std::string p = std::to_string(page);
  return Shell("pdftotext -f " + p + " -l " + p + " '" + pdf + "' -");
}

// One field of pdfinfo's report, without the padding.
std::string Info(const std::string& pdf, const std::string& field) {
  const std::string info = "\n" + Shell("pdfinfo '" + pdf + "'");
  const size_t at = info.find("\n" + field + ":");
  if (at == std::string::npos) return {};
  const size_t from = info.find_first_not_of(' ', at + field.size() + 2);
  return info.substr(from, info.find('\n', from) - from);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(Print, BreaksNeverMakeAnEmptyStrip) {
  EXPECT_EQ(XLPageBreaks({40, 40, 40}, 100), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(XLPageBreaks({50, 300, 50}, 100), (std::vector<int32_t>{1, 2, 3}));
  // Titles wider than the page leave no room: one line per strip, still no blank page.
  EXPECT_EQ(XLPageBreaks({10, 10}, -5), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(XLPageBreaks({}, 100), (std::vector<int32_t>{0}));
}

TEST(Print, SheetWithTitleRowsToPdf) {
  GridUiApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string pdf = dir.filePath("sheet.pdf").toStdString();

  TXLSheet sheet;
  sheet.SetTitle("Quarterly sheet");
  sheet.SetCount(sCols, 30);
  sheet.SetCount(sRows, 200);
  for (int32_t c = 0; c < 30; ++c) sheet.SetAsString(c, -1, "Head" + std::to_string(c));
  for (int32_t r = 0; r < 200; ++r) sheet.SetAsString(0, r, "Row" + std::to_string(r));
  sheet.SetAsString(1, 7, "Secret");
  sheet.SetVisible(7, sRows, false);

  // 600 dpi on a 748 x 1079 screen-pixel page: 4675 x 6743 printer pixels. Columns print
  // 375 wide, rows 93 high; less one title column and row that leaves 4300 and 6650:
  // 11 + 11 + 8 columns and, with row 7 hidden, 72 + 71 + 57 rows: 3 x 3 pages.
  const TXLPageLayout layout = sheet.PageLayout();
  EXPECT_EQ(layout.Breaks[sCols], (std::vector<int32_t>{11, 22, 30}));
  EXPECT_EQ(layout.Breaks[sRows], (std::vector<int32_t>{72, 143, 200}));

  TXLPdfPrinter printer(QString::fromStdString(pdf));
  // The PDF page is the no-printer page: everything laid out fits on it.
  EXPECT_EQ(printer.Printer().resolution(), 600);
  EXPECT_GE(printer.Printer().width(), layout.Page.Right);
  EXPECT_GE(printer.Printer().height(), layout.Page.Bottom);
  EXPECT_LE(printer.Printer().width(), 4676 + 8);  // a point is 8.3 dots
  EXPECT_LE(printer.Printer().height(), 6744 + 8);
  sheet.PrintPages(0, -1, printer);
  EXPECT_EQ(Info(pdf, "Pages"), "9");
  EXPECT_EQ(Info(pdf, "Title"), "Quarterly sheet");

  for (int page = 1; page <= 9; ++page) {
    const std::string text = PageText(pdf, page);
    const int colStrip = (page - 1) / 3, rowStrip = (page - 1) % 3;
    // The title row shows the heads of the page's own columns.
    const int firstCol = colStrip * 11;
    EXPECT_EQ(Count(text, "Head" + std::to_string(firstCol) + "\n"), 1) << "page " << page;
    EXPECT_EQ(Count(text, "Head"), colStrip == 2 ? 8 : 11) << "page " << page;
    if (colStrip == 0) {
      const int firstRow = rowStrip == 0 ? 0 : rowStrip == 1 ? 72 : 143;
      EXPECT_EQ(Count(text, "Row" + std::to_string(firstRow) + "\n"), 1) << "page " << page;
    }
    EXPECT_EQ(Count(text, "Secret"), 0) << "page " << page;
  }
  EXPECT_EQ(Count(PageText(pdf, 1), "Row6\n") + Count(PageText(pdf, 1), "Row8\n"), 2);
  EXPECT_EQ(Count(PageText(pdf, 1), "Row7\n"), 0);

  // Printing hidden rows brings the row back, on the first page.
  sheet.SetPrintHidden(true);
  TXLPdfPrinter again(QString::fromStdString(pdf));
  sheet.PrintPages(1, 1, again);
  EXPECT_EQ(Count(PageText(pdf, 1), "Secret"), 1);
  EXPECT_EQ(Info(pdf, "Pages"), "1");
}

TEST(Print, SheetsPrintWhereThePersonChoseAndAreLaidOutByThatPrintersPage) {
  GridUiApp();
  ServiceCapture services;
  QTemporaryDir dir;
  TXLSheet sheet;
  sheet.SetCount(sRows, 100);
  // Before the program says where sheets print there is no printer.
  TXLSheet::PrinterFactory() = nullptr;
  EXPECT_THROW(sheet.Print(), EXLGridError);
  // Nothing chosen yet: the no-printer page.
  EXPECT_EQ(XLManager().PrinterPageWidth(), 4676);
  EXPECT_EQ(XLManager().PrinterPageHeight(), 6744);

  // Without system printers the person names a PDF file; cancelling chooses nothing.
  EXPECT_FALSE(XLChoosePrinter(nullptr));
  ASSERT_EQ(services.fileDialogs.size(), 1u);
  EXPECT_TRUE(services.fileDialogs[0].save);
  EXPECT_EQ(services.fileDialogs[0].options.filter, Utf8ToCp936("PDF 文件|*.pdf"));
  EXPECT_EQ(services.fileDialogs[0].options.defaultExt, "pdf");
  EXPECT_EQ(XLManager().PrinterPageWidth(), 4676);

  const QString file = dir.filePath("all.pdf");
  services.saveAnswers = {file.toStdString()};
  ASSERT_TRUE(XLChoosePrinter(nullptr));
  // The chosen printer's page: A4 at 600 dpi less its margins.
  QPrinter& printer = PrintTarget::Printer();
  EXPECT_EQ(XLManager().PrinterDpiY(), 600);
  EXPECT_EQ(XLManager().PrinterPageWidth(), printer.width());
  EXPECT_EQ(XLManager().PrinterPageHeight(), printer.height());
  EXPECT_NE(XLManager().PrinterPageHeight(), 6744);
  sheet.SetTitle("All rows");
  sheet.Print();  // two strips of rows: 71 and 29
  EXPECT_EQ(Info(file.toStdString(), "Pages"), "2");
  EXPECT_EQ(Info(file.toStdString(), "Page size"), "595 x 842 pts (A4)");
  EXPECT_EQ(Info(file.toStdString(), "Title"), "All rows");

  // Turned across, the next choice lays the rows out on the lower page: three strips.
  printer.setPageOrientation(QPageLayout::Landscape);
  const QString wide = dir.filePath("wide.pdf");
  services.saveAnswers = {wide.toStdString()};
  ASSERT_TRUE(XLChoosePrinter(nullptr));
  EXPECT_GT(sheet.PageLayout().Page.Width(), sheet.PageLayout().Page.Height());
  sheet.Print();
  EXPECT_EQ(Info(wide.toStdString(), "Pages"), "3");
  EXPECT_EQ(Info(wide.toStdString(), "Page size"), "842 x 595 pts (A4)");
  printer.setPageOrientation(QPageLayout::Portrait);

  // A file that cannot be written reaches the caller.
  services.saveAnswers = {"/nonexistent-dir/x.pdf"};
  ASSERT_TRUE(XLChoosePrinter(nullptr));
  EXPECT_THROW(sheet.Print(), EXLGridError);
}
