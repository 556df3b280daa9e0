// Strata.dll through its C++ layer, as a program uses it.
#include "strata.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::TempDir;

// A database object with one table "t" that records what the library asked.
class Recorder : public IDataBaseObject {
 public:
  Recorder(const char* path, int version, int tableVersion, int* destroyed = nullptr)
      : IDataBaseObject(path, version), tableVersion_(tableVersion), destroyed_(destroyed) {}
  ~Recorder() override {
    if (destroyed_) ++*destroyed_;
  }

  bool OnInitialise() override {
    calls.push_back("init");
    return SetTableVersion("t", tableVersion_);
  }
  bool OnDatabaseCheck(int recorded, int version) override {
    calls.push_back("db " + std::to_string(recorded) + " " + std::to_string(version));
    return true;
  }
  bool OnTableCheck(const char* table, int recorded, int version) override {
    calls.push_back(std::string("table ") + table + " " + std::to_string(recorded) + " " +
                    std::to_string(version));
    if (failTableCheck) return false;
    // Declaring more tables from inside a check (an upgrade that adds tables).
    for (const std::string& more : std::exchange(declareDuringCheck, {}))
      SetTableVersion(more.c_str(), 1);
    return execute("CREATE TABLE IF NOT EXISTS \"%s\"(k TEXT PRIMARY KEY, v BLOB)", table)
               .GetError() == 0;
  }

  std::vector<std::string> calls;
  bool failTableCheck = false;
  std::vector<std::string> declareDuringCheck;

 private:
  int tableVersion_;
  int* destroyed_;
};

class StrataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DBM::Initialise());
    DBM::SetDataFolder(dir.Path().c_str());
  }
  void TearDown() override {
    DBM::Uninitialise();
    DBM::SetDataFolder(nullptr);
  }

  std::string PathOf(const char* name) {
    char path[1040];
    EXPECT_TRUE(CDataServiceHelper::GetInstance()->GetDBInsPath(name, path, sizeof path));
    return path;
  }

  TempDir dir;
};

TEST_F(StrataTest, ServiceIsValidOnlyWhileInitialised) {
  EXPECT_TRUE(CDataServiceHelper::GetInstance().IsValid());
  DBM::Uninitialise();
  EXPECT_FALSE(CDataServiceHelper::GetInstance().IsValid());
  EXPECT_TRUE(DBM::Initialise());
  EXPECT_TRUE(DBM::Initialise());  // twice is harmless
  EXPECT_TRUE(CDataServiceHelper::GetInstance().IsValid());
}

TEST_F(StrataTest, InstancePathLiesInConfigBelowTheDataFolder) {
  EXPECT_EQ(PathOf("config"), dir.Path() + "\\Config\\config.db");
  char path[1040];
  IDataService* service = CDataServiceHelper::GetInstance().Get();
  EXPECT_FALSE(service->GetDBInsPath("", path, sizeof path));
  EXPECT_FALSE(service->GetDBInsPath("..", path, sizeof path));
  EXPECT_FALSE(service->GetDBInsPath("a\\b", path, sizeof path));
  EXPECT_FALSE(service->GetDBInsPath("a|b", path, sizeof path));
  // Code page 936 names, also with 0x5c or 0x7c as a character's second byte.
  EXPECT_EQ(PathOf("\xc5\xe4\xd6\xc3"), dir.Path() + "\\Config\\\xc5\xe4\xd6\xc3.db");
  EXPECT_EQ(PathOf("\xd5\x5c\x81\x7c"), dir.Path() + "\\Config\\\xd5\x5c\x81\x7c.db");
  char tiny[8];
  EXPECT_FALSE(service->GetDBInsPath("config", tiny, sizeof tiny));
  EXPECT_EQ(tiny[0], '\0');
}

TEST_F(StrataTest, RegistrationRunsTheCallbacksAndRecordsTableVersions) {
  const std::string path = PathOf("rec");
  int destroyed = 0;
  auto* first = new Recorder(path.c_str(), 3, 1, &destroyed);
  ASSERT_TRUE(DBM::CreateDBIns("rec", first));  // the Config folder is made on the way
  EXPECT_EQ(first->calls, (std::vector<std::string>{"init", "db 0 3", "table t 0 1"}));
  EXPECT_EQ(first->GetTableVersion("t"), 1);
  EXPECT_EQ(first->GetTableVersion("other"), 0);
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("rec"), first);
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("none"), nullptr);

  // A second object under the same name is refused; the caller keeps it.
  Recorder second(path.c_str(), 3, 1);
  EXPECT_FALSE(DBM::CreateDBIns("rec", &second));
  // The registered object under a second name is refused and left working.
  EXPECT_FALSE(DBM::CreateDBIns("rec2", first));
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("rec2"), nullptr);
  EXPECT_EQ(first->calls.size(), 3u);
  EXPECT_EQ(first->execute("SELECT 1").GetError(), 0);

  // The library destroys what it owns.
  DBM::Uninitialise();
  EXPECT_EQ(destroyed, 1);

  // Next run: the table exists at its version, so no table check.
  ASSERT_TRUE(DBM::Initialise());
  auto* again = new Recorder(path.c_str(), 3, 1);
  ASSERT_TRUE(DBM::CreateDBIns("rec", again));
  EXPECT_EQ(again->calls, (std::vector<std::string>{"init", "db 3 3"}));
  DBM::Uninitialise();

  // A newer declared version gets its chance to upgrade.
  ASSERT_TRUE(DBM::Initialise());
  auto* newer = new Recorder(path.c_str(), 3, 2);
  ASSERT_TRUE(DBM::CreateDBIns("rec", newer));
  EXPECT_EQ(newer->calls, (std::vector<std::string>{"init", "db 3 3", "table t 1 2"}));
  EXPECT_EQ(newer->GetTableVersion("t"), 2);
}

TEST_F(StrataTest, TablesDeclaredDuringTheCheckAreCheckedToo) {
  const std::string path = PathOf("grow");
  auto* db = new Recorder(path.c_str(), 1, 1);
  std::vector<std::string> expected = {"init", "db 0 1", "table t 0 1"};
  // Enough short names that the list of declared tables has to grow.
  for (int i = 0; i < 40; ++i) {
    db->declareDuringCheck.push_back("u" + std::to_string(i));
    expected.push_back("table u" + std::to_string(i) + " 0 1");
  }
  ASSERT_TRUE(DBM::CreateDBIns("grow", db));
  EXPECT_EQ(db->calls, expected);
  EXPECT_EQ(db->GetTableVersion("t"), 1);
  EXPECT_EQ(db->GetTableVersion("u0"), 1);
  EXPECT_EQ(db->GetTableVersion("u39"), 1);
  EXPECT_EQ(db->execute("SELECT count(*) AS n FROM strata_tables").GetData()[0]["n"].asInt(), 41);
}

TEST_F(StrataTest, FailedTableCheckFailsTheRegistration) {
  const std::string path = PathOf("bad");
  Recorder object(path.c_str(), 1, 1);
  object.failTableCheck = true;
  EXPECT_FALSE(DBM::CreateDBIns("bad", &object));
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("bad"), nullptr);
  // The connection was closed again: the object can no longer run statements.
  EXPECT_NE(object.execute("SELECT 1").GetError(), 0);
}

TEST_F(StrataTest, TextsReadBackExactlyAsWritten) {
  const std::string path = PathOf("texts");
  auto* db = new Recorder(path.c_str(), 1, 1);
  ASSERT_TRUE(DBM::CreateDBIns("texts", db));
  const std::vector<std::string> texts = {
      "",
      "it's",
      "''",
      "'); DROP TABLE t; --",
      "C:\\path\\with\\backslashes\\",
      "\xc8\xd5\xd6\xbe\xb2\xe2\xca\xd4",  // GBK text
      "\xd5\x5c\xd5\x27",                  // 0x5c as a second byte; a stray quote
      "{\n   \"id\" : \"\xc8\xd5\"\n}\n",
      "100% %s %d %% %n '%s'",  // placeholders in a value are plain text
  };
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string key = "k'" + std::to_string(i);
    ASSERT_EQ(db->execute("REPLACE INTO t(k,v) VALUES ('%s','%s');", key.c_str(), texts[i].c_str())
                  .GetError(),
              0);
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string key = "k'" + std::to_string(i);
    const Json::Value data = db->execute("SELECT v FROM t WHERE k='%s'", key.c_str()).GetData();
    ASSERT_EQ(data.size(), 1u) << i;
    EXPECT_TRUE(data[0]["v"].isString());
    EXPECT_EQ(data[0]["v"].asString(), texts[i]) << i;
  }
  EXPECT_TRUE(db->flush());
  EXPECT_EQ(db->execute("SELECT count(*) AS n FROM t").GetData()[0]["n"].asInt(),
            static_cast<int>(texts.size()));
}

TEST_F(StrataTest, ResultsCarryRowsOrTheError) {
  const std::string path = PathOf("rows");
  auto* db = new Recorder(path.c_str(), 1, 1);
  ASSERT_TRUE(DBM::CreateDBIns("rows", db));
  CSQLiteXResult rows = db->execute("SELECT 1 AS a, 2.5 AS b, NULL AS c, 'x' AS d UNION ALL "
                                    "SELECT %d, %f, x'00ff', '%s'",
                                    -7, 0.25, "y");
  EXPECT_EQ(rows.GetError(), 0);
  const Json::Value data = rows.GetData();
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0]["a"].asInt(), 1);
  EXPECT_DOUBLE_EQ(data[0]["b"].asDouble(), 2.5);
  EXPECT_TRUE(data[0]["c"].isNull());
  EXPECT_EQ(data[1]["a"].asInt(), -7);
  EXPECT_EQ(data[1]["c"].asString(), std::string("\0\xff", 2));
  EXPECT_EQ(data[1]["d"].asString(), "y");

  // No rows: an empty array. A statement that fails: its code and an empty array.
  EXPECT_EQ(db->execute("SELECT v FROM t WHERE k='none'").GetData(), Json::Value(Json::arrayValue));
  CSQLiteXResult bad = db->execute("SELECT nonsense FROM nowhere");
  EXPECT_EQ(bad.GetError(), SQLITE_ERROR);
  EXPECT_NE(bad.GetErrorMessage().find("nowhere"), std::string::npos);
  EXPECT_EQ(bad.GetData(), Json::Value(Json::arrayValue));
  // A format the library does not fill is not run at all.
  const char* unsupported = "DELETE FROM t WHERE k=%*d";
  EXPECT_EQ(db->execute(unsupported, 1, 2).GetError(), -1);
  // Moving a result keeps its data.
  CSQLiteXResult moved = std::move(rows);
  EXPECT_EQ(moved.GetData().size(), 2u);
}

TEST_F(StrataTest, OpensWithARollbackJournalAndFullSync) {
  const std::string path = PathOf("mode");
  auto* db = new Recorder(path.c_str(), 1, 1);
  ASSERT_TRUE(DBM::CreateDBIns("mode", db));
  EXPECT_EQ(db->execute("PRAGMA journal_mode").GetData()[0]["journal_mode"].asString(), "delete");
  EXPECT_EQ(db->execute("PRAGMA synchronous").GetData()[0]["synchronous"].asInt(), 2);  // FULL
}

TEST_F(StrataTest, FlushCommitsAnOpenTransaction) {
  const std::string path = PathOf("tx");
  auto* db = new Recorder(path.c_str(), 1, 1);
  ASSERT_TRUE(DBM::CreateDBIns("tx", db));
  ASSERT_EQ(db->execute("BEGIN; INSERT INTO t VALUES ('a','1');").GetError(), 0);
  ASSERT_TRUE(db->flush());
  // A second connection sees the row, so it was committed.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(other, "SELECT count(*) FROM t", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(other);
}

// The names of the set-aside copies of a database file.
std::vector<std::string> SetAsideCopiesOf(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((path + ".damaged-*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  return names;
}

TEST_F(StrataTest, DamagedFileIsSetAsideAndTheObjectRegisteredOnAnEmptyOne) {
  const std::string path = PathOf("broken");
  CreateDirectoryA((dir.Path() + "\\Config").c_str(), nullptr);
  std::string garbage;
  for (int i = 0; i < 8192; ++i) garbage += static_cast<char>((i * 7919) & 0xff);
  ASSERT_TRUE(testing_support::WriteFileBytes(path, garbage));

  auto* object = new Recorder(path.c_str(), 1, 1);
  ASSERT_TRUE(DBM::CreateDBIns("broken", object));
  EXPECT_EQ(object->calls, (std::vector<std::string>{"init", "db 0 1", "table t 0 1"}));
  EXPECT_EQ(object->execute("SELECT count(*) AS n FROM t").GetData()[0]["n"].asInt(), 0);

  const std::vector<std::string> copies = SetAsideCopiesOf(path);
  ASSERT_EQ(copies.size(), 1u);
  const std::string aside = dir.Path() + "\\Config\\" + copies[0];
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(aside, bytes));
  EXPECT_TRUE(bytes == garbage);

  std::string log;
  ASSERT_TRUE(testing_support::ReadFileBytes(dir.File("Log\\strata.log"), log));
  EXPECT_NE(log.find("broken.db failed"), std::string::npos) << log;
  EXPECT_NE(log.find("was set aside as " + aside), std::string::npos) << log;
  EXPECT_NE(log.find("[strata "), std::string::npos);
}

// A callback that refuses says nothing about the file: it stays.
TEST_F(StrataTest, ARefusingTableCheckLeavesTheFileInPlace) {
  const std::string path = PathOf("refused");
  Recorder object(path.c_str(), 1, 1);
  object.failTableCheck = true;
  EXPECT_FALSE(DBM::CreateDBIns("refused", &object));
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(SetAsideCopiesOf(path).empty());
}

}  // namespace
