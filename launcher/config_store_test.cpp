#include "config_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "json_util.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DBM::Initialise());
    DBM::SetDataFolder(dir.Path().c_str());
  }
  void TearDown() override {
    DBM::Uninitialise();
    DBM::SetDataFolder(nullptr);
  }

  std::string DatabasePath() const { return dir.File("Config\\config.db"); }

  // Rows of a query, read with SQLite directly (not through the store).
  std::vector<std::string> Query(const char* sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      rows.push_back(text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, 0)))
                          : "<null>");
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }

  TempDir dir;
};

TEST_F(ConfigStoreTest, DatabaseIsMadeOnceAndFoundAfterwards) {
  CDBConfig* db = GetConfigDB();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(GetConfigDB(), db);
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("config"), db);
  EXPECT_NE(GetFileAttributesA(DatabasePath().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(db->GetTableVersion("config"), 1);
}

TEST_F(ConfigStoreTest, TableIsCreatedByExactlyItsStatement) {
  ASSERT_NE(GetConfigDB(), nullptr);
  // SQLite keeps the statement as written, without the schema name it was
  // created in and without the closing semicolon.
  EXPECT_EQ(Query("SELECT sql FROM sqlite_master WHERE type='table' AND name='config'"),
            std::vector<std::string>{
                "CREATE TABLE \"config\" (\"name\"  TEXT NOT NULL,\"value\"  BLOB,"
                "PRIMARY KEY (\"name\"))"});
}

TEST_F(ConfigStoreTest, WithoutTheLibraryThereIsNoStore) {
  DBM::Uninitialise();
  EXPECT_EQ(GetConfigDB(), nullptr);
  EXPECT_TRUE(LoadConfigJson("CFG_DID").isNull());
  WriteConfigJson("CFG_DID", Json::Value("x"));  // skipped silently
  EXPECT_EQ(GetFileAttributesA(DatabasePath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConfigStoreTest, NeverWrittenKeyReadsAsNothing) {
  CDBConfig* db = GetConfigDB();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->ReadValue("CFG_ConfigInfo"), "");
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
  EXPECT_TRUE(rt::IsObjectOrNull(LoadConfigJson("CFG_ConfigInfo")));
}

TEST_F(ConfigStoreTest, EmptyOrInvalidDocumentsReadAsNull) {
  CDBConfig* db = GetConfigDB();
  ASSERT_NE(db, nullptr);
  for (const char* text : {"{}", "[]", "null", "{ \"a\" : ", "not json", ""}) {
    ASSERT_TRUE(db->WriteValue("CFG_X", text));
    EXPECT_EQ(db->ReadValue("CFG_X"), text);  // the row holds the text as written
    EXPECT_TRUE(LoadConfigJson("CFG_X").isNull()) << text;
  }
  // A damaged row nested deeper than the reader goes (it throws there) reads
  // as null as well.
  const std::string deep(100000, '[');
  ASSERT_TRUE(db->WriteValue("CFG_X", deep.c_str()));
  EXPECT_EQ(db->ReadValue("CFG_X"), deep);
  EXPECT_TRUE(LoadConfigJson("CFG_X").isNull());
  // The next write replaces a bad row.
  WriteConfigJson("CFG_X", Json::Value(3));
  EXPECT_EQ(LoadConfigJson("CFG_X"), Json::Value(3));
}

TEST_F(ConfigStoreTest, NumbersAndStringsAreReturnedAsTheyAre) {
  WriteConfigJson("CFG_N", Json::Value(2014040401));
  WriteConfigJson("CFG_S", Json::Value("\xc8\xd5\xd6\xbe"));
  WriteConfigJson("CFG_E", Json::Value(""));
  const Json::Value number = LoadConfigJson("CFG_N");
  EXPECT_TRUE(number.isInt());
  EXPECT_EQ(number.asInt(), 2014040401);
  EXPECT_EQ(LoadConfigJson("CFG_S"), Json::Value("\xc8\xd5\xd6\xbe"));
  const Json::Value empty = LoadConfigJson("CFG_E");
  EXPECT_TRUE(empty.isString());
  EXPECT_EQ(empty.asString(), "");
}

TEST_F(ConfigStoreTest, WritingTwiceLeavesOneRowWithTheSecondValue) {
  Json::Value first(Json::objectValue);
  first["version"] = 6;
  Json::Value second(Json::objectValue);
  second["version"] = 7;
  second["UnionCode"] = 12;
  WriteConfigJson("CFG_ConfigInfo", first);
  WriteConfigJson("CFG_ConfigInfo", second);
  EXPECT_EQ(LoadConfigJson("CFG_ConfigInfo"), second);
  // Read from the file by another connection: written and flushed.
  EXPECT_EQ(Query("SELECT value FROM config WHERE name='CFG_ConfigInfo'"),
            std::vector<std::string>{rt::StyledText(second)});
  EXPECT_EQ(Query("SELECT count(*) FROM config"), std::vector<std::string>{"1"});
}

TEST_F(ConfigStoreTest, TextsWithQuotesAndChineseRoundTrip) {
  Json::Value data(Json::objectValue);
  data["info"]["file"] = "O'Neil's \"hall\".exe";
  data["info"]["params"] = "C:\\\xd3\xce\xcf\xb7\\'; DROP TABLE config; --";
  data["name"] = "\xc8\xd5\xd6\xbe\xd5\x5c";  // a GBK character whose second byte is a backslash
  data["empty"] = "";
  data["percent"] = "100% %s %d %% %n %*d '%s'";  // never taken for placeholders
  WriteConfigJson("CFG_ConfigData", data);
  EXPECT_EQ(LoadConfigJson("CFG_ConfigData"), data);
  EXPECT_EQ(GetConfigDB()->ReadValue("CFG_ConfigData"), rt::StyledText(data));
  // Keys with quotes or % work too.
  ASSERT_TRUE(GetConfigDB()->WriteValue("it's", "'"));
  EXPECT_EQ(GetConfigDB()->ReadValue("it's"), "'");
  ASSERT_TRUE(GetConfigDB()->WriteValue("CFG_%s%d", "%s"));
  EXPECT_EQ(GetConfigDB()->ReadValue("CFG_%s%d"), "%s");
  // Stored as written: styled text, GBK bytes raw.
  const std::vector<std::string> stored =
      Query("SELECT value FROM config WHERE name='CFG_ConfigData'");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].find("\xc8\xd5\xd6\xbe"), std::string::npos);
}

TEST_F(ConfigStoreTest, RecordsSurviveARestart) {
  Json::Value did(Json::objectValue);
  did["id"] = "d41d8cd98f00b204e9800998ecf8427e";
  WriteConfigJson("CFG_DID", did);
  DBM::Uninitialise();
  ASSERT_TRUE(DBM::Initialise());
  EXPECT_EQ(LoadConfigJson("CFG_DID"), did);
}

TEST_F(ConfigStoreTest, TableCheckActsOnlyOnTheExactName) {
  CDBConfig* db = GetConfigDB();
  ASSERT_NE(db, nullptr);
  // The table exists now, so running the statement again fails: a true
  // result shows that no statement ran.
  EXPECT_FALSE(db->OnTableCheck("config", 0, 1));
  for (const char* other : {"configs", "config\xb1\xed", "confi", "", "CONFIG", "strata_tables"})
    EXPECT_TRUE(db->OnTableCheck(other, 0, 1)) << other;
  EXPECT_TRUE(db->OnDatabaseCheck(5, 9));
  EXPECT_EQ(Query("SELECT count(*) FROM sqlite_master WHERE name LIKE 'conf%'"),
            std::vector<std::string>{"1"});
}

// The set-aside copies of config.db, as (file name, bytes), journals left out.
std::vector<std::pair<std::string, std::string>> SetAsideCopies(const TempDir& dir) {
  std::vector<std::pair<std::string, std::string>> copies;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(dir.File("Config\\config.db.damaged-*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return copies;
  do {
    const std::string name = found.cFileName;
    if (name.find("-journal") != std::string::npos) continue;
    std::string bytes;
    testing_support::ReadFileBytes(dir.File("Config\\" + name), bytes);
    copies.emplace_back(name, bytes);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return copies;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ConfigStoreTest, DamagedDatabaseIsSetAsideOnceAndAnEmptyOneTakesItsPlace) {
  // `unreadable`: nothing can be written to the file before it is found
  // damaged, so the copy holds exactly its bytes.
  const struct {
    const char* what;
    bool unreadable;
    std::function<void(const std::string& path)> damage;
  } cases[] = {
      {"garbage", true,
       [](const std::string& path) {
         std::string garbage = "not a database at all";
         for (int i = 0; i < 4096; ++i) garbage += static_cast<char>(i * 31);
         ASSERT_TRUE(testing_support::WriteFileBytes(path, garbage));
       }},
      {"a view named config", false,
       [](const std::string& path) {
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(db, "CREATE VIEW config AS SELECT 'CFG_X' AS name, '1' AS value",
                                nullptr, nullptr, nullptr),
                   SQLITE_OK);
         sqlite3_close(db);
       }},
      {"a file cut off in the middle of a page", true,
       [](const std::string& path) {
         ASSERT_TRUE(DBM::Initialise());
         for (int i = 0; i < 40; ++i)
           WriteConfigJson(("CFG_" + std::to_string(i)).c_str(), Json::Value(std::string(900, 'v')));
         DBM::Uninitialise();
         std::string bytes;
         ASSERT_TRUE(testing_support::ReadFileBytes(path, bytes));
         ASSERT_GT(bytes.size(), 4u * 4096);
         ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes.substr(0, 2 * 4096 + 1000)));
       }},
  };
  for (const auto& c : cases) {
    DBM::Uninitialise();
    TempDir folder;
    DBM::SetDataFolder(folder.Path().c_str());
    const std::string path = folder.File("Config\\config.db");
    ASSERT_TRUE(CreateDirectoryA(folder.File("Config").c_str(), nullptr));
    c.damage(path);
    std::string damaged;
    ASSERT_TRUE(testing_support::ReadFileBytes(path, damaged));

    ASSERT_TRUE(DBM::Initialise());
    CDBConfig* db = GetConfigDB();
    ASSERT_NE(db, nullptr) << c.what;
    EXPECT_TRUE(LoadConfigJson("CFG_0").isNull()) << c.what;
    Json::Value info(Json::objectValue);
    info["version"] = 3;
    WriteConfigJson("CFG_ConfigInfo", info);
    EXPECT_EQ(LoadConfigJson("CFG_ConfigInfo"), info) << c.what;
    EXPECT_EQ(GetConfigDB(), db) << c.what;

    // The damaged file is kept under its new name, and said so once.
    const auto copies = SetAsideCopies(folder);
    ASSERT_EQ(copies.size(), 1u) << c.what;
    if (c.unreadable) {
      EXPECT_TRUE(copies[0].second == damaged) << c.what;
    } else {
      EXPECT_NE(copies[0].second.find("CREATE VIEW config"), std::string::npos) << c.what;
    }
    std::string log;
    ASSERT_TRUE(testing_support::ReadFileBytes(folder.File("Log\\strata.log"), log));
    EXPECT_EQ(Count(log, "was set aside as"), 1u) << c.what << "\n" << log;
    EXPECT_NE(log.find(copies[0].first), std::string::npos) << c.what << "\n" << log;

    // The next start finds the new database as it was left.
    DBM::Uninitialise();
    ASSERT_TRUE(DBM::Initialise());
    EXPECT_EQ(LoadConfigJson("CFG_ConfigInfo"), info) << c.what;
    EXPECT_EQ(SetAsideCopies(folder).size(), 1u) << c.what;
    DBM::Uninitialise();
    DBM::SetDataFolder(dir.Path().c_str());
  }
}

TEST_F(ConfigStoreTest, OnlyTheNewestThreeSetAsideCopiesAreKept) {
  CreateDirectoryA(dir.File("Config").c_str(), nullptr);
  for (int round = 1; round <= 5; ++round) {
    DBM::Uninitialise();
    ASSERT_TRUE(testing_support::WriteFileBytes(DatabasePath(),
                                                "damaged " + std::to_string(round) + "\n" +
                                                    std::string(2048, '\x9c')));
    ASSERT_TRUE(DBM::Initialise());
    ASSERT_NE(GetConfigDB(), nullptr) << round;
  }
  std::vector<std::string> kept;
  for (const auto& copy : SetAsideCopies(dir)) kept.push_back(copy.second.substr(0, 9));
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"damaged 3", "damaged 4", "damaged 5"}));
}

TEST_F(ConfigStoreTest, AFileHeldByAnotherProgramIsLeftAsItIs) {
  Json::Value info(Json::objectValue);
  info["version"] = 7;
  WriteConfigJson("CFG_ConfigInfo", info);
  DBM::Uninitialise();

  // Held open by another program that shares nothing: the file cannot be
  // opened, but nothing is wrong with it.
  HANDLE held = CreateFileA(DatabasePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DBM::Initialise());
  // (SQLite retries a sharing violation for a while: one attempt is enough.)
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("config"), nullptr);
  CloseHandle(held);
  EXPECT_TRUE(SetAsideCopies(dir).empty());
  EXPECT_EQ(LoadConfigJson("CFG_ConfigInfo"), info);  // usable again once released
}

TEST_F(ConfigStoreTest, ADamagedPageIsFoundByTheCheckAndSetAside) {
  Json::Value info(Json::objectValue);
  info["version"] = 7;
  WriteConfigJson("CFG_ConfigInfo", info);
  DBM::Uninitialise();

  // The header is sound but the table's page is garbage.
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(DatabasePath(), bytes));
  ASSERT_GE(bytes.size(), 2 * 4096u);
  for (size_t i = 4096; i < 2 * 4096; ++i) bytes[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(testing_support::WriteFileBytes(DatabasePath(), bytes));
  ASSERT_TRUE(DBM::Initialise());
  EXPECT_NE(GetConfigDB(), nullptr);
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
  const auto copies = SetAsideCopies(dir);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(copies[0].second == bytes);
}

TEST(ValueOfFirstRow, TakesTheValueOfRowZeroOnly) {
  Json::Value rows(Json::arrayValue);
  EXPECT_EQ(ValueOfFirstRow(rows), "");
  EXPECT_EQ(ValueOfFirstRow(Json::Value()), "");
  EXPECT_EQ(ValueOfFirstRow(Json::Value("text")), "");
  rows.append(Json::Value(Json::objectValue));
  EXPECT_EQ(ValueOfFirstRow(rows), "");
  rows[0]["value"] = Json::Value();
  EXPECT_EQ(ValueOfFirstRow(rows), "");
  rows[0]["value"] = "";
  rows.append(Json::Value(Json::objectValue));
  rows[1]["value"] = "second";
  EXPECT_EQ(ValueOfFirstRow(rows), "");
  rows[0]["value"] = 42;
  EXPECT_EQ(ValueOfFirstRow(rows), "42");
}

}  // namespace
