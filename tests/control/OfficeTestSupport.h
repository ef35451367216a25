// Shared pieces of the office tests: documents made by the worker itself, reading a part
// of a saved document, and counting what a grabbed widget shows.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <string>

#include "platform/office/OfficeContainer.h"

inline std::string TestDir() {
  QString dir = QDir::tempPath() + "/office-tests";
  QDir().mkpath(dir);
  return dir.toStdString();
}

inline void WriteText(const std::string& path, const QByteArray& bytes) {
  QFile f(QString::fromStdString(path));
  f.open(QIODevice::WriteOnly | QIODevice::Truncate);
  f.write(bytes);
}

// Converts a file the suite reads by its content (HTML, flat OpenDocument) into the
// format the target's extension names, through the worker.
inline void ConvertWithWorker(const std::string& from, const std::string& to) {
  TOfficeContainer c;
  c.Open(from);
  c.SaveAs(to);
  c.Close();
}

// A Word document with a placeholder and some body text.
inline std::string MakeDocx(const std::string& name, int paragraphs = 1) {
  std::string html = TestDir() + "/" + name + ".html";
  QByteArray body = "<html><head><meta charset=\"utf-8\"></head><body><p>[标题]</p>";
  for (int i = 0; i < paragraphs; ++i)
    body += "<p>Body text of the document, paragraph " + QByteArray::number(i) +
            ", long enough to fill a line or two of the page with words.</p>";
  body += "</body></html>";
  WriteText(html, body);
  std::string docx = TestDir() + "/" + name + ".docx";
  ConvertWithWorker(html, docx);
  return docx;
}

inline std::string MakeXlsx(const std::string& name) {
  std::string fods = TestDir() + "/" + name + ".fods";
  WriteText(fods,
            R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet"><office:body><office:spreadsheet><table:table table:name="Sheet1"><table:table-row><table:table-cell><text:p>Sheet text [标题]</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet></office:body></office:document>)");
  std::string xlsx = TestDir() + "/" + name + ".xlsx";
  ConvertWithWorker(fods, xlsx);
  return xlsx;
}

// One member of a zip file (a saved .docx), through the unzip tool.
inline std::string ZipMember(const QByteArray& zip, const char* member) {
  std::string path = TestDir() + "/member.zip";
  WriteText(path, zip);
  QProcess p;
  p.start("unzip", {"-p", QString::fromStdString(path), member});
  p.waitForFinished(10000);
  return p.readAllStandardOutput().toStdString();
}

// The view once the worker has painted it as it is now (it paints without waiting, so
// a first grab may still show the frame before).
inline QImage CurrentFrame(TOfficeContainer* c) {
  QElapsedTimer t;
  t.start();
  while (!c->FrameCurrent() && t.elapsed() < 20000) {
    c->grab();  // a paint asks for the frame it lacks
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return c->grab().toImage();
}

// Dark pixels of an image: text drawn on the page.
inline int InkPixels(const QImage& grabbed) {
  QImage img = grabbed.convertToFormat(QImage::Format_RGB32);
  int ink = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      QRgb p = img.pixel(x, y);
      if (qRed(p) < 100 && qGreen(p) < 100 && qBlue(p) < 100) ++ink;
    }
  return ink;
}

inline int InkPixels(TOfficeContainer* c) { return InkPixels(CurrentFrame(c)); }
