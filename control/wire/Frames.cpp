#include "control/wire/Frames.h"

#include <bit>
#include <cstring>
#include <limits>

#include "control/wire/RecordReader.h"
#include "core/ByteIO.h"

namespace frames {

namespace {

// Frames that carry a header, then a count of fixed-size items back to back.
struct ListLayout {
  std::string_view code;
  const char* what;
  size_t headerSize;
  size_t countAt;
  size_t itemSize;
};

// The code, the count and the items written; `tail` bytes are left after them.
template <class T, class WriteItem>
FrameWriter ListFrame(const ListLayout& l, const std::vector<T>& items, WriteItem write, size_t tail = 0) {
  FrameWriter w(l.headerSize + items.size() * l.itemSize + tail);
  w.Code(l.code).I32(l.countAt, int32_t(items.size()));
  for (size_t i = 0; i < items.size(); ++i) w.Bytes(l.headerSize + i * l.itemSize, write(items[i]));
  return w;
}

// The items after the header; the count from the wire must fit the frame before
// anything is allocated.
template <class ReadItem>
auto ReadListItems(std::string_view frame, const ListLayout& l, ReadItem read) {
  wire::RecordReader r(frame, l.headerSize, l.what);
  const int32_t n = r.I32(l.countAt);
  if (n < 0) wire::Refuse(AnsiString(l.what) + ": negative count");
  const uint64_t need = uint64_t(l.headerSize) + uint64_t(n) * uint64_t(l.itemSize);
  if (need > r.Size()) wire::Refuse(AnsiString(l.what) + ": count beyond the frame");
  std::vector<decltype(read(std::string_view()))> items;
  items.reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i) items.push_back(read(r.View(l.headerSize + size_t(i) * l.itemSize, l.itemSize)));
  return items;
}

constexpr ListLayout kOutsideList{"OTFF", "Outside distribution", kOutsideHeaderSize, 96, kUnitRecordSize};
constexpr ListLayout kAttachmentsList{"STRM", "Attachment list", kAttachmentsHeaderSize, 108, kCommentRecordSize};
constexpr ListLayout kUserList{"USER", "User list", kUserListHeaderSize, 8, kUserRecordSize};
constexpr ListLayout kNumbersList{"BHQZ", "Number list", kNumbersHeaderSize, 64, kNumberEntrySize};
constexpr ListLayout kUnitsList{"COMP", "Unit list", kUnitsHeaderSize, 12, kUnitRecordSize};

std::string WriteDistributionItem(const DistributionItem& d) {
  return FrameWriter(kDistributionItemSize).Text(0, 38, d.entryId).U8(302, d.imageIndex3 ? 1 : 0).Take();
}

// A fixed layout is stated once, as a function of (fields, record), and serves both
// directions: FieldPut writes the record's members, FieldGet reads them back.
class FieldPut {
 public:
  explicit FieldPut(FrameWriter& w) : w_(w) {}
  void Text(size_t at, size_t n, const AnsiString& v) { w_.Text(at, n, v); }
  void I32(size_t at, int32_t v) { w_.I32(at, v); }
  void U8(size_t at, uint8_t v) { w_.U8(at, v); }
  void F64(size_t at, double v) { w_.F64(at, v); }

 private:
  FrameWriter& w_;
};

class FieldGet {
 public:
  explicit FieldGet(wire::RecordReader& r) : r_(r) {}
  void Text(size_t at, size_t n, AnsiString& v) { v = r_.Text(at, n); }
  void I32(size_t at, int32_t& v) { v = r_.I32(at); }
  void U8(size_t at, uint8_t& v) { v = r_.U8(at); }
  void F64(size_t at, double& v) { v = r_.F64(at); }

 private:
  wire::RecordReader& r_;
};

// code: the frame's s[4] code, or empty for a record without one.
template <class T, class Layout>
std::string PutFields(size_t size, std::string_view code, const T& record, Layout fields) {
  FrameWriter w(size);
  if (!code.empty()) w.Code(code);
  FieldPut put(w);
  fields(put, record);
  return w.Take();
}

template <class T, class Layout>
T GetFields(std::string_view bytes, size_t size, const char* what, Layout fields) {
  wire::RecordReader r(bytes, size, what);
  T record;
  FieldGet get(r);
  fields(get, record);
  return record;
}

const auto kUnitFields = [](auto& f, auto& u) {
  f.I32(0, u.number);
  f.Text(4, 50, u.name);
};

const auto kCommentFields = [](auto& f, auto& c) {
  f.Text(0, 38, c.authorId);
  f.Text(39, 50, c.authorName);
  f.F64(96, c.dateTime);
  f.Text(104, 255, c.text);
};

const auto kUserFields = [](auto& f, auto& u) {
  f.Text(0, 38, u.userId);
  f.Text(39, 50, u.loginName);
  f.Text(90, 50, u.userName);
  f.I32(144, u.unitNumber);
  f.Text(148, 50, u.unitName);
  f.I32(200, u.deptNumber);
  f.Text(204, 100, u.deptName);
  f.I32(308, u.parentDeptNumber);
  f.U8(312, u.marker);
  f.Text(313, 255, u.groups);
  f.Text(569, 255, u.groupPages);
  f.U8(825, u.listUnderGroups);
  f.I32(828, u.listKind);
};

const auto kPickedUserFields = [](auto& f, auto& p) {
  f.Text(0, 38, p.userId);
  f.Text(39, 50, p.userName);
  f.I32(92, p.deptNumber);
  f.Text(96, 255, p.deptNumbers);
};

const auto kNumberEntryFields = [](auto& f, auto& e) {
  f.I32(0, e.kindId);
  f.Text(4, 47, e.prefix);
  f.I32(52, e.unused);
  f.I32(56, e.nextNumber);
};

const auto kQueryFields = [](auto& f, auto& q) {
  f.Text(5, 50, q.database);
  f.Text(56, 38, q.userId);
  f.I32(96, q.objectNumber);
  f.Text(100, 50, q.tableName);
  f.Text(151, 38, q.recordId);
  f.U8(190, q.commandFlag);
  f.Text(191, 50, q.templateName);
  f.I32(244, q.userLevel);
  f.U8(248, q.readOnlyFlag);
  f.Text(249, 50, q.initTable);
  f.Text(300, 38, q.initRecord);
  f.Text(339, 50, q.loginName);
  f.Text(390, 50, q.userName);
  f.Text(441, 50, q.deptName);
  f.Text(492, 50, q.roleName);
  f.Text(543, 50, q.dutyName);
};

const auto kLoginReplyFields = [](auto& f, auto& l) {
  f.Text(5, 38, l.UserGUID);
  f.Text(44, 50, l.LoginName);
  f.Text(95, 50, l.UserName);
  f.I32(148, l.CompID);
  f.Text(152, 50, l.CompName);
  f.I32(204, l.DeptID);
  f.Text(208, 50, l.DeptName);
  f.I32(260, l.RoleID);
  f.Text(264, 50, l.RoleName);
  f.I32(316, l.DutyID);
  f.Text(320, 50, l.DutyName);
  f.I32(372, l.UserLevel);
  f.U8(376, l.Flag);
};

}  // namespace

// ---- FrameWriter ---------------------------------------------------------------

void FrameWriter::Check(size_t offset, size_t n) const {
  if (offset > bytes_.size() || n > bytes_.size() - offset)
    throw EFrameError("Frame field outside the frame");
}

FrameWriter& FrameWriter::Text(size_t offset, size_t n, std::string_view text) {
  Check(offset, n + 1);
  const size_t len = text.size() < n ? text.size() : n;
  bytes_[offset] = char(uint8_t(len));
  std::memcpy(&bytes_[offset + 1], text.data(), len);
  std::memset(&bytes_[offset + 1 + len], 0, n - len);
  return *this;
}

FrameWriter& FrameWriter::I32(size_t offset, int32_t v) {
  Check(offset, 4);
  StoreLE(&bytes_[offset], v);
  return *this;
}

FrameWriter& FrameWriter::U8(size_t offset, uint8_t v) {
  Check(offset, 1);
  bytes_[offset] = char(v);
  return *this;
}

FrameWriter& FrameWriter::F64(size_t offset, double v) {
  Check(offset, 8);
  StoreLE(&bytes_[offset], std::bit_cast<uint64_t>(v));
  return *this;
}

FrameWriter& FrameWriter::Bytes(size_t offset, std::string_view b) {
  Check(offset, b.size());
  if (!b.empty()) std::memcpy(&bytes_[offset], b.data(), b.size());
  return *this;
}

// ---- codes ---------------------------------------------------------------------

AnsiString FrameCode(std::string_view frame) {
  if (frame.size() < kCodeSize) return {};
  const size_t len = uint8_t(frame[0]);
  if (len > 4) return {};
  return AnsiString(frame.substr(1, len));
}

// ---- records -------------------------------------------------------------------

std::string WriteUnitRecord(const UnitRecord& r) { return PutFields(kUnitRecordSize, {}, r, kUnitFields); }

UnitRecord ReadUnitRecord(std::string_view b) {
  return GetFields<UnitRecord>(b, kUnitRecordSize, "Unit record", kUnitFields);
}

std::string WriteCommentRecord(const CommentRecord& c) {
  return PutFields(kCommentRecordSize, {}, c, kCommentFields);
}

CommentRecord ReadCommentRecord(std::string_view b) {
  return GetFields<CommentRecord>(b, kCommentRecordSize, "Comment record", kCommentFields);
}

std::string WriteUserRecord(const UserRecord& u) { return PutFields(kUserRecordSize, {}, u, kUserFields); }

UserRecord ReadUserRecord(std::string_view b) {
  return GetFields<UserRecord>(b, kUserRecordSize, "User record", kUserFields);
}

std::string WritePickedUser(const PickedUser& p) { return PutFields(kPickedUserSize, {}, p, kPickedUserFields); }

PickedUser ReadPickedUser(std::string_view b) {
  return GetFields<PickedUser>(b, kPickedUserSize, "Picked user", kPickedUserFields);
}

std::string WriteNumberEntry(const NumberEntry& e) {
  return PutFields(kNumberEntrySize, {}, e, kNumberEntryFields);
}

NumberEntry ReadNumberEntry(std::string_view b) {
  return GetFields<NumberEntry>(b, kNumberEntrySize, "Number entry", kNumberEntryFields);
}

// ---- requests ------------------------------------------------------------------

std::string BuildLoginRequest(std::string_view loginName) {
  return FrameWriter(kLoginSize).Code("LOGN").Text(5, 38, loginName).Take();
}

AnsiString ParseLoginRequest(std::string_view frame) {
  return wire::RecordReader(frame, kLoginSize, "Login request").Text(5, 38);
}

std::string BuildQueryRequest(const QueryRecord& q) { return PutFields(kQuerySize, "QUEY", q, kQueryFields); }

QueryRecord ReadQueryRequest(std::string_view frame) {
  return GetFields<QueryRecord>(frame, kQuerySize, "Query", kQueryFields);
}

std::string BuildFileRequest(std::string_view userId, std::string_view tableName,
                             std::string_view recordId, std::string_view fileName) {
  // The query layout under another code; the template field carries the file name.
  return FrameWriter(kQuerySize)
      .Code("FILE")
      .Text(56, 38, userId)
      .Text(100, 50, tableName)
      .Text(151, 38, recordId)
      .U8(190, 0)
      .Text(191, 50, fileName)
      .Take();
}

std::string BuildChatRequest(int32_t flowChartNumber) {
  return FrameWriter(kChatSize).Code("CHAT").I32(8, flowChartNumber).I32(288, 0).I32(292, 0).Take();
}

std::string BuildUserRequest(std::string_view tableName, std::string_view recordOrStep,
                             UserListMode mode, int32_t unitNumber, std::string_view userId,
                             int32_t listNumber) {
  return FrameWriter(kUserRequestSize)
      .Code("USER")
      .Text(5, 50, tableName)
      .Text(56, 38, recordOrStep)
      .U8(95, uint8_t(mode))
      .I32(96, unitNumber)
      .Text(100, 38, userId)
      .U8(139, 0)
      .I32(140, listNumber)
      .Take();
}

std::string BuildDistributionRequest(std::string_view code, std::string_view tableName,
                                     std::string_view recordId, std::string_view userId,
                                     const std::vector<DistributionItem>& items) {
  const ListLayout layout{code, "Distribution", kDistributionHeaderSize, 96, kDistributionItemSize};
  return ListFrame(layout, items, WriteDistributionItem)
      .Text(5, 50, tableName)
      .Text(56, 38, recordId)
      .Text(100, 38, userId)
      .Take();
}

std::string BuildDocCommandRequest(std::string_view userId, std::string_view tableName,
                                   std::string_view recordId, std::string_view verb,
                                   int32_t currentStep, int32_t nextStep, int32_t copyNumber) {
  return FrameWriter(kDocCommandSize)
      .U8(kDocCommandCopyAt, uint8_t(copyNumber))
      .U8(kDocCommandCopyAt + 1, uint8_t(copyNumber >> 8))
      .U8(kDocCommandCopyAt + 2, uint8_t(copyNumber >> 16))
      .Code("DCMD")
      .Text(5, 38, userId)
      .Text(44, 50, tableName)
      .Text(95, 38, recordId)
      .Text(134, 10, verb)
      .I32(148, currentStep)
      .I32(152, nextStep)
      .Take();
}

std::string BuildNumbersRequest(int32_t unitNumber, std::string_view tableName) {
  return FrameWriter(kNumbersRequestSize).Code("BHQZ").I32(8, unitNumber).Text(12, 50, tableName).Take();
}

std::string BuildUnitsRequest(int32_t unitNumber) {
  return FrameWriter(kUnitsRequestSize).Code("COMP").I32(8, unitNumber).Take();
}

std::string BuildOutsideDistributionRequest(std::string_view recordId, std::string_view tableName,
                                            const std::vector<UnitRecord>& units) {
  return ListFrame(kOutsideList, units, WriteUnitRecord).Text(5, 38, recordId).Text(44, 50, tableName).Take();
}

std::string BuildUploadRequest(std::string_view recordId, std::string_view tableName,
                               int32_t fileCount, std::string_view container, uint32_t madeFrom) {
  FrameWriter w(kUploadHeaderSize + container.size());
  w.Code("SABB").Text(12, 38, recordId).Text(51, 50, tableName).I32(104, fileCount).I32(108, 0);
  w.I32(kUploadMadeFromAt, int32_t(madeFrom));
  w.Bytes(kUploadHeaderSize, container);
  return w.Take();
}

std::string BuildSignOffRequest(std::string_view userId, std::string_view tableName,
                                std::string_view recordId, std::string_view comment) {
  return FrameWriter(kSignOffSize)
      .Code("QIAN")
      .Text(5, 38, userId)
      .Text(44, 50, tableName)
      .Text(95, 38, recordId)
      .Text(134, 255, comment)
      .Take();
}

// ---- replies -------------------------------------------------------------------

std::string BuildLoginReply(const LoginReply& r) { return PutFields(kLoginSize, "LOGN", r, kLoginReplyFields); }

LoginReply ParseLoginReply(std::string_view frame) {
  return GetFields<LoginReply>(frame, kLoginSize, "Login reply", kLoginReplyFields);
}

std::string BuildServerMessage(std::string_view text) {
  return FrameWriter(kServerMessageSize).Code("SMSG").Text(5, 100, text).Take();
}

AnsiString ParseServerMessage(std::string_view frame) {
  return wire::RecordReader(frame, kServerMessageSize, "Server message").Text(5, 100);
}

bool IsAcceptedReply(std::string_view reply) {
  if (FrameCode(reply) != "SMSG" || reply.size() < kServerMessageSize) return false;
  const AnsiString text = ParseServerMessage(reply);
  return text.empty() || text[0] != '|';
}

std::string BuildAttachmentsReply(const AttachmentsReply& a, std::string_view container) {
  const size_t offset = kAttachmentsHeaderSize + a.comments.size() * kCommentRecordSize;
  return ListFrame(kAttachmentsList, a.comments, WriteCommentRecord, container.size())
      .I32(8, int32_t(offset))
      .Text(12, 38, a.recordId)
      .Text(51, 50, a.tableName)
      .U8(102, a.readOnly)
      .I32(104, a.slotCount)
      .Bytes(offset, container)
      .Take();
}

AttachmentsReply ParseAttachmentsReply(std::string_view frame) {
  wire::RecordReader r(frame, kAttachmentsHeaderSize, "Attachment list");
  AttachmentsReply a;
  a.containerOffset = r.I32(8);
  a.recordId = r.Text(12, 38);
  a.tableName = r.Text(51, 50);
  a.readOnly = r.U8(102);
  a.slotCount = r.I32(104);
  a.comments = ReadListItems(frame, kAttachmentsList, ReadCommentRecord);
  if (a.slotCount < 0) wire::Refuse("Attachment list: negative slot count");
  // The container may not overlap the comments nor start past the end.
  const uint64_t commentsEnd = kAttachmentsHeaderSize + uint64_t(a.comments.size()) * kCommentRecordSize;
  if (a.containerOffset < 0 || uint64_t(a.containerOffset) < commentsEnd ||
      uint64_t(a.containerOffset) > frame.size())
    wire::Refuse("Attachment list: container outside the frame");
  a.container = frame.substr(size_t(a.containerOffset));
  return a;
}

std::string BuildUserListReply(const std::vector<UserRecord>& users) {
  return ListFrame(kUserList, users, WriteUserRecord).Take();
}

std::vector<UserRecord> ParseUserListReply(std::string_view frame) {
  return ReadListItems(frame, kUserList, ReadUserRecord);
}

std::string BuildNumbersReply(const std::vector<NumberEntry>& entries) {
  return ListFrame(kNumbersList, entries, WriteNumberEntry).Take();
}

std::vector<NumberEntry> ParseNumbersReply(std::string_view frame) {
  return ReadListItems(frame, kNumbersList, ReadNumberEntry);
}

std::string BuildUnitsReply(const std::vector<UnitRecord>& units) {
  return ListFrame(kUnitsList, units, WriteUnitRecord).Take();
}

std::vector<UnitRecord> ParseUnitsReply(std::string_view frame) {
  return ReadListItems(frame, kUnitsList, ReadUnitRecord);
}

std::string BuildFileReply(std::string_view tableName, std::string_view recordId,
                           std::string_view fileName, std::string_view body) {
  FrameWriter w(kFileHeaderSize + body.size());
  w.Code("FILE").Text(100, 50, tableName).Text(151, 38, recordId).Text(191, 50, fileName);
  w.Bytes(kFileHeaderSize, body);
  return w.Take();
}

FileReply ParseFileReply(std::string_view frame) {
  wire::RecordReader r(frame, kFileHeaderSize, "File reply");
  return {r.Text(100, 50), r.Text(151, 38), r.Text(191, 50), frame.substr(kFileHeaderSize)};
}

std::string BuildSheetReply(std::string_view sheet) {
  FrameWriter w(kSheetHeaderSize + sheet.size());
  w.Code("XSLF").Bytes(kSheetHeaderSize, sheet);
  return w.Take();
}

std::string_view ParseSheetReply(std::string_view frame) {
  wire::RecordReader r(frame, kSheetHeaderSize, "Sheet reply");
  return r.View(kSheetHeaderSize, r.Size() - kSheetHeaderSize);
}

int32_t DocCommandCopy(std::string_view frame) {
  if (frame.size() < kDocCommandSize) return 0;
  const auto b = [&](size_t i) { return int32_t(uint8_t(frame[kDocCommandCopyAt + i])); };
  return b(0) | b(1) << 8 | b(2) << 16;
}

uint32_t UploadMadeFrom(std::string_view frame) {
  if (frame.size() < kUploadMadeFromAt + 4) return 0;
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= uint32_t(uint8_t(frame[kUploadMadeFromAt + i])) << (8 * i);
  return v;
}

uint32_t ContentToken(std::string_view bytes) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : bytes) h = (h ^ c) * 16777619u;
  return h ? h : 1;
}

}  // namespace frames
