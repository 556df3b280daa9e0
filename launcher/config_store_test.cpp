#include "config_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
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

TEST_F(ConfigStoreTest, DamagedDatabaseGivesNothingAndIsLeftAlone) {
  CreateDirectoryA(dir.File("Config").c_str(), nullptr);
  std::string garbage = "not a database at all";
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>(i * 31);
  ASSERT_TRUE(testing_support::WriteFileBytes(DatabasePath(), garbage));
  EXPECT_EQ(GetConfigDB(), nullptr);
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
  WriteConfigJson("CFG_ConfigInfo", Json::Value(1));
  EXPECT_EQ(GetConfigDB(), nullptr);
  std::string after;
  ASSERT_TRUE(testing_support::ReadFileBytes(DatabasePath(), after));
  EXPECT_EQ(after, garbage);
  // The library said why in its own log.
  std::string log;
  ASSERT_TRUE(testing_support::ReadFileBytes(dir.File("Log\\strata.log"), log));
  EXPECT_NE(log.find("config.db failed"), std::string::npos) << log;
}

TEST_F(ConfigStoreTest, DamagedPageOrLockedFileGivesNothing) {
  Json::Value info(Json::objectValue);
  info["version"] = 7;
  WriteConfigJson("CFG_ConfigInfo", info);
  DBM::Uninitialise();

  // Held open by another program that shares nothing: the file cannot be opened.
  HANDLE held = CreateFileA(DatabasePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DBM::Initialise());
  // (SQLite retries a sharing violation for a while: one attempt is enough.)
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
  EXPECT_EQ(CDataServiceHelper::GetInstance()->FindDBIns("config"), nullptr);
  CloseHandle(held);
  EXPECT_EQ(LoadConfigJson("CFG_ConfigInfo"), info);  // usable again once released
  DBM::Uninitialise();

  // The header is sound but the table's page is garbage.
  std::string bytes;
  ASSERT_TRUE(testing_support::ReadFileBytes(DatabasePath(), bytes));
  ASSERT_GE(bytes.size(), 2 * 4096u);
  for (size_t i = 4096; i < 2 * 4096; ++i) bytes[i] = static_cast<char>(i * 131 + 7);
  ASSERT_TRUE(testing_support::WriteFileBytes(DatabasePath(), bytes));
  ASSERT_TRUE(DBM::Initialise());
  EXPECT_EQ(GetConfigDB(), nullptr);
  EXPECT_TRUE(LoadConfigJson("CFG_ConfigInfo").isNull());
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
