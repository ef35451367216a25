// The control a page creates: TTarvoX is the form (a QWidget holding the
// session strip); TTarvoXControl is the object the page talks to, with the
// ITarvoX dispatch table and the ITarvoXEvents connection.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "control/tarvox/TarvoProj_TLB.h"
#include "core/AnsiString.h"
#include "core/Colors.h"
#include "platform/com/ComServer.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"

class TfrmMain;

class TTarvoX : public QWidget {
  Q_OBJECT
 public:
  explicit TTarvoX(QWidget* parent = nullptr);
  ~TTarvoX() override;

  TfrmMain* frmMain() const { return frmMain_; }
  EventConnection& Events() { return events_; }

  // Custom properties: text stored as given, nothing else happens on a put.
  AnsiString LoginName, UserCMD, UsObject, UsID, UsDB, Template, RemoteHost, RemotePort, FlowChartID,
      InitTableName, InitRecordID;

  void Login(const AnsiString& loginName);
  void GetFlowChart(const AnsiString& flowChartId);
  void GetStream(const AnsiString& usDB, const AnsiString& usID, const AnsiString& userCMD,
                 const AnsiString& templateName, const AnsiString& usObject, const AnsiString& initTableName,
                 const AnsiString& initRecordID);
  void SetServer(const AnsiString& host, const AnsiString& port);
  void ShowAbort();

  // Standard form properties.
  bool AutoScroll = false, AutoSize = false, KeyPreview = false, Scaled = true, DropTarget = false,
       DoubleBuffered = false;
  int32_t AxBorderStyle = TarvoProj::afbNone;
  int32_t PixelsPerInch = 96;
  int32_t PrintScale = TarvoProj::poProportional;
  AnsiString HelpFile;
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  int16_t Cursor() const { return cursor_; }
  void SetCursor(int16_t code);  // the framework's cursor codes (crDefault 0, crHandPoint -21, ...)
  bool Active() const;

  // Event firers (lost while no sink is connected).
  void FireActivate();
  void FireClick();
  void FireDblClick();
  void FireDeactivate();
  void FireDestroy();
  void FireKeyPress(int16_t& key);
  void FirePaint();
  void FireDoit(const AnsiString& table, const AnsiString& id);
  void FireDoLogin();
  void FireSendFile();
  void FireAfterLogin();

 protected:
  bool event(QEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void ActiveFormCreate();
  void EventSinkChanged(IEventSink* sink);
  void Fire(DISPID id, const char* name);

  TfrmMain* frmMain_ = nullptr;
  EventConnection events_;
  TColor color_ = clBtnFace;
  int16_t cursor_ = 0;
  bool sinkConnected_ = false;
};

// The object behind ITarvoX. Every call runs through the dispatch layer's
// guard: an exception becomes a failed result with its message.
class TTarvoXControl : public DispatchObject, public IEventSource, public IWidgetObject {
 public:
  explicit TTarvoXControl(QWidget* parent);

  HRESULT QueryInterface(const TGUID& iid, void** out) override { return DispatchObject::QueryInterface(iid, out); }
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }

  HRESULT Advise(IEventSink* sink, uint32_t* cookie) override;
  HRESULT Unadvise(uint32_t cookie) override;
  QWidget* Widget() override { return form_; }
  TTarvoX* Form() const { return form_; }

 protected:
  ~TTarvoXControl() override;
  void* QueryExtra(const TGUID& iid) override;

 private:
  TTarvoX& Live() const;  // raises when the page's window has already destroyed the form
  void DeclareMembers();

  QPointer<TTarvoX> form_;
  ServerObjectCount count_;
};

// A class factory of TarvoX.
ComPtr<IClassFactory> TarvoXFactory();
