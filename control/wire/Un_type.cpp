#include "control/wire/Un_type.h"

#include "control/wire/Frames.h"

TSessionValues& SessionValues() {
  static TSessionValues values;
  return values;
}

void UnpackLoginReply(std::string_view record) {
  const frames::LoginReply r = frames::ParseLoginReply(record);
  TSessionValues v;
  v.UserGUID = r.userId;
  v.LoginName = r.loginName;
  v.UserName = r.userName;
  v.CompID = r.compId;
  v.CompName = r.compName;
  v.DeptID = r.deptId;
  v.DeptName = r.deptName;
  v.RoleID = r.roleId;
  v.RoleName = r.roleName;
  v.DutyID = r.dutyId;
  v.DutyName = r.dutyName;
  v.UserLevel = r.userLevel;
  v.Flag = r.flag;
  SessionValues() = std::move(v);
}

uint8_t& NewDocumentFlag() {
  static uint8_t flag = 0;
  return flag;
}

void ClearSessionValues() { SessionValues() = TSessionValues{}; }
