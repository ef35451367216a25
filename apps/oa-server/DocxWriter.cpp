#include "apps/oa-server/DocxWriter.h"

#include <zlib.h>

#include "core/ByteIO.h"

namespace {

constexpr uint16_t kDosTime = 0;                          // 00:00:00
constexpr uint16_t kDosDate = (46 << 9) | (1 << 5) | 1;  // 2026-01-01: fixed, so the bytes never vary

std::string XmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string BuildStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  ByteWriter out, central;
  for (const auto& [name, data] : entries) {
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    const uint32_t offset = uint32_t(out.Size());
    out.U32(0x04034b50);
    out.U16(20);  // version needed
    out.U16(0);   // flags
    out.U16(0);   // stored
    out.U16(kDosTime);
    out.U16(kDosDate);
    out.U32(crc);
    out.U32(uint32_t(data.size()));
    out.U32(uint32_t(data.size()));
    out.U16(uint16_t(name.size()));
    out.U16(0);
    out.Bytes(name);
    out.Bytes(data);

    central.U32(0x02014b50);
    central.U16(20);  // made by
    central.U16(20);
    central.U16(0);
    central.U16(0);
    central.U16(kDosTime);
    central.U16(kDosDate);
    central.U32(crc);
    central.U32(uint32_t(data.size()));
    central.U32(uint32_t(data.size()));
    central.U16(uint16_t(name.size()));
    central.U16(0);  // extra
    central.U16(0);  // comment
    central.U16(0);  // disk
    central.U16(0);  // internal attributes
    central.U32(0);  // external attributes
    central.U32(offset);
    central.Bytes(name);
  }
  const uint32_t centralAt = uint32_t(out.Size());
  out.Bytes(central.Str());
  out.U32(0x06054b50);
  out.U16(0);
  out.U16(0);
  out.U16(uint16_t(entries.size()));
  out.U16(uint16_t(entries.size()));
  out.U32(uint32_t(central.Size()));
  out.U32(centralAt);
  out.U16(0);
  return out.Take();
}

std::string BuildDocx(const std::vector<std::string>& paragraphs) {
  const std::string types =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Override PartName="/word/document.xml" )"
      R"(ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)"
      R"(</Types>)";
  const std::string rels =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Id="rId1" )"
      R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" )"
      R"(Target="word/document.xml"/>)"
      R"(</Relationships>)";
  std::string body =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)";
  for (const std::string& p : paragraphs) body += "<w:p><w:r><w:t xml:space=\"preserve\">" + XmlEscape(p) + "</w:t></w:r></w:p>";
  body += "</w:body></w:document>";
  return BuildStoredZip({{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/document.xml", body}});
}
