#include "connection.h"

#include <windows.h>

#include <sqlite3.h>

#include "data_folder.h"
#include "rows_text.h"
#include "strata.h"
#include "strata_log.h"
#include "text_convert.h"

namespace strata {

namespace {

// Where each table's version is recorded.
constexpr const char* kVersionsTable = "strata_tables";

// A prepared statement, finalised on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    code_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int Code() const { return code_; }
  sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_;
};

// The path in UTF-8, which is what SQLite takes; our paths are in the
// program's code page.
bool ToUtf8(const std::string& ansi, std::string& utf8) {
  std::wstring wide;
  if (!text_convert::ToWide(CP_ACP, ansi, wide) || wide.empty()) return false;
  utf8 = text_convert::FromWide(CP_UTF8, wide);
  return !utf8.empty();
}

void AddColumn(RowsText& rows, sqlite3_stmt* stmt, int column) {
  const char* name = sqlite3_column_name(stmt, column);
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      rows.AddInteger(name, sqlite3_column_int64(stmt, column));
      break;
    case SQLITE_FLOAT:
      rows.AddReal(name, sqlite3_column_double(stmt, column));
      break;
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      rows.AddText(name, text, static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      break;
    }
    case SQLITE_BLOB: {
      const char* blob = static_cast<const char*>(sqlite3_column_blob(stmt, column));
      rows.AddText(name, blob, static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      break;
    }
    default:
      rows.AddNull(name);
      break;
  }
}

}  // namespace

Connection::Connection(const char* path, int version) : path_(path ? path : ""), version_(version) {}

Connection::~Connection() { Close(); }

bool Connection::IsContentError(int code) {
  switch (code & 0xff) {  // the primary code of an extended one
    case SQLITE_ERROR:       // e.g. a name taken by another kind of object
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return true;
    default:  // busy, locked, I/O, cannot open, full, read-only, memory ...
      return false;
  }
}

bool Connection::Open() {
  if (db_ != nullptr) return true;
  damaged_ = false;
  lastError_ = 0;
  if (path_.empty()) {
    Log("open failed: no database path");
    return false;
  }
  const std::string folder = ParentFolder(path_);
  if (!EnsureFolder(folder)) {
    Log("open %s failed: cannot create the folder (error %lu)", path_.c_str(), GetLastError());
    return false;
  }
  std::string utf8;
  if (!ToUtf8(path_, utf8)) {
    Log("open %s failed: the path cannot be converted (error %lu)", path_.c_str(), GetLastError());
    return false;
  }
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(utf8.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
  if (code != SQLITE_OK) {
    Log("open %s failed: %s (%d)", path_.c_str(), db ? sqlite3_errmsg(db) : "no memory", code);
    sqlite3_close(db);
    return false;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, 5000);
  // The first statements read the file's header and schema: an unreadable or
  // foreign file fails here. quick_check then looks at every page.
  Outcome outcome;
  for (const char* setup : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL",
                            "PRAGMA quick_check"}) {
    Execute(setup, outcome);
    if (outcome.error != 0) break;
  }
  if (outcome.error == 0 && outcome.rows != "[{\"quick_check\":\"ok\"}]") {
    Log("open %s failed: the database is damaged: %s", path_.c_str(), outcome.rows.c_str());
    Close();
    damaged_ = true;
    return false;
  }
  if (outcome.error != 0) {
    Log("open %s failed: %s (%d)", path_.c_str(), outcome.message.c_str(), outcome.error);
    Close();
    damaged_ = IsContentError(outcome.error);
    return false;
  }
  return true;
}

void Connection::Close() {
  if (db_ == nullptr) return;
  if (!sqlite3_get_autocommit(db_)) Flush();
  const int code = sqlite3_close(db_);
  if (code != SQLITE_OK) {
    Log("close %s: %s (%d)", path_.c_str(), sqlite3_errmsg(db_), code);
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
}

void Connection::Execute(const std::string& sql, Outcome& outcome) {
  outcome = Outcome();
  if (db_ == nullptr) {
    outcome.error = SQLITE_MISUSE;
    outcome.message = "the database is not open";
    outcome.rows = "[]";
    return;
  }
  RowsText rows;
  const char* next = sql.c_str();
  while (next != nullptr && *next != 0 && outcome.error == 0) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int code = sqlite3_prepare_v2(db_, next, -1, &stmt, &tail);
    next = tail;
    if (code != SQLITE_OK) {
      outcome.error = code;
      break;
    }
    if (stmt == nullptr) continue;  // blanks or a comment
    const int columns = sqlite3_column_count(stmt);
    while ((code = sqlite3_step(stmt)) == SQLITE_ROW) {
      rows.BeginRow();
      for (int i = 0; i < columns; ++i) AddColumn(rows, stmt, i);
      rows.EndRow();
    }
    if (code != SQLITE_DONE) outcome.error = code;
    sqlite3_finalize(stmt);
  }
  lastError_ = outcome.error;
  if (outcome.error != 0) {
    outcome.message = sqlite3_errmsg(db_);
    outcome.rows = "[]";
    Log("statement failed on %s: %s (%d)", path_.c_str(), outcome.message.c_str(), outcome.error);
    return;
  }
  outcome.rows = rows.Take();
}

bool Connection::Flush() {
  if (db_ == nullptr) return false;
  if (sqlite3_get_autocommit(db_)) return true;
  const int code = Run("COMMIT");
  if (code != SQLITE_OK) {
    Log("flush of %s failed: %s (%d)", path_.c_str(), sqlite3_errmsg(db_), code);
    return false;
  }
  return true;
}

int Connection::Run(const char* sql, const char* first, int second) {
  Statement stmt(db_, sql);
  if (stmt.Code() != SQLITE_OK) return lastError_ = stmt.Code();
  if (first != nullptr) {
    sqlite3_bind_text(stmt.Get(), 1, first, -1, SQLITE_TRANSIENT);
    if (sqlite3_bind_parameter_count(stmt.Get()) >= 2) sqlite3_bind_int(stmt.Get(), 2, second);
  }
  int code;
  while ((code = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
  }
  lastError_ = code == SQLITE_DONE ? SQLITE_OK : code;
  return lastError_;
}

bool Connection::SetTableVersion(const char* table, int version) {
  if (table == nullptr || *table == 0) return false;
  for (auto& entry : declared_) {
    if (entry.first == table) {
      entry.second = version;
      return true;
    }
  }
  declared_.emplace_back(table, version);
  return true;
}

int Connection::TableExists(const char* table) {
  if (db_ == nullptr) return -1;
  Statement stmt(db_, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
  if (stmt.Code() != SQLITE_OK) {
    lastError_ = stmt.Code();
    return -1;
  }
  sqlite3_bind_text(stmt.Get(), 1, table, -1, SQLITE_TRANSIENT);
  const int code = sqlite3_step(stmt.Get());
  if (code == SQLITE_ROW) return 1;
  if (code == SQLITE_DONE) return 0;
  lastError_ = code;
  return -1;
}

int Connection::GetTableVersion(const char* table) {
  if (db_ == nullptr || table == nullptr || TableExists(kVersionsTable) != 1) return 0;
  Statement stmt(db_, "SELECT version FROM strata_tables WHERE name=?1");
  if (stmt.Code() != SQLITE_OK) return 0;
  sqlite3_bind_text(stmt.Get(), 1, table, -1, SQLITE_TRANSIENT);
  return sqlite3_step(stmt.Get()) == SQLITE_ROW ? sqlite3_column_int(stmt.Get(), 0) : 0;
}

bool Connection::RecordTableVersion(const char* table, int version) {
  int code = Run("CREATE TABLE IF NOT EXISTS strata_tables("
                 "name TEXT NOT NULL PRIMARY KEY, version INTEGER NOT NULL)");
  if (code == SQLITE_OK)
    code = Run("REPLACE INTO strata_tables(name,version) VALUES (?1,?2)", table, version);
  if (code != SQLITE_OK) {
    Log("recording the version of table %s in %s failed: %s (%d)", table, path_.c_str(),
        sqlite3_errmsg(db_), code);
    return false;
  }
  return true;
}

bool Connection::CheckUpdate(ISQLDataBaseInit* callbacks) {
  if (db_ == nullptr) return false;
  // A callback may declare further tables while we go, so walk by index and
  // hold a copy of the entry: a reference into the list would not survive it
  // growing. Tables declared on the way are checked in this same pass.
  for (size_t i = 0; i < declared_.size(); ++i) {
    const std::string name = declared_[i].first;
    const char* table = name.c_str();
    const int declared = declared_[i].second;
    const int exists = TableExists(table);
    if (exists < 0) {
      Log("checking table %s in %s failed: %s", table, path_.c_str(), sqlite3_errmsg(db_));
      return false;
    }
    const int recorded = exists ? GetTableVersion(table) : 0;
    if (exists && recorded == 0) {
      // A table made before its version was recorded: take it as it is.
      if (!RecordTableVersion(table, declared)) return false;
      continue;
    }
    if (exists && recorded >= declared) continue;
    if (callbacks == nullptr || !callbacks->OnTableCheck(table, recorded, declared)) {
      Log("table check of %s in %s failed (version %d, declared %d)", table, path_.c_str(),
          recorded, declared);
      return false;
    }
    if (!RecordTableVersion(table, declared)) return false;
  }
  return true;
}

int Connection::RecordedVersion() {
  if (db_ == nullptr) return 0;
  Statement stmt(db_, "PRAGMA user_version");
  return stmt.Code() == SQLITE_OK && sqlite3_step(stmt.Get()) == SQLITE_ROW
             ? sqlite3_column_int(stmt.Get(), 0)
             : 0;
}

bool Connection::RecordVersion() {
  if (db_ == nullptr) return false;
  if (RecordedVersion() == version_) return true;
  const std::string sql = "PRAGMA user_version=" + std::to_string(version_);
  const int code = Run(sql.c_str());
  if (code != SQLITE_OK) {
    Log("recording the version of %s failed: %s (%d)", path_.c_str(), sqlite3_errmsg(db_), code);
    return false;
  }
  return true;
}

}  // namespace strata
