// The flat functions behind CSQLiteX and CSQLiteXResult. Each one catches
// everything: no exception leaves the library.
#include <new>
#include <string>

#include "connection.h"
#include "statement_format.h"
#include "strata.h"
#include "strata_log.h"

struct StrataRows {
  strata::Outcome outcome;
};

STRATA_API StrataConn* StrataConnCreate(const char* path, int version) {
  try {
    return new StrataConn(path, version);
  } catch (...) {
    return nullptr;
  }
}

STRATA_API void StrataConnDestroy(StrataConn* conn) {
  try {
    delete conn;
  } catch (...) {
  }
}

STRATA_API bool StrataConnOpen(StrataConn* conn) {
  try {
    return conn != nullptr && conn->Open();
  } catch (...) {
    strata::Log("unexpected failure while opening a database");
    return false;
  }
}

STRATA_API void StrataConnClose(StrataConn* conn) {
  try {
    if (conn != nullptr) conn->Close();
  } catch (...) {
  }
}

STRATA_API StrataRows* StrataConnExecute(StrataConn* conn, const char* format, va_list args) {
  StrataRows* rows = nullptr;
  try {
    rows = new StrataRows();
    std::string sql;
    std::string error;
    if (conn == nullptr) {
      rows->outcome.error = -1;
      rows->outcome.message = "no connection";
    } else if (!strata::FormatStatement(format, args, sql, error)) {
      rows->outcome.error = -1;
      rows->outcome.message = error;
      strata::Log("statement not run on %s: %s", conn->Path().c_str(), error.c_str());
    } else {
      conn->Execute(sql, rows->outcome);
      return rows;
    }
    rows->outcome.rows = "[]";
    return rows;
  } catch (...) {
    strata::Log("unexpected failure while running a statement");
    delete rows;
    return nullptr;
  }
}

STRATA_API bool StrataConnFlush(StrataConn* conn) {
  try {
    return conn != nullptr && conn->Flush();
  } catch (...) {
    return false;
  }
}

STRATA_API bool StrataConnSetTableVersion(StrataConn* conn, const char* table, int version) {
  try {
    return conn != nullptr && conn->SetTableVersion(table, version);
  } catch (...) {
    return false;
  }
}

STRATA_API int StrataConnGetTableVersion(StrataConn* conn, const char* table) {
  try {
    return conn != nullptr ? conn->GetTableVersion(table) : 0;
  } catch (...) {
    return 0;
  }
}

STRATA_API bool StrataConnCheckUpdate(StrataConn* conn, ISQLDataBaseInit* callbacks) {
  try {
    return conn != nullptr && conn->CheckUpdate(callbacks);
  } catch (...) {
    strata::Log("unexpected failure while checking tables");
    return false;
  }
}

STRATA_API int StrataRowsError(const StrataRows* rows) { return rows ? rows->outcome.error : -1; }

STRATA_API const char* StrataRowsMessage(const StrataRows* rows) {
  return rows ? rows->outcome.message.c_str() : "";
}

STRATA_API const char* StrataRowsText(const StrataRows* rows, size_t* length) {
  if (rows == nullptr) {
    if (length) *length = 2;
    return "[]";
  }
  if (length) *length = rows->outcome.rows.size();
  return rows->outcome.rows.c_str();
}

STRATA_API void StrataRowsFree(StrataRows* rows) { delete rows; }
