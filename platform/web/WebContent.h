#pragma once
// What the HTML viewer asks of the browser control: show a file (web page, picture, text,
// PDF) or an HTML text held in memory, print it, save its source. The one backend is
// TWebContainer on the browser engine.
#include <QByteArray>
#include <QWidget>
#include <memory>
#include <string>

class QWebEngineView;

class IWebContent {
 public:
  virtual ~IWebContent() = default;
  // Shows a file by its path.
  virtual void Navigate(const std::string& path) = 0;
  // Shows HTML bytes in the charset they declare (GB2312 when they declare none); no
  // file is written.
  virtual void ShowHtml(const QByteArray& html) = 0;
  // Writes what is shown as PDF; false when it failed or did not finish in time.
  virtual bool PrintToPdf(const std::string& pdfPath) = 0;
  // Writes the source bytes (the file, or the HTML as given); false when it failed.
  virtual bool SaveSourceAs(const std::string& path) = 0;
};

class TWebContainer : public QWidget, public IWebContent {
  Q_OBJECT
 public:
  explicit TWebContainer(QWidget* parent = nullptr);
  ~TWebContainer() override;

  void Navigate(const std::string& path) override;
  void ShowHtml(const QByteArray& html) override;
  bool PrintToPdf(const std::string& pdfPath) override;
  bool SaveSourceAs(const std::string& path) override;

  // Pumps events until the last load finished (bounded). True when it did.
  bool WaitLoaded(int timeoutMs = 5000);
  bool Loaded() const { return loaded_; }
  QWebEngineView* View() const { return view_; }

  // The charset an HTML text declares in a meta tag, or "" when none.
  static QByteArray DeclaredCharset(const QByteArray& html);
  // Turns the browser engine's sandbox off when running as root, where it cannot work.
  static void PrepareEnvironment();
  // Makes sure the process has the OpenGL context the engine shares, making it when the
  // application was created without one; false when there is no graphical application.
  static bool EnsureSharedContext();

 private:
  QWebEngineView* view_;
  bool loaded_ = false;
  bool fromStream_ = false;
  QByteArray source_;
  std::string path_;
};
