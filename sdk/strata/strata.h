// Strata, our database library over SQLite: the C++ classes a program uses.
// They are a thin header-side layer over the flat interface in strata_api.h,
// so that no heap object made by one module is ever freed by the other:
// a connection lives inside Strata.dll behind a handle, results are texts the
// caller parses on its own side, and the library destroys the objects it owns
// through their virtual destructors (which run the owner module's code).
//
// Callbacks and overridden virtual operations run on the library's behalf and
// must not throw.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>
#include <utility>

#include "strata_api.h"
#include "templdate_helper.h"

// What the library asks of a database object while registering it.
class ISQLDataBaseInit {
 public:
  // Declares the object's tables with SetTableVersion.
  virtual bool OnInitialise() = 0;
  // `recorded` is the object version stored in the file (0 for a new file),
  // `version` the one the object was made with.
  virtual bool OnDatabaseCheck(int recorded, int version) = 0;
  // Called for a declared table that does not exist yet (`recorded` 0) or
  // whose recorded version is older than the declared `version`.
  virtual bool OnTableCheck(const char* table, int recorded, int version) = 0;

 protected:
  ~ISQLDataBaseInit() = default;
};

// The outcome of CSQLiteX::execute. Move-only; frees the library's buffer.
class CSQLiteXResult {
 public:
  explicit CSQLiteXResult(StrataRows* rows) : rows_(rows) {}
  ~CSQLiteXResult() { StrataRowsFree(rows_); }
  CSQLiteXResult(CSQLiteXResult&& other) noexcept : rows_(std::exchange(other.rows_, nullptr)) {}
  CSQLiteXResult& operator=(CSQLiteXResult&& other) noexcept {
    std::swap(rows_, other.rows_);
    return *this;
  }
  CSQLiteXResult(const CSQLiteXResult&) = delete;
  CSQLiteXResult& operator=(const CSQLiteXResult&) = delete;

  // 0 on success.
  int GetError() const { return rows_ ? StrataRowsError(rows_) : -1; }
  std::string GetErrorMessage() const {
    return rows_ ? StrataRowsMessage(rows_) : "out of memory";
  }
  // The JSON text of the rows, copied.
  std::string GetText() const {
    size_t length = 0;
    const char* text = rows_ ? StrataRowsText(rows_, &length) : nullptr;
    return text ? std::string(text, length) : std::string("[]");
  }
  // A JSON array with one object per row, one member per column; parsed here,
  // on the caller's side.
  Json::Value GetData() const {
    const std::string text = GetText();
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    Json::Value data(Json::arrayValue);
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &data, &errors))
      data = Json::Value(Json::arrayValue);
    return data;
  }

 private:
  StrataRows* rows_;
};

// A connection to one database file. Its state lives inside Strata.dll.
class CSQLiteX {
 public:
  CSQLiteX(const char* path, int version) : conn_(StrataConnCreate(path, version)) {}
  CSQLiteX(const CSQLiteX&) = delete;
  CSQLiteX& operator=(const CSQLiteX&) = delete;

  virtual ~CSQLiteX() { StrataConnDestroy(conn_); }
  virtual bool Initialise() { return StrataConnOpen(conn_); }
  virtual void Uninitialise() { StrataConnClose(conn_); }
  virtual bool SetTableVersion(const char* table, int version) {
    return StrataConnSetTableVersion(conn_, table, version);
  }
  virtual int GetTableVersion(const char* table) { return StrataConnGetTableVersion(conn_, table); }
  virtual bool CheckUpdate(ISQLDataBaseInit* callbacks) {
    return StrataConnCheckUpdate(conn_, callbacks);
  }

  // Fills the % placeholders of `format` and runs the statements. A text
  // placed inside quotes of the format reads back exactly as given: its own
  // quote characters are doubled.
  CSQLiteXResult execute(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    StrataRows* rows = StrataConnExecute(conn_, format, args);
    va_end(args);
    return CSQLiteXResult(rows);
  }
  // Makes every earlier write durable.
  bool flush() { return StrataConnFlush(conn_); }

  StrataConn* Connection() const { return conn_; }

 private:
  StrataConn* conn_;
};

// A database object the library can register and own.
class IDataBaseObject : public ISQLDataBaseInit, public CSQLiteX {
 public:
  IDataBaseObject(const char* path, int version) : CSQLiteX(path, version) {}
  ~IDataBaseObject() override = default;
};

// The registry of database objects by instance name.
class IDataService {
 public:
  virtual IDataBaseObject* FindDBIns(const char* name) = 0;
  // Writes the database file path for `name` into `path`; false when it does
  // not fit or the name is unusable.
  virtual bool GetDBInsPath(const char* name, char* path, size_t size) = 0;

 protected:
  ~IDataService() = default;
};

// The library's data service, valid between DBM::Initialise and
// DBM::Uninitialise.
class CDataServiceHelper : public CTempldateHelper<IDataService> {
 public:
  static CDataServiceHelper GetInstance() { return CDataServiceHelper(StrataGetDataService()); }

 private:
  // The library owns the service: the helper only borrows it.
  explicit CDataServiceHelper(IDataService* service) : CTempldateHelper<IDataService>(service) {}
};
