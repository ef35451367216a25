#pragma once
// An office document held by the office worker and shown in a widget: the worker paints
// the visible part of the document, and keys, typed and input-method text, mouse and
// wheel go back to it. Zoom and scrolling belong to this view.
//
// Painting and input never wait for the worker: a paint shows the last frame the worker
// sent and asks for the next, and input is posted in order behind what went before.
// When the worker dies, cannot be started or stops answering, OnWorkerLost is called once
// (later, from the event loop), the document counts as closed, and a call that noticed
// raises EOfficeWorkerLost; when OnWorkerLost is set, the window that set it tells the
// person, and the exception is Reported<...> (platform/ReportedFailure.h).
#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/office/OfficeDocument.h"
#include "platform/office/OfficeWire.h"

class TOfficeWorker;
struct TOfficeAnswer;

class TOfficeContainer : public QWidget, public IOfficeDocument {
  Q_OBJECT
 public:
  explicit TOfficeContainer(QWidget* parent = nullptr, TOfficeWorker* worker = nullptr);
  ~TOfficeContainer() override;

  // Read-only views take no keys and no clicks.
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool ReadOnly() const { return readOnly_; }
  // Name written into revisions.
  void SetAuthor(const std::string& utf8) { author_ = utf8; }
  // Lines scrolled per wheel step.
  void SetWheelLines(int n) { wheelLines_ = n; }

  std::function<void()> OnWorkerLost;
  std::function<void()> OnZoomChanged;

  // IOfficeDocument
  void Open(const std::string& path) override;
  bool IsOpen() const override { return open_; }
  TOfficeKind Kind() const override { return kind_; }
  void SetTrackRevisions(bool on) override;
  bool TrackRevisions() const override;
  void SetShowRevisions(bool on) override;
  void AcceptAllRevisions() override;
  int ProtectionType() const override;
  bool PrintDrawingObjects() const override { return printDrawings_; }
  void SetPrintDrawingObjects(bool on) override { printDrawings_ = on; }
  bool ReplaceAll(const std::string& find, const std::string& replacement) override;
  int Zoom() const override { return zoom_; }
  void SetZoom(int percent) override;
  void SetPageFit(TPageFit fit) override;
  void SmallScroll(int lines) override;
  void SaveAs(const std::string& path) override;
  void PrintToPdf(const std::string& pdfPath) override;
  void Close() override;

  // Typed text (also what an input method commits), as the keyboard would enter it.
  void TypeText(const QString& text);
  // The state the office suite last reported for a command ("" when never reported).
  std::string CommandState(const std::string& command) const;
  int ScrollY() const { return scrollY_; }
  // Counts what may have changed the document (typing, editing keys, accepted revisions,
  // replacements), so a window can tell whether it changed since it was saved.
  int ChangeCount() const { return changes_; }
  // True once the worker has sent the view as it is now.
  bool FrameCurrent() const { return open_ && !framePending_ && frameView_ == CurrentView(); }
  // The worker is busy with a call of some window; a window closing now would pull the
  // document from under it.
  bool WorkerBusy() const;
  // The worker that went away had never started (rather than stopped answering).
  bool WorkerNotStarted() const { return notStarted_; }

  // Twips (1/1440 inch) per pixel at a zoom, on a 96 dpi screen.
  static double TwipsPerPixel(int zoom) { return 1440.0 / 96.0 * 100.0 / zoom; }
  // The zoom at which pageTwips fills viewPixels, in whole percent (10..500).
  static int FitZoom(long long pageTwips, int viewPixels);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void inputMethodEvent(QInputMethodEvent*) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery q) const override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;

 private:
  // What a frame shows: its size, zoom, scroll position and the content's version.
  struct View {
    int width = 0, height = 0, zoom = 0, scrollY = 0, version = -1;
    bool operator==(const View&) const = default;
  };
  View CurrentView() const { return {width(), height(), zoom_, scrollY_, version_}; }

  std::string Request(office_wire::Op op, const office_wire::Writer& args = {}) const;
  // Sends a request about the document without waiting; done gets its answer unless the
  // worker went away. False when nothing could be sent.
  bool Post(office_wire::Op op, const office_wire::Writer& args,
            std::function<void(const TOfficeAnswer&)> done = {});
  void WorkerGone(bool notStarted);
  bool Uno(const std::string& command, const std::string& jsonArgs);
  void RefreshSize();
  void ApplySize(office_wire::Reader& sizes);
  void AfterInput();
  void ClampScroll();
  void Invalidate();
  void RequestFrame();
  void Key(int charCode, int keyCode);
  void Mouse(int type, QPointF pos, int count);

  TOfficeWorker* worker_;
  bool open_ = false;
  bool readOnly_ = false;
  bool printDrawings_ = true;
  bool lostReported_ = false;
  bool notStarted_ = false;
  int generation_ = 0;
  uint32_t docId_ = 0;  // the worker's number for the document
  TOfficeKind kind_ = TOfficeKind::Other;
  std::string author_;
  long long docWidth_ = 0, docHeight_ = 0;  // twips
  long long pageWidth_ = 0, pageHeight_ = 0;
  int zoom_ = 100;
  int scrollY_ = 0;  // pixels at the current zoom
  int wheelLines_ = 3;
  int version_ = 0;  // counts changes of the content
  int changes_ = 0;
  int endListener_ = 0;
  QImage frame_;     // the last view the worker painted
  View frameView_;
  bool framePending_ = false;
};
