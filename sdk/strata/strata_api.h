// Strata's flat interface: every function exported from Strata.dll. Objects
// behind the opaque handles live and die inside the DLL; texts go in as
// `const char*` and come out as DLL-owned buffers that the caller copies.
// No exported function lets an exception out.
#pragma once

#include <cstdarg>
#include <cstddef>

#ifdef STRATA_BUILDING_DLL
#define STRATA_API __declspec(dllexport)
#else
#define STRATA_API __declspec(dllimport)
#endif

class ISQLDataBaseInit;
class IDataBaseObject;
class IDataService;

// One database connection (opened lazily by StrataConnOpen).
struct StrataConn;
// The outcome of one executed statement text.
struct StrataRows;

// A connection for the database file `path` (code page 936) and the object's
// version. Null only when memory runs out.
STRATA_API StrataConn* StrataConnCreate(const char* path, int version);
STRATA_API void StrataConnDestroy(StrataConn* conn);
// Opens the file (creating it and its folder when missing) in rollback-journal
// mode with full synchronisation; false when the file cannot be used.
STRATA_API bool StrataConnOpen(StrataConn* conn);
STRATA_API void StrataConnClose(StrataConn* conn);
// Formats `format` (printf conversions) and runs every statement in it.
// Never null unless memory runs out.
STRATA_API StrataRows* StrataConnExecute(StrataConn* conn, const char* format, va_list args);
// Ends an open transaction, if any; afterwards every earlier write is on disk.
STRATA_API bool StrataConnFlush(StrataConn* conn);
// Declares the version a table is expected to have; CheckUpdate acts on it.
STRATA_API bool StrataConnSetTableVersion(StrataConn* conn, const char* table, int version);
// The version recorded in the file for `table`; 0 when none is.
STRATA_API int StrataConnGetTableVersion(StrataConn* conn, const char* table);
// For each declared table that is missing or older than declared, calls
// `callbacks->OnTableCheck(table, recorded, declared)` and records the
// declared version when it returns true. False when any check failed.
STRATA_API bool StrataConnCheckUpdate(StrataConn* conn, ISQLDataBaseInit* callbacks);

// 0 on success, otherwise the SQLite result code (or -1 for a format error).
STRATA_API int StrataRowsError(const StrataRows* rows);
// The failure's message; empty on success.
STRATA_API const char* StrataRowsMessage(const StrataRows* rows);
// The rows as the text of a JSON array of objects keyed by column name.
STRATA_API const char* StrataRowsText(const StrataRows* rows, size_t* length);
STRATA_API void StrataRowsFree(StrataRows* rows);

// The data service while the library is initialised; null otherwise.
STRATA_API IDataService* StrataGetDataService();

namespace DBM {
// Starts the library; true when it is ready (also when it already was).
STRATA_API bool Initialise();
// Closes and destroys every registered database object, then stops.
STRATA_API void Uninitialise();
// Opens `object`'s database, runs its callbacks (OnInitialise, OnDatabaseCheck,
// then OnTableCheck for each declared table that needs it) and registers it
// under `name`. A database file that is damaged (not a database, failing its
// check, or failing a table check on what it holds) is renamed to
// "<file>.damaged-<time>" (the newest three such copies are kept) and the
// registration runs again on an empty file; one that is only busy or held by
// another program is left alone. On success the library owns the object and destroys it in
// Uninitialise; on failure the caller still owns it. An object that is
// registered already is refused and left as it is.
STRATA_API bool CreateDBIns(const char* name, IDataBaseObject* object);
// The folder whose "Config" subfolder holds the database files and whose
// "Log" subfolder holds the library's log; the program's folder by default.
// Empty or null restores the default.
STRATA_API void SetDataFolder(const char* folder);
}  // namespace DBM
