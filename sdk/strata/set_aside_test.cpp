#include "set_aside.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace strata {
namespace {

TEST(SetAside, NamesAndWhichCopiesGo) {
  EXPECT_EQ(SetAsideName("C:\\游戏淺\\Config\\config.db", "20260102-030405", 1),
            "C:\\游戏淺\\Config\\config.db.damaged-20260102-030405");
  EXPECT_EQ(SetAsideName("c.db", "20260102-030405", 3), "c.db.damaged-20260102-030405-3");
  const std::vector<std::string> names = {
      "c.db.damaged-20260102-030405",   "c.db.damaged-20251231-235959",
      "c.db.damaged-20260102-030405-2", "c.db.damaged-20260102-030405-10",
      "c.db.damaged-20260101-000000",
  };
  EXPECT_EQ(SetAsideCopiesToDelete(names, 3),
            (std::vector<std::string>{"c.db.damaged-20260101-000000",
                                      "c.db.damaged-20251231-235959"}));
  EXPECT_TRUE(SetAsideCopiesToDelete(names, 5).empty());
  // A new copy in a second that has copies comes after all of them, also when
  // the first of them is gone already.
  EXPECT_EQ(NextCopyNumber(names, "20260102-030405"), 11);
  EXPECT_EQ(NextCopyNumber({"c.db.damaged-20260102-030405-2"}, "20260102-030405"), 3);
  EXPECT_EQ(NextCopyNumber(names, "20260102-030406"), 1);
  EXPECT_EQ(NextCopyNumber({}, "20260102-030405"), 1);
  EXPECT_EQ(SetAsideCopiesToDelete(names, 0).size(), 5u);
}

}  // namespace
}  // namespace strata
