#include "platform/PrintTarget.h"

#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <string>
#include <vector>

#include "core/AnsiString.h"
#include "platform/Services.h"

namespace {
constexpr int kFallbackDpi = 600;

struct TargetState {
  bool known = false;
  std::vector<std::function<void()>> listeners;
};

TargetState& State() {
  static TargetState state;
  return state;
}

// PDF at 600 dpi on A4 with margins of about 6 mm, so the printable area is close to the
// no-printer page; the page set-up dialog knows the paper. Its margins take whole points.
void MakePdf(QPrinter& p) {
  p.setOutputFormat(QPrinter::PdfFormat);
  p.setResolution(kFallbackDpi);
  p.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(17, 16, 17, 16),
                              QPageLayout::Point));
  p.setFullPage(false);
}

void Changed() {
  State().known = true;
  for (const auto& listener : State().listeners) listener();
}

// The folder the save dialog opens in: where the last file went, else the documents.
std::string StartFolder(const QPrinter& p) {
  if (!p.outputFileName().isEmpty()) return QFileInfo(p.outputFileName()).absolutePath().toStdString();
  const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return (QDir(docs).exists() ? docs : QDir::homePath()).toStdString();
}

bool ChoosePdfFile(QPrinter& p, QWidget* parent) {
  FileDialogOptions o;
  o.title = Utf8ToCp936("打印到文件");
  o.filter = Utf8ToCp936("PDF 文件|*.pdf");
  o.defaultExt = "pdf";
  o.initialDir = StartFolder(p);
  if (!p.outputFileName().isEmpty()) o.fileName = QFileInfo(p.outputFileName()).fileName().toStdString();
  const std::optional<std::string> name = Services::FileDialogs().SaveFile(o, parent);
  if (!name) return false;
  if (p.outputFormat() != QPrinter::PdfFormat) MakePdf(p);
  p.setOutputFileName(QString::fromStdString(*name));
  return true;
}

bool ChooseSystemPrinter(QPrinter& p, QWidget* parent) {
  // A printer still on its first PDF page starts on the system's default printer.
  if (!State().known && p.outputFormat() == QPrinter::PdfFormat) {
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) info = QPrinterInfo::availablePrinters().front();
    p.setPrinterName(info.printerName());
  }
  QPrintDialog dlg(&p, parent);
  return dlg.exec() == QDialog::Accepted;
}
}  // namespace

namespace PrintTarget {

QPrinter& Printer() {
  static QPrinter* printer = [] {
    auto* p = new QPrinter(QPrinter::HighResolution);
    MakePdf(*p);
    return p;
  }();
  return *printer;
}

std::optional<TPrinterPage> KnownPage() {
  if (!State().known) return std::nullopt;
  QPrinter& p = Printer();
  const QRect page = p.pageRect(QPrinter::DevicePixel).toRect();
  const QRect paper = p.paperRect(QPrinter::DevicePixel).toRect();
  TPrinterPage pg;
  pg.DpiX = pg.DpiY = p.resolution();
  pg.PageWidth = page.width();
  pg.PageHeight = page.height();
  pg.OffsetX = page.left() - paper.left();
  pg.OffsetY = page.top() - paper.top();
  pg.PaperWidth = paper.width();
  pg.PaperHeight = paper.height();
  // A printer that reports no resolution or no page is as good as none.
  if (pg.DpiX < 1 || pg.PageWidth < 1 || pg.PageHeight < 1) return std::nullopt;
  return pg;
}

TPrinterPage Page() {
  if (std::optional<TPrinterPage> known = KnownPage()) return *known;
  TPrinterPage pg;
  if (Printer().pageLayout().orientation() == QPageLayout::Landscape) {
    std::swap(pg.PageWidth, pg.PageHeight);
    std::swap(pg.PaperWidth, pg.PaperHeight);
  }
  return pg;
}

bool Choose(QWidget* parent) {
  QPrinter& p = Printer();
  const bool chosen = QPrinterInfo::availablePrinters().isEmpty() ? ChoosePdfFile(p, parent)
                                                                  : ChooseSystemPrinter(p, parent);
  if (chosen) Changed();
  return chosen;
}

bool SetUp(QWidget* parent) {
  QPageSetupDialog dlg(&Printer(), parent);
  if (dlg.exec() != QDialog::Accepted) return false;
  Changed();
  return true;
}

void OnChanged(std::function<void()> listener) { State().listeners.push_back(std::move(listener)); }

}  // namespace PrintTarget
