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

// Words of the branch-condition language, exactly as workflow definitions store them.
namespace cond {
inline constexpr std::string_view GroupOpen = "[";
inline constexpr std::string_view GroupClose = "]";
inline constexpr std::string_view KindSession = "[S]";
inline constexpr std::string_view KindField = "[F]";
inline constexpr std::string_view LoginName = "LOGINNAME";
inline constexpr std::string_view UserName = "USERNAME";
inline constexpr std::string_view DeptName = "DEPTMENT";
inline constexpr std::string_view RoleName = "ROLENAME";
inline constexpr std::string_view DutyName = "DUTYNAME";
inline constexpr std::string_view Equal = "=";
inline constexpr std::string_view NotEqual = "<>";
inline constexpr std::string_view TextGreater = "S>";
inline constexpr std::string_view TextLess = "S<";
inline constexpr std::string_view TextGreaterEqual = "S>=";
inline constexpr std::string_view TextLessEqual = "S<=";
inline constexpr std::string_view Like = "LIKE";
inline constexpr std::string_view Greater = ">";
inline constexpr std::string_view Less = "<";
inline constexpr std::string_view GreaterEqual = ">=";
inline constexpr std::string_view LessEqual = "<=";
inline constexpr std::string_view Open = "(";
inline constexpr std::string_view Close = ")";
inline constexpr std::string_view And = "&&";
inline constexpr std::string_view Or = "||";
inline constexpr std::string_view True = "true";
inline constexpr std::string_view False = "false";
}  // namespace cond
