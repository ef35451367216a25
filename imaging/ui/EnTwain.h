#pragma once
// The TWAIN call layer: one source manager entry, our identity and the open
// source, and the calls the scanner makes through them.
#include "imaging/GlobalMem.h"
#include "imaging/twain.h"

struct TTwainLink {
  DSMENTRYPROC entry = nullptr;
  TW_IDENTITY app{};
  TW_IDENTITY source{};
  bool done = false;
};

// Success is TWRC_SUCCESS, or TWRC_CHECKSTATUS whose status has condition 0.
bool TwainCall(TTwainLink& link, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
               TW_MEMREF data, TW_UINT16* resultCode = nullptr);
// Sends a one-value capability to the open source; its result is ignored.
void SetOneValueCapability(TTwainLink& link, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value);
void ResetPendingTransfers(TTwainLink& link);
// pending: 0xFFFF while more images follow, else 0.
void EndTransfer(TTwainLink& link, TW_UINT16& pending);
