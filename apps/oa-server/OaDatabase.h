#pragma once
// The server's store: users with their unit, department, role and duty, plus the unit and
// department lists. Text is kept as UTF-8 in SQLite and leaves as code page 936.
#include <optional>
#include <string>

#include "control/wire/Frames.h"

struct sqlite3;

class OaDatabase {
 public:
  OaDatabase() = default;
  ~OaDatabase();
  OaDatabase(const OaDatabase&) = delete;
  OaDatabase& operator=(const OaDatabase&) = delete;

  // Opens (creating when absent) the database file; a database without users gets the
  // sample users, units and departments. ":memory:" gives a private sample database.
  // Throws Exception with SQLite's message on failure.
  void Open(const std::string& path);

  // The login reply of the user with exactly this login name; nullopt for an unknown name.
  std::optional<frames::LoginReply> FindUserByLogin(const AnsiString& loginName) const;

  int UserCount() const;

 private:
  void Exec(const char* sql);
  void CreateSchema();
  void FillSampleData();

  sqlite3* db_ = nullptr;
};
