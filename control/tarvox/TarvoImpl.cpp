#include "control/flow/fcEditFlow.h"
#include "control/tarvox/TarvoImpl.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "control/windows/ControlColors.h"
#include "control/tarvox/OfficeWindows.h"
#include "control/wire/RecordId.h"
#include "control/session/Un_function.h"
#include "control/wire/Un_type.h"
#include "control/windows/frmPopup.h"
#include "control/windows/frm_Abort.h"
#include "control/session/frm_Main.h"
#include "control/form/frm_Template.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/LocaleSettings.h"
#include "uikit/QtTranslations.h"

using namespace TarvoProj;

namespace {

Qt::CursorShape CursorShapeOf(int16_t code) {
  switch (code) {
    case -1: return Qt::BlankCursor;
    case -3: return Qt::CrossCursor;
    case -4: return Qt::IBeamCursor;
    case -5:
    case -22: return Qt::SizeAllCursor;
    case -6: return Qt::SizeBDiagCursor;
    case -7: return Qt::SizeVerCursor;
    case -8: return Qt::SizeFDiagCursor;
    case -9: return Qt::SizeHorCursor;
    case -10: return Qt::UpArrowCursor;
    case -11:
    case -17: return Qt::WaitCursor;
    case -12: return Qt::DragCopyCursor;
    case -13:
    case -18: return Qt::ForbiddenCursor;
    case -14: return Qt::SplitHCursor;
    case -15: return Qt::SplitVCursor;
    case -16: return Qt::DragMoveCursor;
    case -19: return Qt::BusyCursor;
    case -20: return Qt::WhatsThisCursor;
    case -21: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

// ---- TTarvoX ---------------------------------------------------------------------

TTarvoX::TTarvoX(QWidget* parent) : QWidget(parent) {
  RegisterTemplateForm();
  // The stored form.
  setObjectName("TarvoX");
  resize(338, 44);
  setWindowTitle(QStringLiteral("TarvoX"));
  SetBackground(this, color_);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);
  setFocusPolicy(Qt::StrongFocus);
  events_.OnSinkChanged = [this](IEventSink* sink) { EventSinkChanged(sink); };
  // Dates in document fields use the short date format saved by the last login.
  Guarded([] { LocaleSettings::Load(); });
  // The page's process may not have loaded them; Qt's own dialogs speak Chinese too.
  LoadQtChineseTranslations();
  ActiveFormCreate();
}

TTarvoX::~TTarvoX() {
  Guarded([this] { FireDestroy(); });
  events_.OnSinkChanged = nullptr;
  if (Tfrm_popup* popup = Tfrm_popup::Current()) delete popup;
  // The document form lives until the next document; no control, no next one.
  if (frmMain_) {
    FreeDocumentForm(*frmMain_);
    frmMain_->OnDoLogin = nullptr;
    frmMain_->OnAfterLogin = nullptr;
    frmMain_->OnSendFile = nullptr;
    frmMain_->OnDoit = nullptr;
  }
}

void TTarvoX::ActiveFormCreate() {
  // Whatever program loads the control, a failure caught at a handler is said.
  InstallFailureReporter();
  RegisterOfficeWindows();
  // The workflow editor opens for "FLOW" replies unless a test put its own window there.
  if (!ReplyWindowFactories().CreateChartEditor) RegisterChartEditor();
  frmMain_ = new TfrmMain(this);
  frmMain_->OnDoLogin = [this] { FireDoLogin(); };
  frmMain_->OnAfterLogin = [this] { FireAfterLogin(); };
  frmMain_->OnSendFile = [this] { FireSendFile(); };
  frmMain_->OnDoit = [this](const AnsiString& table, const AnsiString& id) { FireDoit(table, id); };
  frmMain_->setGeometry(rect());
  frmMain_->show();
}

void TTarvoX::EventSinkChanged(IEventSink* sink) { sinkConnected_ = sink != nullptr; }

void TTarvoX::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (frmMain_) frmMain_->setGeometry(rect());
}

// ---- methods -------------------------------------------------------------------

void TTarvoX::Login(const AnsiString& loginName) {
  if (loginName.empty()) return;
  LoginName = loginName;
  frmMain_->SetStoredLoginName(loginName);
  frmMain_->SendLogin(loginName);
}

void TTarvoX::GetFlowChart(const AnsiString& flowChartId) {
  if (flowChartId.empty()) return;
  FlowChartID = flowChartId;
  frmMain_->RequestFlowChart(flowChartId);
}

void TTarvoX::GetStream(const AnsiString& usDB, const AnsiString& usID, const AnsiString& userCMD,
                        const AnsiString& templateName, const AnsiString& usObject,
                        const AnsiString& initTableName, const AnsiString& initRecordID) {
  UsDB = usDB;
  UsID = usID;
  UserCMD = userCMD;
  Template = templateName;
  UsObject = usObject;
  InitTableName = initTableName;
  InitRecordID = initRecordID;
  const TRecordIdChoice id = NormaliseRecordId(UsID, InitTableName, InitRecordID);
  UsID = id.id;
  NewDocumentFlag() = id.newDoc ? 1 : 0;
  const int32_t objectNumber = StrToInt(UsObject);
  frmMain_->SendQuery(UsDB, "", UsID, UserCMD == "0" ? 1 : 0, Template, objectNumber, 1, InitTableName,
                      InitRecordID);
}

void TTarvoX::SetServer(const AnsiString& host, const AnsiString& port) {
  if (host.empty() || port.empty()) return;
  RemoteHost = host;
  RemotePort = port;
  const int32_t portNumber = StrToInt(port);
  // A number the socket cannot use would silently reach another port.
  if (portNumber < 0 || portNumber > 65535) throw EConvertError("'" + port + "' is not a valid port number");
  frmMain_->SetServer(host, portNumber);
}

void TTarvoX::ShowAbort() {
  auto* box = new TfrmAbort(nullptr);  // frees itself when it closes
  box->exec();
}

// ---- form properties ----------------------------------------------------------------

void TTarvoX::SetColor(TColor c) {
  color_ = c;
  SetBackground(this, c);
}

void TTarvoX::SetCursor(int16_t code) {
  cursor_ = code;
  if (code == 0) {
    unsetCursor();
  } else {
    setCursor(CursorShapeOf(code));
  }
}

bool TTarvoX::Active() const { return isActiveWindow(); }

// ---- events --------------------------------------------------------------------

void TTarvoX::Fire(DISPID id, const char* name) { events_.Fire(id, name); }

void TTarvoX::FireActivate() { Fire(DISPID_OnActivate, "OnActivate"); }
void TTarvoX::FireClick() { Fire(DISPID_OnClick, "OnClick"); }
void TTarvoX::FireDblClick() { Fire(DISPID_OnDblClick, "OnDblClick"); }
void TTarvoX::FireDeactivate() { Fire(DISPID_OnDeactivate, "OnDeactivate"); }
void TTarvoX::FireDestroy() { Fire(DISPID_OnDestroy, "OnDestroy"); }
void TTarvoX::FirePaint() { Fire(DISPID_OnPaint, "OnPaint"); }
void TTarvoX::FireDoLogin() { Fire(DISPID_OnDoLogin, "OnDoLogin"); }
void TTarvoX::FireSendFile() { Fire(DISPID_OnSendFile, "OnSendFile"); }
void TTarvoX::FireAfterLogin() { Fire(DISPID_OnAfterLogin, "OnAfterLogin"); }

void TTarvoX::FireDoit(const AnsiString& table, const AnsiString& id) {
  std::vector<EventArg> args{{"Table", Variant::FromAnsi(table)}, {"ID", Variant::FromAnsi(id)}};
  events_.Fire(DISPID_OnDoit, "OnDoit", args);
}

void TTarvoX::FireKeyPress(int16_t& key) {
  std::vector<EventArg> args{{"Key", Variant::ByRef(&key)}};
  events_.Fire(DISPID_OnKeyPress, "OnKeyPress", args);
}

bool TTarvoX::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Guarded([this] { FireActivate(); });
  if (e->type() == QEvent::WindowDeactivate) Guarded([this] { FireDeactivate(); });
  return QWidget::event(e);
}

void TTarvoX::mouseReleaseEvent(QMouseEvent* e) {
  QWidget::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) Guarded([this] { FireClick(); });
}

void TTarvoX::mouseDoubleClickEvent(QMouseEvent* e) {
  QWidget::mouseDoubleClickEvent(e);
  if (e->button() == Qt::LeftButton) Guarded([this] { FireDblClick(); });
}

void TTarvoX::keyPressEvent(QKeyEvent* e) {
  const AnsiString text = ToAnsi(e->text());
  // The page sees single-byte characters, as the form's key event carries them.
  if (text.size() != 1) {
    QWidget::keyPressEvent(e);
    return;
  }
  int16_t key = int16_t(uint8_t(text[0]));
  const int16_t original = key;
  Guarded([&] { FireKeyPress(key); });
  if (key == 0) {  // the page swallowed the key
    e->accept();
    return;
  }
  if (key == original || !parentWidget()) {
    QWidget::keyPressEvent(e);
    return;
  }
  // The changed key is what the rest of the chain sees.
  const QString changed = ToQString(AnsiString(1, char(uint8_t(key))));
  QKeyEvent replaced(e->type(), key < 128 ? key : 0, e->modifiers(), changed, e->isAutoRepeat(), e->count());
  e->accept();
  QCoreApplication::sendEvent(parentWidget(), &replaced);
}

void TTarvoX::paintEvent(QPaintEvent* e) {
  QWidget::paintEvent(e);
  Guarded([this] { FirePaint(); });
}

// ---- the font object ---------------------------------------------------------------

namespace {

// The control's font as a dispatch object: a get returns one bound to the
// control; a put or putref copies another font object's values.
class TFontDispatch : public DispatchObject {
 public:
  explicit TFontDispatch(TTarvoX* form) : DispatchObject("Font"), form_(form) {
    auto get = [this] { return form_ ? form_->font() : QFont(); };
    auto set = [this](auto change) {
      if (!form_) return;
      QFont f = form_->font();
      change(f);
      form_->setFont(f);
    };
    Table()
        .Property("Name", 0, VT_BSTR, [get] { return Variant::FromUtf8(get().family().toStdString()); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setFamily(QString::fromStdString(v.AsUtf8())); }); })
        .Property("Size", 2, VT_I4, [get] { return Variant(int32_t(FontPoints(get()))); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setPointSize(std::max(1, v.AsI4())); }); })
        .Property("Bold", 3, VT_BOOL, [get] { return Variant(get().bold()); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setBold(v.AsBool()); }); })
        .Property("Italic", 4, VT_BOOL, [get] { return Variant(get().italic()); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setItalic(v.AsBool()); }); })
        .Property("Underline", 5, VT_BOOL, [get] { return Variant(get().underline()); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setUnderline(v.AsBool()); }); })
        .Property("Strikethrough", 6, VT_BOOL, [get] { return Variant(get().strikeOut()); },
                  [set](const Variant& v) { set([&](QFont& f) { f.setStrikeOut(v.AsBool()); }); });
  }

  // Points at 96 dpi for a font given in pixels.
  static int FontPoints(const QFont& f) {
    if (f.pointSize() > 0) return f.pointSize();
    return (f.pixelSize() * 72 + 48) / 96;
  }

 private:
  QPointer<TTarvoX> form_;
};

void CopyFontFrom(TTarvoX& form, const Variant& value) {
  ComPtr<IDispatch> source = value.AsDispatch();
  if (!source) return;
  QFont f = form.font();
  Variant v;
  if (Succeeded(InvokeByName(source.Get(), u"Name", DISPATCH_PROPERTYGET, {}, &v)))
    f.setFamily(QString::fromStdString(v.AsUtf8()));
  if (Succeeded(InvokeByName(source.Get(), u"Size", DISPATCH_PROPERTYGET, {}, &v)) && v.AsI4() > 0)
    f.setPointSize(v.AsI4());
  if (Succeeded(InvokeByName(source.Get(), u"Bold", DISPATCH_PROPERTYGET, {}, &v))) f.setBold(v.AsBool());
  if (Succeeded(InvokeByName(source.Get(), u"Italic", DISPATCH_PROPERTYGET, {}, &v))) f.setItalic(v.AsBool());
  if (Succeeded(InvokeByName(source.Get(), u"Underline", DISPATCH_PROPERTYGET, {}, &v))) f.setUnderline(v.AsBool());
  if (Succeeded(InvokeByName(source.Get(), u"Strikethrough", DISPATCH_PROPERTYGET, {}, &v)))
    f.setStrikeOut(v.AsBool());
  form.setFont(f);
}

}  // namespace

// ---- TTarvoXControl --------------------------------------------------------------

TTarvoXControl::TTarvoXControl(QWidget* parent) : DispatchObject("TarvoX"), form_(new TTarvoX(parent)) {
  DeclareMembers();
}

TTarvoXControl::~TTarvoXControl() {
  // The page may release the control from inside one of its events.
  if (form_) form_->deleteLater();
}

void* TTarvoXControl::QueryExtra(const TGUID& iid) {
  if (iid == IID_ITarvoX) return static_cast<IDispatch*>(this);
  if (iid == IID_IEventSource) return static_cast<IEventSource*>(this);
  if (iid == IID_IWidgetObject) return static_cast<IWidgetObject*>(this);
  return nullptr;
}

HRESULT TTarvoXControl::Advise(IEventSink* sink, uint32_t* cookie) {
  if (!form_) return E_UNEXPECTED;
  return form_->Events().Advise(sink, cookie);
}

HRESULT TTarvoXControl::Unadvise(uint32_t cookie) {
  if (!form_) return CONNECT_E_NOCONNECTION;
  return form_->Events().Unadvise(cookie);
}

TTarvoX& TTarvoXControl::Live() const {
  if (!form_) throw Exception("The control has been destroyed");
  return *form_;
}

void TTarvoXControl::DeclareMembers() {
  auto text = [this](AnsiString TTarvoX::*field) {
    return std::pair{[this, field] { return Variant::FromAnsi(Live().*field); },
                     [this, field](const Variant& v) { Live().*field = v.AsAnsi(); }};
  };
  auto flag = [this](bool TTarvoX::*field) {
    return std::pair{[this, field] { return Variant(Live().*field); },
                     [this, field](const Variant& v) { Live().*field = v.AsBool(); }};
  };
  auto number = [this](int32_t TTarvoX::*field) {
    return std::pair{[this, field] { return Variant(Live().*field); },
                     [this, field](const Variant& v) { Live().*field = v.AsI4(); }};
  };
  auto textMember = [&](const char* name, DISPID id, AnsiString TTarvoX::*field) {
    auto [get, put] = text(field);
    Table().Property(name, id, VT_BSTR, get, put);
  };
  auto flagMember = [&](const char* name, DISPID id, bool TTarvoX::*field) {
    auto [get, put] = flag(field);
    Table().Property(name, id, VT_BOOL, get, put);
  };
  auto numberMember = [&](const char* name, DISPID id, int32_t TTarvoX::*field) {
    auto [get, put] = number(field);
    Table().Property(name, id, VT_I4, get, put);
  };

  // In the interface's member order.
  // The form's own flag, not whether the page's window shows it yet.
  Table().Property(
      "Visible", DISPID_Visible, VT_BOOL,
      [this] {
        const TTarvoX& f = Live();
        return Variant(f.parentWidget() ? f.isVisibleTo(f.parentWidget()) : f.isVisible());
      },
      [this](const Variant& v) { Live().setVisible(v.AsBool()); });
  flagMember("AutoScroll", DISPID_AutoScroll, &TTarvoX::AutoScroll);
  flagMember("AutoSize", DISPID_AutoSize, &TTarvoX::AutoSize);
  numberMember("AxBorderStyle", DISPID_AxBorderStyle, &TTarvoX::AxBorderStyle);
  Table().Property(
      "Caption", DISPID_Caption, VT_BSTR, [this] { return Variant(Live().windowTitle().toStdU16String()); },
      [this](const Variant& v) { Live().setWindowTitle(QString::fromStdU16String(v.AsBstr())); });
  Table().Property(
      "Color", DISPID_Color, VT_I4, [this] { return Variant(int32_t(Live().Color())); },
      [this](const Variant& v) { Live().SetColor(v.AsI4()); });
  Table().Property(
      "Font", DISPID_Font, VT_DISPATCH,
      [this] { return Variant(ComPtr<IDispatch>(MakeCom<TFontDispatch>(&Live()))); },
      [this](const Variant& v) { CopyFontFrom(Live(), v); }, [this](const Variant& v) { CopyFontFrom(Live(), v); });
  flagMember("KeyPreview", DISPID_KeyPreview, &TTarvoX::KeyPreview);
  numberMember("PixelsPerInch", DISPID_PixelsPerInch, &TTarvoX::PixelsPerInch);
  numberMember("PrintScale", DISPID_PrintScale, &TTarvoX::PrintScale);
  flagMember("Scaled", DISPID_Scaled, &TTarvoX::Scaled);
  Table().Property("Active", DISPID_Active, VT_BOOL, [this] { return Variant(Live().Active()); });
  flagMember("DropTarget", DISPID_DropTarget, &TTarvoX::DropTarget);
  textMember("HelpFile", DISPID_HelpFile, &TTarvoX::HelpFile);
  flagMember("DoubleBuffered", DISPID_DoubleBuffered, &TTarvoX::DoubleBuffered);
  Table().Property("VisibleDockClientCount", DISPID_VisibleDockClientCount, VT_I4,
                   [this] {
                     Live();
                     return Variant(int32_t(0));
                   });
  Table().Property(
      "Enabled", DISPID_Enabled, VT_BOOL, [this] { return Variant(Live().isEnabled()); },
      [this](const Variant& v) { Live().setEnabled(v.AsBool()); });
  Table().Property(
      "Cursor", DISPID_Cursor, VT_I2, [this] { return Variant(Live().Cursor()); },
      [this](const Variant& v) { Live().SetCursor(v.AsI2()); });

  textMember("LoginName", DISPID_LoginName, &TTarvoX::LoginName);
  Table().Method("ShowAbort", DISPID_ShowAbort, {}, [this](std::vector<Variant>&) {
    Live().ShowAbort();
    return Variant();
  });
  textMember("UserCMD", DISPID_UserCMD, &TTarvoX::UserCMD);
  textMember("UsObject", DISPID_UsObject, &TTarvoX::UsObject);
  textMember("UsID", DISPID_UsID, &TTarvoX::UsID);
  Table().Method("GetStream", DISPID_GetStream,
                 {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR}, [this](std::vector<Variant>& a) {
                   Live().GetStream(a[0].AsAnsi(), a[1].AsAnsi(), a[2].AsAnsi(), a[3].AsAnsi(), a[4].AsAnsi(),
                                    a[5].AsAnsi(), a[6].AsAnsi());
                   return Variant();
                 });
  textMember("RemoteHost", DISPID_RemoteHost, &TTarvoX::RemoteHost);
  textMember("RemotePort", DISPID_RemotePort, &TTarvoX::RemotePort);
  Table().Method("SetServer", DISPID_SetServer, {VT_BSTR, VT_BSTR}, [this](std::vector<Variant>& a) {
    Live().SetServer(a[0].AsAnsi(), a[1].AsAnsi());
    return Variant();
  });
  Table().Method("Login", DISPID_Login, {VT_BSTR}, [this](std::vector<Variant>& a) {
    Live().Login(a[0].AsAnsi());
    return Variant();
  });
  textMember("Template", DISPID_Template, &TTarvoX::Template);
  Table().Method("GetFlowChart", DISPID_GetFlowChart, {VT_BSTR}, [this](std::vector<Variant>& a) {
    Live().GetFlowChart(a[0].AsAnsi());
    return Variant();
  });
  textMember("FlowChartID", DISPID_FlowChartID, &TTarvoX::FlowChartID);
  textMember("UsDB", DISPID_UsDB, &TTarvoX::UsDB);
  textMember("InitTableName", DISPID_InitTableName, &TTarvoX::InitTableName);
  textMember("InitRecordID", DISPID_InitRecordID, &TTarvoX::InitRecordID);
}

// ---- class factory ----------------------------------------------------------------

ComPtr<IClassFactory> TarvoXFactory() {
  // A new factory each time: a held factory counts as a live object and
  // would keep the library from unloading.
  return ClassFactory::Create(
      CLASS_TarvoX, [](QWidget* parent) -> IUnknown* { return static_cast<IDispatch*>(new TTarvoXControl(parent)); });
}
