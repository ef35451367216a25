// Feeds request frames, one after another, through the server's request handling over a
// store holding the sample data and two documents. Each input is a list of requests:
// [u8 pick][u16 length][bytes]; a pick below the number of ready-made requests patches
// that request (the first two bytes give where), any other pick sends the bytes as they
// are. After every request the store is checked: a refused request changed nothing; what
// a request changed it had the right to change; nothing replaced was lost.
#include <sqlite3.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "apps/oa-server/OaRights.h"
#include "apps/oa-server/OaService.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_CopyFiles.h"
#include "control/wire/Un_type.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";
const char* kZhao = "{1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9}";
const char* kDraft = "{11111111-2222-4333-8444-555555555555}";
const char* kReview = "{22222222-2222-4333-8444-555555555555}";

// Tables the requests only read; the large ones are compared once per input.
const char* kFixed[] = {"units", "departments", "users", "user_groups", "phrases"};
const char* kFixedLarge[] = {"templates", "template_combos"};
// Tables whose rows belong to one document, by its record_id.
const char* kDocumentTables[] = {"documents", "document_fields", "document_handlers", "document_step_handlers",
                                 "document_passed", "archive_saves", "document_revisions", "revision_fields"};

// Every row of a table as text, in a fixed order; by document when it has record_id.
using Rows = std::map<std::string, std::string>;
Rows Dump(sqlite3* db, const std::string& table, bool byRecord) {
  Rows rows;
  sqlite3_stmt* s = nullptr;
  const std::string sql = "SELECT " + std::string(byRecord ? "record_id" : "''") + ", * FROM " + table;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK);
  while (sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int i = 1; i < sqlite3_column_count(s); ++i) {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
      row.append(p ? p : "", size_t(sqlite3_column_bytes(s, i)));
      row.push_back('\x1f');
    }
    const auto* k = static_cast<const char*>(sqlite3_column_blob(s, 0));
    std::string key(k ? k : "", size_t(sqlite3_column_bytes(s, 0)));
    // Text is kept as UTF-8; the server names documents in code page 936.
    if (sqlite3_column_type(s, 0) == SQLITE_TEXT) key = Utf8ToCp936(key);
    rows[key] += row + '\x1e';
  }
  sqlite3_finalize(s);
  return rows;
}

struct Snapshot {
  std::map<std::string, Rows> tables;
  std::set<std::string> versions;  // kept contents
  std::map<std::string, std::string> files[2];  // attachment containers, bodies
};

std::map<std::string, std::string> Blobs(sqlite3* db, const char* sql) {
  std::map<std::string, std::string> blobs;
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK);
  while (sqlite3_step(s) == SQLITE_ROW) {
    const auto* k = static_cast<const char*>(sqlite3_column_blob(s, 0));
    const auto* v = static_cast<const char*>(sqlite3_column_blob(s, 1));
    blobs[std::string(k ? k : "", size_t(sqlite3_column_bytes(s, 0)))] =
        std::string(v ? v : "", size_t(sqlite3_column_bytes(s, 1)));
  }
  sqlite3_finalize(s);
  return blobs;
}

Snapshot Take(sqlite3* db) {
  Snapshot s;
  for (const char* t : kFixed) s.tables[t] = Dump(db, t, false);
  for (const char* t : kDocumentTables) s.tables[t] = Dump(db, t, true);
  for (const char* t : {"attachments", "bodies", "comments", "distributions"}) s.tables[t] = Dump(db, t, true);
  for (const char* t : {"workflows", "workflow_steps", "number_kinds", "versions"}) s.tables[t] = Dump(db, t, false);
  sqlite3_stmt* v = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT content FROM versions", -1, &v, nullptr) == SQLITE_OK);
  while (sqlite3_step(v) == SQLITE_ROW)
    s.versions.emplace(static_cast<const char*>(sqlite3_column_blob(v, 0)), size_t(sqlite3_column_bytes(v, 0)));
  sqlite3_finalize(v);
  s.files[0] = Blobs(db, "SELECT record_id, container FROM attachments");
  s.files[1] = Blobs(db, "SELECT record_id, body FROM bodies");
  return s;
}

std::string g_path;
std::string g_image;  // the store with the scene, as a file
std::vector<std::string> g_requests;
std::map<std::string, Rows> g_large;  // kFixedLarge as the scene holds them

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

AnsiString UserOf(std::string_view frame) {
  try {
    const AnsiString code = frames::FrameCode(frame);
    if (code == "UPDA") return ParseUpdateFrame(frame).header.Text(dh::UserId);
    if (code == "QUEY") return frames::ReadQueryRequest(frame).userId;
    if (code == "DCMD" && frame.size() > 44) return AnsiString(frame.substr(6, uint8_t(frame[5]) % 39));
  } catch (const Exception&) {
  }
  return {};
}

// What stood before a request: the document, and the archive save it still waited for.
struct Before {
  std::optional<oa::StoredDocument> doc;
  std::optional<OaDatabase::ArchiveSave> pending;
};

// May this request, by the user it names, have changed the rows of that document? Read
// from what stood before it: an accepted archive save removes the slot it used.
bool MayHaveChanged(OaDatabase& db, std::string_view frame, const Before& was) {
  const std::optional<oa::StoredDocument>& before = was.doc;
  const AnsiString code = frame.size() >= 5 ? frames::FrameCode(frame) : AnsiString();
  const AnsiString user = UserOf(frame);
  if (!before) return code == "UPDA" || code == "QUEY";  // handed out or saved new
  if (code == "QUEY") return before->authorId == user;  // his own oldest draft goes
  if (code != "UPDA" && code != "DCMD") return false;
  const std::optional<TFlowMessage> wf = db.FindWorkflow(before->workflowId);
  if (wf && oa::MayChange(*before, *wf, user)) return true;
  if (code != "UPDA" || !was.pending || was.pending->userId != user) return false;
  // Only the archiving window's own save: its copy is the one the archive named.
  const int32_t copy = ParseUpdateFrame(frame).header.I32(dh::CopyNumber);
  return was.pending->copy != 0 && was.pending->copy == (copy & 0xFFFFFF);
}

void Setup() {
  // In memory when the system offers it: every input starts from a fresh copy of the file.
  // The folder is named by the process: libFuzzer may end without running exit handlers,
  // so those of processes gone are removed here.
  const std::filesystem::path root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("fuzz-oa-", 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + 8, nullptr, 10);
    if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), ec);
  }
  const std::filesystem::path dir = root / ("fuzz-oa-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir, ec);
  Check(std::filesystem::create_directory(dir, ec));
  g_path = (dir / "oa.sqlite").string();
  OaDatabase db;
  db.Open(g_path);
  oa::OaService service(db);
  service.Now = [] { return 46000.0; };
  auto open = [&](const char* user, const char* record) {
    frames::QueryRecord q;
    q.userId = user;
    q.recordId = record;
    q.templateName = Cp936("请假单");
    const std::string query = frames::BuildQueryRequest(q);
    g_requests.push_back(query);
    TStream2Array d;
    d.LoadFromBytes(*service.Reply(query));
    return d;
  };
  auto save = [&](TStream2Array d, const char* user, const char* record, int32_t next, int32_t status) {
    SessionValues().UserGUID = user;
    d.Fields = {{1, 1, Cp936("标题"), "", "t"}, {1, 2, Cp936("事由"), "", "r"}};
    d.Header.SetI32(dh::NextStep, next);
    d.Header.SetI32(dh::NumberType, 1);
    d.Header.SetI32(dh::Number, record == std::string_view(kDraft) ? 8 : 7);
    d.PickedUsers = {{kZhang, Cp936("张三"), 0, ""}};
    const std::string update = d.BuildUpdateFrame("oa_leave", record, status, SessionValues()).Data();
    g_requests.push_back(update);
    Check(frames::ParseServerMessage(*service.Reply(update))[0] != '|');
  };
  save(open(kAdmin, kDraft), kAdmin, kDraft, 2, 0);
  save(open(kAdmin, kReview), kAdmin, kReview, 2, 1);
  const TStream2Array zhangs = open(kZhang, kReview);
  save(zhangs, kZhang, kReview, 3, 0);
  TCopy2Files files;
  files.AddStream("a.txt", "alpha", fsAdded);
  files.AddStream("b.txt", "beta", fsAdded);
  const std::string upload = frames::BuildUploadRequest(kDraft, "oa_leave", 2, files.SaveToBytes());
  Check(frames::ParseServerMessage(*service.Reply(upload))[0] != '|');
  g_requests.push_back(upload);
  const std::optional<oa::SampleTemplate> form = db.FindTemplate(Cp936("请假单"));
  Check(form.has_value());
  // The editor's save sends back the definition as it was handed out.
  const std::string chat = frames::BuildChatRequest(form->workflowId);
  g_requests.push_back(BuildFlowMessage(ParseFlowMessage(*service.Reply(chat))));
  g_requests.push_back(chat);
  g_requests.push_back(frames::BuildDocCommandRequest(kZhang, "oa_leave", kReview, "INBOX", 2, -1,
                                                      zhangs.Header.I32(dh::CopyNumber)));
  g_requests.push_back(frames::BuildDocCommandRequest(kAdmin, "oa_leave", kDraft, "DELETE", 1, -1));
  g_requests.push_back(frames::BuildSignOffRequest(kZhang, "oa_leave", kReview, "ok"));
  g_requests.push_back(frames::BuildDistributionRequest("FEFA", "oa_leave", kReview, kZhang, {{kZhao, false}}));
  g_requests.push_back(frames::BuildOutsideDistributionRequest(kReview, "oa_leave", {{2, "u"}}));
  g_requests.push_back(frames::BuildNumbersRequest(1, "oa_leave"));
  g_requests.push_back(frames::BuildUserRequest("oa_leave", "2", frames::UserListMode::NextHandler, 1, kAdmin, 0));
  g_requests.push_back(frames::BuildFileRequest(kAdmin, "oa_leave", kDraft, form->bodyName));
  g_requests.push_back(frames::BuildLoginRequest("admin"));
  frames::QueryRecord list;
  list.tableName = "oa_leave";
  list.recordId = kDraft;
  list.userId = kAdmin;
  g_requests.push_back(frames::BuildQueryRequest(list));
  std::string sheet(144, '\0');
  sheet[0] = 4;
  sheet.replace(1, 4, "XSLF");
  sheet[5] = char(form->formFile.size());
  sheet.replace(6, form->formFile.size(), form->formFile);
  g_requests.push_back(sheet);
  g_image = ReadFile(g_path);
  sqlite3* raw = nullptr;
  Check(sqlite3_open_v2(g_path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK);
  for (const char* t : kFixedLarge) g_large[t] = Dump(raw, t, false);
  sqlite3_close(raw);
}

void Verify(OaDatabase& db, sqlite3* raw, std::string_view frame, const std::string& reply, const Snapshot& before,
            const std::map<std::string, Before>& docsBefore) {
  const Snapshot after = Take(raw);
  const AnsiString text = frames::FrameCode(reply) == "SMSG" ? frames::ParseServerMessage(reply) : AnsiString();
  if (!text.empty() && text[0] == '|') {
    Check(after.tables == before.tables);  // a refusal changes nothing
    return;
  }
  for (const char* t : kFixed) Check(after.tables.at(t) == before.tables.at(t));
  const AnsiString code = frames::FrameCode(frame);
  for (const char* t : kDocumentTables) {
    const Rows& was = before.tables.at(t);
    const Rows& now = after.tables.at(t);
    std::set<std::string> records;
    for (const auto& [k, v] : was) records.insert(k);
    for (const auto& [k, v] : now) records.insert(k);
    for (const std::string& r : records) {
      const auto a = was.find(r), b = now.find(r);
      const bool same = (a == was.end()) == (b == now.end()) && (a == was.end() || a->second == b->second);
      if (same) continue;
      const auto known = docsBefore.find(r);
      Check(MayHaveChanged(db, frame, known == docsBefore.end() ? Before{} : known->second));
    }
  }
  // Whatever attachment list, body or workflow was replaced is kept as a version.
  for (int i = 0; i < 2; ++i)
    for (const auto& [record, old] : before.files[i]) {
      const auto now = after.files[i].find(record);
      if (old.empty() || (now != after.files[i].end() && now->second == old)) continue;
      Check(after.versions.count(old) == 1);
    }
  if (after.tables.at("workflows") != before.tables.at("workflows") ||
      after.tables.at("workflow_steps") != before.tables.at("workflow_steps"))
    Check(code == "FLOW");
  // No open document stands at a step its workflow no longer has; no number is held twice.
  sqlite3_stmt* s = nullptr;
  Check(sqlite3_prepare_v2(raw,
                           "SELECT COUNT(*) FROM documents d WHERE state = 'open' AND NOT EXISTS (SELECT 1 FROM "
                           "workflow_steps s WHERE s.workflow_id = d.workflow_id AND s.step_id = d.current_step) "
                           "UNION ALL SELECT COUNT(*) FROM documents a JOIN documents b ON a.number_type = "
                           "b.number_type AND a.number = b.number AND a.record_id < b.record_id WHERE a.number_type "
                           ">= 0 AND a.number > 0 AND a.state <> 'destroyed' AND b.state <> 'destroyed'",
                           -1, &s, nullptr) == SQLITE_OK);
  while (sqlite3_step(s) == SQLITE_ROW) Check(sqlite3_column_int(s, 0) == 0);
  sqlite3_finalize(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_path.empty()) Setup();
  {
    std::ofstream out(g_path, std::ios::binary | std::ios::trunc);
    out.write(g_image.data(), std::streamsize(g_image.size()));
  }
  OaDatabase db;
  db.Open(g_path);
  oa::OaService service(db);
  double now = 46000.0;
  service.Now = [&now] { return now; };
  sqlite3* raw = nullptr;
  Check(sqlite3_open_v2(g_path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK);
  size_t at = 0;
  for (int n = 0; n < 8 && at + 3 <= size; ++n) {
    const uint8_t pick = data[at];
    const size_t length = std::min<size_t>(size - at - 3, size_t(data[at + 1]) << 8 | data[at + 2]);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + at + 3, length);
    at += 3 + length;
    std::string frame;
    if (pick < g_requests.size()) {
      frame = g_requests[pick];
      if (bytes.size() >= 2) {
        const size_t where = (uint8_t(bytes[0]) << 8 | uint8_t(bytes[1])) % (frame.size() + 1);
        frame.replace(where, std::min(bytes.size() - 2, frame.size() - where), bytes.substr(2));
      }
    } else {
      frame = std::string(bytes);
    }
    now += (pick & 0x80) ? 1.0 : 0.0001;
    const Snapshot before = Take(raw);
    std::map<std::string, Before> docs;
    for (const auto& [record, row] : before.tables.at("documents"))
      docs[record] = {db.FindDocument(record), db.PendingArchiveSave(record)};
    std::optional<std::string> reply;
    try {
      reply = service.Reply(frame);
    } catch (const frames::EFrameError&) {
      Check(Take(raw).tables == before.tables);  // a malformed request changes nothing
      continue;
    }
    Check(reply.has_value() && reply->size() >= 5);
    Verify(db, raw, frame, *reply, before, docs);
  }
  for (const char* t : kFixedLarge) Check(Dump(raw, t, false) == g_large.at(t));
  sqlite3_close(raw);
  return 0;
}
