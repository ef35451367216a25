#include "control/wire/RecordId.h"

#include "core/Guid.h"

TRecordIdChoice NormaliseRecordId(const AnsiString& usId, const AnsiString& initTable,
                                  const AnsiString& initRecord) {
  TRecordIdChoice out;
  if (usId.empty()) {
    out.id = GUIDToString(CreateGuid());
    out.newDoc = initTable.empty() || initRecord.empty();
    return out;
  }
  out.id = usId;
  if (usId[0] != '{') {
    TGUID g;
    if (TryStringToGUID("{" + usId + "}", g)) out.id = GUIDToString(g);
  }
  return out;
}
