#include "platform/web/WebContent.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QEventLoop>

void TWebContainer::PrepareEnvironment() {
  if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

TWebContainer::TWebContainer(QWidget* parent) : QWidget(parent) {
  PrepareEnvironment();
  view_ = new QWebEngineView(this);
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(view_);
  QWebEngineSettings* s = view_->settings();
  s->setAttribute(QWebEngineSettings::PluginsEnabled, true);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
  // Local pages (time-stamped attachment copies) may not reach the network.
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  connect(view_, &QWebEngineView::loadStarted, this, [this] { loaded_ = false; });
  connect(view_, &QWebEngineView::loadFinished, this, [this](bool) { loaded_ = true; });
}

TWebContainer::~TWebContainer() = default;

QByteArray TWebContainer::DeclaredCharset(const QByteArray& html) {
  static const QRegularExpression re(
      R"(<meta[^>]*charset\s*=\s*["']?([A-Za-z0-9_\-]+))",
      QRegularExpression::CaseInsensitiveOption);
  // The declaration sits in the head; the first few kilobytes hold it.
  QRegularExpressionMatch m = re.match(QString::fromLatin1(html.left(4096)));
  return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

void TWebContainer::Navigate(const std::string& path) {
  fromStream_ = false;
  path_ = path;
  source_.clear();
  loaded_ = false;
  view_->load(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TWebContainer::ShowHtml(const QByteArray& html) {
  fromStream_ = true;
  path_.clear();
  source_ = html;
  QByteArray charset = DeclaredCharset(html);
  // Pages of this system without a declaration are code page 936.
  if (charset.isEmpty() || charset == "2312") charset = "gb2312";
  loaded_ = false;
  view_->setContent(html, "text/html;charset=" + charset);
}

bool TWebContainer::WaitLoaded(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!loaded_ && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return loaded_;
}

bool TWebContainer::PrintToPdf(const std::string& pdfPath) {
  bool done = false, ok = false;
  QMetaObject::Connection c = connect(view_->page(), &QWebEnginePage::pdfPrintingFinished, this,
                                      [&](const QString&, bool success) {
                                        done = true;
                                        ok = success;
                                      });
  view_->page()->printToPdf(QString::fromStdString(pdfPath));
  QDeadlineTimer deadline(30000);
  while (!done && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  disconnect(c);
  return done && ok;
}

bool TWebContainer::SaveSourceAs(const std::string& path) {
  QString target = QString::fromStdString(path);
  if (!fromStream_) {
    if (path_.empty()) return false;
    QFile::remove(target);
    return QFile::copy(QString::fromStdString(path_), target);
  }
  QFile f(target);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(source_) == source_.size();
}
