#include "control/wire/Un_type.h"

#include "control/wire/Frames.h"

TSessionValues& SessionValues() {
  static TSessionValues values;
  return values;
}

void UnpackLoginReply(std::string_view record) {
  SessionValues() = frames::ParseLoginReply(record);
}

uint8_t& NewDocumentFlag() {
  static uint8_t flag = 0;
  return flag;
}

void ClearSessionValues() { SessionValues() = TSessionValues{}; }
