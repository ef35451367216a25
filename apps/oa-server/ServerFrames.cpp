#include "apps/oa-server/ServerFrames.h"

namespace oa {

namespace {

void Require(std::string_view frame, size_t size, const char* code) {
  if (frame.size() < size)
    throw EFrameRefused(std::string(code) + " frame of " + std::to_string(frame.size()) + " bytes, needs " +
                        std::to_string(size));
}

}  // namespace

void WriteShortString(ByteWriter& w, std::string_view text, size_t n) {
  const size_t len = text.size() < n ? text.size() : n;
  w.U8(static_cast<uint8_t>(len));
  w.Bytes(text.substr(0, len));
  w.Zeros(n - len);
}

AnsiString ReadShortString(ByteReader& r, size_t n) {
  const size_t start = r.Pos();
  const uint8_t len = r.U8();
  if (len > n) throw EFrameRefused("text field at " + std::to_string(start) + " claims " + std::to_string(len) + " bytes");
  AnsiString s = r.Bytes(len);
  r.Skip(n - len);
  return s;
}

AnsiString ShortStringAt(std::string_view frame, size_t offset, size_t n) {
  ByteReader r(frame);
  r.Seek(offset);
  return ReadShortString(r, n);
}

std::string FrameCode(std::string_view frame) {
  if (frame.size() < 5 || static_cast<uint8_t>(frame[0]) != 4) throw EFrameRefused("frame without a code field");
  return std::string(frame.substr(1, 4));
}

AnsiString ParseLoginRequest(std::string_view frame) {
  Require(frame, kLoginFrameSize, "LOGN");
  return ShortStringAt(frame, 5, 38);
}

QueryRequest ParseQueryRequest(std::string_view frame) {
  Require(frame, kQueryFrameSize, "QUEY");
  ByteReader r(frame);
  QueryRequest q;
  r.Seek(5);
  q.database = ReadShortString(r, 50);
  q.userId = ReadShortString(r, 38);
  r.Seek(96);
  q.objectNumber = r.I32();
  q.tableName = ReadShortString(r, 50);
  q.recordId = ReadShortString(r, 38);
  q.commandFlag = r.U8();
  q.templateName = ReadShortString(r, 50);
  r.Seek(244);
  q.userLevel = r.I32();
  q.readOnly = r.U8();
  q.initTable = ReadShortString(r, 50);
  q.initRecord = ReadShortString(r, 38);
  q.loginName = ReadShortString(r, 50);
  q.userName = ReadShortString(r, 50);
  q.deptName = ReadShortString(r, 50);
  q.roleName = ReadShortString(r, 50);
  q.dutyName = ReadShortString(r, 50);
  return q;
}

std::string BuildLoginReply(const SessionRecord& s) {
  ByteWriter w;
  w.Reserve(kLoginFrameSize);
  WriteShortString(w, "LOGN", 4);
  WriteShortString(w, s.userId, 38);
  WriteShortString(w, s.loginName, 50);
  WriteShortString(w, s.userName, 50);
  w.Zeros(2);
  w.I32(s.unitId);
  WriteShortString(w, s.unitName, 50);
  w.Zeros(1);
  w.I32(s.deptId);
  WriteShortString(w, s.deptName, 50);
  w.Zeros(1);
  w.I32(s.roleId);
  WriteShortString(w, s.roleName, 50);
  w.Zeros(1);
  w.I32(s.dutyId);
  WriteShortString(w, s.dutyName, 50);
  w.Zeros(1);
  w.I32(s.userLevel);
  w.U8(s.flag);
  w.Zeros(3);
  return w.Take();
}

std::string BuildServerMessage(std::string_view text) {
  ByteWriter w;
  w.Reserve(kServerMessageSize);
  WriteShortString(w, "SMSG", 4);
  WriteShortString(w, text, 100);
  return w.Take();
}

}  // namespace oa
