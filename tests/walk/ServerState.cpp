#include "ServerState.h"

#include <sqlite3.h>

#include <QCryptographicHash>
#include <memory>

#include "control/wire/Class_StoExcel.h"
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
  Stmt doc = Prepare(db.db, "SELECT current_step, workflow_id FROM documents WHERE record_id = ?", id);
  if (!doc || sqlite3_step(doc.get()) != SQLITE_ROW) return std::nullopt;
  StoredDocument out;
  out.currentStep = sqlite3_column_int(doc.get(), 0);
  const int flow = sqlite3_column_int(doc.get(), 1);
  Stmt steps = Prepare(db.db, "SELECT step_id, record FROM workflow_steps WHERE workflow_id = ?");
  if (steps) sqlite3_bind_int(steps.get(), 1, flow);
  while (steps && sqlite3_step(steps.get()) == SQLITE_ROW) {
    if (sqlite3_column_int(steps.get(), 0) != out.currentStep) continue;
    try {
      out.currentStepName = ReadStepRecord(Column(steps.get(), 1)).name;
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

}  // namespace walk
