// Fixed-layout frames exchanged with the office-automation server.
// Qt-free on purpose: the fuzz build compiles this file alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/wire/Un_type.h"
#include "core/AnsiString.h"
#include "core/Exception.h"

namespace frames {

// A reply that fails a bounds or size check. The dispatcher drops such a
// reply and tells the person, in a box, that the operation did not complete.
class EFrameError : public Exception {
 public:
  using Exception::Exception;
};

// ---- sizes -----------------------------------------------------------------
// Largest frame either side accepts; a larger announced length ends the connection.
inline constexpr int32_t kMaxFrameLength = 64 * 1024 * 1024;
inline constexpr size_t kCodeSize = 5;
inline constexpr size_t kLoginSize = 380;
inline constexpr size_t kQuerySize = 596;
inline constexpr size_t kChatSize = 808;
inline constexpr size_t kUserRequestSize = 144;
inline constexpr size_t kDistributionHeaderSize = 140;
inline constexpr size_t kDistributionItemSize = 304;
inline constexpr size_t kDocCommandSize = 156;
inline constexpr size_t kNumbersRequestSize = 104;
inline constexpr size_t kUnitsRequestSize = 16;
inline constexpr size_t kOutsideHeaderSize = 100;
inline constexpr size_t kUploadHeaderSize = 112;
inline constexpr size_t kSignOffSize = 390;

inline constexpr size_t kServerMessageSize = 106;
inline constexpr size_t kAttachmentsHeaderSize = 112;
inline constexpr size_t kUserListHeaderSize = 12;
inline constexpr size_t kNumbersHeaderSize = 104;
inline constexpr size_t kUnitsHeaderSize = 16;
inline constexpr size_t kFileHeaderSize = 596;
inline constexpr size_t kSheetHeaderSize = 144;

inline constexpr size_t kUnitRecordSize = 56;
inline constexpr size_t kCommentRecordSize = 360;
inline constexpr size_t kUserRecordSize = 832;
inline constexpr size_t kPickedUserSize = 352;
inline constexpr size_t kNumberEntrySize = 60;

// ---- field access ------------------------------------------------------------

// Writes into a zero-filled frame of fixed size. A field that does not fit
// is a programming error and throws.
class FrameWriter {
 public:
  explicit FrameWriter(size_t size) : bytes_(size, '\0') {}
  explicit FrameWriter(std::string bytes) : bytes_(std::move(bytes)) {}

  // s[N]: length byte then N bytes, the text cut to N bytes (not characters).
  FrameWriter& Text(size_t offset, size_t n, std::string_view text);
  FrameWriter& Code(std::string_view code) { return Text(0, 4, code); }
  FrameWriter& I32(size_t offset, int32_t v);
  FrameWriter& U8(size_t offset, uint8_t v);
  FrameWriter& F64(size_t offset, double v);
  FrameWriter& Bytes(size_t offset, std::string_view b);

  const std::string& Str() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  void Check(size_t offset, size_t n) const;
  std::string bytes_;
};

// The s[4] code at the start of a frame; empty when fewer than 5 bytes or
// the length byte is not a valid s[4] length.
AnsiString FrameCode(std::string_view frame);

// ---- records -----------------------------------------------------------------

struct UnitRecord {  // 56 bytes
  int32_t number = 0;
  AnsiString name;
};

struct CommentRecord {  // 360 bytes
  AnsiString authorId;
  AnsiString authorName;
  double dateTime = 0;  // 0 or less: no date
  AnsiString text;
};

struct UserRecord {  // 832 bytes
  AnsiString userId;
  AnsiString loginName;
  AnsiString userName;
  int32_t unitNumber = 0;
  AnsiString unitName;
  int32_t deptNumber = 0;
  AnsiString deptName;
  int32_t parentDeptNumber = 0;
  uint8_t marker = 0;
  AnsiString groups;
  AnsiString groupPages;
  uint8_t listUnderGroups = 0;
  int32_t listKind = 0;
};

struct PickedUser {  // 352 bytes
  AnsiString userId;
  AnsiString userName;
  int32_t deptNumber = 0;
  AnsiString deptNumbers;
};

struct NumberEntry {  // 60 bytes
  int32_t kindId = 0;
  AnsiString prefix;
  int32_t unused = 0;
  int32_t nextNumber = 0;
};

std::string WriteUnitRecord(const UnitRecord& r);
UnitRecord ReadUnitRecord(std::string_view b);
std::string WriteCommentRecord(const CommentRecord& r);
CommentRecord ReadCommentRecord(std::string_view b);
std::string WriteUserRecord(const UserRecord& r);
UserRecord ReadUserRecord(std::string_view b);
std::string WritePickedUser(const PickedUser& r);
PickedUser ReadPickedUser(std::string_view b);
std::string WriteNumberEntry(const NumberEntry& e);
NumberEntry ReadNumberEntry(std::string_view b);

// ---- requests ----------------------------------------------------------------

std::string BuildLoginRequest(std::string_view loginName);
AnsiString ParseLoginRequest(std::string_view frame);  // the login name

struct QueryRecord {
  AnsiString database;
  AnsiString userId;
  int32_t objectNumber = 0;
  AnsiString tableName;
  AnsiString recordId;
  uint8_t commandFlag = 0;
  AnsiString templateName;
  int32_t userLevel = 0;
  uint8_t readOnlyFlag = 0;
  AnsiString initTable;
  AnsiString initRecord;
  AnsiString loginName;
  AnsiString userName;
  AnsiString deptName;
  AnsiString roleName;
  AnsiString dutyName;
};
std::string BuildQueryRequest(const QueryRecord& q);
QueryRecord ReadQueryRequest(std::string_view frame);  // also the FILE reply header

std::string BuildFileRequest(std::string_view userId, std::string_view tableName,
                             std::string_view recordId, std::string_view fileName);
std::string BuildChatRequest(int32_t flowChartNumber);

enum class UserListMode : uint8_t { Approvers = 0, Distribution = 1, NextHandler = 2 };
// recordOrStep: the record ID (modes 0, 1) or the next step number as text (mode 2).
std::string BuildUserRequest(std::string_view tableName, std::string_view recordOrStep,
                             UserListMode mode, int32_t unitNumber, std::string_view userId,
                             int32_t listNumber);

struct DistributionItem {
  AnsiString entryId;
  bool imageIndex3 = false;  // the entry's tree node shows image 3
};
// code is "FEFA" (distribute) or "FEFB" (recall).
std::string BuildDistributionRequest(std::string_view code, std::string_view tableName,
                                     std::string_view recordId, std::string_view userId,
                                     const std::vector<DistributionItem>& items);
std::string BuildDocCommandRequest(std::string_view userId, std::string_view tableName,
                                   std::string_view recordId, std::string_view verb,
                                   int32_t currentStep, int32_t nextStep, int32_t copyNumber = 0);
std::string BuildNumbersRequest(int32_t unitNumber, std::string_view tableName);
std::string BuildUnitsRequest(int32_t unitNumber);
std::string BuildOutsideDistributionRequest(std::string_view recordId, std::string_view tableName,
                                            const std::vector<UnitRecord>& units);
std::string BuildUploadRequest(std::string_view recordId, std::string_view tableName,
                               int32_t fileCount, std::string_view container, uint32_t madeFrom = 0);

// Which copy a change was made from travels in bytes no frame field uses: the "DCMD"
// command names the form's copy in its three bytes at +145 (the low 24 bits), and an
// upload names the content its Word body was made from at +8.
inline constexpr size_t kDocCommandCopyAt = 145;
inline constexpr size_t kUploadMadeFromAt = 8;
int32_t DocCommandCopy(std::string_view frame);
uint32_t UploadMadeFrom(std::string_view frame);
// A short mark of content (never 0, which stands for "not said").
uint32_t ContentToken(std::string_view bytes);
std::string BuildSignOffRequest(std::string_view userId, std::string_view tableName,
                                std::string_view recordId, std::string_view comment);

// ---- replies -----------------------------------------------------------------

// The login reply carries exactly the session values.
using LoginReply = TSessionValues;
std::string BuildLoginReply(const LoginReply& r);
LoginReply ParseLoginReply(std::string_view frame);

std::string BuildServerMessage(std::string_view text);
AnsiString ParseServerMessage(std::string_view frame);
// True when a reply says the server took the request: a whole "SMSG" whose text does
// not begin with "|" (an empty text included, as the dispatcher takes it).
bool IsAcceptedReply(std::string_view reply);

struct AttachmentsReply {
  AnsiString recordId;
  AnsiString tableName;
  uint8_t readOnly = 0;
  int32_t slotCount = 0;
  std::vector<CommentRecord> comments;
  int32_t containerOffset = 0;
  std::string_view container;  // into the parsed frame; empty when absent
};
// The container offset is written by the builder (112 + 360 x comments).
std::string BuildAttachmentsReply(const AttachmentsReply& r, std::string_view container);
AttachmentsReply ParseAttachmentsReply(std::string_view frame);

std::string BuildUserListReply(const std::vector<UserRecord>& users);
std::vector<UserRecord> ParseUserListReply(std::string_view frame);

std::string BuildNumbersReply(const std::vector<NumberEntry>& entries);
std::vector<NumberEntry> ParseNumbersReply(std::string_view frame);

std::string BuildUnitsReply(const std::vector<UnitRecord>& units);
std::vector<UnitRecord> ParseUnitsReply(std::string_view frame);

struct FileReply {
  AnsiString tableName;
  AnsiString recordId;
  AnsiString fileName;
  std::string_view body;  // into the parsed frame
};
std::string BuildFileReply(std::string_view tableName, std::string_view recordId,
                           std::string_view fileName, std::string_view body);
FileReply ParseFileReply(std::string_view frame);

std::string BuildSheetReply(std::string_view sheet);
std::string_view ParseSheetReply(std::string_view frame);  // the sheet stream

}  // namespace frames
