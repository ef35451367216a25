#include "control/wire/Class_StoExcel.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "control/wire/RecordReader.h"

namespace {

constexpr THeaderText kHeaderTexts[] = {dh::Code,         dh::TableName,  dh::RecordId,  dh::TitleField,
                                        dh::Version,      dh::UserId,     dh::NumberPrefix, dh::Opinion,
                                        dh::BodyFile,     dh::NumberField, dh::AuthorId,  dh::AuthorName};

bool IsStatusName(std::string_view name) {
  static constexpr std::string_view kStatus = "STATUS";
  if (name.size() != kStatus.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c != kStatus[i]) return false;
  }
  return true;
}

int32_t ParseStatus(std::string_view text) {
  int32_t v = 0;
  const char* begin = text.data();
  if (!text.empty() && text[0] == '+') ++begin;
  const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || begin == end)
    wire::Refuse("Document: Status is not a whole number");
  return v;
}

// ---- fixed records ---------------------------------------------------------------

std::string WriteFieldRecord(const TFieldRecord& r) {
  return frames::FrameWriter(kFieldRecordSize).Text(0, 50, r.name).Text(51, 255, r.value).Take();
}
TFieldRecord ReadFieldRecord(std::string_view b) {
  wire::RecordReader r(b, kFieldRecordSize, "Field record");
  return {r.Text(0, 50), r.Text(51, 255)};
}

std::string WritePassedStep(const TPassedStep& p) {
  return frames::FrameWriter(kPassedStepSize).I32(0, p.step).I32(4, p.second).Take();
}
TPassedStep ReadPassedStep(std::string_view b) {
  wire::RecordReader r(b, kPassedStepSize, "Passed step");
  return {r.I32(0), r.I32(4)};
}

std::string WritePhrase(const TOpinionPhrase& p) {
  return frames::FrameWriter(kPhraseSize).Text(0, 100, p.text).U8(101, p.group).Take();
}
TOpinionPhrase ReadPhrase(std::string_view b) {
  wire::RecordReader r(b, kPhraseSize, "Opinion phrase");
  return {r.Text(0, 100), r.U8(101)};
}

std::string WriteAttachmentName(const AnsiString& n) { return frames::FrameWriter(kAttachmentNameSize).Text(0, 255, n).Take(); }
AnsiString ReadAttachmentName(std::string_view b) {
  return wire::RecordReader(b, kAttachmentNameSize, "Attachment name").Text(0, 255);
}

std::string WriteComboSource(const TComboSource& c) {
  return frames::FrameWriter(kComboSourceSize).Text(0, 50, c.name).Text(51, 255, c.items).Text(307, 255, c.values).Take();
}
TComboSource ReadComboSource(std::string_view b) {
  wire::RecordReader r(b, kComboSourceSize, "Combo source");
  return {r.Text(0, 50), r.Text(51, 255), r.Text(307, 255)};
}

// ---- arrays ------------------------------------------------------------------------

// Walks the arrays of a frame in order; each count is checked against the
// bytes left before anything is allocated.
class ArrayCursor {
 public:
  ArrayCursor(std::string_view frame, size_t start) : frame_(frame), pos_(start) {}

  template <class Read>
  auto Take(int32_t count, size_t itemSize, Read read) {
    if (count < 0) wire::Refuse("Document: negative count");
    if (uint64_t(count) * itemSize > frame_.size() - pos_) wire::Refuse("Document: records beyond the frame");
    std::vector<decltype(read(std::string_view()))> items;
    items.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i, pos_ += itemSize) items.push_back(read(frame_.substr(pos_, itemSize)));
    return items;
  }
  size_t Pos() const { return pos_; }

 private:
  std::string_view frame_;
  size_t pos_;
};

template <class T, class Write>
void PutAll(std::string& out, const std::vector<T>& items, Write write) {
  for (const T& item : items) out += write(item);
}

int32_t CountOf(size_t n) {
  if (n > size_t(std::numeric_limits<int32_t>::max())) wire::Refuse("Document: too many records");
  return int32_t(n);
}

struct SheetSpan {
  size_t offset;
  size_t size;
};

SheetSpan FindSheet(std::string_view reply, size_t arraysEnd) {
  const TDocHeader h = TDocHeader::FromBytes(reply);
  const int32_t offset = h.I32(dh::SheetOffset);
  const int32_t size = h.I32(dh::SheetSize);
  if (offset < 0 || size < 0 || size_t(offset) < arraysEnd || size_t(offset) > reply.size() ||
      size_t(size) > reply.size() - size_t(offset))
    wire::Refuse("Document: sheet outside the frame");
  return {size_t(offset), size_t(size)};
}

}  // namespace

// ---- header ------------------------------------------------------------------------

TDocHeader TDocHeader::FromBytes(std::string_view bytes) {
  wire::RecordReader r(bytes, kDocHeaderSize, "Document header");
  for (const THeaderText& t : kHeaderTexts) r.Text(t.at, t.n);
  TDocHeader h;
  h.bytes_.assign(bytes.substr(0, kDocHeaderSize));
  return h;
}

int32_t TDocHeader::I32(size_t at) const { return wire::RecordReader(bytes_, kDocHeaderSize, "").I32(at); }
uint8_t TDocHeader::U8(size_t at) const { return wire::RecordReader(bytes_, kDocHeaderSize, "").U8(at); }
AnsiString TDocHeader::Text(THeaderText f) const {
  return wire::RecordReader(bytes_, kDocHeaderSize, "").ClampedText(f.at, f.n);
}
void TDocHeader::SetI32(size_t at, int32_t v) { bytes_ = frames::FrameWriter(std::move(bytes_)).I32(at, v).Take(); }
void TDocHeader::SetU8(size_t at, uint8_t v) { bytes_ = frames::FrameWriter(std::move(bytes_)).U8(at, v).Take(); }
void TDocHeader::SetText(THeaderText f, std::string_view text) {
  bytes_ = frames::FrameWriter(std::move(bytes_)).Text(f.at, f.n, text).Take();
}

// ---- values ------------------------------------------------------------------------

std::vector<TFieldRecord> JoinSplitValues(const std::vector<TFieldRecord>& records) {
  std::vector<TFieldRecord> joined;
  for (size_t i = 0; i < records.size();) {
    TFieldRecord run = records[i];
    size_t j = i + 1;
    for (; j < records.size() && records[j].name == run.name; ++j) run.value += records[j].value;
    i = j;
    auto same = std::find_if(joined.begin(), joined.end(), [&](const TFieldRecord& r) { return r.name == run.name; });
    if (same != joined.end()) same->value = std::move(run.value);
    else joined.push_back(std::move(run));
  }
  return joined;
}

std::vector<TFieldRecord> SplitValue(const AnsiString& name, std::string_view value) {
  std::vector<TFieldRecord> pieces;
  do {
    const size_t n = std::min(value.size(), kValuePieceSize);
    pieces.push_back({name, AnsiString(value.substr(0, n))});
    value.remove_prefix(n);
  } while (!value.empty());
  return pieces;
}

// ---- the document record -----------------------------------------------------------

void TStream2Array::LoadFromStream(TStream& reply) {
  reply.SetPosition(0);
  LoadFromBytes(reply.ReadRest());
}

void TStream2Array::LoadFromBytes(std::string_view reply) {
  TDocHeader header = TDocHeader::FromBytes(reply);
  ArrayCursor a(reply, kDocHeaderSize);
  auto steps = a.Take(header.I32(dh::StepCount), kStepRecordSize, ReadStepRecord);
  auto records = a.Take(header.I32(dh::FieldCount), kFieldRecordSize, ReadFieldRecord);
  auto passed = a.Take(header.I32(dh::PassedCount), kPassedStepSize, ReadPassedStep);
  auto phrases = a.Take(header.I32(dh::PhraseCount), kPhraseSize, ReadPhrase);
  auto comments = a.Take(header.I32(dh::CommentCount), frames::kCommentRecordSize, frames::ReadCommentRecord);
  auto picked = a.Take(header.I32(dh::PickedCount), frames::kPickedUserSize, frames::ReadPickedUser);
  auto names = a.Take(header.I32(dh::AttachmentCount), kAttachmentNameSize, ReadAttachmentName);
  auto combos = a.Take(header.I32(dh::ComboCount), kComboSourceSize, ReadComboSource);
  FindSheet(reply, a.Pos());

  int32_t status = -1;
  for (const TFieldRecord& r : records)
    if (IsStatusName(r.name) && !r.value.empty()) status = ParseStatus(r.value);

  const std::vector<TFieldRecord> values = JoinSplitValues(records);
  std::vector<TFieldEntry> fields = Fields;
  if (fields.empty()) {
    // One entry per field name; the workflow's own records are not fields.
    for (const TFieldRecord& v : values) {
      if (v.name.empty() || IsStatusName(v.name) || v.name == "StepID") continue;
      fields.push_back({0, 0, v.name, v.value, v.value});
    }
  } else {
    for (TFieldEntry& f : fields) {
      auto v = std::find_if(values.begin(), values.end(), [&](const TFieldRecord& r) { return r.name == f.name; });
      if (v != values.end()) f.stored = v->value;
    }
  }

  Header = std::move(header);
  Steps = std::move(steps);
  FieldRecords = std::move(records);
  PassedSteps = std::move(passed);
  Phrases = std::move(phrases);
  Comments = std::move(comments);
  PickedUsers = std::move(picked);
  AttachmentNames = std::move(names);
  ComboSources = std::move(combos);
  Fields = std::move(fields);
  Status = status;
}

std::string_view TStream2Array::SheetPart(std::string_view reply) {
  // The arrays' end is not needed to find the sheet, only to refuse one that
  // overlaps them; the full check belongs to LoadFromBytes.
  const SheetSpan s = FindSheet(reply, kDocHeaderSize);
  return reply.substr(s.offset, s.size);
}

std::string_view TStream2Array::ChartPart(std::string_view reply) {
  const SheetSpan s = FindSheet(reply, kDocHeaderSize);
  return reply.substr(s.offset + s.size);
}

void TStream2Array::ReadBody(TMemoryStream& reply, TStream& target) {
  const std::string_view part = SheetPart(reply.Data());
  target.SetSize(0);
  target.SetPosition(0);
  target.WriteBuffer(part.data(), int64_t(part.size()));
}

void TStream2Array::ReadTail(TMemoryStream& reply, TStream& target) {
  const std::string_view part = ChartPart(reply.Data());
  target.SetSize(0);
  target.SetPosition(0);
  target.WriteBuffer(part.data(), int64_t(part.size()));
}

TMemoryStream& TStream2Array::BuildUpdateFrame(const AnsiString& tableName, const AnsiString& recordId,
                                               int32_t status, const TSessionValues& session) {
  Header.SetText(dh::Code, "UPDA");
  Header.SetText(dh::TableName, tableName);
  Header.SetText(dh::RecordId, recordId);
  Header.SetText(dh::Version, "V1.0");
  Header.SetText(dh::UserId, session.UserGUID);

  std::vector<TFieldRecord> records;
  for (const TFieldEntry& f : Fields)
    for (TFieldRecord& piece : SplitValue(f.name, f.edited)) records.push_back(std::move(piece));
  records.push_back({"Status", AnsiString(std::to_string(status))});
  records.push_back({"StepID", AnsiString(std::to_string(Header.I32(dh::CurrentStep)))});
  FieldRecords = std::move(records);

  const uint64_t length = kDocHeaderSize + uint64_t(FieldRecords.size()) * kFieldRecordSize +
                          uint64_t(PickedUsers.size()) * frames::kPickedUserSize;
  if (length > uint64_t(frames::kMaxFrameLength)) wire::Refuse("Document: update frame too large");
  Header.SetI32(dh::FieldCount, CountOf(FieldRecords.size()));
  Header.SetI32(dh::PickedCount, CountOf(PickedUsers.size()));
  Header.SetI32(dh::SheetOffset, int32_t(length));

  std::string out = Header.Bytes();
  out.reserve(size_t(length));
  PutAll(out, FieldRecords, WriteFieldRecord);
  PutAll(out, PickedUsers, frames::WritePickedUser);
  frame_.Clear();
  frame_.WriteString(out);
  frame_.SetPosition(0);
  return frame_;
}

std::string TStream2Array::BuildDocumentReply(std::string_view sheet, std::string_view chart) const {
  TDocHeader h = Header;
  h.SetText(dh::Code, "EXCE");
  h.SetI32(dh::StepCount, CountOf(Steps.size()));
  h.SetI32(dh::FieldCount, CountOf(FieldRecords.size()));
  h.SetI32(dh::PassedCount, CountOf(PassedSteps.size()));
  h.SetI32(dh::PhraseCount, CountOf(Phrases.size()));
  h.SetI32(dh::CommentCount, CountOf(Comments.size()));
  h.SetI32(dh::PickedCount, CountOf(PickedUsers.size()));
  h.SetI32(dh::AttachmentCount, CountOf(AttachmentNames.size()));
  h.SetI32(dh::ComboCount, CountOf(ComboSources.size()));
  std::string out;
  PutAll(out, Steps, WriteStepRecord);
  PutAll(out, FieldRecords, WriteFieldRecord);
  PutAll(out, PassedSteps, WritePassedStep);
  PutAll(out, Phrases, WritePhrase);
  PutAll(out, Comments, frames::WriteCommentRecord);
  PutAll(out, PickedUsers, frames::WritePickedUser);
  PutAll(out, AttachmentNames, WriteAttachmentName);
  PutAll(out, ComboSources, WriteComboSource);
  h.SetI32(dh::SheetOffset, CountOf(kDocHeaderSize + out.size()));
  h.SetI32(dh::SheetSize, CountOf(sheet.size()));
  std::string reply = h.Bytes();
  reply.reserve(reply.size() + out.size() + sheet.size() + chart.size());
  reply += out;
  reply += sheet;
  reply += chart;
  return reply;
}

TUpdateFrame ParseUpdateFrame(std::string_view frame) {
  TUpdateFrame u;
  u.header = TDocHeader::FromBytes(frame);
  if (u.header.Text(dh::Code) != "UPDA") wire::Refuse("Update frame without its code");
  ArrayCursor a(frame, kDocHeaderSize);
  u.records = a.Take(u.header.I32(dh::FieldCount), kFieldRecordSize, ReadFieldRecord);
  u.pickedUsers = a.Take(u.header.I32(dh::PickedCount), frames::kPickedUserSize, frames::ReadPickedUser);
  return u;
}
