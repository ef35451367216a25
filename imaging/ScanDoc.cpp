#include "imaging/ScanDoc.h"

#include <algorithm>
#include <charconv>

namespace {
// A4, the page of the locale; landscape pages turn it.
constexpr double kPageWidthMm = 210.0, kPageHeightMm = 297.0;
// An inline picture of the page's full height would push a line onto a new page.
constexpr double kSlackMm = 2.0;

std::string Base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4 + in.size() / 57 + 1);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = unsigned(uint8_t(in[i])) << 16 | unsigned(uint8_t(in[i + 1])) << 8 |
                       uint8_t(in[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i < in.size()) {
    unsigned v = unsigned(uint8_t(in[i])) << 16;
    if (i + 1 < in.size()) v |= unsigned(uint8_t(in[i + 1])) << 8;
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += i + 1 < in.size() ? table[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// "210.00mm" in every locale: the file's reader wants a point.
std::string Mm(double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  return std::string(buf, res.ptr) + "mm";
}

std::string PageLayout(const char* name, bool portrait) {
  const double w = portrait ? kPageWidthMm : kPageHeightMm;
  const double h = portrait ? kPageHeightMm : kPageWidthMm;
  return std::string("<style:page-layout style:name=\"") + name +
         "\"><style:page-layout-properties fo:page-width=\"" + Mm(w) + "\" fo:page-height=\"" +
         Mm(h) + "\" style:print-orientation=\"" + (portrait ? "portrait" : "landscape") +
         "\" fo:margin-top=\"0mm\" fo:margin-bottom=\"0mm\" fo:margin-left=\"0mm\" "
         "fo:margin-right=\"0mm\"/></style:page-layout>";
}

std::string ParagraphStyle(const char* name) {
  return std::string("<style:style style:name=\"") + name +
         "\" style:family=\"paragraph\" style:master-page-name=\"" + name +
         "\"><style:paragraph-properties fo:margin-top=\"0mm\" fo:margin-bottom=\"0mm\" "
         "fo:text-align=\"center\"/></style:style>";
}

std::string Picture(const TScanDocPage& p, int n) {
  const bool portrait = ScanPageIsPortrait(p.width, p.height);
  const double pageW = (portrait ? kPageWidthMm : kPageHeightMm) - kSlackMm;
  const double pageH = (portrait ? kPageHeightMm : kPageWidthMm) - kSlackMm;
  double w = p.width * 25.4 / (p.dpiX > 0 ? p.dpiX : 96);
  double h = p.height * 25.4 / (p.dpiY > 0 ? p.dpiY : 96);
  const double f = std::min({1.0, pageW / std::max(w, 0.01), pageH / std::max(h, 0.01)});
  w *= f;
  h *= f;
  return "<draw:frame draw:style-name=\"Picture\" draw:name=\"Page" + std::to_string(n) +
         "\" text:anchor-type=\"as-char\" svg:width=\"" + Mm(w) + "\" svg:height=\"" + Mm(h) +
         "\"><draw:image><office:binary-data>" + Base64(p.jpeg) +
         "</office:binary-data></draw:image></draw:frame>";
}
}  // namespace

std::string WriteScanDocument(const std::vector<TScanDocPage>& pages) {
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
      "<office:automatic-styles>" +
      PageLayout("PortraitLayout", true) + PageLayout("LandscapeLayout", false) +
      ParagraphStyle("Portrait") + ParagraphStyle("Landscape") +
      "<style:style style:name=\"Picture\" style:family=\"graphic\"><style:graphic-properties "
      "style:vertical-pos=\"top\" style:vertical-rel=\"baseline\"/></style:style>"
      "</office:automatic-styles>\n<office:master-styles>"
      "<style:master-page style:name=\"Portrait\" style:page-layout-name=\"PortraitLayout\"/>"
      "<style:master-page style:name=\"Landscape\" style:page-layout-name=\"LandscapeLayout\"/>"
      "</office:master-styles>\n<office:body><office:text>\n";
  if (pages.empty()) doc += "<text:p text:style-name=\"Portrait\"/>\n";
  int n = 0;
  for (const TScanDocPage& p : pages) {
    // A paragraph whose style names another master page starts a new page.
    const char* style = ScanPageIsPortrait(p.width, p.height) ? "Portrait" : "Landscape";
    doc += std::string("<text:p text:style-name=\"") + style + "\">" + Picture(p, ++n) +
           "</text:p>\n";
  }
  doc += "</office:text></office:body></office:document>\n";
  return doc;
}
