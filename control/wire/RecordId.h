// The record ID rule of GetStream: how the page's ID text becomes the ID
// that goes to the server, and whether the document is new.
#pragma once

#include "core/AnsiString.h"

struct TRecordIdChoice {
  AnsiString id;
  bool newDoc = false;
};

// Empty: a fresh braced upper-case GUID, new unless both init values are
// given. Unbraced: wrapped in braces and canonicalised when it parses,
// otherwise kept as given. Beginning with '{': kept exactly.
TRecordIdChoice NormaliseRecordId(const AnsiString& usId, const AnsiString& initTable,
                                  const AnsiString& initRecord);
