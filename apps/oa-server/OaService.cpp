#include "apps/oa-server/OaService.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>

#include "apps/oa-server/OaRights.h"
#include "control/wire/RecordReader.h"
#include "core/DateTime.h"
#include "control/wire/Un_CopyFiles.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace oa {

AnsiString DocumentNotFoundText() { return Cp936("未找到该文档！"); }
AnsiString SubmittedText() { return Cp936("文件操作成功！"); }
AnsiString SavedText() { return Cp936("文件暂存成功！"); }
AnsiString ArchivedText() { return Cp936("文件归档完毕！"); }
AnsiString DestroyedText() { return Cp936("文件已销毁！"); }
AnsiString AttachmentsSavedText() { return Cp936("附件保存成功！"); }
AnsiString DistributedText() { return Cp936("文件分发成功！"); }
AnsiString RecalledText() { return Cp936("文件收回成功！"); }
AnsiString SentOutsideText() { return Cp936("文件已发送至外单位！"); }
AnsiString SignedOffText() { return Cp936("签批意见已保存！"); }
AnsiString FlowSavedText() { return Cp936("流程保存成功！"); }

std::string FormatLogLine(std::string_view code5, std::string_view frame) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(16 + frame.size() * 2);
  for (size_t i = 1; i < 5; ++i) {
    const char c = i < code5.size() ? code5[i] : '?';
    line.push_back(c >= 0x21 && c <= 0x7E ? c : '?');
  }
  line.push_back(' ');
  line += std::to_string(frame.size());
  line.push_back(' ');
  for (unsigned char b : frame) {
    line.push_back(kHex[b >> 4]);
    line.push_back(kHex[b & 15]);
  }
  return line;
}

namespace {

// A request that cannot be done: shown to the user in a message box.
std::string Refusal(const char* utf8) { return frames::BuildServerMessage("|" + Cp936(utf8)); }
std::string Message(const AnsiString& text) { return frames::BuildServerMessage(text); }
std::string NotFound() { return Message("|" + DocumentNotFoundText()); }

// Why a request is refused.
constexpr const char* kUnknownUser = "未能确认您的身份，请重新登录！";
constexpr const char* kNotHandler = "您不是该文档当前步骤的办理人，不能修改该文档！";
constexpr const char* kClosed = "该文档已归档或销毁，不能再修改！";
constexpr const char* kMoved = "该文档已转到其他步骤，请重新打开后再办理！";
constexpr const char* kNoComment = "您不是该文档的办理人、起草人或分发对象，不能签批意见！";
constexpr const char* kChangedSince = "该文档已被他人修改，请关闭后重新打开。";
constexpr const char* kNumberTaken = "该编号已被其他文档使用，请重新编号。";
constexpr const char* kBadName = "附件保存失败：附件名称无效！";
constexpr const char* kAttachmentsChanged = "附件已被他人修改，请关闭后重新打开。";
constexpr const char* kBodyChanged = "正文已被他人修改，请关闭后重新打开。";
constexpr const char* kFlowChanged = "流程定义已被他人修改，请关闭后重新打开。";

// The form sends its header back unchanged, so a save says which copy, and so which
// revision, it was made from.
constexpr size_t kCopyNumber = dh::CopyNumber;

// The drafts one user keeps before his oldest never-saved one goes.
constexpr size_t kMaxDrafts = 8;

const AnsiString* ValueOf(const std::vector<TFieldRecord>& fields, const AnsiString& name) {
  for (const TFieldRecord& f : fields)
    if (f.name == name) return &f.value;
  return nullptr;
}

// Sets name to value in fields, adding it when absent.
void Put(std::vector<TFieldRecord>& fields, const TFieldRecord& v) {
  bool set = false;
  for (TFieldRecord& r : fields)
    if (r.name == v.name) {
      r.value = v.value;
      set = true;
    }
  if (!set) fields.push_back(v);
}

// The fields a save leaves: current with what the copy changed applied; nullopt when a
// field it changed was changed by another save since.
std::optional<std::vector<TFieldRecord>> Merged(const std::vector<TFieldRecord>& base,
                                                const std::vector<TFieldRecord>& current,
                                                const std::vector<TFieldRecord>& sent) {
  static const AnsiString kEmpty;
  std::vector<TFieldRecord> result = current;
  for (const TFieldRecord& v : sent) {
    const AnsiString* b = ValueOf(base, v.name);
    const AnsiString& was = b ? *b : kEmpty;
    if (v.value == was) continue;
    const AnsiString* c = ValueOf(current, v.name);
    const AnsiString& now = c ? *c : kEmpty;
    if (now != was && now != v.value) return std::nullopt;
    Put(result, v);
  }
  return result;
}

// Names a file may not be stored under: they would leave, or be, the folder it goes to.
bool UnsafeName(const AnsiString& name) {
  return name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != AnsiString::npos;
}

std::optional<int32_t> ParseInt(std::string_view text) {
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

// A draft never saved opens as the new document it was: its token fields ("[UserName]",
// "[Date]"...) hold what they stand for, with their names, as the form keeps stored values.
std::vector<TFieldRecord> DraftDefaults(const std::string& sheetBytes, const frames::LoginReply& user, double today) {
  TXLSheet sheet;
  TMemoryStream in(sheetBytes);
  sheet.LoadFromStream(in);
  // Dates as the form writes them: its login sets this short date format.
  TFormatSettings fs = DefaultFormatSettings();
  fs.ShortDateFormat = "yyyy-MM-dd";
  std::vector<TFieldRecord> values;
  sheet.Section(sClient)->ForEachStored([&](TXLCell* c) {
    const AnsiString text = c->GetAsString();
    const AnsiString name = c->Hint();
    if (name.empty() || text.size() < 3 || text.front() != '[' || text.back() != ']') return;
    const AnsiString word = text.substr(1, text.size() - 2);
    AnsiString value;
    if (word == "UserName") value = user.UserName;
    else if (word == "UserGUID") value = user.UserGUID;
    else if (word == "CompName") value = user.CompName;
    else if (word == "DeptName") value = user.DeptName;
    else if (word == "DutyName") value = user.DutyName;
    else if (word == "DateTime") value = DateTimeToStr(today, fs);
    else if (word == "Date") value = DateToStr(today, fs);
    else if (word == "Time") value = TimeToStr(today, fs);
    else if (word == "DateChina") value = FormatDateTime("dddddd", today, fs);
    else return;
    values.push_back({name, value + "|" + name});
  });
  return values;
}

bool IsWorkflowRecord(const AnsiString& name) { return AnsiUpperCase(name) == "STATUS" || name == "StepID"; }

// A file of an attachment list as one copy of it saw it: by name and content, and which of
// the files alike in both it was (a list may hold the same file twice); a token of 0 is a
// file that copy removed.
struct SeenFile {
  AnsiString name;
  uint32_t token = 0;
  uint32_t ordinal = 0;
};

std::string WriteSeen(const std::vector<SeenFile>& files) {
  std::string out;
  for (const SeenFile& f : files) {
    for (uint32_t v : {f.token, f.ordinal, uint32_t(f.name.size())})
      for (int i = 0; i < 4; ++i) out.push_back(char(v >> (8 * i)));
    out += f.name;
  }
  return out;
}

std::vector<SeenFile> ReadSeen(std::string_view in) {
  std::vector<SeenFile> files;
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t(uint8_t(in[at + i])) << (8 * i);
    return v;
  };
  for (size_t at = 0; at + 12 <= in.size();) {
    const uint32_t token = u32(at), ordinal = u32(at + 4), size = u32(at + 8);
    at += 12;
    if (size > in.size() - at) break;
    files.push_back({AnsiString(in.substr(at, size)), token, ordinal});
    at += size;
  }
  return files;
}

// Each file of a list as seen now.
std::vector<SeenFile> SeenOf(const std::vector<std::pair<AnsiString, uint32_t>>& files) {
  std::vector<SeenFile> seen;
  std::map<std::pair<AnsiString, uint32_t>, uint32_t> alike;
  for (const auto& file : files) seen.push_back({file.first, file.second, alike[file]++});
  return seen;
}

std::vector<SeenFile> SeenOf(const TCopy2Files& files) {
  std::vector<std::pair<AnsiString, uint32_t>> list;
  for (int i = 0; i < files.Count(); ++i) list.emplace_back(files.GetFileName(i), frames::ContentToken(files.FileData(i)));
  return SeenOf(list);
}

// What an upload leaves of the stored list: its added files appended, its replaced and
// removed files applied to the stored file its copy saw; nullopt when one of those was
// changed or removed by another save since.
struct AppliedUpload {
  std::string container;
  std::vector<SeenFile> seen;  // what the copy has seen once this is kept
};
std::optional<AppliedUpload> ApplyUpload(const std::string& storedBytes, const TCopy2Files& upload,
                                         const std::optional<std::vector<SeenFile>>& seen) {
  TCopy2Files stored;
  if (!storedBytes.empty()) stored.LoadFromBytes(storedBytes);
  struct File {
    AnsiString name;
    std::string data;
    uint32_t storedToken = 0;  // 0: not a stored file
    bool live = true, touched = false;
  };
  std::vector<File> list;
  for (int j = 0; j < stored.Count(); ++j) {
    const std::string_view data = stored.FileData(j);
    list.push_back({stored.GetFileName(j), std::string(data), frames::ContentToken(data)});
  }
  // The stored file a copy saw, as the list stood before this upload; -1 when it is gone.
  std::map<std::pair<AnsiString, uint32_t>, std::vector<size_t>> byName;
  for (size_t j = 0; j < list.size(); ++j) byName[{list[j].name, list[j].storedToken}].push_back(j);
  auto find = [&](const SeenFile& f) -> int {
    const auto alike = byName.find({f.name, f.token});
    if (alike == byName.end() || f.ordinal >= alike->second.size()) return -1;
    const size_t j = alike->second[f.ordinal];
    return list[j].live && !list[j].touched ? int(j) : -1;
  };
  const std::vector<SeenFile> sent = SeenOf(upload);
  std::vector<int> at(size_t(upload.Count()), -1);  // each entry's file in the list
  for (int i = 0; i < upload.Count(); ++i) {
    const int32_t state = upload.GetState(i);
    const std::string_view data = upload.FileData(i);
    const SeenFile* known = seen && size_t(i) < seen->size() ? &(*seen)[size_t(i)] : nullptr;
    // A file this copy put up itself that the server never kept: it is new.
    const bool unknownToServer = seen && !known;
    if (state == fsAdded || (state == fsReplaced && unknownToServer)) {
      list.push_back({upload.GetFileName(i), std::string(data), 0, true, true});
      at[size_t(i)] = int(list.size() - 1);
    } else if (state == fsReplaced) {
      const int j = known && known->token ? find(*known) : -1;
      if (j < 0) return std::nullopt;
      list[size_t(j)].data = std::string(data);
      list[size_t(j)].touched = true;
      at[size_t(i)] = j;
    } else if (state == fsRemoved) {
      if (unknownToServer || (known && known->token == 0)) continue;  // never kept, or removed already
      // Without a copy, the entry's own bytes, which a removal keeps, say which file it was.
      const int j = find(known ? *known : SeenFile{sent[size_t(i)].name, sent[size_t(i)].token, 0});
      if (j < 0) return std::nullopt;
      list[size_t(j)].live = false;
    } else if (known && known->token) {
      at[size_t(i)] = find(*known);
    } else if (!seen) {
      // A client that names no copy sends the list as it holds it: a file listed as the
      // server's that the server lacks is kept too, never lost.
      at[size_t(i)] = find(sent[size_t(i)]);
      if (at[size_t(i)] < 0) {
        list.push_back({upload.GetFileName(i), std::string(data), 0, true, true});
        at[size_t(i)] = int(list.size() - 1);
      }
    }
  }
  TCopy2Files kept;
  std::vector<std::pair<AnsiString, uint32_t>> keptFiles;
  std::vector<int> keptAt(list.size(), -1);
  for (size_t j = 0; j < list.size(); ++j) {
    if (!list[j].live) continue;
    kept.AddStream(list[j].name, list[j].data, fsFromServer);
    keptAt[j] = int(keptFiles.size());
    keptFiles.emplace_back(list[j].name, frames::ContentToken(list[j].data));
  }
  const std::vector<SeenFile> now = SeenOf(keptFiles);
  AppliedUpload out;
  out.container = kept.SaveToBytes();
  for (int i = 0; i < upload.Count(); ++i) {
    const int j = at[size_t(i)];
    if (j >= 0 && keptAt[size_t(j)] >= 0)
      out.seen.push_back(now[size_t(keptAt[size_t(j)])]);
    else if (upload.GetState(i) == fsRemoved || !seen || size_t(i) >= seen->size())
      out.seen.push_back({upload.GetFileName(i), 0, 0});
    else
      out.seen.push_back((*seen)[size_t(i)]);  // changed by another since: still as this copy saw it
  }
  return out;
}

std::vector<AnsiString> AttachmentNames(const std::string& container) {
  std::vector<AnsiString> names;
  if (container.empty()) return names;
  TCopy2Files files;
  files.LoadFromBytes(container);
  for (int i = 0; i < files.Count(); ++i) names.push_back(files.GetFileName(i));
  return names;
}

double WallClockDays() {
  using namespace std::chrono;
  const double secs = duration<double>(system_clock::now().time_since_epoch()).count();
  return 25569.0 + secs / 86400.0;  // 1970-01-01 counted from 1899-12-30
}

// How long after archiving the form's save of its changed fields is still taken: the form
// sends it as it closes, behind the archive command.
constexpr double kArchiveSaveDays = 2.0 / (24 * 60);

// ---- request layouts the server reads ------------------------------------------------

struct UserRequest {  // 144 bytes: the document form's and the workflow editor's
  AnsiString argument;     // table name, or the form file ("XSLF")
  AnsiString recordOrStep;
  uint8_t mode = 0;
  int32_t unit = 0;
  AnsiString userId;
  int32_t list = 0;
};
UserRequest ReadUserRequest(std::string_view f) {
  wire::RecordReader r(f, frames::kUserRequestSize, "User request");
  return {r.Text(5, 50), r.Text(56, 38), r.U8(95), r.I32(96), r.Text(100, 38), r.I32(140)};
}

struct DocCommand {
  AnsiString userId, tableName, recordId, verb;
  int32_t currentStep = 0, nextStep = 0;
};
DocCommand ReadDocCommand(std::string_view f) {
  wire::RecordReader r(f, frames::kDocCommandSize, "Document command");
  return {r.Text(5, 38), r.Text(44, 50), r.Text(95, 38), r.Text(134, 10), r.I32(148), r.I32(152)};
}

// Items after a fixed header, the count checked against the frame before reading.
template <class Read>
auto ReadItems(std::string_view f, size_t header, int32_t count, size_t itemSize, Read read) {
  if (count < 0 || uint64_t(count) * itemSize > f.size() - header) wire::Refuse("Request items beyond the frame");
  std::vector<decltype(read(f))> items;
  for (int32_t i = 0; i < count; ++i) items.push_back(read(f.substr(header + size_t(i) * itemSize, itemSize)));
  return items;
}

// A document about to be kept for the first time: its form's, at the workflow's start,
// written by the user who has it.
StoredDocument NewDraft(const AnsiString& recordId, const SampleTemplate& form, const TFlowMessage& wf,
                        const frames::UserRecord& user) {
  StoredDocument d;
  d.recordId = recordId;
  d.tableName = form.tableName;
  d.templateName = form.name;
  d.workflowId = form.workflowId;
  d.currentStep = StartStep(wf);
  d.authorId = user.userId;
  d.authorName = user.userName;
  return d;
}

}  // namespace

std::optional<std::string> OaService::Reply(std::string_view frame) const {
  try {
    return Dispatch(frame);
  } catch (const frames::EFrameError&) {
    throw;
  } catch (const Exception&) {
    // The store failed (a full disk): every write is one transaction, so nothing changed.
    return Refusal("操作失败：服务器无法写入数据，没有保存任何修改，请稍后再试！");
  }
}

std::optional<std::string> OaService::Dispatch(std::string_view frame) const {
  // A request without a full four-letter code is refused, not merely left unanswered.
  if (frame.size() < frames::kCodeSize || uint8_t(frame[0]) != 4)
    throw frames::EFrameError("frame without a code field");
  const AnsiString code = frames::FrameCode(frame);
  if (code == "LOGN") {
    const auto user = db_.FindUserByLogin(frames::ParseLoginRequest(frame));
    return frames::BuildLoginReply(user ? *user : frames::LoginReply{});
  }
  if (code == "QUEY") return Query(frame);
  if (code == "UPDA") return Update(frame);
  if (code == "SABB") return Upload(frame);
  if (code == "USER") return UserList(frame);
  if (code == "COMP") {
    const int32_t own = wire::RecordReader(frame, frames::kUnitsRequestSize, "Units request").I32(8);
    std::vector<frames::UnitRecord> units = db_.Units();
    std::erase_if(units, [&](const frames::UnitRecord& u) { return u.number == own; });
    return frames::BuildUnitsReply(units);
  }
  if (code == "BHQZ") {
    const int32_t unit = wire::RecordReader(frame, frames::kNumbersRequestSize, "Numbers request").I32(8);
    std::vector<frames::NumberEntry> kinds = db_.NumberKinds(unit);
    // The offer skips numbers other documents of the kind already hold.
    for (frames::NumberEntry& k : kinds)
      while (k.nextNumber > 0 && k.nextNumber < INT32_MAX && db_.NumberHeldByOther(k.kindId, k.nextNumber, ""))
        ++k.nextNumber;
    return frames::BuildNumbersReply(kinds);
  }
  if (code == "FEFA" || code == "FEFB") return Distribute(frame);
  if (code == "OTFF") return Outside(frame);
  if (code == "DCMD") return Command(frame);
  if (code == "QIAN") return SignOff(frame);
  if (code == "CHAT") return Flow(frame);
  if (code == "FLOW") return SaveFlow(frame);
  if (code == "FILE") return File(frame);
  if (code == "XSLF") return Sheet(frame);
  throw frames::EFrameError("unknown request code");
}

// A page's query opens a document (a stored one, or a new one from its template); the
// document form's query, which names the table, asks for the attachment list.
std::string OaService::Query(std::string_view frame) const {
  const frames::QueryRecord q = frames::ReadQueryRequest(frame);
  if (!q.tableName.empty()) {
    if (!KnownUser(q.userId)) return Refusal(kUnknownUser);
    const std::string container = db_.Attachments(q.recordId);
    TCopy2Files files;
    if (!container.empty()) files.LoadFromBytes(container);
    const std::optional<Held> held = Find(q.recordId);
    frames::AttachmentsReply r;
    r.recordId = q.recordId;
    r.tableName = q.tableName;
    // Whoever may not change the document may not change its attachments either.
    r.readOnly = q.readOnlyFlag || !held || !MayChange(held->doc, held->wf, q.userId);
    r.slotCount = files.Count();
    r.comments = db_.Comments(q.recordId);
    if (r.readOnly) return frames::BuildAttachmentsReply(r, container);
    // The list goes out as a copy of its own, whose number it carries back with its changes.
    try {
      files.SetCopyNumber(int32_t(db_.NewAttachmentCopy(q.recordId, q.userId, WriteSeen(SeenOf(files)))));
    } catch (const Exception&) {
      return frames::BuildAttachmentsReply(r, container);  // read still; changes are refused
    }
    return frames::BuildAttachmentsReply(r, files.SaveToBytesWithHeader());
  }

  std::optional<StoredDocument> stored = db_.FindDocument(q.recordId);
  const AnsiString templateName = stored ? stored->templateName : q.templateName;
  const std::optional<SampleTemplate> form = db_.FindTemplate(templateName);
  if (!form || q.recordId.empty()) return Message(DocumentNotFoundText());
  const std::optional<TFlowMessage> wf = db_.FindWorkflow(stored ? stored->workflowId : form->workflowId);
  if (!wf) return Message(DocumentNotFoundText());
  const std::optional<frames::UserRecord> user = UserOf(q.userId);
  if (!user) return Refusal(kUnknownUser);

  StoredDocument d;
  if (stored) {
    d = *stored;
  } else {
    // A new document is kept from the moment it is handed out, as its author's draft, so
    // that what is attached to it before its first save has a document to belong to.
    d = NewDraft(q.recordId, *form, *wf, *user);
    // One user keeps a few drafts; the oldest never-saved one goes (its files kept as versions).
    std::vector<AnsiString> drafts = db_.UnsavedDrafts(user->userId);
    for (size_t i = 0; i + kMaxDrafts <= drafts.size(); ++i) db_.DropDraft(drafts[i]);
    db_.SaveDocument(d);
  }

  TStream2Array doc;
  TDocHeader& h = doc.Header;
  // Anyone else gets to read it only.
  h.SetU8(dh::ReadOnly, !MayChange(d, *wf, user->userId));
  h.SetU8(dh::Maximised, form->maximised);
  h.SetText(dh::TableName, d.tableName);
  h.SetText(dh::RecordId, d.recordId);
  h.SetText(dh::TitleField, form->titleField);
  h.SetI32(dh::NumberType, d.numberType);
  h.SetI32(dh::Number, d.number);
  h.SetText(dh::NumberPrefix, d.numberPrefix);
  h.SetText(dh::Opinion, d.opinion);
  h.SetI32(dh::CurrentStep, d.currentStep);
  h.SetI32(dh::NextStep, d.nextStep);
  h.SetText(dh::BodyFile, form->bodyName);
  h.SetText(dh::NumberField, form->numberField);
  h.SetI32(dh::ObjectNumber, q.objectNumber);
  h.SetI32(dh::DistributionType, form->distributionType);
  h.SetText(dh::AuthorId, d.authorId);
  h.SetText(dh::AuthorName, d.authorName);
  h.SetI32(dh::SignOffMode, form->signOffMode);
  h.SetI32(dh::AttachBelow, form->attachBelow);
  // Only a window that may save needs a copy to save from; reading writes nothing, so a
  // store that cannot be written still serves it.
  const bool mayChange = MayChange(d, *wf, user->userId);
  const bool unsaved = !stored || db_.Revision(d.recordId) == 0;
  int64_t copy = 0;
  if (mayChange) {
    try {
      copy = db_.NewCopy(d.recordId, user->userId);
    } catch (const Exception&) {
      copy = 0;  // its save is refused as the store's failure would refuse it
    }
  }
  h.SetI32(kCopyNumber, int32_t(copy));
  h.SetU8(dh::UnsavedDraft, unsaved && mayChange);
  doc.Steps = wf->steps;
  std::vector<TFieldRecord> values = d.values;
  if (stored && values.empty() && unsaved)
    if (const auto author = db_.UserById(d.authorId))
      if (const auto login = db_.FindUserByLogin(author->loginName)) values = DraftDefaults(form->sheet, *login, Today());
  for (const TFieldRecord& v : values)
    for (TFieldRecord& piece : SplitValue(v.name, v.value)) doc.FieldRecords.push_back(std::move(piece));
  doc.FieldRecords.push_back({"Status", AnsiString(std::to_string(d.status))});
  doc.PassedSteps = d.passed;
  doc.Phrases = db_.Phrases();
  doc.Comments = db_.Comments(d.recordId);
  doc.PickedUsers = d.handlers;
  doc.AttachmentNames = AttachmentNames(db_.Attachments(d.recordId));
  doc.ComboSources = form->combos;
  return doc.BuildDocumentReply(form->sheet, wf->chart);
}

// Stores the field values and handlers; a submit (status 1) moves the document to the
// step the header names as next, whose handlers are then the ones picked for it.
std::string OaService::Update(std::string_view frame) const {
  const TUpdateFrame u = ParseUpdateFrame(frame);
  int32_t status = 0;
  std::vector<TFieldRecord> values;
  for (const TFieldRecord& v : JoinSplitValues(u.records)) {
    if (AnsiUpperCase(v.name) == "STATUS") {
      const auto parsed = ParseInt(v.value);
      if (!parsed) wire::Refuse("Update: Status is not a whole number");
      status = *parsed;
    }
    if (!IsWorkflowRecord(v.name)) values.push_back(v);
  }
  const AnsiString recordId = u.header.Text(dh::RecordId);
  std::optional<StoredDocument> stored = db_.FindDocument(recordId);
  const std::optional<SampleTemplate> form =
      db_.FindTemplate(stored ? stored->templateName : u.header.Text(dh::TableName));
  if (recordId.empty() || !form) return Refusal("保存失败：未找到该文档的表单！");
  const std::optional<TFlowMessage> wf = db_.FindWorkflow(stored ? stored->workflowId : form->workflowId);
  if (!wf) return Refusal("保存失败：未找到该文档的流程！");
  const std::optional<frames::UserRecord> user = UserOf(u.header.Text(dh::UserId));
  if (!user) return Refusal(kUnknownUser);
  // The save that follows an archive is kept with the archived document; nothing else
  // changes a document that is no longer open.
  bool archiveSave = false;
  const int32_t copyNumber = u.header.I32(kCopyNumber);
  // A copy handed out of a document the server no longer has (a draft dropped since).
  if (!stored && copyNumber != 0) return NotFound();
  const std::optional<int> copy = db_.CopyRevision(copyNumber, recordId);
  const int revision = stored ? db_.Revision(recordId) : 0;
  if (stored && stored->state != "open") {
    // Only the archiving window's closing save, from its copy as it was when it archived.
    if (status != 1 || !FollowsArchive(*stored, user->userId, copyNumber) || copy != revision) return Refusal(kClosed);
    archiveSave = true;
  } else if (stored) {
    if (!MayChange(*stored, *wf, user->userId)) return Refusal(kNotHandler);
    // A form opened before the document moved on speaks for a step that is no longer its.
    const int32_t step = u.header.I32(dh::CurrentStep);
    if (step > 0 && step != stored->currentStep) return Refusal(kMoved);
  }

  StoredDocument d = stored ? *stored : NewDraft(recordId, *form, *wf, *user);
  // What this copy changed is applied over what other saves changed since it was handed out.
  // A copy the server did not hand out (or one that is no longer known) has nothing to merge
  // against; a document never handed out starts empty.
  const std::optional<std::vector<TFieldRecord>> base =
      copy ? db_.CopyFields(copyNumber, recordId) : stored ? std::nullopt : std::optional(std::vector<TFieldRecord>{});
  std::optional<std::vector<TFieldRecord>> merged = base ? Merged(*base, d.values, values) : std::nullopt;
  if (!merged) return Refusal(kChangedSince);
  // What the copy shows now: what it was handed, with what it sent.
  std::vector<TFieldRecord> seen = *base;
  for (const TFieldRecord& v : values) Put(seen, v);
  d.values = std::move(*merged);
  d.status = status;
  d.opinion = u.header.Text(dh::Opinion);
  d.numberType = u.header.I32(dh::NumberType);
  d.number = u.header.I32(dh::Number);
  d.numberPrefix = u.header.Text(dh::NumberPrefix);
  d.handlers = u.pickedUsers;
  if (d.numberType >= 0 && d.number > 0 && db_.NumberHeldByOther(d.numberType, d.number, recordId))
    return Refusal(kNumberTaken);
  if (archiveSave) {
    db_.SaveRevision(d, copyNumber, seen);  // it stays where it was archived
    return Message(SubmittedText());
  }
  const int32_t current = !stored && u.header.I32(dh::CurrentStep) > 0 ? u.header.I32(dh::CurrentStep) : d.currentStep;
  const int32_t next = u.header.I32(dh::NextStep);
  if (!FindStep(*wf, current)) return Refusal("保存失败：当前流程步骤不存在！");
  d.currentStep = current;
  d.nextStep = next;
  // Saved for distribution: kept where it stands, not handed on.
  const bool submit = status == 1 && u.header.U8(dh::SavedForDistribution) == 0;
  if (submit && next != -1) {
    if (!FindStep(*wf, next)) return Refusal("提交失败：下一流程步骤不存在！");
    d.passed.push_back({current, 0});
    d.currentStep = next;
    d.nextStep = -1;
    d.stepHandlers.clear();
    for (const frames::PickedUser& p : u.pickedUsers) d.stepHandlers.push_back(p.userId);
  }
  db_.SaveRevision(d, copyNumber, seen);
  return Message(submit ? SubmittedText() : SavedText());
}

std::optional<frames::UserRecord> OaService::UserOf(const AnsiString& userId) const {
  if (userId.empty()) return std::nullopt;
  return db_.UserById(userId);
}

bool OaService::KnownUser(const AnsiString& userId) const { return UserOf(userId).has_value(); }

std::optional<OaService::Held> OaService::Find(const AnsiString& recordId) const {
  if (recordId.empty()) return std::nullopt;
  std::optional<StoredDocument> d = db_.FindDocument(recordId);
  if (!d) return std::nullopt;
  std::optional<TFlowMessage> wf = db_.FindWorkflow(d->workflowId);
  if (!wf) return std::nullopt;
  return Held{std::move(*d), std::move(*wf)};
}

std::optional<std::string> OaService::ChangeRefused(const std::optional<Held>& held, const AnsiString& userId) const {
  if (!held) return NotFound();
  if (!KnownUser(userId)) return Refusal(kUnknownUser);
  if (held->doc.state != "open") return Refusal(kClosed);
  if (!MayChange(held->doc, held->wf, userId)) return Refusal(kNotHandler);
  return std::nullopt;
}

double OaService::Today() const { return Now ? Now() : WallClockDays(); }

bool OaService::FollowsArchive(const StoredDocument& d, const AnsiString& userId, int32_t copyNumber) const {
  if (d.state != "archived" || userId.empty()) return false;
  const std::optional<OaDatabase::ArchiveSave> pending = db_.PendingArchiveSave(d.recordId);
  if (!pending || pending->userId != userId) return false;
  if (pending->copy == 0 || pending->copy != (copyNumber & 0xFFFFFF)) return false;
  const double since = Today() - pending->at;
  return since >= 0 && since <= kArchiveSaveDays;
}

// The Word body comes back as a container of one file named as the body; anything else
// is the attachment list, kept without the files removed from it.
std::string OaService::Upload(std::string_view frame) const {
  wire::RecordReader r(frame, frames::kUploadHeaderSize, "Upload");
  const AnsiString recordId = r.Text(12, 38);
  TCopy2Files files;
  files.LoadFromBytes(frame.substr(frames::kUploadHeaderSize));
  if (recordId.empty()) return Refusal("附件保存失败：文档编号为空！");
  for (int i = 0; i < files.Count(); ++i)
    if (files.GetState(i) != fsRemoved && UnsafeName(files.GetFileName(i))) return Refusal(kBadName);
  // The request names nobody: what can be held is that the document exists and is open.
  const std::optional<StoredDocument> stored = db_.FindDocument(recordId);
  if (!stored) return NotFound();
  if (stored->state != "open") return Refusal(kClosed);
  const std::optional<SampleTemplate> form = db_.FindTemplate(stored->templateName);
  if (form && !form->bodyName.empty() && files.Count() == 1 && files.GetFileName(0) == form->bodyName) {
    // Saved from the body the server holds (one not said: from the form's own body).
    const uint32_t madeFrom = frames::UploadMadeFrom(frame);
    const std::optional<std::string> own = db_.Body(recordId);
    if (madeFrom == 0 ? own.has_value() : madeFrom != frames::ContentToken(own ? *own : form->body))
      return Refusal(kBodyChanged);
    db_.SaveBody(recordId, std::string(files.FileData(0)));
    return Message(AttachmentsSavedText());
  }
  const int32_t copyNumber = files.CopyNumber();
  const std::optional<std::string> copy = copyNumber > 0 ? db_.AttachmentCopy(copyNumber, recordId) : std::nullopt;
  const std::optional<AppliedUpload> applied =
      ApplyUpload(db_.Attachments(recordId), files, copy ? std::optional(ReadSeen(*copy)) : std::nullopt);
  if (!applied) return Refusal(kAttachmentsChanged);
  if (copy)
    db_.SaveAttachmentsFrom(recordId, applied->container, copyNumber, WriteSeen(applied->seen));
  else
    db_.SaveAttachments(recordId, applied->container);
  return Message(AttachmentsSavedText());
}

// The editor (no table name) picks handlers from everybody; the document form's next
// handler list (mode 2) offers the named step's handlers, never the one who asks (nobody
// hands a document on to himself), the other lists the unit.
std::string OaService::UserList(std::string_view frame) const {
  const UserRequest q = ReadUserRequest(frame);
  std::vector<frames::UserRecord> users;
  if (q.argument.empty()) {
    users = db_.Users(0);
  } else if (q.mode == 2) {
    const std::optional<SampleTemplate> form = db_.FindTemplate(q.argument);
    const std::optional<TFlowMessage> wf = form ? db_.FindWorkflow(form->workflowId) : std::nullopt;
    const auto step = ParseInt(q.recordOrStep);
    const TStepRecord* s = wf && step ? FindStep(*wf, *step) : nullptr;
    if (s && !s->authorIsHandler)
      for (uint32_t i = 0; i < s->handlerCount; ++i)
        if (auto user = db_.UserById(s->handlers[i].userId)) users.push_back(*user);
    if (users.empty()) users = db_.Users(q.unit);
    std::erase_if(users, [&](const frames::UserRecord& u) { return u.userId == q.userId; });
  } else {
    users = db_.Users(q.mode == 1 ? 0 : q.unit);
    if (q.mode == 1) {
      // Those who hold the document (distributed, not recalled) are marked for the dialog.
      const std::vector<AnsiString> given = db_.DistributionTargets(q.recordOrStep, "FEFA");
      const std::vector<AnsiString> taken = db_.DistributionTargets(q.recordOrStep, "FEFB");
      for (frames::UserRecord& user : users)
        user.marker = std::count(given.begin(), given.end(), user.userId) >
                      std::count(taken.begin(), taken.end(), user.userId);
    }
  }
  for (frames::UserRecord& user : users) {
    user.listKind = q.list;
    // The outside groups page lists each user under the groups it belongs to.
    if (q.list == 4) {
      user.groupPages = user.groups;
      user.listUnderGroups = 1;
    }
  }
  return frames::BuildUserListReply(users);
}

std::string OaService::Distribute(std::string_view frame) const {
  wire::RecordReader r(frame, frames::kDistributionHeaderSize, "Distribution");
  const AnsiString code = frames::FrameCode(frame);
  const AnsiString recordId = r.Text(56, 38);
  const AnsiString userId = r.Text(100, 38);
  const auto ids = ReadItems(frame, frames::kDistributionHeaderSize, r.I32(96), frames::kDistributionItemSize,
                             [](std::string_view item) {
                               return wire::RecordReader(item, frames::kDistributionItemSize, "Item").Text(0, 38);
                             });
  if (const auto refused = ChangeRefused(Find(recordId), userId)) return *refused;
  db_.RecordDistribution(recordId, code, ids);
  return Message(code == "FEFA" ? DistributedText() : RecalledText());
}

std::string OaService::Outside(std::string_view frame) const {
  wire::RecordReader r(frame, frames::kOutsideHeaderSize, "Outside distribution");
  const AnsiString recordId = r.Text(5, 38);
  const auto units = ReadItems(frame, frames::kOutsideHeaderSize, r.I32(96), frames::kUnitRecordSize,
                               [](std::string_view item) { return frames::ReadUnitRecord(item).name; });
  // The request names nobody: what can be held is that the document exists and is open.
  const std::optional<StoredDocument> stored = db_.FindDocument(recordId);
  if (!stored) return NotFound();
  if (stored->state != "open") return Refusal(kClosed);
  db_.RecordDistribution(recordId, "OTFF", units);
  return Message(SentOutsideText());
}

std::string OaService::Command(std::string_view frame) const {
  const DocCommand c = ReadDocCommand(frame);
  if (const auto refused = ChangeRefused(Find(c.recordId), c.userId)) return *refused;
  if (c.verb == "INBOX") {
    db_.ArchiveDocument(c.recordId, c.userId, Today(), frames::DocCommandCopy(frame));
    return Message(ArchivedText());
  }
  if (c.verb == "DELETE") {
    db_.SetDocumentState(c.recordId, "destroyed");
    return Message(DestroyedText());
  }
  if (c.verb == "SENDFIAG") return Message(SubmittedText());
  return Refusal("无法识别的文档命令！");
}

std::string OaService::SignOff(std::string_view frame) const {
  wire::RecordReader r(frame, frames::kSignOffSize, "Sign-off");
  frames::CommentRecord c;
  c.authorId = r.Text(5, 38);
  const AnsiString recordId = r.Text(95, 38);
  c.text = r.Text(134, 255);
  const std::optional<Held> held = Find(recordId);
  if (!held) return NotFound();
  // Always in the name of the user the request names, as the server knows him.
  const std::optional<frames::UserRecord> author = UserOf(c.authorId);
  if (!author) return Refusal(kUnknownUser);
  const std::vector<AnsiString> holders =
      Holders(db_.DistributionTargets(recordId, "FEFA"), db_.DistributionTargets(recordId, "FEFB"));
  if (!MayComment(held->doc, held->wf, author->userId, holders)) return Refusal(kNoComment);
  c.authorId = author->userId;
  c.authorName = author->userName;
  c.dateTime = Today();
  db_.AddComment(recordId, c);
  return Message(SignedOffText());
}

std::string OaService::Flow(std::string_view frame) const {
  const int32_t id = wire::RecordReader(frame, frames::kChatSize, "Flow request").I32(8);
  std::optional<TFlowMessage> wf = db_.FindWorkflow(id);
  if (!wf) return Refusal("未找到该流程！");
  wf->madeFrom = FlowToken(*wf);  // the editor sends it back with its save
  return BuildFlowMessage(*wf);
}

std::string OaService::SaveFlow(std::string_view frame) const {
  const TFlowMessage m = ParseFlowMessage(frame);
  if (m.flowName.empty()) return Refusal("流程保存失败：流程名称为空！");
  // Saved from the definition the server holds, or not at all.
  if (const auto before = m.flowId ? db_.FindWorkflow(int(m.flowId)) : std::nullopt)
    if (m.madeFrom != FlowToken(*before)) return Refusal(kFlowChanged);
  if (const auto refused = FlowRefused(m)) return Refusal(refused);
  db_.SaveWorkflow(m);
  return Message(FlowSavedText());
}

const char* OaService::FlowRefused(const TFlowMessage& m) const {
  std::vector<const TStepRecord*> kept;
  for (const TStepRecord& r : m.steps)
    if (r.changeState != stepDeleted) kept.push_back(&r);
  if (kept.empty()) return "流程保存失败：流程至少需要一个步骤！";
  if (m.flowId == 0) return nullptr;
  // The start as the new definition has it: its author handles a document standing there.
  const auto first = std::find_if(kept.begin(), kept.end(), [](const TStepRecord* r) { return r->previousSteps.empty(); });
  const int32_t start = first != kept.end() ? (*first)->id : kept.front()->id;
  // No open document may be left at a step that is gone or that has no handler of its own:
  // the next document sent there would find nobody.
  for (const StoredDocument& d : db_.OpenDocuments(int(m.flowId))) {
    const auto at = std::find_if(kept.begin(), kept.end(), [&](const TStepRecord* r) { return r->id == d.currentStep; });
    if (at == kept.end()) return "流程保存失败：有未办结的文档停留在被删除的步骤上！";
    const TStepRecord& step = **at;
    const uint32_t count = std::min<uint32_t>(step.handlerCount, uint32_t(std::size(step.handlers)));
    const bool named = std::any_of(step.handlers.begin(), step.handlers.begin() + count, [](const auto& h) { return !h.userId.empty(); });
    if (!named && !step.authorIsHandler && step.id != start) return "流程保存失败：有未办结的文档停留的步骤没有办理人！";
  }
  return nullptr;
}

// The document's own body when one was saved, else the template's.
std::string OaService::File(std::string_view frame) const {
  const frames::QueryRecord q = frames::ReadQueryRequest(frame);
  if (!KnownUser(q.userId)) return Refusal(kUnknownUser);
  const AnsiString fileName = q.templateName;
  std::optional<std::string> body = db_.Body(q.recordId);
  if (!body) {
    const std::optional<StoredDocument> stored = db_.FindDocument(q.recordId);
    const std::optional<SampleTemplate> form = db_.FindTemplate(stored ? stored->templateName : q.tableName);
    if (form && !form->bodyName.empty() && form->bodyName == fileName) body = form->body;
  }
  if (!body) return Refusal("未找到正文文件！");
  return frames::BuildFileReply(q.tableName, q.recordId, fileName, *body);
}

namespace {

// The workflow editor picks a field by the text of its cell, but a template's fields hold
// defaults, item lists and dates: the picker's copy shows each field's name, which its
// hint holds, as plain text in every field cell.
std::string PickerSheet(const std::string& stored) {
  TXLSheet sheet;
  TMemoryStream in(stored);
  sheet.LoadFromStream(in);
  TXLSection* client = sheet.Section(sClient);
  std::vector<TPoint> fields;
  client->ForEachStored([&](TXLCell* c) {
    if (!c->Hint().empty()) fields.push_back(c->Pos());
  });
  for (const TPoint& at : fields) {
    TXLCell* c = client->PutCell(at, &XLCStringClass);
    if (!c) continue;
    c->SetEditor(0);
    c->SetFormat("");
    c->SetAsString(c->Hint());
  }
  TMemoryStream out;
  sheet.SaveToStream(out);
  return out.TakeData();
}

}  // namespace

void OaService::Restore(int64_t versionId) const {
  const auto version = db_.VersionContent(versionId);
  if (!version) throw Exception("no version " + std::to_string(versionId));
  const auto& [v, content] = *version;
  if (v.kind == "workflow") {
    TFlowMessage m = ParseFlowMessage(content);
    if (const char* refused = FlowRefused(m)) throw Exception(refused);
    db_.SaveWorkflow(m);
    return;
  }
  if (!db_.FindDocument(v.key)) throw Exception("document " + v.key + " no longer exists");
  if (v.kind == "body")
    db_.SaveBody(v.key, content);
  else
    db_.SaveAttachments(v.key, content);
}

std::string OaService::Sheet(std::string_view frame) const {
  const UserRequest q = ReadUserRequest(frame);
  const std::optional<SampleTemplate> form = db_.FindTemplate(q.argument);
  if (!form) return Refusal("未找到该表单！");
  return frames::BuildSheetReply(PickerSheet(form->sheet));
}

}  // namespace oa
