// The server's database file: text reads as UTF-8 to anyone who opens it, goes back to
// clients as the code page 936 bytes it came as, and a file of the older layout is
// converted when the server opens it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>

#include "apps/oa-server/OaService.h"
#include "control/wire/Class_StoExcel.h"
#include "control/wire/Un_CopyFiles.h"

namespace {

const char* kRecord = "{11111111-2222-4333-8444-555555555555}";
const char* kAdmin = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
const char* kZhang = "{0D5E7C21-8A44-4B19-B3E2-7F60A1C2D3E4}";

// A value for a row written straight into the file: code page 936 bytes and binary data
// as blobs, as the older layout kept them, or UTF-8 text.
struct Value {
  Value(int v) : kind(SQLITE_INTEGER), i(v) {}
  Value(double v) : kind(SQLITE_FLOAT), d(v) {}
  Value(std::string v) : kind(SQLITE_BLOB), s(std::move(v)) {}
  Value(const char* v) : Value(std::string(v)) {}
  static Value Utf8(std::string v) {
    Value t(std::move(v));
    t.kind = SQLITE_TEXT;
    return t;
  }
  int kind;
  int64_t i = 0;
  double d = 0;
  std::string s;
};

class RawFile {
 public:
  explicit RawFile(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
  ~RawFile() { sqlite3_close(db_); }
  void Exec(const std::string& sql) { ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql; }
  void Row(const std::string& table, std::initializer_list<Value> values) {
    std::string sql = "INSERT INTO " + table + " VALUES (";
    for (size_t i = 0; i < values.size(); ++i) sql += i ? ", ?" : "?";
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db_, (sql + ")").c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    int n = 0;
    for (const Value& v : values) {
      ++n;
      if (v.kind == SQLITE_INTEGER) sqlite3_bind_int64(st, n, v.i);
      if (v.kind == SQLITE_FLOAT) sqlite3_bind_double(st, n, v.d);
      if (v.kind == SQLITE_BLOB) sqlite3_bind_blob(st, n, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT);
      if (v.kind == SQLITE_TEXT) sqlite3_bind_text(st, n, v.s.data(), int(v.s.size()), SQLITE_TRANSIENT);
    }
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sql;
    sqlite3_finalize(st);
  }
  // "type:bytes" of the first column of the first row, as a person with sqlite3 sees it.
  std::string Read(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string out = "<none>";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(st, 0));
      const char* type = sqlite3_column_type(st, 0) == SQLITE_TEXT ? "text:" : sqlite3_column_type(st, 0) == SQLITE_BLOB ? "blob:" : "other:";
      out = type + std::string(p ? p : "", size_t(sqlite3_column_bytes(st, 0)));
    }
    sqlite3_finalize(st);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

std::string Text(const char* utf8) { return std::string("text:") + utf8; }

// An attachment container of one file, binary all through.
std::string Container() {
  TCopy2Files files;
  files.AddStream(Cp936("附件.txt"), std::string("\xFF\0\xB0", 3), fsFromServer);
  return files.SaveToBytes();
}

class OaDatabaseFile : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove(path_); }
  void TearDown() override { std::filesystem::remove(path_); }
  const std::string path_ =
      (std::filesystem::temp_directory_path() / ("oa-file-" + std::to_string(getpid()) + ".sqlite")).string();
};

TEST_F(OaDatabaseFile, TextIsUtf8InTheFileAndBytesThatAreNotTextComeBackUnchanged) {
  const AnsiString cut = Cp936("请假") + "\xB0";  // a double-byte character cut by a field size
  const AnsiString lookalike = std::string(kRecord) + "?";
  const AnsiString unmapped = std::string(kRecord) + "\xFF";
  {
    OaDatabase db;
    db.Open(path_);
    oa::StoredDocument d;
    d.recordId = kRecord;
    d.tableName = "oa_leave";
    d.templateName = Cp936("请假单");
    d.authorId = kAdmin;
    d.authorName = Cp936("系统管理员");
    d.values = {{Cp936("标题"), Cp936("请假三天")}, {Cp936("备注"), cut}};
    d.handlers = {{kZhang, Cp936("张三"), 10, ",10,"}};
    db.SaveDocument(d);
    db.AddComment(kRecord, {kAdmin, Cp936("系统管理员"), 46000.5, Cp936("同意")});
    db.RecordDistribution(kRecord, "OTFF", {Cp936("市财政局")});
    // Two records whose ids differ only in a byte that is not text stay two records.
    d.recordId = lookalike;
    d.opinion = "first";
    db.SaveDocument(d);
    d.recordId = unmapped;
    d.opinion = "second";
    db.SaveDocument(d);
  }
  {
    RawFile raw(path_);
    const std::string where = std::string(" WHERE record_id = '") + kRecord + "'";
    EXPECT_EQ(raw.Read("SELECT author_name FROM documents" + where), Text("系统管理员"));
    EXPECT_EQ(raw.Read("SELECT template FROM documents" + where), Text("请假单"));
    EXPECT_EQ(raw.Read("SELECT value FROM document_fields" + where + " AND position = 0"), Text("请假三天"));
    EXPECT_EQ(raw.Read("SELECT value FROM document_fields" + where + " AND position = 1"), "blob:" + cut);
    EXPECT_EQ(raw.Read("SELECT user_name FROM document_handlers" + where), Text("张三"));
    EXPECT_EQ(raw.Read("SELECT text FROM comments" + where), Text("同意"));
    EXPECT_EQ(raw.Read("SELECT target FROM distributions" + where), Text("市财政局"));
    EXPECT_EQ(raw.Read("SELECT form_file FROM templates WHERE table_name = 'oa_leave'"), Text("请假单.xls"));
    EXPECT_EQ(raw.Read("SELECT items FROM template_combos WHERE name = 'LEAVETYPE'"), Text("事假\r\n病假\r\n年假\r\n婚假"));
    EXPECT_EQ(raw.Read("SELECT prefix FROM number_kinds WHERE id = 1"), Text("政办发"));
    EXPECT_EQ(raw.Read("SELECT text FROM phrases WHERE position = 0"), Text("同意"));
    EXPECT_EQ(raw.Read("SELECT typeof(sheet) FROM templates WHERE table_name = 'oa_leave'"), Text("blob"));
    EXPECT_EQ(raw.Read("PRAGMA user_version"), "other:1");
  }
  OaDatabase db;
  db.Open(path_);
  const auto d = db.FindDocument(kRecord);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->authorName, Cp936("系统管理员"));
  EXPECT_EQ(d->values, (std::vector<TFieldRecord>{{Cp936("标题"), Cp936("请假三天")}, {Cp936("备注"), cut}}));
  EXPECT_EQ(db.FindDocument(lookalike)->opinion, "first");
  EXPECT_EQ(db.FindDocument(unmapped)->opinion, "second");
  EXPECT_EQ(db.Comments(kRecord)[0].text, Cp936("同意"));
  EXPECT_EQ(db.DistributionTargets(kRecord, "OTFF"), std::vector<AnsiString>{Cp936("市财政局")});
  EXPECT_EQ(db.FindTemplate(Cp936("请假单.xls"))->name, Cp936("请假单"));
}

// A file as the server wrote it before its text was UTF-8: names of people as UTF-8 text,
// everything of templates and documents as code page 936 blobs, no layout number.
void WriteOlderLayout(const std::string& path) {
  RawFile f(path);
  f.Exec(R"sql(
CREATE TABLE units (id INTEGER PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE departments (id INTEGER PRIMARY KEY, unit_id INTEGER NOT NULL REFERENCES units(id), parent_id INTEGER NOT NULL DEFAULT 0, name TEXT NOT NULL);
CREATE TABLE users (id TEXT PRIMARY KEY, login_name TEXT NOT NULL UNIQUE, user_name TEXT NOT NULL, unit_id INTEGER NOT NULL REFERENCES units(id), dept_id INTEGER NOT NULL REFERENCES departments(id), role_id INTEGER NOT NULL, role_name TEXT NOT NULL, duty_id INTEGER NOT NULL, duty_name TEXT NOT NULL, user_level INTEGER NOT NULL, flag INTEGER NOT NULL DEFAULT 0);
CREATE TABLE user_groups (user_id TEXT PRIMARY KEY REFERENCES users(id), groups TEXT NOT NULL);
CREATE TABLE number_kinds (id INTEGER PRIMARY KEY, unit_id INTEGER NOT NULL, prefix BLOB NOT NULL, next_number INTEGER NOT NULL);
CREATE TABLE phrases (position INTEGER PRIMARY KEY, text BLOB NOT NULL, grp INTEGER NOT NULL);
CREATE TABLE workflows (id INTEGER PRIMARY KEY, header BLOB NOT NULL, chart BLOB NOT NULL);
CREATE TABLE workflow_steps (workflow_id INTEGER NOT NULL REFERENCES workflows(id), position INTEGER NOT NULL, step_id INTEGER NOT NULL, record BLOB NOT NULL, PRIMARY KEY (workflow_id, position));
CREATE TABLE templates (name BLOB PRIMARY KEY, form_file BLOB NOT NULL, table_name BLOB NOT NULL, workflow_id INTEGER NOT NULL, title_field BLOB NOT NULL, number_field BLOB NOT NULL, body_name BLOB NOT NULL, body BLOB NOT NULL, sheet BLOB NOT NULL, sign_off_mode INTEGER NOT NULL, attach_below INTEGER NOT NULL, maximised INTEGER NOT NULL, distribution_type INTEGER NOT NULL);
CREATE TABLE template_combos (template BLOB NOT NULL, position INTEGER NOT NULL, name BLOB NOT NULL, items BLOB NOT NULL, vals BLOB NOT NULL, PRIMARY KEY (template, position));
CREATE TABLE documents (record_id BLOB PRIMARY KEY, table_name BLOB NOT NULL, template BLOB NOT NULL, workflow_id INTEGER NOT NULL, current_step INTEGER NOT NULL, next_step INTEGER NOT NULL, status INTEGER NOT NULL, author_id BLOB NOT NULL, author_name BLOB NOT NULL, number_type INTEGER NOT NULL, number INTEGER NOT NULL, number_prefix BLOB NOT NULL, opinion BLOB NOT NULL, state TEXT NOT NULL);
CREATE TABLE bodies (record_id BLOB PRIMARY KEY, body BLOB NOT NULL);
CREATE TABLE document_fields (record_id BLOB NOT NULL, position INTEGER NOT NULL, name BLOB NOT NULL, value BLOB NOT NULL, PRIMARY KEY (record_id, position));
CREATE TABLE document_handlers (record_id BLOB NOT NULL, position INTEGER NOT NULL, user_id BLOB NOT NULL, user_name BLOB NOT NULL, dept_number INTEGER NOT NULL, dept_numbers BLOB NOT NULL, PRIMARY KEY (record_id, position));
CREATE TABLE document_step_handlers (record_id BLOB NOT NULL, position INTEGER NOT NULL, user_id BLOB NOT NULL, PRIMARY KEY (record_id, position));
CREATE TABLE document_passed (record_id BLOB NOT NULL, position INTEGER NOT NULL, step INTEGER NOT NULL, second INTEGER NOT NULL, PRIMARY KEY (record_id, position));
CREATE TABLE comments (record_id BLOB NOT NULL, position INTEGER NOT NULL, author_id BLOB NOT NULL, author_name BLOB NOT NULL, date REAL NOT NULL, text BLOB NOT NULL, PRIMARY KEY (record_id, position));
CREATE TABLE attachments (record_id BLOB PRIMARY KEY, container BLOB NOT NULL);
CREATE TABLE archive_saves (record_id BLOB PRIMARY KEY, user_id BLOB NOT NULL, at REAL NOT NULL);
CREATE TABLE distributions (record_id BLOB NOT NULL, kind TEXT NOT NULL, target BLOB NOT NULL);
)sql");
  f.Row("units", {1, Value::Utf8("市政府办公室")});
  f.Row("departments", {12, 1, 0, Value::Utf8("信息中心")});
  f.Row("users", {Value::Utf8(kAdmin), Value::Utf8("admin"), Value::Utf8("系统管理员"), 1, 12, 1, Value::Utf8("管理员"), 1,
                  Value::Utf8("主任"), 9, 1});
  f.Row("number_kinds", {1, 1, Cp936("政办发"), 12});
  f.Row("phrases", {0, Cp936("已阅"), 0});
  f.Row("templates", {Cp936("旧表单"), Cp936("旧表单.xls"), "oa_old", 1, Cp936("标题"), "", Cp936("正文.docx"),
                      std::string("PK\x03\x04\xB0\xFF", 6), oa::SampleLeaveSheet(), 0, 0, 0, 3});
  f.Row("template_combos", {Cp936("旧表单"), 0, "KIND", Cp936("甲\r\n乙"), "1\r\n2"});
  f.Row("documents", {kRecord, "oa_old", Cp936("旧表单"), 1, 1, -1, 0, kAdmin, Cp936("系统管理员"), 1, 5, Cp936("政办发"),
                      Cp936("同意"), Value::Utf8("open")});
  f.Row("bodies", {kRecord, std::string("PK\x03\x04\0\xD6", 6)});
  f.Row("document_fields", {kRecord, 0, Cp936("标题"), Cp936("请假三天")});
  f.Row("document_fields", {kRecord, 1, Cp936("备注"), Cp936("请假") + "\xB0"});
  f.Row("document_handlers", {kRecord, 0, kZhang, Cp936("张三"), 10, ",10,"});
  f.Row("document_step_handlers", {kRecord, 0, kZhang});
  f.Row("document_passed", {kRecord, 0, 1, 0});
  f.Row("comments", {kRecord, 0, kAdmin, Cp936("系统管理员"), 46000.5, Cp936("已阅")});
  f.Row("attachments", {kRecord, Container()});
  f.Row("archive_saves", {kRecord, kAdmin, 46000.25});
  f.Row("distributions", {kRecord, Value::Utf8("OTFF"), Cp936("市财政局")});
}

TEST_F(OaDatabaseFile, AFileOfTheOlderLayoutIsConvertedWhenOpenedAndAnswersAsBefore) {
  WriteOlderLayout(path_);
  for (int open = 0; open < 2; ++open) {  // the second open finds it converted already
    SCOPED_TRACE(open);
    OaDatabase db;
    db.Open(path_);
    EXPECT_EQ(db.UserCount(), 1);  // its own users, not the sample ones
    const auto d = db.FindDocument(kRecord);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->templateName, Cp936("旧表单"));
    EXPECT_EQ(d->authorName, Cp936("系统管理员"));
    EXPECT_EQ(d->numberPrefix, Cp936("政办发"));
    EXPECT_EQ(d->opinion, Cp936("同意"));
    EXPECT_EQ(d->values, (std::vector<TFieldRecord>{{Cp936("标题"), Cp936("请假三天")}, {Cp936("备注"), Cp936("请假") + "\xB0"}}));
    EXPECT_EQ(d->stepHandlers, std::vector<AnsiString>{kZhang});
    EXPECT_EQ(db.Body(kRecord), std::string("PK\x03\x04\0\xD6", 6));
    EXPECT_EQ(db.Attachments(kRecord), Container());
    EXPECT_EQ(db.PendingArchiveSave(kRecord)->userId, kAdmin);
    EXPECT_EQ(db.DistributionTargets(kRecord, "OTFF"), std::vector<AnsiString>{Cp936("市财政局")});
    const auto form = db.FindTemplate("oa_old");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->bodyName, Cp936("正文.docx"));
    EXPECT_EQ(form->body, std::string("PK\x03\x04\xB0\xFF", 6));
    EXPECT_EQ(form->sheet, oa::SampleLeaveSheet());

    // What a client is sent for it, as the older server sent it.
    oa::OaService service(db);
    frames::QueryRecord q;
    q.userId = kAdmin;
    q.recordId = kRecord;
    TStream2Array reply;
    reply.LoadFromBytes(*service.Reply(frames::BuildQueryRequest(q)));
    EXPECT_EQ(reply.Header.Text(dh::AuthorName), Cp936("系统管理员"));
    EXPECT_EQ(reply.Header.Text(dh::BodyFile), Cp936("正文.docx"));
    ASSERT_GE(reply.FieldRecords.size(), 2u);
    EXPECT_EQ(reply.FieldRecords[1].value, Cp936("请假") + "\xB0");
    EXPECT_EQ(reply.ComboSources, (std::vector<TComboSource>{{"KIND", Cp936("甲\r\n乙"), "1\r\n2"}}));
    EXPECT_EQ(reply.Comments.at(0).text, Cp936("已阅"));
    EXPECT_EQ(reply.Phrases.at(0).text, Cp936("已阅"));
    EXPECT_EQ(reply.PickedUsers.at(0).userName, Cp936("张三"));
    EXPECT_EQ(reply.AttachmentNames, std::vector<AnsiString>{Cp936("附件.txt")});
  }
  RawFile raw(path_);
  EXPECT_EQ(raw.Read("PRAGMA user_version"), "other:1");
  EXPECT_EQ(raw.Read("SELECT author_name FROM documents"), Text("系统管理员"));
  EXPECT_EQ(raw.Read("SELECT name FROM templates WHERE table_name = 'oa_old'"), Text("旧表单"));
  EXPECT_EQ(raw.Read("SELECT text FROM comments"), Text("已阅"));
  EXPECT_EQ(raw.Read("SELECT value FROM document_fields WHERE position = 1"), "blob:" + Cp936("请假") + "\xB0");
  EXPECT_EQ(raw.Read("SELECT type FROM pragma_table_info('documents') WHERE name = 'opinion'"), Text("TEXT"));
  EXPECT_EQ(raw.Read("SELECT typeof(body) FROM bodies"), Text("blob"));
  EXPECT_EQ(raw.Read("SELECT count(*) FROM sqlite_master WHERE name LIKE 'layout0%'"), "other:0");
}

TEST_F(OaDatabaseFile, AFileOfANewerLayoutIsRefusedAndLeftAsItIs) {
  {
    RawFile raw(path_);
    raw.Exec("CREATE TABLE documents (record_id TEXT PRIMARY KEY, later TEXT); PRAGMA user_version = 2");
  }
  OaDatabase db;
  try {
    db.Open(path_);
    ADD_FAILURE() << "opened a file of a newer layout";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("newer"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find(path_), std::string::npos) << e.Message();
  }
  RawFile raw(path_);
  EXPECT_EQ(raw.Read("PRAGMA user_version"), "other:2");
  EXPECT_EQ(raw.Read("SELECT count(*) FROM sqlite_master"), "other:2");  // the table and its key's index
}

}  // namespace
