#include "platform/web/WebContent.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QEventLoop>
#include <utility>

#include "core/Exception.h"

// Qt's own setter of the context every OpenGL context of the process shares; the browser
// engine installs one the same way when it is loaded before the application exists.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

// Loaded before the application (linked into the program), the engine prepares itself;
// this asks for the shared contexts too, in case the engine's library comes later.
void AskForSharedContexts() {
  if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
Q_CONSTRUCTOR_FUNCTION(AskForSharedContexts)

QOpenGLContext*& OwnSharedContext() {
  static QOpenGLContext* c = nullptr;
  return c;
}

}  // namespace

void TWebContainer::PrepareEnvironment() {
  if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

bool TWebContainer::EnsureSharedContext() {
  if (QOpenGLContext::globalShareContext()) return true;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
  // A program that loads the control as a plug-in made its application without the
  // shared context the engine renders through; without one the engine crashes on first
  // use. It is made here, before the first view, as the engine itself would have.
  qWarning("tarvo: the application was made without Qt::AA_ShareOpenGLContexts; "
           "the web view makes the shared OpenGL context itself");
  auto* shared = new QOpenGLContext;
  if (!shared->create()) qWarning("tarvo: no OpenGL context could be created for the web view");
  qt_gl_set_global_share_context(shared);
  OwnSharedContext() = shared;
  // It goes with the application, as the one the application makes would.
  qAddPostRoutine([] {
    if (QOpenGLContext::globalShareContext() == OwnSharedContext()) qt_gl_set_global_share_context(nullptr);
    delete std::exchange(OwnSharedContext(), nullptr);
  });
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  return true;
}

TWebContainer::TWebContainer(QWidget* parent) : QWidget(parent) {
  PrepareEnvironment();
  if (!EnsureSharedContext()) throw Exception("the web view needs a graphical application");
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
