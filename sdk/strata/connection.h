// One database file and its SQLite connection, inside the library.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct sqlite3;
class ISQLDataBaseInit;

namespace strata {

// The outcome of running a statement text.
struct Outcome {
  int error = 0;        // 0, an SQLite result code, or -1 for a format error
  std::string message;  // why it failed
  std::string rows;     // JSON array text of the rows
};

class Connection {
 public:
  Connection(const char* path, int version);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the file (making its folder) in rollback-journal mode with full
  // synchronisation and checks that it is a sound database.
  bool Open();
  void Close();

  // True when the file itself is at fault: the last Open found it is no
  // database or fails its check, or the last statement failed on what the
  // file holds (as when a table cannot be made because a view has its name).
  // A file that is busy, locked, unreadable or held by another program is not
  // damaged. Cleared by the next Open.
  bool FoundDamage() const { return damaged_ || IsContentError(lastError_); }
  // SQLite result codes that speak of the file's content, not of access to it.
  static bool IsContentError(int code);
  bool IsOpen() const { return db_ != nullptr; }

  // Runs every statement of `sql`, collecting the rows of all of them.
  void Execute(const std::string& sql, Outcome& outcome);
  // Commits an open transaction; with full synchronisation every committed
  // write is then on disk.
  bool Flush();

  bool SetTableVersion(const char* table, int version);
  int GetTableVersion(const char* table);
  bool CheckUpdate(ISQLDataBaseInit* callbacks);

  // The object version recorded in the file (0 for a new file) and the one
  // the object was made with.
  int RecordedVersion();
  int Version() const { return version_; }
  bool RecordVersion();

  const std::string& Path() const { return path_; }

 private:
  // A statement with bound text parameters and no rows; SQLite's result code.
  int Run(const char* sql, const char* first = nullptr, int second = 0);
  // -1 on failure, 0 when missing, 1 when present.
  int TableExists(const char* table);
  bool RecordTableVersion(const char* table, int version);

  std::string path_;
  int version_;
  sqlite3* db_ = nullptr;
  std::vector<std::pair<std::string, int>> declared_;
  bool damaged_ = false;  // the last Open found the file damaged
  int lastError_ = 0;     // of the last statement run, 0 on success
};

}  // namespace strata

// The handle the flat interface hands out is the connection itself.
struct StrataConn : strata::Connection {
  using Connection::Connection;
};
