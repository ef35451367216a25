#include "apps/oa-server/OaDatabase.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

[[noreturn]] void Fail(sqlite3* db) { throw Exception(std::string("database: ") + sqlite3_errmsg(db)); }

// One prepared statement; parameters are bound in order. Blobs carry code page 936 bytes
// as they are; Utf8 binds text that SQLite shows.
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
  Stmt& Bind(std::string_view blob) {
    return Check(sqlite3_bind_blob64(s_, ++n_, blob.data() ? blob.data() : "", blob.size(), SQLITE_TRANSIENT));
  }
  Stmt& Utf8(const std::string& text) {
    return Check(sqlite3_bind_text64(s_, ++n_, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
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
  double Real(int col) const { return sqlite3_column_double(s_, col); }
  std::string Blob(int col) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s_, col));
    return p ? std::string(p, size_t(sqlite3_column_bytes(s_, col))) : std::string();
  }
  // UTF-8 text column as code page 936.
  AnsiString Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, col));
    return p ? Utf8ToCp936(p) : AnsiString();
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
  prefix BLOB NOT NULL,
  next_number INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS phrases (
  position INTEGER PRIMARY KEY,
  text BLOB NOT NULL,
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
  name BLOB PRIMARY KEY,
  form_file BLOB NOT NULL,
  table_name BLOB NOT NULL,
  workflow_id INTEGER NOT NULL,
  title_field BLOB NOT NULL,
  number_field BLOB NOT NULL,
  body_name BLOB NOT NULL,
  body BLOB NOT NULL,
  sheet BLOB NOT NULL,
  sign_off_mode INTEGER NOT NULL,
  attach_below INTEGER NOT NULL,
  maximised INTEGER NOT NULL,
  distribution_type INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS template_combos (
  template BLOB NOT NULL,
  position INTEGER NOT NULL,
  name BLOB NOT NULL,
  items BLOB NOT NULL,
  vals BLOB NOT NULL,
  PRIMARY KEY (template, position)
);
CREATE TABLE IF NOT EXISTS documents (
  record_id BLOB PRIMARY KEY,
  table_name BLOB NOT NULL,
  template BLOB NOT NULL,
  workflow_id INTEGER NOT NULL,
  current_step INTEGER NOT NULL,
  next_step INTEGER NOT NULL,
  status INTEGER NOT NULL,
  author_id BLOB NOT NULL,
  author_name BLOB NOT NULL,
  number_type INTEGER NOT NULL,
  number INTEGER NOT NULL,
  number_prefix BLOB NOT NULL,
  opinion BLOB NOT NULL,
  state TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS bodies (
  record_id BLOB PRIMARY KEY,
  body BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS document_fields (
  record_id BLOB NOT NULL,
  position INTEGER NOT NULL,
  name BLOB NOT NULL,
  value BLOB NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_handlers (
  record_id BLOB NOT NULL,
  position INTEGER NOT NULL,
  user_id BLOB NOT NULL,
  user_name BLOB NOT NULL,
  dept_number INTEGER NOT NULL,
  dept_numbers BLOB NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_step_handlers (
  record_id BLOB NOT NULL,
  position INTEGER NOT NULL,
  user_id BLOB NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS document_passed (
  record_id BLOB NOT NULL,
  position INTEGER NOT NULL,
  step INTEGER NOT NULL,
  second INTEGER NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS comments (
  record_id BLOB NOT NULL,
  position INTEGER NOT NULL,
  author_id BLOB NOT NULL,
  author_name BLOB NOT NULL,
  date REAL NOT NULL,
  text BLOB NOT NULL,
  PRIMARY KEY (record_id, position)
);
CREATE TABLE IF NOT EXISTS attachments (
  record_id BLOB PRIMARY KEY,
  container BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS archive_saves (
  record_id BLOB PRIMARY KEY,
  user_id BLOB NOT NULL,
  at REAL NOT NULL
);
CREATE TABLE IF NOT EXISTS distributions (
  record_id BLOB NOT NULL,
  kind TEXT NOT NULL,
  target BLOB NOT NULL
);
)sql";

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
  CreateSchema();
  FillSampleData();
}

void OaDatabase::CreateSchema() { Exec(kSchema); }

// Each part of the sample data is added when its tables are empty, so a database made
// before documents existed gains workflows and templates without losing its users.
void OaDatabase::FillSampleData() {
  Transaction t(*this);
  if (UserCount() == 0) {
    for (const oa::SampleUnit& u : oa::SampleUnits())
      Stmt(db_, "INSERT INTO units VALUES (?, ?)").Bind(u.id).Utf8(Cp936ToUtf8(u.name)).Run();
    for (const oa::SampleDepartment& d : oa::SampleDepartments())
      Stmt(db_, "INSERT INTO departments VALUES (?, ?, ?, ?)")
          .Bind(d.id).Bind(d.unitId).Bind(d.parentId).Utf8(Cp936ToUtf8(d.name)).Run();
    for (const oa::SampleUser& u : oa::SampleUsers()) {
      Stmt(db_, "INSERT INTO users VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
          .Utf8(u.id).Utf8(u.loginName).Utf8(Cp936ToUtf8(u.userName)).Bind(u.unitId).Bind(u.deptId)
          .Bind(u.roleId).Utf8(Cp936ToUtf8(u.roleName)).Bind(u.dutyId).Utf8(Cp936ToUtf8(u.dutyName))
          .Bind(u.userLevel).Bind(u.flag).Run();
      Stmt(db_, "INSERT INTO user_groups VALUES (?, ?)").Utf8(u.id).Utf8(Cp936ToUtf8(u.groups)).Run();
    }
    for (const oa::SampleNumberKind& k : oa::SampleNumberKinds())
      Stmt(db_, "INSERT INTO number_kinds VALUES (?, ?, ?, ?)").Bind(k.id).Bind(k.unitId).Bind(k.prefix).Bind(k.nextNumber).Run();
    int position = 0;
    for (const TOpinionPhrase& p : oa::SamplePhrases())
      Stmt(db_, "INSERT INTO phrases VALUES (?, ?, ?)").Bind(position++).Bind(p.text).Bind(int(p.group)).Run();
  }
  Stmt count(db_, "SELECT COUNT(*) FROM workflows");
  count.Step();
  if (count.Int(0) == 0) {
    for (const TFlowMessage& m : oa::SampleWorkflows()) {
      TFlowMessage header = m;
      header.steps.clear();
      header.chart.clear();
      Stmt(db_, "INSERT INTO workflows VALUES (?, ?, ?)").Bind(int64_t(m.flowId)).Bind(BuildFlowMessage(header)).Bind(m.chart).Run();
      for (size_t i = 0; i < m.steps.size(); ++i)
        Stmt(db_, "INSERT INTO workflow_steps VALUES (?, ?, ?, ?)")
            .Bind(int64_t(m.flowId)).Bind(int(i)).Bind(m.steps[i].id).Bind(WriteStepRecord(m.steps[i])).Run();
    }
    for (const oa::SampleTemplate& t : oa::SampleTemplates()) {
      Stmt(db_, "INSERT INTO templates VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
          .Bind(t.name).Bind(t.formFile).Bind(t.tableName).Bind(t.workflowId).Bind(t.titleField).Bind(t.numberField)
          .Bind(t.bodyName).Bind(t.body).Bind(t.sheet).Bind(t.signOffMode).Bind(t.attachBelow).Bind(int(t.maximised))
          .Bind(t.distributionType).Run();
      for (size_t i = 0; i < t.combos.size(); ++i)
        Stmt(db_, "INSERT INTO template_combos VALUES (?, ?, ?, ?, ?)")
            .Bind(t.name).Bind(int(i)).Bind(t.combos[i].name).Bind(t.combos[i].items).Bind(t.combos[i].values).Run();
    }
  }
  t.Commit();
}

int OaDatabase::UserCount() const {
  Stmt s(db_, "SELECT COUNT(*) FROM users");
  return s.Step() ? s.Int(0) : 0;
}

std::optional<frames::LoginReply> OaDatabase::FindUserByLogin(const AnsiString& loginName) const {
  // Names are stored as UTF-8; a name that does not survive the round trip (a cut
  // double-byte character, an unmapped byte) cannot belong to any user.
  const std::string utf8 = Cp936ToUtf8(loginName);
  if (loginName.empty() || Utf8ToCp936(utf8) != loginName) return std::nullopt;
  Stmt s(db_,
         "SELECT u.id, u.login_name, u.user_name, u.unit_id, un.name, u.dept_id, d.name, "
         "u.role_id, u.role_name, u.duty_id, u.duty_name, u.user_level, u.flag "
         "FROM users u JOIN units un ON un.id = u.unit_id "
         "JOIN departments d ON d.id = u.dept_id WHERE u.login_name = ?1");
  s.Utf8(utf8);
  if (!s.Step()) return std::nullopt;
  frames::LoginReply r;
  r.userId = s.Text(0);
  r.loginName = s.Text(1);
  r.userName = s.Text(2);
  r.compId = s.Int(3);
  r.compName = s.Text(4);
  r.deptId = s.Int(5);
  r.deptName = s.Text(6);
  r.roleId = s.Int(7);
  r.roleName = s.Text(8);
  r.dutyId = s.Int(9);
  r.dutyName = s.Text(10);
  r.userLevel = s.Int(11);
  r.flag = static_cast<uint8_t>(s.Int(12));
  return r;
}

namespace {

constexpr const char* kUserSelect =
    "SELECT u.id, u.login_name, u.user_name, u.unit_id, un.name, u.dept_id, d.name, d.parent_id, "
    "COALESCE(g.groups, '') FROM users u JOIN units un ON un.id = u.unit_id "
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

}  // namespace

std::vector<frames::UserRecord> OaDatabase::Users(int unitId) const {
  Stmt s(db_, (std::string(kUserSelect) + "WHERE ?1 = 0 OR u.unit_id = ?1 ORDER BY u.login_name").c_str());
  s.Bind(unitId);
  std::vector<frames::UserRecord> users;
  while (s.Step()) users.push_back(ReadUser(s));
  return users;
}

std::optional<frames::UserRecord> OaDatabase::UserById(const AnsiString& userId) const {
  Stmt s(db_, (std::string(kUserSelect) + "WHERE u.id = ?1").c_str());
  s.Utf8(Cp936ToUtf8(userId));
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
  while (s.Step()) kinds.push_back({s.Int(0), s.Blob(1), 0, s.Int(2)});
  return kinds;
}

std::vector<TOpinionPhrase> OaDatabase::Phrases() const {
  Stmt s(db_, "SELECT text, grp FROM phrases ORDER BY position");
  std::vector<TOpinionPhrase> phrases;
  while (s.Step()) phrases.push_back({s.Blob(0), uint8_t(s.Int(1))});
  return phrases;
}

// ---- workflows -------------------------------------------------------------------

std::optional<TFlowMessage> OaDatabase::FindWorkflow(int id) const {
  Stmt w(db_, "SELECT header, chart FROM workflows WHERE id = ?");
  w.Bind(id);
  if (!w.Step()) return std::nullopt;
  TFlowMessage m = ParseFlowMessage(w.Blob(0));
  m.chart = w.Blob(1);
  Stmt s(db_, "SELECT record FROM workflow_steps WHERE workflow_id = ? ORDER BY position");
  s.Bind(id);
  while (s.Step()) m.steps.push_back(ReadStepRecord(s.Blob(0)));
  return m;
}

TFlowMessage OaDatabase::SaveWorkflow(const TFlowMessage& m) {
  Transaction t(*this);
  TFlowMessage stored = m;
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
      .Bind(int64_t(stored.flowId)).Bind(BuildFlowMessage(header)).Bind(m.chart).Run();
  Stmt(db_, "DELETE FROM workflow_steps WHERE workflow_id = ?").Bind(int64_t(stored.flowId)).Run();
  for (size_t i = 0; i < stored.steps.size(); ++i)
    Stmt(db_, "INSERT INTO workflow_steps VALUES (?, ?, ?, ?)")
        .Bind(int64_t(stored.flowId)).Bind(int(i)).Bind(stored.steps[i].id).Bind(WriteStepRecord(stored.steps[i])).Run();
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
  s.Bind(name);
  if (!s.Step()) return std::nullopt;
  oa::SampleTemplate t;
  t.name = s.Blob(0);
  t.formFile = s.Blob(1);
  t.tableName = s.Blob(2);
  t.workflowId = s.Int(3);
  t.titleField = s.Blob(4);
  t.numberField = s.Blob(5);
  t.bodyName = s.Blob(6);
  t.body = s.Blob(7);
  t.sheet = s.Blob(8);
  t.signOffMode = s.Int(9);
  t.attachBelow = s.Int(10);
  t.maximised = uint8_t(s.Int(11));
  t.distributionType = s.Int(12);
  Stmt c(db_, "SELECT name, items, vals FROM template_combos WHERE template = ? ORDER BY position");
  c.Bind(t.name);
  while (c.Step()) t.combos.push_back({c.Blob(0), c.Blob(1), c.Blob(2)});
  return t;
}

// ---- documents -------------------------------------------------------------------

std::optional<oa::StoredDocument> OaDatabase::FindDocument(const AnsiString& recordId) const {
  Stmt s(db_,
         "SELECT table_name, template, workflow_id, current_step, next_step, status, author_id, author_name, "
         "number_type, number, number_prefix, opinion, state FROM documents WHERE record_id = ?");
  s.Bind(recordId);
  if (!s.Step()) return std::nullopt;
  oa::StoredDocument d;
  d.recordId = recordId;
  d.tableName = s.Blob(0);
  d.templateName = s.Blob(1);
  d.workflowId = s.Int(2);
  d.currentStep = s.Int(3);
  d.nextStep = s.Int(4);
  d.status = s.Int(5);
  d.authorId = s.Blob(6);
  d.authorName = s.Blob(7);
  d.numberType = s.Int(8);
  d.number = s.Int(9);
  d.numberPrefix = s.Blob(10);
  d.opinion = s.Blob(11);
  d.state = s.Text(12);
  Stmt f(db_, "SELECT name, value FROM document_fields WHERE record_id = ? ORDER BY position");
  f.Bind(recordId);
  while (f.Step()) d.values.push_back({f.Blob(0), f.Blob(1)});
  Stmt h(db_,
         "SELECT user_id, user_name, dept_number, dept_numbers FROM document_handlers WHERE record_id = ? "
         "ORDER BY position");
  h.Bind(recordId);
  while (h.Step()) d.handlers.push_back({h.Blob(0), h.Blob(1), h.Int(2), h.Blob(3)});
  Stmt p(db_, "SELECT step, second FROM document_passed WHERE record_id = ? ORDER BY position");
  p.Bind(recordId);
  while (p.Step()) d.passed.push_back({p.Int(0), p.Int(1)});
  Stmt sh(db_, "SELECT user_id FROM document_step_handlers WHERE record_id = ? ORDER BY position");
  sh.Bind(recordId);
  while (sh.Step()) d.stepHandlers.push_back(sh.Blob(0));
  return d;
}

void OaDatabase::SaveDocument(const oa::StoredDocument& d) {
  Transaction t(*this);
  Stmt(db_, "INSERT OR REPLACE INTO documents VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .Bind(d.recordId).Bind(d.tableName).Bind(d.templateName).Bind(d.workflowId).Bind(d.currentStep)
      .Bind(d.nextStep).Bind(d.status).Bind(d.authorId).Bind(d.authorName).Bind(d.numberType).Bind(d.number)
      .Bind(d.numberPrefix).Bind(d.opinion).Utf8(d.state).Run();
  for (const char* table :
       {"document_fields", "document_handlers", "document_passed", "document_step_handlers", "archive_saves"})
    Stmt(db_, (std::string("DELETE FROM ") + table + " WHERE record_id = ?").c_str()).Bind(d.recordId).Run();
  for (size_t i = 0; i < d.values.size(); ++i)
    Stmt(db_, "INSERT INTO document_fields VALUES (?, ?, ?, ?)")
        .Bind(d.recordId).Bind(int(i)).Bind(d.values[i].name).Bind(d.values[i].value).Run();
  for (size_t i = 0; i < d.handlers.size(); ++i)
    Stmt(db_, "INSERT INTO document_handlers VALUES (?, ?, ?, ?, ?, ?)")
        .Bind(d.recordId).Bind(int(i)).Bind(d.handlers[i].userId).Bind(d.handlers[i].userName)
        .Bind(d.handlers[i].deptNumber).Bind(d.handlers[i].deptNumbers).Run();
  for (size_t i = 0; i < d.passed.size(); ++i)
    Stmt(db_, "INSERT INTO document_passed VALUES (?, ?, ?, ?)")
        .Bind(d.recordId).Bind(int(i)).Bind(d.passed[i].step).Bind(d.passed[i].second).Run();
  for (size_t i = 0; i < d.stepHandlers.size(); ++i)
    Stmt(db_, "INSERT INTO document_step_handlers VALUES (?, ?, ?)")
        .Bind(d.recordId).Bind(int(i)).Bind(d.stepHandlers[i]).Run();
  // An issued number is used up: the next document of that kind gets a later one.
  if (d.numberType >= 0 && d.number > 0)
    Stmt(db_, "UPDATE number_kinds SET next_number = MAX(next_number, ?) WHERE id = ?")
        .Bind(int64_t(d.number) + 1).Bind(d.numberType).Run();
  t.Commit();
}

bool OaDatabase::SetDocumentState(const AnsiString& recordId, const AnsiString& state) {
  Stmt(db_, "UPDATE documents SET state = ? WHERE record_id = ?").Utf8(state).Bind(recordId).Run();
  return sqlite3_changes(db_) > 0;
}

void OaDatabase::ArchiveDocument(const AnsiString& recordId, const AnsiString& userId, double at) {
  Transaction t(*this);
  Stmt(db_, "UPDATE documents SET state = 'archived' WHERE record_id = ?").Bind(recordId).Run();
  Stmt(db_, "INSERT OR REPLACE INTO archive_saves VALUES (?, ?, ?)").Bind(recordId).Bind(userId).Bind(at).Run();
  t.Commit();
}

std::optional<OaDatabase::ArchiveSave> OaDatabase::PendingArchiveSave(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT user_id, at FROM archive_saves WHERE record_id = ?");
  s.Bind(recordId);
  if (!s.Step()) return std::nullopt;
  return ArchiveSave{s.Blob(0), s.Real(1)};
}

std::vector<frames::CommentRecord> OaDatabase::Comments(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT author_id, author_name, date, text FROM comments WHERE record_id = ? ORDER BY position");
  s.Bind(recordId);
  std::vector<frames::CommentRecord> comments;
  while (s.Step()) comments.push_back({s.Blob(0), s.Blob(1), s.Real(2), s.Blob(3)});
  return comments;
}

void OaDatabase::AddComment(const AnsiString& recordId, const frames::CommentRecord& c) {
  Stmt(db_, "INSERT INTO comments VALUES (?1, (SELECT COUNT(*) FROM comments WHERE record_id = ?1), ?, ?, ?, ?)")
      .Bind(recordId).Bind(c.authorId).Bind(c.authorName).Bind(c.dateTime).Bind(c.text).Run();
}

std::string OaDatabase::Attachments(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT container FROM attachments WHERE record_id = ?");
  s.Bind(recordId);
  return s.Step() ? s.Blob(0) : std::string();
}

void OaDatabase::SaveAttachments(const AnsiString& recordId, const std::string& container) {
  Stmt(db_, "INSERT OR REPLACE INTO attachments VALUES (?, ?)").Bind(recordId).Bind(container).Run();
}

std::optional<std::string> OaDatabase::Body(const AnsiString& recordId) const {
  Stmt s(db_, "SELECT body FROM bodies WHERE record_id = ?");
  s.Bind(recordId);
  if (!s.Step()) return std::nullopt;
  return s.Blob(0);
}

void OaDatabase::SaveBody(const AnsiString& recordId, const std::string& body) {
  Stmt(db_, "INSERT OR REPLACE INTO bodies VALUES (?, ?)").Bind(recordId).Bind(body).Run();
}

void OaDatabase::RecordDistribution(const AnsiString& recordId, const AnsiString& kind,
                                    const std::vector<AnsiString>& targets) {
  Transaction t(*this);
  for (const AnsiString& target : targets)
    Stmt(db_, "INSERT INTO distributions VALUES (?, ?, ?)").Bind(recordId).Utf8(kind).Bind(target).Run();
  t.Commit();
}

std::vector<AnsiString> OaDatabase::DistributionTargets(const AnsiString& recordId, const AnsiString& kind) const {
  Stmt s(db_, "SELECT target FROM distributions WHERE record_id = ? AND kind = ? ORDER BY rowid");
  s.Bind(recordId).Utf8(kind);
  std::vector<AnsiString> targets;
  while (s.Step()) targets.push_back(s.Blob(0));
  return targets;
}
