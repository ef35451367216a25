#include "imaging/ui/EnTwain.h"

#include "core/Exception.h"

bool TwainCall(TTwainLink& link, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
               TW_MEMREF data, TW_UINT16* resultCode) {
  if (!link.entry) return false;
  const TW_UINT16 rc = link.entry(&link.app, dest, dg, dat, msg, data);
  if (resultCode) *resultCode = rc;
  if (rc == TWRC_SUCCESS) return true;
  if (rc != TWRC_CHECKSTATUS) return false;
  TW_STATUS status{};
  link.entry(&link.app, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  return status.ConditionCode == TWCC_SUCCESS;
}

void SetOneValueCapability(TTwainLink& link, TW_UINT16 cap, TW_UINT16 itemType,
                           TW_UINT32 value) {
  HGLOBAL block = GlobalAlloc(sizeof(TW_ONEVALUE));
  if (!block) throw Exception("Out of resources");
  auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(block));
  one->ItemType = itemType;
  one->Item = value;
  GlobalUnlock(block);
  TW_CAPABILITY c{cap, TWON_ONEVALUE, block};
  TwainCall(link, &link.source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
  GlobalFree(block);
}

void ResetPendingTransfers(TTwainLink& link) {
  TW_PENDINGXFERS p{};
  TwainCall(link, &link.source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p);
}

void EndTransfer(TTwainLink& link, TW_UINT16& pending) {
  TW_PENDINGXFERS p{};
  if (!TwainCall(link, &link.source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p)) {
    pending = 0;
    ResetPendingTransfers(link);
    return;
  }
  pending = p.Count != 0 ? 0xFFFF : 0;
}
