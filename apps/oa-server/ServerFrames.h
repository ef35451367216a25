#pragma once
// Frames as the office-automation server sees them: requests are parsed, replies built.
// Every reader is bounds-checked; a frame that does not hold its fixed layout is refused
// with EFrameRefused so the connection can be closed without a reply.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/AnsiString.h"
#include "core/ByteIO.h"
#include "core/Exception.h"

class EFrameRefused : public Exception {
 public:
  using Exception::Exception;
};

namespace oa {

constexpr size_t kLoginFrameSize = 380;
constexpr size_t kQueryFrameSize = 596;
constexpr size_t kServerMessageSize = 106;
// Largest frame either side accepts; a bigger announced length closes the connection.
constexpr int32_t kMaxFrameLength = 64 * 1024 * 1024;

// s[N]: a length byte and N bytes, the text cut to N bytes, the rest zero.
void WriteShortString(ByteWriter& w, std::string_view text, size_t n);
// Reads the s[N] at the reader's position; a length byte above N refuses the frame.
AnsiString ReadShortString(ByteReader& r, size_t n);
AnsiString ShortStringAt(std::string_view frame, size_t offset, size_t n);

// The four letters of a frame's code field; refused when the field is not "4 + letters".
std::string FrameCode(std::string_view frame);

struct SessionRecord {
  AnsiString userId;  // braced GUID text; empty when the login was refused
  AnsiString loginName;
  AnsiString userName;
  int32_t unitId = 0;
  AnsiString unitName;
  int32_t deptId = 0;
  AnsiString deptName;
  int32_t roleId = 0;
  AnsiString roleName;
  int32_t dutyId = 0;
  AnsiString dutyName;
  int32_t userLevel = 0;
  uint8_t flag = 0;
};

struct QueryRequest {
  AnsiString database;
  AnsiString userId;
  int32_t objectNumber = 0;
  AnsiString tableName;
  AnsiString recordId;
  uint8_t commandFlag = 0;
  AnsiString templateName;
  int32_t userLevel = 0;
  uint8_t readOnly = 0;
  AnsiString initTable;
  AnsiString initRecord;
  AnsiString loginName;
  AnsiString userName;
  AnsiString deptName;
  AnsiString roleName;
  AnsiString dutyName;
};

AnsiString ParseLoginRequest(std::string_view frame);
QueryRequest ParseQueryRequest(std::string_view frame);

std::string BuildLoginReply(const SessionRecord& record);
std::string BuildServerMessage(std::string_view text);

}  // namespace oa
