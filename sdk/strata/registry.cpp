// The data service: database objects registered by instance name, owned by
// the library from registration until DBM::Uninitialise.
#include <windows.h>

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "connection.h"
#include "data_folder.h"
#include "set_aside.h"
#include "strata.h"
#include "strata_log.h"

namespace {

class DataService final : public IDataService {
 public:
  DataService() { InitializeCriticalSection(&lock_); }
  ~DataService() { DeleteCriticalSection(&lock_); }
  DataService(const DataService&) = delete;
  DataService& operator=(const DataService&) = delete;

  IDataBaseObject* FindDBIns(const char* name) override {
    if (name == nullptr) return nullptr;
    EnterCriticalSection(&lock_);
    IDataBaseObject* found = nullptr;
    for (const auto& entry : objects_) {
      if (entry.first == name) found = entry.second;
    }
    LeaveCriticalSection(&lock_);
    return found;
  }

  bool GetDBInsPath(const char* name, char* path, size_t size) override {
    if (path == nullptr || size == 0) return false;
    path[0] = 0;
    try {
      std::string full;
      if (!strata::MakeInstancePath(strata::DataFolder(), name, full)) {
        strata::Log("no database path for the instance name \"%s\"", name ? name : "");
        return false;
      }
      if (full.size() >= size) {
        strata::Log("the database path %s is longer than %u bytes", full.c_str(),
                    static_cast<unsigned>(size - 1));
        return false;
      }
      std::memcpy(path, full.c_str(), full.size() + 1);
      return true;
    } catch (...) {
      return false;
    }
  }

  // True when `object` is registered under any name.
  bool Holds(const IDataBaseObject* object) {
    EnterCriticalSection(&lock_);
    bool held = false;
    for (const auto& entry : objects_) held = held || entry.second == object;
    LeaveCriticalSection(&lock_);
    return held;
  }

  // False when the name is taken.
  bool Add(const char* name, IDataBaseObject* object) {
    EnterCriticalSection(&lock_);
    bool added = false;
    bool taken = false;
    for (const auto& entry : objects_) taken = taken || entry.first == name;
    if (!taken) {
      objects_.emplace_back(name, object);
      added = true;
    }
    LeaveCriticalSection(&lock_);
    return added;
  }

  std::vector<std::pair<std::string, IDataBaseObject*>> TakeAll() {
    EnterCriticalSection(&lock_);
    auto all = std::move(objects_);
    objects_.clear();
    LeaveCriticalSection(&lock_);
    return all;
  }

 private:
  CRITICAL_SECTION lock_;
  std::vector<std::pair<std::string, IDataBaseObject*>> objects_;
};

DataService* g_service = nullptr;

// Runs the registration steps; false at the first that fails.
bool Register(IDataBaseObject* object, StrataConn* conn) {
  if (!object->Initialise()) return false;
  if (!object->OnInitialise()) {
    strata::Log("OnInitialise of %s failed", conn->Path().c_str());
    return false;
  }
  if (!object->OnDatabaseCheck(conn->RecordedVersion(), conn->Version())) {
    strata::Log("OnDatabaseCheck of %s failed", conn->Path().c_str());
    return false;
  }
  if (!conn->RecordVersion()) return false;
  return object->CheckUpdate(object);
}

}  // namespace

STRATA_API IDataService* StrataGetDataService() { return g_service; }

namespace DBM {

STRATA_API bool Initialise() {
  try {
    if (g_service != nullptr) return true;
    const int code = sqlite3_initialize();
    if (code != SQLITE_OK) {
      strata::Log("SQLite could not start (%d)", code);
      return false;
    }
    g_service = new DataService();
    return true;
  } catch (...) {
    strata::Log("the library could not start");
    return false;
  }
}

STRATA_API void Uninitialise() {
  try {
    if (g_service == nullptr) return;
    auto objects = g_service->TakeAll();
    // Last registered, first gone.
    for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
      it->second->Uninitialise();
      delete it->second;  // the owner module's destructor and delete
    }
    delete g_service;
    g_service = nullptr;
  } catch (...) {
    strata::Log("unexpected failure while stopping the library");
  }
}

STRATA_API bool CreateDBIns(const char* name, IDataBaseObject* object) {
  try {
    if (g_service == nullptr) {
      strata::Log("CreateDBIns before Initialise");
      return false;
    }
    if (name == nullptr || *name == 0 || object == nullptr || object->Connection() == nullptr) {
      strata::Log("CreateDBIns without a name or an object");
      return false;
    }
    if (g_service->FindDBIns(name) != nullptr) {
      strata::Log("CreateDBIns: the instance name \"%s\" is registered already", name);
      return false;
    }
    // The library owns a registered object already; a second entry would
    // destroy it twice, and a failed attempt must not close it.
    if (g_service->Holds(object)) {
      strata::Log("CreateDBIns: the object for \"%s\" is registered already", name);
      return false;
    }
    StrataConn* conn = object->Connection();
    bool registered = Register(object, conn);
    if (!registered && conn->FoundDamage()) {
      // A damaged file would keep the object off for good: set it aside and
      // start an empty database. A file that is merely busy or held by
      // another program is left as it is.
      object->Uninitialise();
      const std::string aside = strata::SetAsideDamagedFile(conn->Path());
      if (!aside.empty()) {
        strata::Log("the damaged database %s was set aside as %s; starting an empty one",
                    conn->Path().c_str(), aside.c_str());
        registered = Register(object, conn);
      }
    }
    if (!registered || !g_service->Add(name, object)) {
      strata::Log("registering \"%s\" (%s) failed", name, conn->Path().c_str());
      object->Uninitialise();
      return false;
    }
    return true;
  } catch (...) {
    strata::Log("unexpected failure while registering \"%s\"", name ? name : "");
    return false;
  }
}

STRATA_API void SetDataFolder(const char* folder) {
  try {
    strata::SetDataFolder(folder);
  } catch (...) {
  }
}

}  // namespace DBM
