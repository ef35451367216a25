#include "imaging/ui/SaneDsm.h"

#include <sane/sane.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <thread>

#include "core/AnsiString.h"
#include "core/ByteIO.h"
#include "core/Rounding.h"
#include "platform/Services.h"

namespace {
// A page read without a known height stops here rather than filling memory.
constexpr size_t kMaxPageBytes = size_t(1) << 30;
// The scan area: an A4 page, or the whole bed when it is smaller.
constexpr double kA4WidthMm = 210.0, kA4HeightMm = 297.0;

TW_UINT16 ConditionOf(SANE_Status st) {
  switch (st) {
    case SANE_STATUS_JAMMED: return TWCC_PAPERJAM;
    case SANE_STATUS_NO_MEM: return TWCC_LOWMEMORY;
    case SANE_STATUS_INVAL: return TWCC_BADVALUE;
    default: return TWCC_OPERATIONERROR;
  }
}

QString ConfigFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/tarvo/sane-source";
}

std::map<std::string, std::string>& ExtraOptions() {
  static std::map<std::string, std::string> options;
  return options;
}

struct Dsm {
  bool open = false;
  SANE_Handle device = nullptr;
  std::deque<TW_UINT16> messages;
  TW_UINT16 condition = TWCC_SUCCESS;
  // Settings negotiated through capabilities.
  int xres = 200, yres = 200;
  int pixelType = -1, bitDepth = 0;
  bool started = false;  // a page is started and not yet read
  bool active = false;   // between sane_start and sane_cancel
  bool feeder = false;
  QPointer<QDialog> ui;
  // While a page is read: the progress window, the bytes read so far (by the
  // reading thread) and of the whole page, and the person's 取消.
  QPointer<QDialog> progress;
  std::atomic<int64_t> bytesRead{0};
  int64_t bytesExpected = 0;
  int page = 0;
  bool cancelRequested = false;
  bool busy = false;  // a SANE call runs on the reading thread
};

Dsm& State() {
  static Dsm dsm;
  return dsm;
}

// Wakes the scanner's message loop, which waits for Qt events.
void Queue(TW_UINT16 msg) {
  State().messages.push_back(msg);
  if (QCoreApplication* app = QCoreApplication::instance())
    QCoreApplication::postEvent(app, new QEvent(QEvent::User));
}

int FindOption(SANE_Handle h, const char* name, const SANE_Option_Descriptor** out) {
  for (SANE_Int i = 1;; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
    if (!d) return -1;
    if (d->name && std::strcmp(d->name, name) == 0) {
      *out = d;
      return i;
    }
  }
}

// Option numbers as text, with '.' whatever the C library's locale says.
std::string Number(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}
double ParseNumber(const std::string& text) {
  const char* first = text.c_str();
  while (*first == ' ' || *first == '+') ++first;
  double v = 0;
  std::from_chars(first, text.c_str() + text.size(), v);
  return v;
}

// Sets a SANE option from text (numbers for numeric options); inactive and
// unknown options are skipped, as a source that lacks a setting scans anyway.
bool SetOption(SANE_Handle h, const char* name, const std::string& value) {
  const SANE_Option_Descriptor* d = nullptr;
  const int i = FindOption(h, name, &d);
  if (i < 0 || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) return false;
  SANE_Int info = 0;
  switch (d->type) {
    case SANE_TYPE_BOOL: {
      SANE_Word w = (value == "yes" || value == "true" || value == "1") ? SANE_TRUE : SANE_FALSE;
      return sane_control_option(h, i, SANE_ACTION_SET_VALUE, &w, &info) == SANE_STATUS_GOOD;
    }
    case SANE_TYPE_INT: {
      // A number the device's word cannot hold is not set.
      const double v = RoundHalfAway(ParseNumber(value));
      if (!(v >= std::numeric_limits<SANE_Word>::min() && v <= std::numeric_limits<SANE_Word>::max())) return false;
      SANE_Word w = SANE_Word(v);
      return sane_control_option(h, i, SANE_ACTION_SET_VALUE, &w, &info) == SANE_STATUS_GOOD;
    }
    case SANE_TYPE_FIXED: {
      SANE_Word w = SANE_FIX(ParseNumber(value));
      return sane_control_option(h, i, SANE_ACTION_SET_VALUE, &w, &info) == SANE_STATUS_GOOD;
    }
    case SANE_TYPE_STRING: {
      std::vector<char> buf(size_t(std::max<SANE_Int>(d->size, SANE_Int(value.size() + 1))));
      std::memcpy(buf.data(), value.c_str(), value.size() + 1);
      return sane_control_option(h, i, SANE_ACTION_SET_VALUE, buf.data(), &info) ==
             SANE_STATUS_GOOD;
    }
    default:
      return false;
  }
}

double OptionNumber(SANE_Handle h, const char* name, double fallback) {
  const SANE_Option_Descriptor* d = nullptr;
  const int i = FindOption(h, name, &d);
  if (i < 0 || !SANE_OPTION_IS_ACTIVE(d->cap)) return fallback;
  SANE_Word w = 0;
  if (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) return fallback;
  if (sane_control_option(h, i, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD)
    return fallback;
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

double RangeMax(SANE_Handle h, const char* name, double fallback) {
  const SANE_Option_Descriptor* d = nullptr;
  if (FindOption(h, name, &d) < 0 || d->constraint_type != SANE_CONSTRAINT_RANGE) return fallback;
  const SANE_Range* r = d->constraint.range;
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(r->max) : double(r->max);
}

// Mode, depth, resolution and area, every one set explicitly.
void ApplySettings(Dsm& s) {
  SANE_Handle h = s.device;
  for (const auto& [name, value] : ExtraOptions()) SetOption(h, name.c_str(), value);
  const auto src = ExtraOptions().find("source");
  s.feeder = src != ExtraOptions().end() && src->second != "Flatbed";
  switch (s.pixelType) {
    case TWPT_BW:
      if (!SetOption(h, "mode", "Lineart")) {
        SetOption(h, "mode", "Gray");
        SetOption(h, "depth", "1");
      }
      break;
    case TWPT_GRAY:
      SetOption(h, "mode", "Gray");
      SetOption(h, "depth", "8");
      break;
    case TWPT_RGB:
      SetOption(h, "mode", "Color");
      SetOption(h, "depth", "8");
      break;
    default:
      break;
  }
  if (!SetOption(h, "x-resolution", Number(s.xres)) || !SetOption(h, "y-resolution", Number(s.yres)))
    SetOption(h, "resolution", Number(s.xres));
  const double w = std::min(kA4WidthMm, RangeMax(h, "br-x", kA4WidthMm));
  const double ht = std::min(kA4HeightMm, RangeMax(h, "br-y", kA4HeightMm));
  SetOption(h, "tl-x", "0");
  SetOption(h, "tl-y", "0");
  SetOption(h, "br-x", Number(w));
  SetOption(h, "br-y", Number(ht));
}

// Runs a SANE call that may take seconds (a page read, a feeder's next start)
// on a thread of its own while this one goes on painting and taking clicks.
template <class Fn>
SANE_Status AwayFromGui(Fn call) {
  Dsm& s = State();
  if (!QCoreApplication::instance()) return call();
  s.busy = true;
  QEventLoop loop;
  SANE_Status result = SANE_STATUS_GOOD;
  std::thread worker([&] {
    result = call();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  s.busy = false;
  return result;
}

// Shown while pages are read. Keys and the close box do nothing here, so a key
// pressed during a scan closes nothing; 取消 stops the feeder after the page
// being read, which is kept.
class TScanProgress : public QDialog {
 public:
  explicit TScanProgress(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("正在扫描"));
    setWindowModality(Qt::ApplicationModal);
    label_ = new QLabel;
    bar_ = new QProgressBar;
    bar_->setRange(0, 100);
    cancel_ = new QPushButton(QString::fromUtf8("取消"));
    // Only a click cancels: Enter or Space pressed for the form must not.
    cancel_->setAutoDefault(false);
    cancel_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    setMinimumWidth(300);
    connect(cancel_, &QPushButton::clicked, this, [this] {
      State().cancelRequested = true;
      cancel_->setEnabled(false);
      Update();
    });
    connect(&timer_, &QTimer::timeout, this, [this] { Update(); });
    timer_.start(100);
    Update();
  }
  void Update() {
    const Dsm& s = State();
    label_->setText(s.cancelRequested ? QString::fromUtf8("正在取消：本页扫描完后停止")
                                      : QString::fromUtf8("正在扫描第 %1 页").arg(std::max(1, s.page)));
    if (s.bytesExpected > 0) {
      bar_->setRange(0, 100);
      bar_->setValue(int(std::min<int64_t>(100, s.bytesRead * 100 / s.bytesExpected)));
    } else {
      bar_->setRange(0, 0);  // a hand scanner: the length is unknown
    }
  }
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* e) override { e->ignore(); }

 private:
  QLabel* label_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  QTimer timer_;
};

QWidget* PersonsWindow();

void ShowProgress(Dsm& s) {
  if (s.progress || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  auto* dlg = new TScanProgress(PersonsWindow());
  s.progress = dlg;
  dlg->show();
}

void CloseProgress(Dsm& s) {
  if (!s.progress) return;
  // Keys pressed while the last page was handled are still queued: they go to
  // this window, where they do nothing, and not to the form once it is gone.
  QCoreApplication::processEvents();
  delete s.progress.data();
}

TW_UINT16 Fail(TW_UINT16 condition) {
  State().condition = condition;
  return TWRC_FAILURE;
}

void EndScan(Dsm& s) {
  if (s.device && s.active) sane_cancel(s.device);
  s.started = s.active = false;
}

// A scan the device could not finish is told here, as a scanner's own driver
// would: the scanner itself ends the acquisition without a word. The person's
// own 取消 needs no telling.
void SayScanFailed(Dsm& s, SANE_Status st) {
  if (st == SANE_STATUS_GOOD || st == SANE_STATUS_EOF || st == SANE_STATUS_CANCELLED) return;
  const char* reason = nullptr;
  switch (st) {
    case SANE_STATUS_NO_DOCS: reason = "进纸器中没有纸张"; break;
    case SANE_STATUS_JAMMED: reason = "进纸器卡纸"; break;
    case SANE_STATUS_DEVICE_BUSY: reason = "扫描仪正忙"; break;
    case SANE_STATUS_COVER_OPEN: reason = "扫描仪盖子没有关好"; break;
    case SANE_STATUS_IO_ERROR: reason = "与扫描仪通信出错"; break;
    case SANE_STATUS_NO_MEM: reason = "内存不足"; break;
    case SANE_STATUS_ACCESS_DENIED: reason = "没有使用扫描仪的权限"; break;
    default: reason = sane_strstatus(st); break;
  }
  // Over the person's window, not over a progress window that is going away.
  CloseProgress(s);
  // The box's loop runs inside a source call: nothing it starts may use the device.
  s.busy = true;
  ShowMessageBox(Utf8ToCp936(std::string("扫描失败：") + reason), Cp936("扫描"), MsgIcon::Warning);
  s.busy = false;
}

TW_UINT16 StartPage(Dsm& s) {
  s.active = true;
  ShowProgress(s);
  ++s.page;
  SANE_Handle h = s.device;
  const SANE_Status st = AwayFromGui([h] { return sane_start(h); });
  if (st != SANE_STATUS_GOOD) {
    EndScan(s);
    SayScanFailed(s, st);
    return Fail(ConditionOf(st));
  }
  s.started = true;
  return TWRC_SUCCESS;
}

TW_UINT16 ImageInfo(Dsm& s, TW_IMAGEINFO* info) {
  if (!s.device) return Fail(TWCC_SEQERROR);
  if (!s.started && StartPage(s) != TWRC_SUCCESS) return TWRC_FAILURE;
  SANE_Parameters p{};
  if (sane_get_parameters(s.device, &p) != SANE_STATUS_GOOD) return Fail(TWCC_OPERATIONERROR);
  const bool colour = p.format != SANE_FRAME_GRAY;
  const int res = int(OptionNumber(s.device, "resolution", s.xres));
  info->XResolution = TW_FIX32{TW_INT16(OptionNumber(s.device, "x-resolution", res)), 0};
  info->YResolution = TW_FIX32{TW_INT16(OptionNumber(s.device, "y-resolution", res)), 0};
  info->ImageWidth = p.pixels_per_line;
  info->ImageLength = p.lines;
  info->SamplesPerPixel = colour ? 3 : 1;
  for (int i = 0; i < info->SamplesPerPixel; ++i) info->BitsPerSample[i] = TW_INT16(p.depth);
  info->BitsPerPixel = TW_INT16(colour ? 24 : (p.depth == 1 ? 1 : 8));
  info->PixelType = TW_INT16(colour ? TWPT_RGB : (p.depth == 1 ? TWPT_BW : TWPT_GRAY));
  return TWRC_SUCCESS;
}

// Reads one frame to its end, away from the GUI thread. Returns SANE_STATUS_EOF
// when it is complete.
SANE_Status ReadFrame(SANE_Handle h, std::vector<uint8_t>& out) {
  std::atomic<int64_t>& counter = State().bytesRead;
  return AwayFromGui([h, &out, &counter] {
    std::vector<uint8_t> buf(65536);
    for (;;) {
      SANE_Int n = 0;
      const SANE_Status st = sane_read(h, buf.data(), SANE_Int(buf.size()), &n);
      if (n > 0) {
        if (out.size() + size_t(n) > kMaxPageBytes) return SANE_STATUS_NO_MEM;
        out.insert(out.end(), buf.data(), buf.data() + n);
        counter += n;
      }
      if (st != SANE_STATUS_GOOD) return st;
    }
  });
}

TW_UINT16 NativeTransfer(Dsm& s, HGLOBAL* out) {
  if (!s.device || !s.started) return Fail(TWCC_SEQERROR);
  TSanePage page;
  page.grey16Levels = s.pixelType == TWPT_GRAY && s.bitDepth == 4;
  page.dpi = int(OptionNumber(s.device, "resolution", s.xres));
  std::vector<uint8_t> planes[3];
  for (bool last = false; !last;) {
    SANE_Parameters p{};
    if (sane_get_parameters(s.device, &p) != SANE_STATUS_GOOD) {
      EndScan(s);
      return Fail(TWCC_OPERATIONERROR);
    }
    std::vector<uint8_t> frame;
    s.bytesRead = 0;
    s.bytesExpected = p.lines > 0 ? int64_t(p.bytes_per_line) * p.lines : 0;
    ShowProgress(s);
    const SANE_Status st = ReadFrame(s.device, frame);
    if (st != SANE_STATUS_EOF) {
      EndScan(s);
      if (st == SANE_STATUS_CANCELLED) return TWRC_CANCEL;
      SayScanFailed(s, st);
      return Fail(ConditionOf(st));
    }
    page.width = p.pixels_per_line;
    page.depth = p.depth;
    last = p.last_frame;
    const int bytesPerSample = p.depth == 16 ? 2 : 1;
    if (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB) {
      page.channels = p.format == SANE_FRAME_RGB ? 3 : 1;
      page.bytesPerLine = p.bytes_per_line;
      page.data = std::move(frame);
    } else if (p.format >= SANE_FRAME_RED && p.format <= SANE_FRAME_BLUE) {
      planes[p.format - SANE_FRAME_RED] = std::move(frame);
      page.channels = 3;
      page.bytesPerLine = p.pixels_per_line * 3 * bytesPerSample;
    } else {
      EndScan(s);
      return Fail(TWCC_BADVALUE);
    }
    // The next frame of a three-pass scan needs its own start.
    SANE_Handle h = s.device;
    if (last) continue;
    if (const SANE_Status next = AwayFromGui([h] { return sane_start(h); }); next != SANE_STATUS_GOOD) {
      EndScan(s);
      SayScanFailed(s, next);
      return Fail(ConditionOf(next));
    }
  }
  if (!planes[0].empty()) {
    // Three passes: interleave the red, green and blue planes.
    const int bps = page.depth == 16 ? 2 : 1;
    const size_t samples = std::min({planes[0].size(), planes[1].size(), planes[2].size()}) / bps;
    page.data.assign(samples * 3 * bps, 0);
    for (size_t i = 0; i < samples; ++i)
      for (int c = 0; c < 3; ++c)
        std::memcpy(&page.data[(i * 3 + c) * bps], &planes[c][i * bps], size_t(bps));
  }
  page.height = page.bytesPerLine > 0 ? int(page.data.size() / size_t(page.bytesPerLine)) : 0;
  // The frame is complete; the feeder's next page starts at the end of this transfer.
  s.started = false;
  if (page.width <= 0 || page.height <= 0) return Fail(TWCC_OPERATIONERROR);
  *out = PackSanePage(page);
  if (!*out) {
    SayScanFailed(s, SANE_STATUS_NO_MEM);
    return Fail(TWCC_LOWMEMORY);
  }
  return TWRC_XFERDONE;
}

TW_UINT16 EndTransfer(Dsm& s, TW_PENDINGXFERS* p) {
  p->Count = 0;
  if (!s.device) return TWRC_SUCCESS;
  // 取消 ends the batch here, with the page just read kept. A transfer that
  // failed or was cancelled has ended the scan already: no further sheet is fed.
  if (!s.feeder || s.cancelRequested || !s.active) {
    EndScan(s);
    return TWRC_SUCCESS;
  }
  SANE_Handle h = s.device;
  ++s.page;
  const SANE_Status st = AwayFromGui([h] { return sane_start(h); });
  if (st == SANE_STATUS_GOOD) {
    s.started = true;
    p->Count = 0xFFFF;
    return TWRC_SUCCESS;
  }
  EndScan(s);
  // An empty feeder after a page is the batch's normal end.
  if (st == SANE_STATUS_NO_DOCS) return TWRC_SUCCESS;
  // A jammed feeder ends the batch: the next image request fails and the
  // scanner resets the pending transfers. The pages read so far are kept.
  SayScanFailed(s, st);
  s.condition = ConditionOf(st);
  p->Count = 0;
  return TWRC_SUCCESS;
}

TW_UINT16 SetCapability(Dsm& s, TW_CAPABILITY* cap) {
  if (!cap || cap->ConType != TWON_ONEVALUE || !cap->hContainer) return Fail(TWCC_BADCAP);
  const auto* one = static_cast<const TW_ONEVALUE*>(GlobalLock(HGLOBAL(cap->hContainer)));
  if (!one) return Fail(TWCC_BADCAP);
  const TW_UINT32 item = one->Item;
  switch (cap->Cap) {
    case ICAP_XRESOLUTION:
      s.xres = int(TW_INT16(item & 0xFFFF));
      return TWRC_SUCCESS;
    case ICAP_YRESOLUTION:
      s.yres = int(TW_INT16(item & 0xFFFF));
      return TWRC_SUCCESS;
    case ICAP_PIXELTYPE:
      // Palette scans have no SANE counterpart: refused, the source keeps its mode.
      if (item == TWPT_PALETTE) return Fail(TWCC_BADVALUE);
      s.pixelType = int(item);
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
      s.bitDepth = int(item);
      return TWRC_SUCCESS;
    case ICAP_XFERMECH:
      return item == TWSX_NATIVE ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case CAP_XFERCOUNT:
    case ICAP_UNITS:
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADCAP);
  }
}

// The window the person is working in when the source shows its dialog: the
// top modal window (the scan form, run modally by the attachment manager), else
// the active one. A dialog outside that window's family would be blocked by it.
QWidget* PersonsWindow() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

// The source's own dialog: mode, resolution and feeder, then Scan or Cancel.
// It belongs to the person's window and is modal to it, so it takes clicks and
// keys under a modal form and the form waits for its answer.
void ShowSourceDialog(Dsm& s, QWidget* parent) {
  auto* dlg = new QDialog(parent);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setWindowModality(Qt::WindowModal);
  dlg->setWindowTitle(QString::fromUtf8("扫描"));
  auto* form = new QFormLayout;
  auto* mode = new QComboBox;
  mode->addItem(QString::fromUtf8("黑白"), int(TWPT_BW));
  mode->addItem(QString::fromUtf8("灰度"), int(TWPT_GRAY));
  mode->addItem(QString::fromUtf8("彩色"), int(TWPT_RGB));
  mode->setCurrentIndex(std::max(0, mode->findData(s.pixelType < 0 ? int(TWPT_GRAY) : s.pixelType)));
  auto* res = new QSpinBox;
  res->setRange(50, 1200);
  res->setValue(s.xres);
  auto* source = new QComboBox;
  source->addItem(QString::fromUtf8("平板"), QStringLiteral("Flatbed"));
  source->addItem(QString::fromUtf8("进纸器"), QStringLiteral("Automatic Document Feeder"));
  source->setCurrentIndex(s.feeder ? 1 : 0);
  form->addRow(QString::fromUtf8("模式"), mode);
  form->addRow(QString::fromUtf8("分辨率"), res);
  form->addRow(QString::fromUtf8("来源"), source);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QString::fromUtf8("扫描"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(dlg);
  layout->addLayout(form);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
  QObject::connect(dlg, &QDialog::accepted, dlg, [mode, res, source] {
    Dsm& st = State();
    st.pixelType = mode->currentData().toInt();
    st.xres = st.yres = res->value();
    ExtraOptions()["source"] = source->currentData().toString().toStdString();
    if (st.device) ApplySettings(st);
    Queue(MSG_XFERREADY);
  });
  // Cancel, Escape and the window's close all end the acquisition: the
  // scanner's loop waits for one of the two messages.
  QObject::connect(dlg, &QDialog::rejected, dlg, [] { Queue(MSG_CLOSEDSREQ); });
  s.ui = dlg;
  dlg->show();
}

TW_UINT16 SelectDevice(QWidget* parent) {
  // The default first: finding it may ask SANE for the list again, which frees the one
  // read here.
  const QString current = QString::fromStdString(SaneDefaultSource());
  const SANE_Device** list = nullptr;
  // No device at all is a failure, not a choice the person made.
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list || !list[0])
    return Fail(TWCC_NODS);
  QDialog dlg(parent);
  dlg.setWindowTitle(QString::fromUtf8("选择扫描仪"));
  auto* names = new QListWidget;
  for (int i = 0; list[i]; ++i) {
    const QString name = QString::fromUtf8(list[i]->name);
    // The device name too: two scanners of one model would read the same.
    auto* item = new QListWidgetItem(QString::fromUtf8(list[i]->vendor) + " " +
                                     QString::fromUtf8(list[i]->model) + " (" + name + ")");
    item->setData(Qt::UserRole, name);
    names->addItem(item);
    if (name == current) names->setCurrentItem(item);
  }
  if (!names->currentItem()) names->setCurrentRow(0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(&dlg);
  layout->addWidget(names);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (dlg.exec() != QDialog::Accepted || !names->currentItem()) return TWRC_CANCEL;
  SetSaneDefaultSource(names->currentItem()->data(Qt::UserRole).toString().toStdString());
  return TWRC_SUCCESS;
}

void CopyName(TW_STR32& dst, const std::string& name) {
  std::memset(dst.text, 0, sizeof dst.text);
  std::memcpy(dst.text, name.data(), std::min(name.size(), sizeof dst.text - 1));
}
}  // namespace

std::string SaneDefaultSource() {
  if (const char* env = std::getenv("TARVO_SANE_DEVICE"); env && *env) return env;
  QFile f(ConfigFile());
  if (f.open(QIODevice::ReadOnly)) {
    const QByteArray name = f.readLine().trimmed();
    if (!name.isEmpty()) return name.toStdString();
  }
  const SANE_Device** list = nullptr;
  if (State().open && sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD && list && list[0])
    return list[0]->name;
  return {};
}

void SetSaneDefaultSource(const std::string& device) {
  QDir().mkpath(QFileInfo(ConfigFile()).path());
  QFile f(ConfigFile());
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write((device + "\n").c_str());
}

void SetSaneSourceOptions(const std::map<std::string, std::string>& options) {
  ExtraOptions() = options;
}

HGLOBAL PackSanePage(const TSanePage& page) {
  const int w = page.width, h = page.height;
  if (w <= 0 || h <= 0 || page.bytesPerLine <= 0 ||
      page.data.size() < size_t(page.bytesPerLine) * size_t(h))
    return nullptr;
  const bool colour = page.channels == 3;
  const int bits = colour ? 24 : (page.depth == 1 ? 1 : (page.grey16Levels ? 4 : 8));
  const int colours = colour ? 0 : (1 << bits);
  const size_t stride = ((size_t(w) * size_t(bits) + 31) / 32) * 4;
  const size_t header = 40 + size_t(colours) * 4;
  HGLOBAL block = GlobalAlloc(header + stride * size_t(h));
  if (!block) return nullptr;
  auto* out = static_cast<uint8_t*>(GlobalLock(block));
  // A device's absurd resolution stays within the header's field.
  using Field = std::numeric_limits<int32_t>;
  const int32_t ppm = int32_t(std::clamp(RoundHalfAway(page.dpi / 0.0254), double(Field::min()), double(Field::max())));
  ByteWriter info;
  info.U32(40);
  info.I32(w);
  info.I32(h);
  info.U16(1);  // planes
  info.U16(uint16_t(bits));
  info.U32(0);  // uncompressed
  info.U32(uint32_t(stride * size_t(h)));
  info.I32(ppm);
  info.I32(ppm);
  info.U32(uint32_t(colours));
  info.U32(0);  // all colours important
  for (int i = 0; i < colours; ++i) {
    const uint8_t v = uint8_t(i * 255 / (colours - 1));
    info.U8(v);
    info.U8(v);
    info.U8(v);
    info.U8(0);
  }
  std::memcpy(out, info.Str().data(), info.Size());
  const int bps = page.depth == 16 ? 2 : 1;
  // The high byte of a 16-bit sample, in the machine's byte order as SANE sends it.
  auto sample = [&](const uint8_t* row, size_t index) -> uint8_t {
    if (bps == 2) {
      uint16_t v;
      std::memcpy(&v, row + index * 2, 2);
      return uint8_t(v >> 8);
    }
    return row[index];
  };
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = page.data.data() + size_t(y) * size_t(page.bytesPerLine);
    uint8_t* dst = out + header + size_t(h - 1 - y) * stride;
    if (colour && page.depth == 1) {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const size_t bit = size_t(x) * 3 + size_t(c);
          dst[x * 3 + 2 - c] = (src[bit / 8] >> (7 - bit % 8)) & 1 ? 255 : 0;
        }
    } else if (colour) {
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) dst[x * 3 + 2 - c] = sample(src, size_t(x) * 3 + size_t(c));
    } else if (bits == 1) {
      // SANE's 1 is black; the table says 0 = black.
      for (size_t i = 0; i < size_t((w + 7) / 8); ++i) dst[i] = uint8_t(~src[i]);
      if (w % 8) dst[w / 8] &= uint8_t(0xFF << (8 - w % 8));
    } else if (bits == 4) {
      for (int x = 0; x < w; ++x) {
        const uint8_t v = sample(src, size_t(x)) >> 4;
        dst[x / 2] |= (x & 1) ? v : uint8_t(v << 4);
      }
    } else {
      for (int x = 0; x < w; ++x) dst[x] = sample(src, size_t(x));
    }
  }
  return block;
}

TW_UINT16 SaneDsmEntry(TW_IDENTITY*, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                       TW_UINT16 msg, TW_MEMREF data) {
  Dsm& s = State();
  // Events are handled while a page is read; nothing they start may use the
  // device meanwhile.
  if (s.busy && !(dg == DG_CONTROL && (dat == DAT_STATUS || dat == DAT_EVENT))) return Fail(TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_PARENT) {
    if (msg == MSG_OPENDSM) {
      if (s.open) return TWRC_SUCCESS;
      // SANE stays initialised for the life of the process: backends keep
      // buffers that an exit and a new init would strand, and the device
      // list is slow to build again.
      static bool initialised = false;
      if (!initialised) {
        SANE_Int version = 0;
        if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) return Fail(TWCC_BUMMER);
        initialised = true;
      }
      s.open = true;
      return TWRC_SUCCESS;
    }
    if (msg == MSG_CLOSEDSM) {
      if (s.ui) delete s.ui.data();
      CloseProgress(s);
      if (s.device) {
        EndScan(s);
        sane_close(s.device);
        s.device = nullptr;
      }
      s.open = false;
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADVALUE);
  }
  if (!s.open) return Fail(TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    auto* st = static_cast<TW_STATUS*>(data);
    st->ConditionCode = s.condition;
    s.condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
    auto* id = static_cast<TW_IDENTITY*>(data);
    switch (msg) {
      case MSG_USERSELECT:
        return SelectDevice(PersonsWindow());
      case MSG_GETDEFAULT:
        CopyName(id->ProductName, SaneDefaultSource());
        return TWRC_SUCCESS;
      case MSG_OPENDS: {
        if (s.device) return Fail(TWCC_SEQERROR);
        const std::string name = SaneDefaultSource();
        if (name.empty() || sane_open(name.c_str(), &s.device) != SANE_STATUS_GOOD) {
          s.device = nullptr;
          return Fail(TWCC_NODS);
        }
        s.xres = s.yres = 200;
        s.pixelType = -1;
        s.bitDepth = 0;
        s.started = false;
        s.messages.clear();
        id->Id = 1;
        CopyName(id->ProductName, name);
        return TWRC_SUCCESS;
      }
      case MSG_CLOSEDS:
        // Accepted in any state, so a failed transfer never blocks the close.
        if (s.ui) delete s.ui.data();
        CloseProgress(s);
        if (!s.device) return Fail(TWCC_SEQERROR);
        EndScan(s);
        sane_close(s.device);
        s.device = nullptr;
        s.messages.clear();
        return TWRC_SUCCESS;
      default:
        return Fail(TWCC_BADVALUE);
    }
  }
  if (!s.device) return Fail(TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY && msg == MSG_SET)
    return SetCapability(s, static_cast<TW_CAPABILITY*>(data));
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) {
    if (msg == MSG_ENABLEDS) {
      s.cancelRequested = false;
      s.page = 0;
      const auto* ui = static_cast<TW_USERINTERFACE*>(data);
      if (ui->ShowUI) {
        // Not parented to the scanner's window: it is disabled while the source is
        // enabled, and never shown.
        ShowSourceDialog(s, PersonsWindow());
      } else {
        ApplySettings(s);
        Queue(MSG_XFERREADY);
      }
      return TWRC_SUCCESS;
    }
    if (msg == MSG_DISABLEDS) {
      if (s.ui) delete s.ui.data();
      CloseProgress(s);
      EndScan(s);
      s.messages.clear();
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADVALUE);
  }
  if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
    auto* ev = static_cast<TW_EVENT*>(data);
    if (s.messages.empty()) return TWRC_NOTDSEVENT;
    ev->TWMessage = s.messages.front();
    s.messages.pop_front();
    return TWRC_DSEVENT;
  }
  if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
    auto* p = static_cast<TW_PENDINGXFERS*>(data);
    if (msg == MSG_ENDXFER) return EndTransfer(s, p);
    if (msg == MSG_RESET) {
      EndScan(s);
      p->Count = 0;
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADVALUE);
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET)
    return ImageInfo(s, static_cast<TW_IMAGEINFO*>(data));
  if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET)
    return NativeTransfer(s, static_cast<HGLOBAL*>(data));
  return Fail(TWCC_BADVALUE);
}
