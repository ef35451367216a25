// The document record: a workflow document as the "EXCE" reply carries it
// (header, step records, field values, history and lists, then the form's
// sheet and the workflow chart), and the "UPDA" frame that sends the header,
// the field values and the chosen next handlers back.
//
// Every array grows to what the reply holds; counts, offsets and sizes are
// checked against the bytes present before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/wire/Frames.h"
#include "control/wire/StepRecord.h"
#include "core/AnsiString.h"
#include "core/Streams.h"

inline constexpr size_t kDocHeaderSize = 792;
inline constexpr size_t kFieldRecordSize = 308;
inline constexpr size_t kPassedStepSize = 8;
inline constexpr size_t kPhraseSize = 108;
inline constexpr size_t kAttachmentNameSize = 256;
inline constexpr size_t kComboSourceSize = 563;
inline constexpr size_t kValuePieceSize = 255;  // longer values travel as several records

// A text field of the document header: s[n] at `at`.
struct THeaderText {
  size_t at;
  size_t n;
};

// Fields of the 792-byte document header.
namespace dh {
inline constexpr THeaderText Code{0, 4};
inline constexpr size_t ReadOnly = 5;   // u8
inline constexpr size_t Maximised = 6;  // u8
inline constexpr THeaderText TableName{7, 50};
inline constexpr THeaderText RecordId{58, 38};
inline constexpr size_t SheetOffset = 100;  // "EXCE"; in "UPDA" the frame's length
inline constexpr THeaderText TitleField{104, 50};
inline constexpr size_t StepCount = 156;
inline constexpr size_t FieldCount = 160;
inline constexpr size_t PassedCount = 164;
inline constexpr size_t PhraseCount = 168;
inline constexpr size_t SheetSize = 172;
inline constexpr size_t CommentCount = 176;
inline constexpr size_t PickedCount = 180;
inline constexpr THeaderText Version{184, 4};
inline constexpr THeaderText UserId{205, 38};
inline constexpr size_t NumberType = 248;  // -1 none
inline constexpr size_t Number = 252;
inline constexpr THeaderText NumberPrefix{256, 50};
inline constexpr THeaderText Opinion{307, 255};
inline constexpr size_t TemporarySave = 563;  // u8
inline constexpr size_t CurrentStep = 564;
inline constexpr size_t NextStep = 568;  // -1 not chosen
inline constexpr THeaderText BodyFile{572, 50};
inline constexpr THeaderText NumberField{623, 50};
inline constexpr size_t ObjectNumber = 676;
inline constexpr size_t AttachmentCount = 680;
inline constexpr size_t DistributionType = 684;
inline constexpr THeaderText AuthorId{688, 38};
inline constexpr THeaderText AuthorName{727, 50};
inline constexpr size_t EraseRevisions = 778;        // u8
inline constexpr size_t SavedForDistribution = 779;  // u8
inline constexpr size_t ComboCount = 780;
inline constexpr size_t SignOffMode = 784;
inline constexpr size_t AttachBelow = 788;
// Bytes no field uses, set by the bundled server: the number of the copy handed out (the
// form sends its header back, so a save names it), and 1 for a document nobody has saved
// yet, which its author opens as the new document it still is.
inline constexpr size_t CopyNumber = 192;    // i32
inline constexpr size_t UnsavedDraft = 196;  // u8
}  // namespace dh

// The header's bytes, carried unchanged except for the fields that are set.
class TDocHeader {
 public:
  TDocHeader() : bytes_(kDocHeaderSize, '\0') {}
  // Refuses (frames::EFrameError) fewer than 792 bytes or a text whose length
  // byte is beyond its field.
  static TDocHeader FromBytes(std::string_view bytes);

  int32_t I32(size_t at) const;
  uint8_t U8(size_t at) const;
  AnsiString Text(THeaderText f) const;
  void SetI32(size_t at, int32_t v);
  void SetU8(size_t at, uint8_t v);
  void SetText(THeaderText f, std::string_view text);  // cut to the field's size

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

struct TFieldRecord {  // 308 bytes: s[50] name, s[255] value
  AnsiString name;
  AnsiString value;
  bool operator==(const TFieldRecord&) const = default;
};

struct TPassedStep {  // 8 bytes
  int32_t step = 0;
  int32_t second = 0;
  bool operator==(const TPassedStep&) const = default;
};

struct TOpinionPhrase {  // 108 bytes: s[100] text, u8 group flag at +101
  AnsiString text;
  uint8_t group = 0;
  bool operator==(const TOpinionPhrase&) const = default;
};

struct TComboSource {  // 563 bytes
  AnsiString name;
  AnsiString items;   // display items, one per line
  AnsiString values;  // stored values, one per line
  bool operator==(const TComboSource&) const = default;
};

// One form field: where it sits and its value as stored and as edited.
struct TFieldEntry {
  int32_t row = 0;
  int32_t col = 0;
  AnsiString name;
  AnsiString stored;
  AnsiString edited;
};

// Runs of records with the same name joined into one value; a later run of a
// name replaces an earlier one, which keeps its place.
std::vector<TFieldRecord> JoinSplitValues(const std::vector<TFieldRecord>& records);
// Values longer than 255 bytes cut into 255-byte records of the same name.
std::vector<TFieldRecord> SplitValue(const AnsiString& name, std::string_view value);

class TStream2Array {
 public:
  TDocHeader Header;
  std::vector<TStepRecord> Steps;
  std::vector<TFieldRecord> FieldRecords;
  std::vector<TPassedStep> PassedSteps;
  std::vector<TOpinionPhrase> Phrases;
  std::vector<frames::CommentRecord> Comments;
  std::vector<frames::PickedUser> PickedUsers;
  std::vector<AnsiString> AttachmentNames;
  std::vector<TComboSource> ComboSources;
  // The field table; the document form fills it before loading, otherwise the
  // load fills it from the field records.
  std::vector<TFieldEntry> Fields;
  int32_t Status = -1;  // the "Status" record's value, -1 until one is read

  // Parses an "EXCE" reply. A reply whose counts, offsets or sizes reach
  // beyond its bytes, whose texts overrun their fields or whose "Status" is
  // not a whole number is refused with frames::EFrameError and changes nothing.
  void LoadFromStream(TStream& reply);
  void LoadFromBytes(std::string_view reply);

  // The sheet part of an "EXCE" reply (header +172 bytes from +100), and the
  // chart after it; refused like a bad reply.
  static std::string_view SheetPart(std::string_view reply);
  static std::string_view ChartPart(std::string_view reply);
  static void ReadBody(TMemoryStream& reply, TStream& target);
  static void ReadTail(TMemoryStream& reply, TStream& target);

  // Builds the "UPDA" frame from the header, the field table's edited values
  // (with "Status" and "StepID" records after them) and the picked users;
  // the frame stays owned by the record. The user ID is the session's.
  TMemoryStream& BuildUpdateFrame(const AnsiString& tableName, const AnsiString& recordId, int32_t status,
                                  const TSessionValues& session);
  TMemoryStream& FrameStream() { return frame_; }

  // The "EXCE" reply for this record: header counts and the sheet offset and
  // size are set from the arrays; the server's side of LoadFromBytes.
  std::string BuildDocumentReply(std::string_view sheet, std::string_view chart) const;

 private:
  TMemoryStream frame_;
};

// An "UPDA" frame as the server receives it.
struct TUpdateFrame {
  TDocHeader header;
  std::vector<TFieldRecord> records;
  std::vector<frames::PickedUser> pickedUsers;
};
TUpdateFrame ParseUpdateFrame(std::string_view frame);
