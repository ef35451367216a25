#include "apps/oa-server/OaDatabase.h"

#include <sqlite3.h>

#include <memory>

namespace {

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
    throw Exception(std::string("database: ") + sqlite3_errmsg(db));
  return Stmt(s);
}

AnsiString ColumnText(sqlite3_stmt* s, int col) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
  return p ? Utf8ToCp936(p) : AnsiString();
}

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
)sql";

const char* kSampleData = R"sql(
BEGIN;
INSERT INTO units VALUES (1, '市政府办公室'), (2, '市财政局');
INSERT INTO departments VALUES
  (10, 1, 0, '综合科'), (11, 1, 10, '秘书科'), (12, 1, 0, '信息中心'), (20, 2, 0, '预算科');
INSERT INTO users VALUES
  ('{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}', 'admin', '系统管理员', 1, 12, 1, '管理员', 1, '主任', 9, 1),
  ('{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}', 'zhangsan', '张三', 1, 10, 2, '科员', 3, '科长', 5, 0),
  ('{A3B4C5D6-1E2F-4A5B-8C7D-9E0F1A2B3C4D}', 'lisi', '李四', 1, 11, 2, '科员', 4, '副科长', 4, 0),
  ('{5C6D7E8F-9A0B-4C1D-9E2F-3A4B5C6D7E8F}', 'wangwu', '王五', 2, 20, 3, '审核员', 5, '科员', 2, 0);
COMMIT;
)sql";

}  // namespace

OaDatabase::~OaDatabase() {
  if (db_) sqlite3_close(db_);
}

void OaDatabase::Exec(const char* sql) {
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
  if (UserCount() == 0) FillSampleData();
}

void OaDatabase::CreateSchema() { Exec(kSchema); }

void OaDatabase::FillSampleData() { Exec(kSampleData); }

int OaDatabase::UserCount() const {
  Stmt s = Prepare(db_, "SELECT COUNT(*) FROM users");
  return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : 0;
}

std::optional<frames::LoginReply> OaDatabase::FindUserByLogin(const AnsiString& loginName) const {
  // Names are stored as UTF-8; a name that does not survive the round trip (a cut
  // double-byte character, an unmapped byte) cannot belong to any user.
  const std::string utf8 = Cp936ToUtf8(loginName);
  if (loginName.empty() || Utf8ToCp936(utf8) != loginName) return std::nullopt;
  Stmt s = Prepare(db_,
                   "SELECT u.id, u.login_name, u.user_name, u.unit_id, un.name, u.dept_id, d.name, "
                   "u.role_id, u.role_name, u.duty_id, u.duty_name, u.user_level, u.flag "
                   "FROM users u JOIN units un ON un.id = u.unit_id "
                   "JOIN departments d ON d.id = u.dept_id WHERE u.login_name = ?1");
  sqlite3_bind_text(s.get(), 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  frames::LoginReply r;
  r.userId = ColumnText(s.get(), 0);
  r.loginName = ColumnText(s.get(), 1);
  r.userName = ColumnText(s.get(), 2);
  r.compId = sqlite3_column_int(s.get(), 3);
  r.compName = ColumnText(s.get(), 4);
  r.deptId = sqlite3_column_int(s.get(), 5);
  r.deptName = ColumnText(s.get(), 6);
  r.roleId = sqlite3_column_int(s.get(), 7);
  r.roleName = ColumnText(s.get(), 8);
  r.dutyId = sqlite3_column_int(s.get(), 9);
  r.dutyName = ColumnText(s.get(), 10);
  r.userLevel = sqlite3_column_int(s.get(), 11);
  r.flag = static_cast<uint8_t>(sqlite3_column_int(s.get(), 12));
  return r;
}
