// The HTML viewer on the browser engine, and the comment frame.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBrowser>
#include <QTextEdit>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "ControlTestSupport.h"
#include "OfficeTestSupport.h"
#include "control/office/frame_w.h"
#include "control/office/frmshtml.h"
#include "control/wire/Un_type.h"
#include "core/DateTime.h"
#include "platform/QtText.h"
#include "platform/Services.h"
#include "platform/web/WebContent.h"
#include "uikit/TFlatSpeedButtonUnit.h"

namespace {


// Pixels of a colour close to c.
int PixelsNear(QWidget* w, QColor c) {
  QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      QColor p = img.pixelColor(x, y);
      if (std::abs(p.red() - c.red()) < 24 && std::abs(p.green() - c.green()) < 24 &&
          std::abs(p.blue() - c.blue()) < 24)
        ++n;
    }
  return n;
}

// A grab right after loading can still be blank: wait for the first painted frame.
bool WaitForPixels(QWidget* w, QColor c, int atLeast) {
  return WaitUntil([&] { return PixelsNear(w, c) >= atLeast; }, 15000);
}

QString PageText(TWebContainer* web) {
  QString text;
  bool done = false;
  web->View()->page()->toPlainText([&](const QString& t) {
    text = t;
    done = true;
  });
  WaitUntil([&] { return done; }, 5000);
  return text;
}

int FilesUnder(const QString& dir) {
  int n = 0;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    if (!it.filePath().contains("/tarvo-office-")) ++n;
  }
  return n;
}

class WebTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    TestApp();
  }
};

TEST_F(WebTest, StreamsInTheirDeclaredCharsetLeaveNoFileAndPrint) {
  const int before = FilesUnder(QDir::tempPath());
  Tfrm_Shtml view;
  view.resize(800, 600);
  view.show();

  QByteArray gb = QByteArray::fromStdString(
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
      "</head><body style=\"background:#00c000\"><p>" + Cp936("国标编码的正文") + "</p></body></html>");
  TMemoryStream gbStream(gb.toStdString());
  view.ShowContent("", &gbStream);
  ASSERT_TRUE(view.WebBrowser()->Loaded());
  EXPECT_TRUE(PageText(view.WebBrowser()).contains(QString::fromUtf8("国标编码的正文")));
  EXPECT_TRUE(WaitForPixels(view.WebBrowser(), QColor(0, 192, 0), 1000));

  TMemoryStream utf8Stream(
      "<html><head><meta charset=\"utf-8\"></head><body><p>统一码的正文</p></body></html>");
  view.ShowContent("", &utf8Stream);
  EXPECT_TRUE(PageText(view.WebBrowser()).contains(QString::fromUtf8("统一码的正文")));
  EXPECT_EQ(FilesUnder(QDir::tempPath()), before);

  ServiceCapture cap;
  const std::string pdf = TestDir() + "/printed.pdf";
  const std::string copy = TestDir() + "/saved.htm";
  cap.saveAnswers = {pdf, copy};
  view.Btn_PrintClick();
  view.Btn_SaveClick();
  QFile printed(QString::fromStdString(pdf));
  ASSERT_TRUE(printed.open(QIODevice::ReadOnly));
  EXPECT_TRUE(printed.read(5) == "%PDF-");
  QFile saved(QString::fromStdString(copy));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(saved.readAll().contains("统一码的正文"));
}

TEST_F(WebTest, TheViewerOpensMaximisedWithPicturesOnItsSaveAndPrintButtons) {
  Tfrm_Shtml view;
  view.show();
  EXPECT_TRUE(WaitUntil([&] { return view.isMaximized(); }, 5000));
  for (TFlatSpeedButton* b : {view.Btn_Save(), view.Btn_Print()}) {
    EXPECT_TRUE(b->Caption().isEmpty()) << b->Caption().toStdString();
    EXPECT_FALSE(b->Glyph().isNull()) << b->toolTip().toStdString();
    EXPECT_EQ(b->accessibleName(), b->toolTip());
  }
  // Two pictures, not one drawn twice.
  EXPECT_NE(view.Btn_Save()->Glyph(), view.Btn_Print()->Glyph());
}

TEST_F(WebTest, PicturesAndPdfFilesAreShownByPath) {
  Tfrm_Shtml view;
  view.resize(800, 600);
  view.show();

  const std::string png = TestDir() + "/picture.png";
  QImage img(300, 200, QImage::Format_RGB32);
  img.fill(QColor(200, 30, 30));
  ASSERT_TRUE(img.save(QString::fromStdString(png)));
  view.ShowContent(png, nullptr);
  EXPECT_TRUE(WaitForPixels(view.WebBrowser(), QColor(200, 30, 30), 20000));

  const std::string pdf = TestDir() + "/page.pdf";
  {
    QPdfWriter writer(QString::fromStdString(pdf));
    QPainter p(&writer);
    p.fillRect(QRect(0, 0, writer.width(), writer.height() / 2), QColor(30, 30, 200));
  }
  view.ShowContent(pdf, nullptr);
  EXPECT_TRUE(WaitForPixels(view.WebBrowser(), QColor(30, 30, 200), 5000));
}

frames::CommentRecord Comment(const char* id, const char* name, TDateTime when, const char* text) {
  return {Cp936(id), Cp936(name), when, Cp936(text)};
}

TEST(FrameW, CommentTableAlternatesRowsEscapesAndSignsOff) {
  TestApp();
  SessionValues().UserGUID = Cp936("{ME}");
  TDateTime march5 = EncodeDate(2008, 3, 5) + EncodeTime(14, 7, 0, 0);
  std::vector<frames::CommentRecord> comments = {
      Comment("{A}", "李四", march5, "同意"),
      Comment("{ME}", "张三", march5 + 1, "<b>a&b</b> \"x\""),
      Comment("{B}", "王<五>", 0, "unused"),
  };
  QWidget host;
  TFrameW* frame = new TFrameW(&host);
  host.show();
  frame->LoadComments(Cp936("{REC}"), Cp936("tblDoc"), comments);

  const AnsiString row = Cp936("<TR><TD height=1 Colspan=6 Bgcolor=#bbbbbb></TD></TR><TR bgcolor=");
  const AnsiString mark = Cp936("><TD Width=20 height=22>&nbsp;<font color=#FF9900>◆</font></TD><TD>");
  const AnsiString& page = frame->Page();
  EXPECT_NE(page.find(row + "#fafafa" + mark + Cp936("李四</TD><TD>3月05日  14:07</TD><TD><B>同意</B></TD></TR>")),
            AnsiString::npos);
  EXPECT_NE(page.find(row + "#EEFFDD" + mark +
                      Cp936("张三</TD><TD>3月06日  14:07</TD><TD><B>&lt;b&gt;a&amp;b&lt;/b&gt; &quot;x&quot;</B></TD></TR>")),
            AnsiString::npos);
  EXPECT_NE(page.find(row + "#fafafa" + mark + Cp936("王&lt;五&gt;</TD><TD></TD><TD></TD></TR>")),
            AnsiString::npos);
  EXPECT_EQ(page.find("unused"), AnsiString::npos);
  EXPECT_NE(page.find(Cp936("<TD width=180><B>参阅人员</B></TD><TD width=100><B>阅读日期</B></TD>")),
            AnsiString::npos);
  EXPECT_NE(page.find("charset=2312"), AnsiString::npos);
  EXPECT_TRUE(frame->wbReadMsg()->toPlainText().contains(QString::fromUtf8("李四")));
  EXPECT_EQ(frame->rdtMsg()->toPlainText(), QString::fromUtf8("<b>a&b</b> \"x\""));

  // A second load goes on where the colours stopped.
  frame->LoadComments(Cp936("{REC}"), Cp936("tblDoc"), {comments[0]});
  EXPECT_NE(frame->Page().find(row + "#EEFFDD" + mark + Cp936("李四")), AnsiString::npos);

  frame->rdtMsg()->setPlainText(QString::fromUtf8("第一行\n第二行"));
  const std::string qian = frame->SignOffFrame();
  ASSERT_EQ(qian.size(), 390u);
  EXPECT_EQ(qian.substr(0, 5), std::string("\x04QIAN", 5));
  EXPECT_EQ(qian.substr(5, 5), std::string("\x04{ME}", 5));
  EXPECT_EQ(qian.substr(44, 7), std::string("\x06tblDoc", 7));
  EXPECT_EQ(qian.substr(95, 6), std::string("\x05{REC}", 6));
  const AnsiString text = Cp936("第一行\r\n第二行");
  EXPECT_EQ(static_cast<uint8_t>(qian[134]), text.size());
  EXPECT_EQ(qian.substr(135, text.size()), text);
  frame->SendSignOff();
  EXPECT_FALSE(host.isVisible());
}

}  // namespace
