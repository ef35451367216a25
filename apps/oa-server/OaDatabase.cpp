#include "apps/oa-server/OaDatabase.h"

#include <sqlite3.h>

#include <algorithm>

#include "core/ScopeGuard.h"

namespace {

[[noreturn]] void Fail(sqlite3* db) { throw Exception(std::string("database: ") + sqlite3_errmsg(db)); }

// The layout this server writes, kept in PRAGMA user_version. Layout 0 kept the text of
// templates and documents as code page 936 blobs; layout 1 keeps all text as UTF-8.
constexpr int kLayout = 1;

// Text is kept as UTF-8, which a person reading the file sees as text. Bytes that would
// not come back the same (a double-byte character cut by a frame's field size, a byte
// code page 936 does not map, a NUL) are not text: they are kept as a blob, unchanged.
bool StoredAsUtf8(std::string_view cp936, std::string& utf8) {
  if (cp936.find('\0') != std::string_view::npos) return false;
  utf8 = Cp936ToUtf8(cp936);
  return Utf8ToCp936(utf8) == cp936;
}

// cp936_text(x): a value of layout 0 as layout 1 keeps it.
void Cp936TextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const auto* p = static_cast<const char*>(sqlite3_value_blob(argv[0]));
  const std::string_view bytes(p ? p : "", size_t(sqlite3_value_bytes(argv[0])));
  std::string utf8;
  if (StoredAsUtf8(bytes, utf8))
    sqlite3_result_text64(ctx, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  else
    sqlite3_result_blob64(ctx, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

// One prepared statement; parameters are bound in order. BindText takes the code page
// 936 text the server works with; BindBlob binary data.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) Fail(db);
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int64_t v) { return Check(sqlite3_bind_int64(s_, ++n_, v)); }
  Stmt& Bind(int v) { return Bind(int64_t(v)); }
  Stmt& Bind(double v) { return Check(sqlite3_bind_double(s_, ++n_, v)); }
  Stmt& BindBlob(std::string_view blob) {
    return Check(sqlite3_bind_blob64(s_, ++n_, blob.data() ? blob.data() : "", blob.size(), SQLITE_TRANSIENT));
  }
  Stmt& BindText(std::string_view cp936) {
    std::string utf8;
    if (!StoredAsUtf8(cp936, utf8)) return BindBlob(cp936);
    return Check(sqlite3_bind_text64(s_, ++n_, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }

  // True while a row is there.
  bool Step() {
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(db_);
  }
  void Run() { Step(); }

  int Int(int col) const { return sqlite3_column_int(s_, col); }
  int64_t Int64(int col) const { return sqlite3_column_int64(s_, col); }
  double Real(int col) const { return sqlite3_column_double(s_, col); }
  std::string Blob(int col) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s_, col));
    return p ? std::string(p, size_t(sqlite3_column_bytes(s_, col))) : std::string();
  }
  // What BindText stored, as code page 936 again.
  AnsiString Text(int col) const {
    if (sqlite3_column_type(s_, col) == SQLITE_BLOB) return Blob(col);
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
    return p ? Utf8ToCp936(std::string_view(p, size_t(sqlite3_column_bytes(s_, col)))) : AnsiString();
  }

 private:
  Stmt& Check(int rc) {
    if (rc != SQLITE_OK) Fail(db_);
    return *this;
  }
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
  int n_ = 0;
};

const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS units (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS departments (
  id INTEGER PRIMARY KEY,
  unit_id INTEGER NOT NULL REFERENCES units(id),
  parent_id INTEGER NOT NULL DEFAULT 0,
  name TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS users (
  id TEXT PRIMARY KEY,
  login_name TEXT NOT NULL UNIQUE,
  user_name TEXT NOT NULL,
  unit_id INTEGER NOT NULL REFERENCES units(id),
  dept_id INTEGER NOT NULL REFERENCES departments(id),
  role_id INTEGER NOT NULL,
  role_name TEXT NOT NULL,
  duty_id INTEGER NOT NULL,
  duty_name TEXT NOT NULL,
  user_level INTEGER NOT NULL,
  flag INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS user_groups (
  user_id TEXT PRIMARY KEY REFERENCES users(id),
  groups TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS number_kinds (
  id INTEGER PRIMARY KEY,
  unit_id INTEGER NOT NULL,
  prefix TEXT NOT NULL,
  next_number INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS phrases (
  position INTEGER PRIMARY KEY,
  text TEXT NOT NULL,
  grp INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS workflows (
  id INTEGER PRIMARY KEY,
  header BLOB NOT NULL,
  chart BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS workflow_steps (
  workflow_id INTEGER NOT NULL REFERENCES workflows(id),
  position INTEGER NOT NULL,
  step_id INTEGER NOT NULL,
  record BLOB NOT NULL,
  PRIMARY KEY (workflow_id, position)
);
CREATE TABLE IF NOT EXISTS templates (
  name TEXT PRIMARY KEY,
  form_file TEXT NOT NULL,
  table_name TEXT NOT NULL,
  workflow_id INTEGER NOT NULL,
  title_field TEXT NOT NULL,
  number_field TEXT NOT NULL,
  body_name TEXT NOT NULL,
  body BLOB NOT NULL,
  sheet BLOB NOT NULL,
  sign_off_mode INTEGER NOT NULL,
  attach_below INTEGER NOT NULL,
  maximised INTEGER NOT NULL,
  distribution_type INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS template_combos (
  template TEXT NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  items TEXT NOT NULL,
  vals TEXT NOT NULL,
  PRIMARY KEY (template, position)
);
CREATE TABLE IF NOT EXISTS documents (
  record_id TEXT PRIMARY KEY,
  table_name TEXT NOT NULL,
  template TEXT NOT NULL,
  workflow_id INTEGER NOT NULL,
  current_step INTEGER NOT NULL,
  next_step INTEGER NOT NULL,
  status INTEGER NOT NULL,
  author_id TEXT NOT NULL,
  author_name TEXT NOT NULL,
  number_type INTEGER NOT NULL,
  number INTEGER NOT NULL,
  number_prefix TEXT NOT NULL,
  opinion TEXT NOT NULL,
  state TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS bodies (
  record_id TEXT PRIMARY KEY,
  body BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS document_fields (
  record_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_handlers (
  record_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  user_id TEXT NOT NULL,
  user_name TEXT NOT NULL,
  dept_number INTEGER NOT NULL,
  dept_numbers TEXT NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_step_handlers (
  record_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  user_id TEXT NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_passed (
  record_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  step INTEGER NOT NULL,
  second INTEGER NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS comments (
  record_id TEXT NOT NULL,
  position INTEGER NOT NULL,
  author_id TEXT NOT NULL,
  author_name TEXT NOT NULL,
  date REAL NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS attachments (
  record_id TEXT PRIMARY KEY,
  container BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS archive_saves (
  record_id TEXT PRIMARY KEY,
  user_id TEXT NOT NULL,
  at REAL NOT NULL
);
CREATE TABLE IF NOT EXISTS distributions (
  record_id TEXT NOT NULL,
  kind TEXT NOT NULL,
  target TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS document_revisions (
  record_id TEXT PRIMARY KEY,
  revision INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS revision_fields (
  record_id TEXT NOT NULL,
  revision INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY (record_id, revision, position)
);
CREATE TABLE IF NOT EXISTS copies (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  record_id TEXT NOT NULL,
  revision INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS copy_fields (
  copy_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  name TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY (copy_id, position)
);
CREATE TABLE IF NOT EXISTS attachment_copies (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  record_id TEXT NOT NULL,
  user_id TEXT NOT NULL,
  seen BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS versions (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  key TEXT NOT NULL,
  at REAL NOT NULL,
  content BLOB NOT NULL
);
)sql";

// Tables whose text layout 0 kept as code page 936 blobs.
constexpr const char* kLayout0Tables[] = {
    "number_kinds", "phrases", "templates", "template_combos", "documents", "bodies", "document_fields",
    "document_handlers", "document_step_handlers", "document_passed", "comments", "attachments",
    "archive_saves", "distributions"};

}  // namespace

// BEGIN IMMEDIATE on creation; rolls back unless committed.
class OaDatabase::Transaction {
 public:
  explicit Transaction(const OaDatabase& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    db_.Exec("COMMIT");
    done_ = true;
  }

 private:
  const OaDatabase& db_;
  bool done_ = false;
};

OaDatabase::~OaDatabase() {
  if (db_) sqlite3_close(db_);
}

void OaDatabase::Exec(const char* sql) const {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = std::string("database: ") + (err ? err : sqlite3_errmsg(db_));
    sqlite3_free(err);
    throw Exception(msg);
  }
}

void OaDatabase::Open(const std::string& path) {
  if (db_) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    std::string msg = std::string("cannot open database ") + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    throw Exception(msg);
  }
  sqlite3_busy_timeout(db_, 2000);
  // A file that cannot be used is not kept open: nothing may be read from or written to it.
  const auto closeUnused = ScopeFail([this] {
    sqlite3_close(db_);
    db_ = nullptr;
  });
  if (sqlite3_create_function_v2(db_, "cp936_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 Cp936TextFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
    Fail(db_);
  CreateSchema(path);
  FillSampleData();
}

int OaDatabase::Layout() const {
  Stmt s(db_, "PRAGMA user_version");
  return s.Step() ? s.Int(0) : 0;
}

void OaDatabase::CreateSchema(const std::string& path) {
  Transaction t(*this);
  const int layout = Layout();
  if (layout > kLayout)
    throw Exception("database " + path + " was written by a newer oa-server (layout " + std::to_string(layout) +
                    "); this one reads layouts up to " + std::to_string(kLayout) + " and leaves the file as it is");
  if (layout < kLayout) MoveTextToUtf8();
  Exec(kSchema);
  // Columns added since: who holds a copy, and which copy archived a document.
  AddColumn("copies", "user_id", "TEXT NOT NULL DEFAULT ''");
  AddColumn("archive_saves", "copy", "INTEGER NOT NULL DEFAULT 0");
  if (layout < kLayout) Exec(("PRAGMA user_version = " + std::to_string(kLayout)).c_str());
  t.Commit();
}

void OaDatabase::AddColumn(const char* table, const char* column, const char* type) {
  Stmt info(db_, ("PRAGMA table_info(" + std::string(table) + ")").c_str());
  while (info.Step())
    if (info.Text(1) == column) return;
  Exec(("ALTER TABLE " + std::string(table) + " ADD COLUMN " + column + " " + type).c_str());
}

// Rebuilds each table of layout 0 in the present layout, its text columns converted row by
// row; everything else is copied as it is. A new file has none of these tables yet.
void OaDatabase::MoveTextToUtf8() {
  std::vector<std::string> moved;
  for (const char* table : kLayout0Tables) {
    Stmt exists(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    if (!exists.BindText(table).Step()) continue;
    Exec(("ALTER TABLE " + std::string(table) + " RENAME TO layout0_" + table).c_str());
    moved.push_back(table);
  }
  Exec(kSchema);
  for (const std::string& table : moved) {
    // Columns by name and declared type: the old one's text was a blob, the new one's is text.
    auto columns = [&](const std::string& t) {
      std::vector<std::pair<std::string, std::string>> cols;
      Stmt info(db_, ("PRAGMA table_info(" + t + ")").c_str());
      while (info.Step()) cols.emplace_back(info.Text(1), info.Text(2));
      return cols;
    };
    const auto old = columns("layout0_" + table);
    std::string names, values;
    for (const auto& [name, type] : columns(table)) {
      const std::pair<std::string, std::string> blob{name, "BLOB"};
      const bool wasBlob = std::find(old.begin(), old.end(), blob) != old.end();
      const std::string quoted = '"' + name + '"';
      names += (names.empty() ? "" : ", ") + quoted;
      values += (values.empty() ? "" : ", ") + (type == "TEXT" && wasBlob ? "cp936_text(" + quoted + ")" : quoted);
    }
    Exec(("INSERT INTO " + table + " (" + names + ") SELECT " + values + " FROM layout0_" + table).c_str());
    Exec(("DROP TABLE layout0_" + table).c_str());
  }
}

// Each part of the sample data is added when its tables are empty, so a database made
// before documents existed gains workflows and templates without losing its users.
void OaDatabase::FillSampleData() {
  Transaction t(*this);
  if (UserCount() == 0) {
    for (const oa::SampleUnit& u : oa::SampleUnits())
      Stmt(db_, "INSERT INTO units VALUES (?, ?)").Bind(u.id).BindText(u.name).Run();
    for (const oa::SampleDepartment& d : oa::SampleDepartments())
      Stmt(db_, "INSERT INTO departments VALUES (?, ?, ?, ?)")
          .Bind(d.id).Bind(d.unitId).Bind(d.parentId).BindText(d.name).Run();
    for (const oa::SampleUser& u : oa::SampleUsers()) {
      Stmt(db_, "INSERT INTO users VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
          .BindText(u.id).BindText(u.loginName).BindText(u.userName).Bind(u.unitId).Bind(u.deptId)
          .Bind(u.roleId).BindText(u.roleName).Bind(u.dutyId).BindText(u.dutyName)
          .Bind(u.userLevel).Bind(u.flag).Run();
      Stmt(db_, "INSERT INTO user_groups VALUES (?, ?)").BindText(u.id).BindText(u.groups).Run();
    }
    for (const oa::SampleNumberKind& k : oa::SampleNumberKinds())
      Stmt(db_, "INSERT INTO number_kinds VALUES (?, ?, ?, ?)").Bind(k.id).Bind(k.unitId).BindText(k.prefix).Bind(k.nextNumber).Run();
    int position = 0;
    for (const TOpinionPhrase& p : oa::SamplePhrases())
      Stmt(db_, "INSERT INTO phrases VALUES (?, ?, ?)").Bind(position++).BindText(p.text).Bind(int(p.group)).Run();
  }
  Stmt count(db_, "SELECT COUNT(*) FROM workflows");
  count.Step();
  if (count.Int(0) == 0) {
    for (const TFlowMessage& m : oa::SampleWorkflows()) {
      TFlowMessage header = m;
      header.steps.clear();
      header.chart.clear();
      Stmt(db_, "INSERT INTO workflows VALUES (?, ?, ?)").Bind(int64_t(m.flowId)).BindBlob(BuildFlowMessage(header)).BindBlob(m.chart).Run();
      for (size_t i = 0; i < m.steps.size(); ++i)
        Stmt(db_, "INSERT INTO workflow_steps VALUES (?, ?, ?, ?)")
            .Bind(int64_t(m.flowId)).Bind(int(i)).Bind(m.steps[i].id).BindBlob(WriteStepRecord(m.steps[i])).Run();
    }
    for (const oa::SampleTemplate& t : oa::SampleTemplates()) {
      Stmt(db_, "INSERT INTO templates VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
          .BindText(t.name).BindText(t.formFile).BindText(t.tableName).Bind(t.workflowId).BindText(t.titleField).BindText(t.numberField)
          .BindText(t.bodyName).BindBlob(t.body).BindBlob(t.sheet).Bind(t.signOffMode).Bind(t.attachBelow).Bind(int(t.maximised))
          .Bind(t.distributionType).Run();
      for (size_t i = 0; i < t.combos.size(); ++i)
        Stmt(db_, "INSERT INTO template_combos VALUES (?, ?, ?, ?, ?)")
            .BindText(t.name).Bind(int(i)).BindText(t.combos[i].name).BindText(t.combos[i].items).BindText(t.combos[i].values).Run();
    }
  }
  t.Commit();
}

int OaDatabase::UserCount() const {
  Stmt s(db_, "SELECT COUNT(*) FROM users");
  return s.Step() ? s.Int(0) : 0;
}

namespace {

// The one query for users: the login reply and the user list records are both read from it.
constexpr const char* kUserSelect =
    "SELECT u.id, u.login_name, u.user_name, u.unit_id, un.name, u.dept_id, d.name, d.parent_id, "
    "COALESCE(g.groups, ''), u.role_id, u.role_name, u.duty_id, u.duty_name, u.user_level, u.flag "
    "FROM users u JOIN units un ON un.id = u.unit_id "
    "JOIN departments d ON d.id = u.dept_id LEFT JOIN user_groups g ON g.user_id = u.id ";

frames::UserRecord ReadUser(const Stmt& s) {
  frames::UserRecord u;
  u.userId = s.Text(0);
  u.loginName = s.Text(1);
  u.userName = s.Text(2);
  u.unitNumber = s.Int(3);
  u.unitName = s.Text(4);
  u.deptNumber = s.Int(5);
  u.deptName = s.Text(6);
  u.parentDeptNumber = s.Int(7);
  u.groups = s.Text(8);
  return u;
}

frames::LoginReply ReadLogin(const Stmt& s) {
  frames::LoginReply r;
  r.UserGUID = s.Text(0);
  r.LoginName = s.Text(1);
  r.UserName = s.Text(2);
  r.CompID = s.Int(3);
  r.CompName = s.Text(4);
  r.DeptID = s.Int(5);
  r.DeptName = s.Text(6);
  r.RoleID = s.Int(9);
  r.RoleName = s.Text(10);
  r.DutyID = s.Int(11);
  r.DutyName = s.Text(12);
  r.UserLevel = s.Int(13);
  r.Flag = static_cast<uint8_t>(s.Int(14));
  return r;
}

}  // namespace

std::optional<frames::LoginReply> OaDatabase::FindUserByLogin(const AnsiString& loginName) const {
  // A name that is not code page 936 text (a cut double-byte character, an unmapped byte)
  // is bound as a blob, which equals no login name.
  Stmt s(db_, (std::string(kUserSelect) + "WHERE u.login_name = ?1").c_str());
  s.BindText(loginName);
  if (!s.Step()) return std::nullopt;
  return ReadLogin(s);
}

std::vector<frames::UserRecord> OaDatabase::Users(int unitId) const {
  Stmt s(db_, (std::string(kUserSelect) + "WHERE ?1 = 0 OR u.unit_id = ?1 ORDER BY u.login_name").c_str());
  s.Bind(unitId);
  std::vector<frames::UserRecord> users;
  while (s.Step()) users.push_back(ReadUser(s));
  return users;
}

std::optional<frames::UserRecord> OaDatabase::UserById(const AnsiString& userId) const {
  Stmt s(db_, (std::string(kUserSelect) + "WHERE u.id = ?1").c_str());
  s.BindText(userId);
  if (!s.Step()) return std::nullopt;
  return ReadUser(s);
}

std::vector<frames::UnitRecord> OaDatabase::Units() const {
  Stmt s(db_, "SELECT id, name FROM units ORDER BY id");
  std::vector<frames::UnitRecord> units;
  while (s.Step()) units.push_back({s.Int(0), s.Text(1)});
  return units;
}

std::vector<frames::NumberEntry> OaDatabase::NumberKinds(int unitId) const {
  Stmt s(db_, "SELECT id, prefix, next_number FROM number_kinds WHERE unit_id = ? ORDER BY id");
  s.Bind(unitId);
  std::vector<frames::NumberEntry> kinds;
  while (s.Step()) kinds.push_back({s.Int(0), s.Text(1), 0, s.Int(2)});
  return kinds;
}

std::vector<TOpinionPhrase> OaDatabase::Phrases() const {
  Stmt s(db_, "SELECT text, grp FROM phrases ORDER BY position");
  std::vector<TOpinionPhrase> phrases;
  while (s.Step()) phrases.push_back({s.Text(0), uint8_t(s.Int(1))});
  return phrases;
}

// ---- workflows -------------------------------------------------------------------

std::optional<TFlowMessage> OaDatabase::FindWorkflow(int id) const {
  Stmt w(db_, "SELECT header, chart FROM workflows WHERE id = ?");
  w.Bind(id);
  if (!w.Step()) return std::nullopt;
  TFlowMessage m = ParseFlowMessage(w.Blob(0));
  m.madeFrom = 0;  // what an editor said of its copy is no part of the definition
  m.chart = w.Blob(1);
  Stmt s(db_, "SELECT record FROM workflow_steps WHERE workflow_id = ? ORDER BY position");
  s.Bind(id);
  while (s.Step()) m.steps.push_back(ReadStepRecord(s.Blob(0)));
  return m;
}

TFlowMessage OaDatabase::SaveWorkflow(const TFlowMessage& m) {
  Transaction t(*this);
  const std::optional<TFlowMessage> before = m.flowId ? FindWorkflow(int(m.flowId)) : std::nullopt;
  TFlowMessage stored = m;
  stored.madeFrom = 0;
  if (stored.flowId == 0) {  // a new definition takes the next free number
    Stmt s(db_, "SELECT COALESCE(MAX(id), 0) + 1 FROM workflows");
    s.Step();
    stored.flowId = uint32_t(s.Int(0));
  }
  stored.steps.clear();
  int nextId = 1;
  for (const TStepRecord& r : m.steps) nextId = std::max(nextId, r.id + 1);
  for (TStepRecord r : m.steps) {
    if (r.changeState == stepDeleted) continue;
    if (r.id <= 0) r.id = nextId++;
    r.changeState = stepUnchanged;
    stored.steps.push_back(std::move(r));
  }
  TFlowMessage header = stored;
  header.steps.clear();
  header.chart.clear();
  Stmt(db_, "INSERT OR REPLACE INTO workflows VALUES (?, ?, ?)")
      .Bind(int64_t(stored.flowId)).BindBlob(BuildFlowMessage(header)).BindBlob(m.chart).Run();
  Stmt(db_, "DELETE FROM workflow_steps WHERE workflow_id = ?").Bind(int64_t(stored.flowId)).Run();
  for (size_t i = 0; i < stored.steps.size(); ++i)
    Stmt(db_, "INSERT INTO workflow_steps VALUES (?, ?, ?, ?)")
        .Bind(int64_t(stored.flowId)).Bind(int(i)).Bind(stored.steps[i].id).BindBlob(WriteStepRecord(stored.steps[i])).Run();
  if (before) {
    TFlowMessage now = stored;
    now.chart = m.chart;
    KeepVersion("workflow", AnsiString(std::to_string(stored.flowId)), BuildFlowMessage(*before), BuildFlowMessage(now));
  }
  t.Commit();
  return stored;
}

// ---- templates -------------------------------------------------------------------

std::optional<oa::SampleTemplate> OaDatabase::FindTemplate(const AnsiString& name) const {
  if (name.empty()) return std::nullopt;
  Stmt s(db_,
         "SELECT name, form_file, table_name, workflow_id, title_field, number_field, body_name, body, sheet, "
         "sign_off_mode, attach_below, maximised, distribution_type FROM templates "
         "WHERE name = ?1 OR form_file = ?1 OR table_name = ?1 ORDER BY name = ?1 DESC LIMIT 1");
  s.BindText(name);
  if (!s.Step()) return std::nullopt;
  oa::SampleTemplate t;
  t.name = s.Text(0);
  t.formFile = s.Text(1);
  t.tableName = s.Text(2);
  t.workflowId = s.Int(3);
  t.titleField = s.Text(4);
  t.numberField = s.Text(5);
  t.bodyName = s.Text(6);
  t.body = s.Blob(7);
  t.sheet = s.Blob(8);
  t.signOffMode = s.Int(9);
  t.attachBelow = s.Int(10);
  t.maximised = uint8_t(s.Int(11));
  t.distributionType = s.Int(12);
  Stmt c(db_, "SELECT name, items, vals FROM template_combos WHERE template = ? ORDER BY position");
  c.BindText(t.name);
  while (c.Step()) t.combos.push_back({c.Text(0), c.Text(1), c.Text(2)});
  return t;
}

// ---- documents -------------------------------------------------------------------

std::optional<oa::StoredDocument> OaDatabase::FindDocument(const AnsiString& recordId) const {
  Stmt s(db_,
         "SELECT table_name, template, workflow_id, current_step, next_step, status, author_id, author_name, "
         "number_type, number, number_prefix, opinion, state FROM documents WHERE record_id = ?");
  s.BindText(recordId);
  if (!s.Step()) return std::nullopt;
  oa::StoredDocument d;
  d.recordId = recordId;
  d.tableName = s.Text(0);
  d.templateName = s.Text(1);
  d.workflowId = s.Int(2);
  d.currentStep = s.Int(3);
  d.nextStep = s.Int(4);
  d.status = s.Int(5);
  d.authorId = s.Text(6);
  d.authorName = s.Text(7);
  d.numberType = s.Int(8);
  d.number = s.Int(9);
  d.numberPrefix = s.Text(10);
  d.opinion = s.Text(11);
  d.state = s.Text(12);
  Stmt f(db_, "SELECT name, value FROM document_fields WHERE record_id = ? ORDER BY position");
  f.BindText(recordId);
  while (f.Step()) d.values.push_back({f.Text(0), f.Text(1)});
  Stmt h(db_,
         "SELECT user_id, user_name, dept_number, dept_numbers FROM document_handlers WHERE record_id = ? "
         "ORDER BY position");
  h.BindText(recordId);
  while (h.Step()) d.handlers.push_back({h.Text(0), h.Text(1), h.Int(2), h.Text(3)});
  Stmt p(db_, "SELECT step, second FROM document_passed WHERE record_id = ? ORDER BY position");
  p.BindText(recordId);
  while (p.Step()) d.passed.push_back({p.Int(0), p.Int(1)});
  Stmt sh(db_, "SELECT user_id FROM document_step_handlers WHERE record_id = ? ORDER BY position");
  sh.BindText(recordId);
  while (sh.Step()) d.stepHandlers.push_back(sh.Text(0));
  return d;
}

void OaDatabase::SaveDocument(const oa::StoredDocument& d) {
  Transaction t(*this);
  WriteDocument(d);
  t.Commit();
}

int64_t OaDatabase::NewCopy(const AnsiString& recordId, const AnsiString& userId) {
  Transaction t(*this);
  Stmt(db_, "INSERT INTO copies (record_id, revision, user_id) VALUES (?, ?, ?)")
      .BindText(recordId).Bind(Revision(recordId)).BindText(userId).Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  // Each user keeps his latest copies, so that nobody else's opening pushes out the copy of
  // a window he still has open; one of his own opened that long ago is refused as stale.
  const char* older =
      "SELECT id FROM copies WHERE record_id = ?1 AND user_id = ?2 AND id NOT IN "
      "(SELECT id FROM copies WHERE record_id = ?1 AND user_id = ?2 ORDER BY id DESC LIMIT ?3)";
  Stmt(db_, (std::string("DELETE FROM copy_fields WHERE copy_id IN (") + older + ")").c_str())
      .BindText(recordId).BindText(userId).Bind(kKeptCopies).Run();
  Stmt(db_, (std::string("DELETE FROM copies WHERE id IN (") + older + ")").c_str())
      .BindText(recordId).BindText(userId).Bind(kKeptCopies).Run();
  t.Commit();
  return id;
}

int64_t OaDatabase::NewAttachmentCopy(const AnsiString& recordId, const AnsiString& userId, const std::string& seen) {
  Transaction t(*this);
  Stmt(db_, "INSERT INTO attachment_copies (record_id, user_id, seen) VALUES (?, ?, ?)")
      .BindText(recordId).BindText(userId).BindBlob(seen).Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  Stmt(db_,
       "DELETE FROM attachment_copies WHERE record_id = ?1 AND user_id = ?2 AND id NOT IN "
       "(SELECT id FROM attachment_copies WHERE record_id = ?1 AND user_id = ?2 ORDER BY id DESC LIMIT ?3)")
      .BindText(recordId).BindText(userId).Bind(kKeptCopies).Run();
  t.Commit();
  return id;
}

std::optional<std::string> OaDatabase::AttachmentCopy(int64_t copyId, const AnsiString& recordId) const {
  Stmt s(db_, "SELECT seen FROM attachment_copies WHERE id = ? AND record_id = ?");
  s.Bind(copyId).BindText(recordId);
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

void OaDatabase::SaveAttachmentsFrom(const AnsiString& recordId, const std::string& container, int64_t copyId,
                                     const std::string& seen) {
  Transaction t(*this);
  WriteAttachments(recordId, container);
  Stmt(db_, "UPDATE attachment_copies SET seen = ? WHERE id = ? AND record_id = ?")
      .BindBlob(seen).Bind(copyId).BindText(recordId).Run();
  t.Commit();
}

std::optional<int> OaDatabase::CopyRevision(int64_t copyId, const AnsiString& recordId) const {
  Stmt s(db_, "SELECT revision FROM copies WHERE id = ? AND record_id = ?");
  s.Bind(copyId).BindText(recordId);
  if (!s.Step()) return std::nullopt;
  return s.Int(0);
}

std::optional<std::vector<TFieldRecord>> OaDatabase::CopyFields(int64_t copyId, const AnsiString& recordId) const {
  const std::optional<int> revision = CopyRevision(copyId, recordId);
  if (!revision) return std::nullopt;
  Stmt saved(db_, "SELECT 1 FROM copy_fields WHERE copy_id = ? LIMIT 1");
  saved.Bind(copyId);
  if (!saved.Step()) return FieldsAt(recordId, *revision);
  Stmt s(db_, "SELECT name, value FROM copy_fields WHERE copy_id = ? AND position >= 0 ORDER BY position");
  s.Bind(copyId);
  std::vector<TFieldRecord> fields;
  while (s.Step()) fields.push_back({s.Text(0), s.Text(1)});
  return fields;
}

int OaDatabase::SaveRevision(const oa::StoredDocument& d, int64_t copyId, const std::vector<TFieldRecord>& seen) {
  Transaction t(*this);
  WriteDocument(d);
  const int revision = Revision(d.recordId) + 1;
  Stmt(db_, "INSERT OR REPLACE INTO document_revisions VALUES (?, ?)").BindText(d.recordId).Bind(revision).Run();
  for (size_t i = 0; i < d.values.size(); ++i)
    Stmt(db_, "INSERT INTO revision_fields VALUES (?, ?, ?, ?, ?)")
        .BindText(d.recordId).Bind(revision).Bind(int(i)).BindText(d.values[i].name).BindText(d.values[i].value).Run();
  // A copy older than this is refused as stale anyway when its fields were changed since.
  Stmt(db_, "DELETE FROM revision_fields WHERE record_id = ? AND revision <= ?")
      .BindText(d.recordId).Bind(revision - kKeptRevisions).Run();
  // The copy that made the save is now at this revision and shows what it saved.
  Stmt(db_, "UPDATE copies SET revision = ? WHERE id = ? AND record_id = ?").Bind(revision).Bind(copyId).BindText(d.recordId).Run();
  if (sqlite3_changes(db_) > 0) {
    Stmt(db_, "DELETE FROM copy_fields WHERE copy_id = ?").Bind(copyId).Run();
    // A marker row keeps "saved with no fields" apart from "never saved".
    Stmt(db_, "INSERT INTO copy_fields VALUES (?, -1, '', '')").Bind(copyId).Run();
    for (size_t i = 0; i < seen.size(); ++i)
      Stmt(db_, "INSERT INTO copy_fields VALUES (?, ?, ?, ?)")
          .Bind(copyId).Bind(int(i)).BindText(seen[i].name).BindText(seen[i].value).Run();
  }
  t.Commit();
  return revision;
}

void OaDatabase::WriteDocument(const oa::StoredDocument& d) {
  Stmt(db_, "INSERT OR REPLACE INTO documents VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .BindText(d.recordId).BindText(d.tableName).BindText(d.templateName).Bind(d.workflowId).Bind(d.currentStep)
      .Bind(d.nextStep).Bind(d.status).BindText(d.authorId).BindText(d.authorName).Bind(d.numberType).Bind(d.number)
      .BindText(d.numberPrefix).BindText(d.opinion).BindText(d.state).Run();
  for (const char* table :
       {"document_fields", "document_handlers", "document_passed", "document_step_handlers", "archive_saves"})
    Stmt(db_, (std::string("DELETE FROM ") + table + " WHERE record_id = ?").c_str()).BindText(d.recordId).Run();
  for (size_t i = 0; i < d.values.size(); ++i)
    Stmt(db_, "INSERT INTO document_fields VALUES (?, ?, ?, ?)")
        .BindText(d.recordId).Bind(int(i)).BindText(d.values[i].name).BindText(d.values[i].value).Run();
  for (size_t i = 0; i < d.handlers.size(); ++i)
    Stmt(db_, "INSERT INTO document_handlers VALUES (?, ?, ?, ?, ?, ?)")
        .BindText(d.recordId).Bind(int(i)).BindText(d.handlers[i].userId).BindText(d.handlers[i].userName)
        .Bind(d.handlers[i].deptNumber).BindText(d.handlers[i].deptNumbers).Run();
  for (size_t i = 0; i < d.passed.size(); ++i)
    Stmt(db_, "INSERT INTO document_passed VALUES (?, ?, ?, ?)")
        .BindText(d.recordId).Bind(int(i)).Bind(d.passed[i].step).Bind(d.passed[i].second).Run();
  for (size_t i = 0; i < d.stepHandlers.size(); ++i)
    Stmt(db_, "INSERT INTO document_step_handlers VALUES (?, ?, ?)")
        .BindText(d.recordId).Bind(int(i)).BindText(d.stepHandlers[i]).Run();
  // An issued number is used up: the next document of that kind gets a later one.
  if (d.numberType >= 0 && d.number > 0)
    Stmt(db_, "UPDATE number_kinds SET next_number = MAX(next_number, ?) WHERE id = ?")
        .Bind(int64_t(d.number) + 1).Bind(d.numberType).Run();
}

int OaDatabase::Revision(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT revision FROM document_revisions WHERE record_id = ?");
  s.BindText(recordId);
  return s.Step() ? s.Int(0) : 0;
}

std::optional<std::vector<TFieldRecord>> OaDatabase::FieldsAt(const AnsiString& recordId, int revision) const {
  if (revision == 0) return std::vector<TFieldRecord>{};  // a new document starts empty
  Stmt r(db_, "SELECT 1 FROM revision_fields WHERE record_id = ? AND revision = ? LIMIT 1");
  r.BindText(recordId).Bind(revision);
  // A revision saved with no fields at all leaves no row: only the current one is known then.
  if (!r.Step() && revision != Revision(recordId)) return std::nullopt;
  Stmt s(db_, "SELECT name, value FROM revision_fields WHERE record_id = ? AND revision = ? ORDER BY position");
  s.BindText(recordId).Bind(revision);
  std::vector<TFieldRecord> fields;
  while (s.Step()) fields.push_back({s.Text(0), s.Text(1)});
  return fields;
}

bool OaDatabase::NumberHeldByOther(int numberType, int number, const AnsiString& recordId) const {
  Stmt s(db_,
         "SELECT 1 FROM documents WHERE number_type = ? AND number = ? AND record_id <> ? AND state <> 'destroyed' "
         "LIMIT 1");
  s.Bind(numberType).Bind(number).BindText(recordId);
  return s.Step();
}

std::vector<AnsiString> OaDatabase::UnsavedDrafts(const AnsiString& authorId) const {
  Stmt s(db_,
         "SELECT d.record_id FROM documents d LEFT JOIN document_revisions r ON r.record_id = d.record_id "
         "WHERE d.author_id = ? AND d.state = 'open' AND r.record_id IS NULL "
         "AND NOT EXISTS (SELECT 1 FROM attachments a WHERE a.record_id = d.record_id AND length(a.container) > 0) "
         "AND NOT EXISTS (SELECT 1 FROM bodies b WHERE b.record_id = d.record_id) "
         "AND NOT EXISTS (SELECT 1 FROM comments c WHERE c.record_id = d.record_id) ORDER BY d.rowid");
  s.BindText(authorId);
  std::vector<AnsiString> ids;
  while (s.Step()) ids.push_back(s.Text(0));
  return ids;
}

void OaDatabase::DropDraft(const AnsiString& recordId) {
  Transaction t(*this);
  Stmt(db_, "DELETE FROM copy_fields WHERE copy_id IN (SELECT id FROM copies WHERE record_id = ?)").BindText(recordId).Run();
  Stmt(db_, "DELETE FROM copies WHERE record_id = ?").BindText(recordId).Run();
  Stmt(db_, "DELETE FROM attachment_copies WHERE record_id = ?").BindText(recordId).Run();
  KeepVersion("attachments", recordId, Attachments(recordId), std::string());
  KeepVersion("body", recordId, Body(recordId), std::string());
  for (const char* table : {"documents", "document_fields", "document_handlers", "document_passed",
                            "document_step_handlers", "archive_saves", "attachments", "bodies", "comments",
                            "distributions"})
    Stmt(db_, (std::string("DELETE FROM ") + table + " WHERE record_id = ?").c_str()).BindText(recordId).Run();
  t.Commit();
}

std::vector<oa::StoredDocument> OaDatabase::OpenDocuments(int workflowId) const {
  Stmt s(db_, "SELECT record_id FROM documents WHERE workflow_id = ? AND state = 'open'");
  s.Bind(workflowId);
  std::vector<oa::StoredDocument> docs;
  while (s.Step())
    if (auto d = FindDocument(s.Text(0))) docs.push_back(std::move(*d));
  return docs;
}

bool OaDatabase::SetDocumentState(const AnsiString& recordId, const AnsiString& state) {
  Stmt(db_, "UPDATE documents SET state = ? WHERE record_id = ?").BindText(state).BindText(recordId).Run();
  return sqlite3_changes(db_) > 0;
}

void OaDatabase::ArchiveDocument(const AnsiString& recordId, const AnsiString& userId, double at, int32_t copy) {
  Transaction t(*this);
  Stmt(db_, "UPDATE documents SET state = 'archived' WHERE record_id = ?").BindText(recordId).Run();
  Stmt(db_, "INSERT OR REPLACE INTO archive_saves (record_id, user_id, at, copy) VALUES (?, ?, ?, ?)")
      .BindText(recordId).BindText(userId).Bind(at).Bind(copy).Run();
  t.Commit();
}

std::optional<OaDatabase::ArchiveSave> OaDatabase::PendingArchiveSave(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT user_id, at, copy FROM archive_saves WHERE record_id = ?");
  s.BindText(recordId);
  if (!s.Step()) return std::nullopt;
  return ArchiveSave{s.Text(0), s.Real(1), s.Int(2)};
}

std::vector<frames::CommentRecord> OaDatabase::Comments(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT author_id, author_name, date, text FROM comments WHERE record_id = ? ORDER BY position");
  s.BindText(recordId);
  std::vector<frames::CommentRecord> comments;
  while (s.Step()) comments.push_back({s.Text(0), s.Text(1), s.Real(2), s.Text(3)});
  return comments;
}

void OaDatabase::AddComment(const AnsiString& recordId, const frames::CommentRecord& c) {
  Stmt(db_, "INSERT INTO comments VALUES (?1, (SELECT COUNT(*) FROM comments WHERE record_id = ?1), ?, ?, ?, ?)")
      .BindText(recordId).BindText(c.authorId).BindText(c.authorName).Bind(c.dateTime).BindText(c.text).Run();
}

std::string OaDatabase::Attachments(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT container FROM attachments WHERE record_id = ?");
  s.BindText(recordId);
  return s.Step() ? s.Blob(0) : std::string();
}

void OaDatabase::SaveAttachments(const AnsiString& recordId, const std::string& container) {
  Transaction t(*this);
  WriteAttachments(recordId, container);
  t.Commit();
}

void OaDatabase::WriteAttachments(const AnsiString& recordId, const std::string& container) {
  Stmt s(db_, "SELECT container FROM attachments WHERE record_id = ?");
  s.BindText(recordId);
  KeepVersion("attachments", recordId, s.Step() ? std::optional(s.Blob(0)) : std::nullopt, container);
  Stmt(db_, "INSERT OR REPLACE INTO attachments VALUES (?, ?)").BindText(recordId).BindBlob(container).Run();
}

std::optional<std::string> OaDatabase::Body(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT body FROM bodies WHERE record_id = ?");
  s.BindText(recordId);
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

void OaDatabase::SaveBody(const AnsiString& recordId, const std::string& body) {
  Transaction t(*this);
  KeepVersion("body", recordId, Body(recordId), body);
  Stmt(db_, "INSERT OR REPLACE INTO bodies VALUES (?, ?)").BindText(recordId).BindBlob(body).Run();
  t.Commit();
}

void OaDatabase::KeepVersion(const char* kind, const AnsiString& key, const std::optional<std::string>& old,
                             const std::string& replacement) {
  if (!old || old->empty() || *old == replacement) return;
  Stmt(db_, "INSERT INTO versions (kind, key, at, content) VALUES (?, ?, julianday('now') - 2415018.5, ?)")
      .BindText(kind).BindText(key).BindBlob(*old).Run();
  // Bounded, so that a client replacing in a loop cannot fill the disk.
  Stmt(db_,
       "DELETE FROM versions WHERE kind = ?1 AND key = ?2 AND id NOT IN "
       "(SELECT id FROM versions WHERE kind = ?1 AND key = ?2 ORDER BY id DESC LIMIT ?3)")
      .BindText(kind).BindText(key).Bind(kKeptVersions).Run();
}

std::vector<OaDatabase::Version> OaDatabase::Versions() const {
  Stmt s(db_, "SELECT id, kind, key, at, length(content) FROM versions ORDER BY id");
  std::vector<Version> versions;
  while (s.Step()) versions.push_back({s.Int64(0), s.Text(1), s.Text(2), s.Real(3), size_t(s.Int64(4))});
  return versions;
}

std::optional<std::pair<OaDatabase::Version, std::string>> OaDatabase::VersionContent(int64_t id) const {
  Stmt s(db_, "SELECT id, kind, key, at, length(content), content FROM versions WHERE id = ?");
  s.Bind(id);
  if (!s.Step()) return std::nullopt;
  return std::pair{Version{s.Int64(0), s.Text(1), s.Text(2), s.Real(3), size_t(s.Int64(4))}, s.Blob(5)};
}

void OaDatabase::RecordDistribution(const AnsiString& recordId, const AnsiString& kind,
                                    const std::vector<AnsiString>& targets) {
  Transaction t(*this);
  for (const AnsiString& target : targets)
    Stmt(db_, "INSERT INTO distributions VALUES (?, ?, ?)").BindText(recordId).BindText(kind).BindText(target).Run();
  t.Commit();
}

std::vector<AnsiString> OaDatabase::DistributionTargets(const AnsiString& recordId, const AnsiString& kind) const {
  Stmt s(db_, "SELECT target FROM distributions WHERE record_id = ? AND kind = ? ORDER BY rowid");
  s.BindText(recordId).BindText(kind);
  std::vector<AnsiString> targets;
  while (s.Step()) targets.push_back(s.Text(0));
  return targets;
}
