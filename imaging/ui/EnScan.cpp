#include "imaging/ui/EnScan.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstring>

#include "core/ScopeGuard.h"
#include "imaging/ui/SaneDsm.h"

namespace {
bool scannerExists = false;
DSMENTRYPROC sourceManager = &SaneDsmEntry;

void SetStr32(TW_STR32& s, const std::string& text) {
  std::memset(s.text, 0, sizeof s.text);
  std::memcpy(s.text, text.data(), std::min<size_t>(text.size(), 32));
}
}  // namespace

void TScanner::SetSourceManager(DSMENTRYPROC entry) { sourceManager = entry; }

TScanner::TScanner() {
  if (scannerExists) throw EScannerError("Only one scanner object is permitted");
  link_.app.Id = 0;
  link_.app.Version.MajorNum = 1;
  link_.app.Version.MinorNum = 0;
  link_.app.Version.Language = 2;
  link_.app.Version.Country = 1;
  link_.app.ProtocolMajor = 1;
  link_.app.ProtocolMinor = 5;
  link_.app.SupportedGroups = DG_CONTROL | DG_IMAGE;
  scannerExists = single_ = true;
}

TScanner::~TScanner() {
  CloseSourceManager();
  if (single_) scannerExists = false;
}

void TScanner::SetProductName(const std::string& name) { SetStr32(link_.app.ProductName, name); }

void TScanner::OpenSourceManager() {
  if (link_.entry) return;
  if (!sourceManager) throw EScannerError("GetProcAddress failed: DSM_Entry");
  link_.entry = sourceManager;
  window_ = std::make_unique<QWidget>();
  window_->setWindowTitle(QStringLiteral("Twain Window"));
  if (!TwainCall(link_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, window_.get())) {
    window_.reset();
    link_.entry = nullptr;
    throw EScannerError("Unable to open TWAIN source manager");
  }
}

void TScanner::CloseSourceManager() {
  if (window_) {
    TwainCall(link_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, window_.get());
    window_.reset();
  }
  link_.entry = nullptr;
}

bool TScanner::TwainAvailable() {
  if (link_.entry) return true;
  try {
    OpenSourceManager();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

bool TScanner::SelectSource() {
  OpenSourceManager();
  link_.source = TW_IDENTITY{};
  noSource_ = false;
  TW_UINT16 rc = 0;
  if (TwainCall(link_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &link_.source, &rc))
    return true;
  if (rc == TWRC_FAILURE) {
    TW_STATUS status{};
    link_.entry(&link_.app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    noSource_ = status.ConditionCode == TWCC_NODS;
  }
  return false;
}

void TScanner::SetNoUICapabilities() {
  static const TW_UINT16 pixelTypes[] = {TWPT_BW, TWPT_GRAY, TWPT_GRAY,
                                         TWPT_PALETTE, TWPT_PALETTE, TWPT_RGB};
  static const TW_UINT16 depths[] = {1, 4, 8, 4, 8, 24};
  if (imageFormat_ < 0 || imageFormat_ > 5) throw ETwainError("Invalid image type");
  // TW_FIX32 as one 32-bit item: the whole part low, the fraction (0) high.
  SetOneValueCapability(link_, ICAP_XRESOLUTION, TWTY_FIX32, xres_);
  SetOneValueCapability(link_, ICAP_YRESOLUTION, TWTY_FIX32, yres_);
  SetOneValueCapability(link_, ICAP_PIXELTYPE, TWTY_UINT16, pixelTypes[imageFormat_]);
  SetOneValueCapability(link_, ICAP_BITDEPTH, TWTY_UINT16, depths[imageFormat_]);
}

void TScanner::Acquire(void* context, TImageCallback callback) {
  OpenSourceManager();
  link_.source = TW_IDENTITY{};
  if (!TwainCall(link_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &link_.source))
    throw ETwainError("Unable to open TWAIN data source");
  // On an exception the source is closed quietly, so its error is the one
  // that reaches the caller.
  auto closeOnFailure = ScopeFail([this] {
    if (link_.source.Id != 0)
      TwainCall(link_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &link_.source);
    link_.source = TW_IDENTITY{};
  });
  {
    const bool wasEnabled = window_->isEnabled();
    window_->setEnabled(false);
    auto reenable = ScopeExit([this, wasEnabled] {
      if (wasEnabled && window_) window_->setEnabled(true);
    });
    SetOneValueCapability(link_, ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE);
    SetOneValueCapability(link_, CAP_XFERCOUNT, TWTY_INT16, TW_UINT16(-1));
    SetOneValueCapability(link_, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    if (!showUI_) SetNoUICapabilities();
    TW_USERINTERFACE ui{TW_BOOL(showUI_ ? 0xFFFF : 0), 0, window_.get()};
    if (!TwainCall(link_, &link_.source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui))
      throw ETwainError("Unable to enable twain source.");
    auto disable = ScopeExit([this] {
      TW_USERINTERFACE off{0, 0, window_.get()};
      TwainCall(link_, &link_.source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off);
    });
    TwainMessageLoop(context, callback);
  }
  if (link_.source.Id != 0) {
    const bool closed =
        TwainCall(link_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &link_.source);
    link_.source = TW_IDENTITY{};
    if (!closed) throw ETwainError("Unable to close TWAIN data source");
  }
}

void TScanner::TwainMessageLoop(void* context, const TImageCallback& callback) {
  link_.done = false;
  while (!link_.done) {
    while (!link_.done && ProcessTwainEvent(context, callback)) {
    }
    if (link_.done || QCoreApplication::closingDown()) break;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

bool TScanner::ProcessTwainEvent(void* context, const TImageCallback& callback) {
  TW_EVENT ev{nullptr, 0};
  TW_UINT16 rc = 0;
  TwainCall(link_, &link_.source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev, &rc);
  if (rc != TWRC_DSEVENT) return false;
  if (ev.TWMessage == MSG_XFERREADY)
    TransferImages(context, callback);
  else if (ev.TWMessage == MSG_CLOSEDSREQ)
    link_.done = true;
  return true;
}

void TScanner::TransferImages(void* context, const TImageCallback& callback) {
  TW_UINT16 pending = 0xFFFF;
  while (pending != 0) {
    TW_IMAGEINFO info{};
    TW_UINT16 rc = 0;
    TwainCall(link_, &link_.source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info, &rc);
    if (rc != TWRC_SUCCESS) {
      // Without image information nothing more can come: end the acquisition
      // instead of asking again for ever.
      EndTransfer(link_, pending);
      ResetPendingTransfers(link_);
      link_.done = true;
      return;
    }
    HGLOBAL dib = nullptr;
    auto freeBlock = ScopeExit([&dib] {
      if (dib && GlobalSize(dib)) GlobalFree(dib);
    });
    // A callback that raises still ends the transfer before the error leaves.
    auto endOnFailure = ScopeFail([this] {
      TW_UINT16 ignored = 0;
      EndTransfer(link_, ignored);
      ResetPendingTransfers(link_);
      link_.done = true;
    });
    TwainCall(link_, &link_.source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib, &rc);
    if (rc == TWRC_XFERDONE) {
      if (callback) callback(dib, info.XResolution.Whole, info.YResolution.Whole, context);
      EndTransfer(link_, pending);
      if (pending == 0) link_.done = true;
    } else if (rc == TWRC_CANCEL) {
      EndTransfer(link_, pending);
      if (pending != 0) ResetPendingTransfers(link_);
      pending = 0;
      link_.done = true;
    } else {
      EndTransfer(link_, pending);
      ResetPendingTransfers(link_);
      pending = 0;
      link_.done = true;
    }
  }
}
