#include "debug_log.h"

#include <gtest/gtest.h>

#include <string>

namespace xlue {
namespace {

std::vector<std::string> PopAll(DebugLogStore& store, uint32_t handle) {
  std::vector<std::string> lines;
  while (const char* line = store.Pop(handle)) lines.push_back(line);
  return lines;
}

TEST(DebugLog, OutputAndMoreLinesAreSealedIntoOneLog) {
  DebugLogStore store;
  store.AddOutput({"a\r\n", "b\r\n"});
  const uint32_t first = store.Seal({"trace\r\n"});
  EXPECT_NE(first, 0u);
  EXPECT_EQ(store.PendingCount(), 0u);
  store.AddOutput({"c\r\n"});
  const uint32_t second = store.Seal({});
  EXPECT_NE(second, first);
  EXPECT_EQ(PopAll(store, first), (std::vector<std::string>{"a\r\n", "b\r\n", "trace\r\n"}));
  EXPECT_EQ(PopAll(store, second), (std::vector<std::string>{"c\r\n"}));
  EXPECT_EQ(store.Pop(first), nullptr) << "popped empty";
  EXPECT_EQ(store.Pop(0), nullptr);
  EXPECT_EQ(store.Pop(9999), nullptr);
}

TEST(DebugLog, DiscardedAndClearedLogsGiveNothing) {
  DebugLogStore store;
  const uint32_t kept = store.Seal({"x\r\n"});
  const uint32_t dropped = store.Seal({"y\r\n"});
  store.Discard(dropped);
  EXPECT_EQ(store.Pop(dropped), nullptr);
  EXPECT_STREQ(store.Pop(kept), "x\r\n");
  store.AddOutput({"pending\r\n"});
  store.Clear();
  EXPECT_EQ(store.PendingCount(), 0u);
  EXPECT_EQ(PopAll(store, store.Seal({})), std::vector<std::string>{});
}

TEST(DebugLog, PendingOutputKeepsTheNewestLines) {
  DebugLogStore store;
  for (size_t i = 0; i < DebugLogStore::kMaxPendingLines + 5; ++i) {
    store.AddOutput({std::to_string(i) + "\r\n"});
  }
  EXPECT_EQ(store.PendingCount(), DebugLogStore::kMaxPendingLines);
  const auto lines = PopAll(store, store.Seal({"end\r\n"}));
  ASSERT_EQ(lines.size(), DebugLogStore::kMaxPendingLines + 1);
  EXPECT_EQ(lines.front(), "5\r\n");
  EXPECT_EQ(lines[lines.size() - 2], std::to_string(DebugLogStore::kMaxPendingLines + 4) + "\r\n");
}

}  // namespace
}  // namespace xlue
