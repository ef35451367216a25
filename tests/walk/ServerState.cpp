#include "ServerState.h"

#include <sqlite3.h>

#include <QCryptographicHash>
#include <zlib.h>

#include <cstring>
#include <memory>

#include "control/wire/Class_StoExcel.h"
#include "control/wire/FlowMessage.h"
#include "control/wire/StepRecord.h"
#include "control/wire/Un_CopyFiles.h"

namespace walk {
namespace {

struct Db {
  explicit Db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      db = nullptr;
    } else {
      sqlite3_busy_timeout(db, 5000);  // the server may be writing
    }
  }
  ~Db() { sqlite3_close(db); }
  sqlite3* db = nullptr;
};

using Stmt = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Stmt Prepare(sqlite3* db, const char* sql, const std::string& arg = {}) {
  sqlite3_stmt* s = nullptr;
  if (!db || sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) return Stmt(nullptr, &sqlite3_finalize);
  if (!arg.empty()) sqlite3_bind_text(s, 1, arg.c_str(), int(arg.size()), SQLITE_TRANSIENT);
  return Stmt(s, &sqlite3_finalize);
}

std::string Column(sqlite3_stmt* s, int i) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
  return p ? std::string(p, size_t(sqlite3_column_bytes(s, i))) : std::string();
}

}  // namespace

std::optional<StoredDocument> ReadDocument(const std::string& dbPath, const AnsiString& recordId) {
  Db db(dbPath);
  const std::string id = Cp936ToUtf8(recordId);
  Stmt doc = Prepare(db.db, "SELECT current_step, workflow_id, state FROM documents WHERE record_id = ?", id);
  if (!doc || sqlite3_step(doc.get()) != SQLITE_ROW) return std::nullopt;
  StoredDocument out;
  out.currentStep = sqlite3_column_int(doc.get(), 0);
  out.destroyed = Column(doc.get(), 2) == "destroyed";
  const int flow = sqlite3_column_int(doc.get(), 1);
  Stmt steps = Prepare(db.db, "SELECT step_id, record FROM workflow_steps WHERE workflow_id = ?");
  if (steps) sqlite3_bind_int(steps.get(), 1, flow);
  while (steps && sqlite3_step(steps.get()) == SQLITE_ROW) {
    if (sqlite3_column_int(steps.get(), 0) != out.currentStep) continue;
    try {
      const TStepRecord r = ReadStepRecord(Column(steps.get(), 1));
      out.currentStepName = r.name;
      out.atFilingStep = r.showArchive || r.showNumbering || r.showDistribute;
    } catch (const std::exception&) {
      // A record the server could not have written: no name to compare.
    }
  }

  std::vector<TFieldRecord> records;
  Stmt fields = Prepare(db.db, "SELECT name, value FROM document_fields WHERE record_id = ? ORDER BY position", id);
  while (fields && sqlite3_step(fields.get()) == SQLITE_ROW)
    records.push_back({Utf8ToCp936(Column(fields.get(), 0)), Utf8ToCp936(Column(fields.get(), 1))});
  for (const TFieldRecord& r : JoinSplitValues(records)) out.fields[r.name] = r.value;

  out.attachments = ReadAttachments(dbPath, recordId);
  return out;
}

std::map<AnsiString, int32_t> ReadAttachments(const std::string& dbPath, const AnsiString& recordId) {
  std::map<AnsiString, int32_t> out;
  for (const StoredFile& f : ReadAttachmentFiles(dbPath, recordId)) out[f.name] = f.size;
  return out;
}

std::string Sha256(std::string_view bytes) {
  return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())), QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

std::vector<StoredFile> ReadAttachmentFiles(const std::string& dbPath, const AnsiString& recordId) {
  Db db(dbPath);
  std::vector<StoredFile> out;
  Stmt files = Prepare(db.db, "SELECT container FROM attachments WHERE record_id = ?", Cp936ToUtf8(recordId));
  if (files && sqlite3_step(files.get()) == SQLITE_ROW) {
    TCopy2Files c;
    c.LoadFromBytes(Column(files.get(), 0));
    for (int i = 0; i < c.SlotCount(); ++i) {
      const TCopyFileEntry& e = c.Slot(i);
      if (e.state != fsRemoved && e.state != fsEmpty) out.push_back({e.name, e.size, Sha256(c.FileData(i))});
    }
  }
  return out;
}

std::vector<std::string> ConsistencyProblems(const std::string& dbPath) {
  Db db(dbPath);
  std::vector<std::string> out;
  Stmt steps = Prepare(db.db,
                       "SELECT d.record_id, d.workflow_id, d.current_step, d.next_step FROM documents d WHERE d.state = 'open' "
                       "AND (NOT EXISTS (SELECT 1 FROM workflow_steps s WHERE s.workflow_id = d.workflow_id AND s.step_id = d.current_step) "
                       "OR (d.next_step <> -1 AND NOT EXISTS (SELECT 1 FROM workflow_steps s WHERE s.workflow_id = d.workflow_id "
                       "AND s.step_id = d.next_step)))");
  while (steps && sqlite3_step(steps.get()) == SQLITE_ROW)
    out.push_back("document " + Column(steps.get(), 0) + " of workflow " + std::to_string(sqlite3_column_int(steps.get(), 1)) +
                  " is at step " + std::to_string(sqlite3_column_int(steps.get(), 2)) + ", next " +
                  std::to_string(sqlite3_column_int(steps.get(), 3)) + ", and the workflow has no such step");
  Stmt numbers = Prepare(db.db,
                         "SELECT number_type, number_prefix, number, group_concat(record_id, ' ') FROM documents "
                         "WHERE number_type >= 0 AND number > 0 GROUP BY number_type, number_prefix, number HAVING count(*) > 1");
  while (numbers && sqlite3_step(numbers.get()) == SQLITE_ROW)
    out.push_back("number " + Column(numbers.get(), 1) + std::to_string(sqlite3_column_int(numbers.get(), 2)) + " of kind " +
                  std::to_string(sqlite3_column_int(numbers.get(), 0)) + " was given to " + Column(numbers.get(), 3));
  return out;
}

std::vector<DocumentRef> ListDocuments(const std::string& dbPath) {
  Db db(dbPath);
  std::vector<DocumentRef> out;
  Stmt docs = Prepare(db.db,
                      "SELECT d.record_id, d.template, coalesce(u.login_name, '') FROM documents d "
                      "LEFT JOIN users u ON u.id = d.author_id ORDER BY d.rowid");
  while (docs && sqlite3_step(docs.get()) == SQLITE_ROW)
    out.push_back({Column(docs.get(), 0), Column(docs.get(), 1), {}, Column(docs.get(), 2)});
  for (DocumentRef& d : out) {
    Stmt h = Prepare(db.db,
                     "SELECT u.login_name FROM document_step_handlers h JOIN users u ON u.id = h.user_id "
                     "WHERE h.record_id = ? ORDER BY h.position",
                     d.recordId);
    while (h && sqlite3_step(h.get()) == SQLITE_ROW) d.handlers.push_back(Column(h.get(), 0));
  }
  return out;
}

std::vector<std::string> ReadComments(const std::string& dbPath, const std::string& recordId) {
  Db db(dbPath);
  std::vector<std::string> out;
  Stmt s = Prepare(db.db, "SELECT text FROM comments WHERE record_id = ? ORDER BY position", recordId);
  while (s && sqlite3_step(s.get()) == SQLITE_ROW) out.push_back(Column(s.get(), 0));
  return out;
}

std::vector<StoredFlow> ReadWorkflows(const std::string& dbPath) {
  Db db(dbPath);
  std::vector<StoredFlow> out;
  Stmt flows = Prepare(db.db, "SELECT id, header FROM workflows ORDER BY id");
  while (flows && sqlite3_step(flows.get()) == SQLITE_ROW) {
    StoredFlow f;
    f.id = sqlite3_column_int(flows.get(), 0);
    try {
      f.name = Cp936ToUtf8(ParseFlowMessage(Column(flows.get(), 1)).flowName);
    } catch (const std::exception&) {
      f.name = "?";  // a header the server could not have written: no name matches it
    }
    out.push_back(std::move(f));
  }
  for (StoredFlow& f : out) {
    Stmt steps = Prepare(db.db, "SELECT record FROM workflow_steps WHERE workflow_id = ? ORDER BY position");
    if (steps) sqlite3_bind_int(steps.get(), 1, f.id);
    while (steps && sqlite3_step(steps.get()) == SQLITE_ROW) {
      try {
        const TStepRecord r = ReadStepRecord(Column(steps.get(), 0));
        std::string handlers;
        for (uint32_t i = 0; i < std::min(r.handlerCount, kMaxHandlers); ++i)
          handlers += (handlers.empty() ? "" : ",") + Cp936ToUtf8(r.handlers[i].userName);
        f.steps.push_back({Cp936ToUtf8(r.name), handlers, Cp936ToUtf8(r.daysToHandle), Cp936ToUtf8(r.editableCells),
                           Cp936ToUtf8(r.opinionCell), Cp936ToUtf8(r.nextSteps), Cp936ToUtf8(r.previousSteps)});
      } catch (const std::exception&) {
        f.steps.push_back({"?", {}, {}, {}, {}, {}, {}});
      }
    }
  }
  return out;
}

std::optional<std::string> ReadBody(const std::string& dbPath, const std::string& recordId) {
  Db db(dbPath);
  Stmt s = Prepare(db.db, "SELECT body FROM bodies WHERE record_id = ?", recordId);
  if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  return Column(s.get(), 0);
}

std::vector<std::string> ReadAttachmentData(const std::string& dbPath, const std::string& recordId) {
  Db db(dbPath);
  std::vector<std::string> out;
  Stmt files = Prepare(db.db, "SELECT container FROM attachments WHERE record_id = ?", recordId);
  if (files && sqlite3_step(files.get()) == SQLITE_ROW) {
    TCopy2Files c;
    c.LoadFromBytes(Column(files.get(), 0));
    for (int i = 0; i < c.SlotCount(); ++i)
      if (c.Slot(i).state != fsRemoved && c.Slot(i).state != fsEmpty) out.emplace_back(c.FileData(i));
  }
  return out;
}

namespace {

uint32_t Le(std::string_view b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(b[at + size_t(i)]);
  return v;
}

// One member of a zip archive, inflated; nullopt when it is missing or unreadable.
std::optional<std::string> ZipMember(std::string_view zip, std::string_view name) {
  constexpr size_t kMaxSize = 64u << 20;
  if (zip.size() < 22) return std::nullopt;
  size_t end = zip.size() - 22;
  for (;; --end) {
    if (Le(zip, end, 4) == 0x06054b50) break;
    if (end == 0 || zip.size() - end > 22 + 65535) return std::nullopt;
  }
  size_t at = Le(zip, end + 16, 4);
  const uint32_t entries = Le(zip, end + 10, 2);
  for (uint32_t e = 0; e < entries; ++e) {
    if (at + 46 > zip.size() || Le(zip, at, 4) != 0x02014b50) return std::nullopt;
    const uint32_t method = Le(zip, at + 10, 2), packed = Le(zip, at + 20, 4), size = Le(zip, at + 24, 4);
    const uint32_t nameLen = Le(zip, at + 28, 2), extra = Le(zip, at + 30, 2), comment = Le(zip, at + 32, 2);
    const uint32_t local = Le(zip, at + 42, 4);
    if (at + 46 + nameLen > zip.size()) return std::nullopt;
    if (zip.substr(at + 46, nameLen) == name) {
      if (size > kMaxSize || size_t(local) + 30 > zip.size() || Le(zip, local, 4) != 0x04034b50) return std::nullopt;
      const size_t data = size_t(local) + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
      if (data + packed > zip.size()) return std::nullopt;
      if (method == 0) return std::string(zip.substr(data, packed));
      if (method != 8) return std::nullopt;
      std::string out(size, '\0');
      z_stream z{};
      if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
      z.avail_in = packed;
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = size;
      const int r = inflate(&z, Z_FINISH);
      inflateEnd(&z);
      if (r != Z_STREAM_END || z.total_out != size) return std::nullopt;
      return out;
    }
    at += 46 + nameLen + extra + comment;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DocxText(std::string_view docx) {
  const std::optional<std::string> xml = ZipMember(docx, "word/document.xml");
  if (!xml) return std::nullopt;
  std::string text;
  bool inTag = false;
  for (size_t i = 0; i < xml->size(); ++i) {
    const char c = (*xml)[i];
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    else if (!inTag) text += c;
  }
  // The five entities XML escapes text with.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, c] : {std::pair<const char*, char>{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                    {"&quot;", '"'}, {"&apos;", '\''}})
      if (text.compare(i, std::strlen(entity), entity) == 0) {
        out += c;
        i += std::strlen(entity) - 1;
        replaced = true;
        break;
      }
    if (!replaced) out += text[i];
  }
  return out;
}

bool ListShows(const std::string& dbPath, const std::string& held, const std::string& shown) {
  Db db(dbPath);
  Stmt s = Prepare(db.db, "SELECT items, vals FROM template_combos");
  const auto lines = [](const std::string& t) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t nl; (nl = t.find('\n', from)) != std::string::npos; from = nl + 1)
      out.push_back(t.substr(from, nl > from && t[nl - 1] == '\r' ? nl - from - 1 : nl - from));
    out.push_back(t.substr(from));
    return out;
  };
  while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
    const std::vector<std::string> items = lines(Column(s.get(), 0)), vals = lines(Column(s.get(), 1));
    for (size_t i = 0; i < items.size() && i < vals.size(); ++i)
      if (vals[i] == held && items[i] == shown) return true;
  }
  return false;
}

void OpenSignOffReplies(const std::string& dbPath) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "UPDATE templates SET sign_off_mode = 2 WHERE sign_off_mode = 0", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
}

}  // namespace walk
