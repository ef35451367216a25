#include "platform/office/OfficeContainer.h"

#include <QInputMethodEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include "core/AnsiString.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/ReportedFailure.h"
#include "platform/office/OfficeWorker.h"

using namespace office_wire;

namespace {

// The suite's key codes (its awt key numbering) and modifier bits.
enum : int {
  kKeyDown = 1024, kKeyUp = 1025, kKeyLeft = 1026, kKeyRight = 1027, kKeyHome = 1028,
  kKeyEnd = 1029, kKeyPageUp = 1030, kKeyPageDown = 1031, kKeyReturn = 1280,
  kKeyEscape = 1281, kKeyTab = 1282, kKeyBackspace = 1283, kKeyInsert = 1285,
  kKeyDelete = 1286, kKeyA = 512,
  kModShift = 0x1000, kModCtrl = 0x2000, kModAlt = 0x4000,
};
enum : int { kKeyInput = 0, kKeyRelease = 1 };
enum : int { kMouseDown = 0, kMouseUp = 1 };

// One line of a small scroll, as a 12 pt text line.
constexpr int kLineTwips = 240;

std::string Json(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject Arg(const char* type, const QJsonValue& v) {
  return QJsonObject{{"type", type}, {"value", v}};
}

// The format the suite saves in, by the file's extension.
std::string FormatFor(const std::string& path) {
  const std::string ext = LowerCase(ExtractFileExt(path));
  if (ext == ".doc" || ext == ".dot") return "doc";
  if (ext == ".docx") return "docx";
  if (ext == ".rtf") return "rtf";
  if (ext == ".xls") return "xls";
  if (ext == ".xlsx") return "xlsx";
  if (ext == ".odt") return "odt";
  if (ext == ".ods") return "ods";
  if (ext == ".pdf") return "pdf";
  return "";
}

}  // namespace

TOfficeContainer::TOfficeContainer(QWidget* parent, TOfficeWorker* worker)
    : QWidget(parent), worker_(worker ? worker : &TOfficeWorker::Shared()) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPointer<TOfficeContainer> self(this);
  endListener_ = worker_->AddEndListener([self](int generation) {
    if (self && self->open_ && self->generation_ == generation) self->WorkerGone(false);
  });
}

TOfficeContainer::~TOfficeContainer() {
  worker_->RemoveEndListener(endListener_);
  Guarded([&] {
    if (!open_ || !worker_->Running() || worker_->Generation() != generation_) return;
    Writer w;
    w.U32(docId_);
    // Sent, not waited for: waiting runs the event loop, and a widget half destroyed
    // (this one, its parent) must not be painted or walked meanwhile. The worker takes
    // its requests in order, so a later open still finds this one closed.
    worker_->Post(Op::Close, w, [](const TOfficeAnswer&) {});
  });
}

bool TOfficeContainer::WorkerBusy() const { return worker_->Calling(); }

int TOfficeContainer::FitZoom(long long pageTwips, int viewPixels) {
  if (pageTwips <= 0 || viewPixels <= 0) return 100;
  long long z = viewPixels * 100LL * 15 / pageTwips;
  return static_cast<int>(std::clamp<long long>(z, 10, 500));
}

std::string TOfficeContainer::Request(Op op, const Writer& args) const {
  if (!open_ && op != Op::Open) throw EOfficeError("no document is open");
  if (op != Op::Open && worker_->Generation() != generation_)
    throw EOfficeWorkerLost("the office worker was restarted");
  auto* self = const_cast<TOfficeContainer*>(this);
  try {
    if (op == Op::Open) return worker_->Call(op, args);
    Writer withDoc;
    withDoc.U32(docId_);
    withDoc.Raw(args.Payload());
    return worker_->Call(op, withDoc);
  } catch (const EOfficeWorkerNotStarted& e) {
    self->WorkerGone(true);
    // The window's report says it; whoever catches this next need not say it again.
    if (OnWorkerLost) throw Reported<EOfficeWorkerNotStarted>(e.Message());
    throw;
  } catch (const EOfficeWorkerLost& e) {
    self->WorkerGone(false);
    if (OnWorkerLost) throw Reported<EOfficeWorkerLost>(e.Message());
    throw;
  }
}

bool TOfficeContainer::Post(Op op, const Writer& args, std::function<void(const TOfficeAnswer&)> done) {
  if (!open_) return false;
  if (worker_->Generation() != generation_ || !worker_->Running()) {
    WorkerGone(false);
    return false;
  }
  Writer withDoc;
  withDoc.U32(docId_);
  withDoc.Raw(args.Payload());
  QPointer<TOfficeContainer> self(this);
  worker_->Post(op, withDoc, [self, done = std::move(done)](const TOfficeAnswer& a) {
    if (!self) return;
    if (a.status == TOfficeAnswer::Lost) return self->WorkerGone(false);
    if (done) done(a);
  });
  return true;
}

void TOfficeContainer::WorkerGone(bool notStarted) {
  open_ = false;
  if (lostReported_) return;
  lostReported_ = true;
  notStarted_ = notStarted;
  // Told from the event loop: the caller may be painting or inside a handler.
  QTimer::singleShot(0, this, [this] {
    if (OnWorkerLost) OnWorkerLost();
  });
}

bool TOfficeContainer::Uno(const std::string& command, const std::string& jsonArgs) {
  Writer w;
  w.Str(command);
  w.Str(jsonArgs);
  const std::string answer = Request(Op::Uno, w);
  Reader r(answer);
  Invalidate();
  return r.U8() != 0;
}

void TOfficeContainer::Open(const std::string& path) {
  if (open_) Close();
  Writer w;
  w.Str(path);
  QJsonObject opts;
  if (!author_.empty()) opts[".uno:Author"] = Arg("string", QString::fromStdString(author_));
  w.Str(opts.isEmpty() ? std::string() : Json(opts));
  const std::string answer = Request(Op::Open, w);
  Reader r(answer);
  generation_ = worker_->Generation();
  docId_ = r.U32();
  int type = r.I32();
  kind_ = type == 0 ? TOfficeKind::Text : type == 1 ? TOfficeKind::Spreadsheet : TOfficeKind::Other;
  docWidth_ = r.I64();
  docHeight_ = r.I64();
  open_ = true;
  lostReported_ = false;
  notStarted_ = false;
  framePending_ = false;
  frame_ = QImage();
  scrollY_ = 0;
  RefreshSize();
  Invalidate();
}

void TOfficeContainer::Close() {
  if (!open_) return;
  if (worker_->Generation() == generation_ && worker_->Running()) Request(Op::Close);
  open_ = false;
  frame_ = QImage();
  Invalidate();
}

void TOfficeContainer::RefreshSize() {
  const std::string answer = Request(Op::DocSize);
  Reader r(answer);
  ApplySize(r);
}

void TOfficeContainer::ApplySize(Reader& r) {
  docWidth_ = r.I64();
  docHeight_ = r.I64();
  // "x, y, w, h; x, y, w, h; ..." for text documents; a sheet is one page.
  std::string rects = r.Str();
  pageWidth_ = docWidth_;
  pageHeight_ = docHeight_;
  QStringList first = QString::fromStdString(rects).section(';', 0, 0).split(',');
  if (first.size() == 4) {
    pageWidth_ = first[2].trimmed().toLongLong();
    pageHeight_ = first[3].trimmed().toLongLong();
  }
  ClampScroll();
}

// Input may have grown the document; its new size follows the input to the worker.
void TOfficeContainer::AfterInput() {
  Post(Op::DocSize, {}, [this](const TOfficeAnswer& a) {
    if (a.status != TOfficeAnswer::Ok) return;
    Guarded([&] {
      Reader r(a.data);
      ApplySize(r);
    });
    update();
  });
  Invalidate();
}

void TOfficeContainer::SetTrackRevisions(bool on) {
  Uno(".uno:TrackChanges", Json({{"TrackChanges", Arg("boolean", on)}}));
}

bool TOfficeContainer::TrackRevisions() const { return CommandState(".uno:TrackChanges") == "true"; }

void TOfficeContainer::SetShowRevisions(bool on) {
  Uno(".uno:ShowTrackedChanges", Json({{"ShowTrackedChanges", Arg("boolean", on)}}));
}

void TOfficeContainer::AcceptAllRevisions() {
  ++changes_;
  Uno(".uno:AcceptAllTrackedChanges", "");
}

int TOfficeContainer::ProtectionType() const {
  // Revision tracking locked by a password is Word's "allow only revisions" (0).
  return CommandState(".uno:ProtectTraceChangeMode") == "true" ? 0 : -1;
}

std::string TOfficeContainer::CommandState(const std::string& command) const {
  if (!open_) return "";
  Writer w;
  w.Str(command);
  const std::string answer = Request(Op::State, w);
  return Reader(answer).Str();
}

bool TOfficeContainer::ReplaceAll(const std::string& find, const std::string& replacement) {
  QJsonObject args{
      {"SearchItem.SearchString", Arg("string", QString::fromStdString(find))},
      {"SearchItem.ReplaceString", Arg("string", QString::fromStdString(replacement))},
      {"SearchItem.Command", Arg("long", 3)},        // replace all
      {"SearchItem.AlgorithmType", Arg("short", 0)},  // literal text, no patterns
      {"SearchItem.Backward", Arg("boolean", false)},
  };
  bool found = Uno(".uno:ExecuteSearch", Json(args));
  if (found) ++changes_;
  RefreshSize();
  return found;
}

void TOfficeContainer::SetZoom(int percent) {
  percent = std::clamp(percent, 10, 500);
  if (percent == zoom_) return;
  double topTwips = scrollY_ * TwipsPerPixel(zoom_);
  zoom_ = percent;
  scrollY_ = static_cast<int>(topTwips / TwipsPerPixel(zoom_));
  ClampScroll();
  Invalidate();
  if (OnZoomChanged) OnZoomChanged();
}

void TOfficeContainer::SetPageFit(TPageFit fit) {
  if (fit == TPageFit::None || pageWidth_ <= 0) return;
  int z = FitZoom(pageWidth_, width());
  if (fit == TPageFit::FullPage) z = std::min(z, FitZoom(pageHeight_, height()));
  SetZoom(z);
}

void TOfficeContainer::SmallScroll(int lines) {
  scrollY_ += static_cast<int>(lines * kLineTwips / TwipsPerPixel(zoom_));
  ClampScroll();
  Invalidate();
}

void TOfficeContainer::ClampScroll() {
  int maxY = std::max(0, static_cast<int>(docHeight_ / TwipsPerPixel(zoom_)) - height());
  scrollY_ = std::clamp(scrollY_, 0, maxY);
}

void TOfficeContainer::SaveAs(const std::string& path) {
  Writer w;
  w.Str(path);
  w.Str(FormatFor(path));
  w.Str("");
  Request(Op::SaveAs, w);
}

void TOfficeContainer::PrintToPdf(const std::string& pdfPath) {
  Writer w;
  w.Str(pdfPath);
  w.Str("pdf");
  w.Str("");
  Request(Op::SaveAs, w);
}

void TOfficeContainer::Invalidate() {
  ++version_;
  update();
}

void TOfficeContainer::resizeEvent(QResizeEvent*) {
  ClampScroll();
  update();
}

void TOfficeContainer::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(128, 128, 128));
  if (!frame_.isNull()) {
    // Until the worker sends the view as it is now, the last frame stands in for it.
    const int dy = frameView_.zoom == zoom_ ? frameView_.scrollY - scrollY_ : 0;
    p.drawImage(0, dy, frame_);
  }
  if (open_ && !(frameView_ == CurrentView())) RequestFrame();
}

// One frame is asked for at a time; when it comes the view may have moved on, and the
// next paint asks again.
void TOfficeContainer::RequestFrame() {
  if (framePending_ || width() <= 0 || height() <= 0) return;
  const View view = CurrentView();
  const double tpp = TwipsPerPixel(zoom_);
  Writer w;
  w.I32(width());
  w.I32(height());
  w.I32(0);
  w.I32(static_cast<int>(scrollY_ * tpp));
  w.I32(static_cast<int>(width() * tpp));
  w.I32(static_cast<int>(height() * tpp));
  framePending_ = Post(Op::Paint, w, [this, view](const TOfficeAnswer& a) {
    framePending_ = false;
    // A view the worker cannot paint is not asked for again.
    frameView_ = view;
    if (a.status == TOfficeAnswer::Ok) {
      Guarded([&] {
        const std::string_view pixels = Reader(a.data).View();
        if (pixels.size() != static_cast<size_t>(view.width) * view.height * 4) return;
        // The suite paints premultiplied BGRA, which is ARGB32 in memory on little-endian.
        frame_ = QImage(reinterpret_cast<const uchar*>(pixels.data()), view.width, view.height,
                        view.width * 4, QImage::Format_ARGB32_Premultiplied)
                     .copy();
      });
    }
    update();
  });
}

void TOfficeContainer::Key(int charCode, int keyCode) {
  // Moving about and copying change nothing; every other key may.
  const int key = keyCode & 0x0FFF;
  const bool moves = (key >= kKeyDown && key <= kKeyPageDown) || key == kKeyEscape || key == kKeyInsert;
  const bool copies = (keyCode & kModCtrl) && (key == kKeyA + ('C' - 'A') || key == kKeyA);
  if (!moves && !copies) ++changes_;
  Writer w;
  w.I32(kKeyInput);
  w.I32(charCode);
  w.I32(keyCode);
  Post(Op::Key, w);
  Writer up;
  up.I32(kKeyRelease);
  up.I32(charCode);
  up.I32(keyCode);
  Post(Op::Key, up);
  AfterInput();
}

void TOfficeContainer::TypeText(const QString& text) {
  if (text.isEmpty() || !open_ || readOnly_) return;
  ++changes_;
  Writer w;
  w.Str(text.toStdString());
  Post(Op::Text, w);
  AfterInput();
}

void TOfficeContainer::keyPressEvent(QKeyEvent* e) {
  if (!open_ || readOnly_) return QWidget::keyPressEvent(e);
  Guarded([&] {
    int mods = 0;
    if (e->modifiers() & Qt::ShiftModifier) mods |= kModShift;
    if (e->modifiers() & Qt::ControlModifier) mods |= kModCtrl;
    if (e->modifiers() & Qt::AltModifier) mods |= kModAlt;
    int code = 0, ch = 0;
    switch (e->key()) {
      case Qt::Key_Down: code = kKeyDown; break;
      case Qt::Key_Up: code = kKeyUp; break;
      case Qt::Key_Left: code = kKeyLeft; break;
      case Qt::Key_Right: code = kKeyRight; break;
      case Qt::Key_Home: code = kKeyHome; break;
      case Qt::Key_End: code = kKeyEnd; break;
      case Qt::Key_PageUp: code = kKeyPageUp; break;
      case Qt::Key_PageDown: code = kKeyPageDown; break;
      case Qt::Key_Return:
      case Qt::Key_Enter: code = kKeyReturn; ch = 13; break;
      case Qt::Key_Escape: code = kKeyEscape; ch = 27; break;
      case Qt::Key_Tab: code = kKeyTab; ch = 9; break;
      case Qt::Key_Backspace: code = kKeyBackspace; ch = 8; break;
      case Qt::Key_Insert: code = kKeyInsert; break;
      case Qt::Key_Delete: code = kKeyDelete; ch = 127; break;
      default: break;
    }
    if (code == 0 && (mods & (kModCtrl | kModAlt)) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
      code = kKeyA + (e->key() - Qt::Key_A);
    if (code != 0) return Key(ch, code | mods);
    if (!e->text().isEmpty() && e->text()[0].isPrint()) TypeText(e->text());
  });
  e->accept();
}

void TOfficeContainer::inputMethodEvent(QInputMethodEvent* e) {
  if (open_ && !readOnly_) Guarded([&] { TypeText(e->commitString()); });
  e->accept();
}

QVariant TOfficeContainer::inputMethodQuery(Qt::InputMethodQuery q) const {
  if (q == Qt::ImEnabled) return open_ && !readOnly_;
  return QWidget::inputMethodQuery(q);
}

void TOfficeContainer::Mouse(int type, QPointF pos, int count) {
  const double tpp = TwipsPerPixel(zoom_);
  Writer w;
  w.I32(type);
  w.I32(static_cast<int>(pos.x() * tpp));
  w.I32(static_cast<int>((pos.y() + scrollY_) * tpp));
  w.I32(count);
  w.I32(1);  // left button
  w.I32(0);
  Post(Op::Mouse, w);
  Invalidate();
}

void TOfficeContainer::mousePressEvent(QMouseEvent* e) {
  setFocus();
  if (!open_ || readOnly_ || e->button() != Qt::LeftButton) return;
  Guarded([&] { Mouse(kMouseDown, e->position(), 1); });
}

void TOfficeContainer::mouseReleaseEvent(QMouseEvent* e) {
  if (!open_ || readOnly_ || e->button() != Qt::LeftButton) return;
  Guarded([&] { Mouse(kMouseUp, e->position(), 1); });
}

void TOfficeContainer::mouseDoubleClickEvent(QMouseEvent* e) {
  if (!open_ || readOnly_ || e->button() != Qt::LeftButton) return;
  Guarded([&] {
    Mouse(kMouseDown, e->position(), 2);
    Mouse(kMouseUp, e->position(), 2);
  });
}

void TOfficeContainer::wheelEvent(QWheelEvent* e) {
  int steps = e->angleDelta().y() / 120;
  if (steps != 0) SmallScroll(-steps * wheelLines_);
  e->accept();
}
