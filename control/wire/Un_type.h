// Session values: who is logged in, filled from the login reply and read by
// every form and by the frames that carry the user's identity.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/AnsiString.h"

struct TSessionValues {
  AnsiString UserGUID;  // empty: nobody logged in
  AnsiString LoginName;
  AnsiString UserName;
  int32_t CompID = 0;
  AnsiString CompName;
  int32_t DeptID = 0;
  AnsiString DeptName;
  int32_t RoleID = 0;
  AnsiString RoleName;
  int32_t DutyID = 0;
  AnsiString DutyName;
  int32_t UserLevel = 0;
  uint8_t Flag = 0;  // kept, not used
};

// Process-wide, as every window of the session reads them.
TSessionValues& SessionValues();

// Replaces the session values with those of a 380-byte login reply. The reply
// is accepted whatever it holds; a reply shorter than 380 bytes throws
// frames::EFrameError and changes nothing.
void UnpackLoginReply(std::string_view record);

// The new-document flag: set by GetStream, copied into each new document form.
uint8_t& NewDocumentFlag();

// Back to the state before any login (tests, control teardown).
void ClearSessionValues();
