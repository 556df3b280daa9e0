#include "operation_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_util.h"
#include "param_envelope.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// What the handlers saw, in order: "<handler>:<op>:<arg>".
std::vector<std::string> g_seen;

std::string Arg(const Json::Value& call) { return rt::StringMember(call, "arg"); }

void Record(const std::string& op, Json::Value call) { g_seen.push_back("R:" + op + ":" + Arg(call)); }

void Mutator(const std::string& op, Json::Value call) {
  g_seen.push_back("M:" + op + ":" + Arg(call));
  call["arg"] = "changed";
}

void Poster(const std::string& op, Json::Value call) {
  g_seen.push_back("P:" + op);
  PostCall("posting", R"({"op":"Second"})");
}

void Thrower(const std::string& op, Json::Value call) {
  g_seen.push_back("T:" + op);
  throw "坏了";
}

void ThrowsAnException(const std::string& op, Json::Value call) {
  g_seen.push_back("T:" + op);
  throw std::runtime_error("越界");
}

void ThrowsANumber(const std::string& op, Json::Value call) {
  g_seen.push_back("T:" + op);
  throw 42;
}

void ThrowsNullText(const std::string& op, Json::Value call) {
  g_seen.push_back("T:" + op);
  throw static_cast<const char*>(nullptr);
}

void NumberKinds(const std::string& op, Json::Value call) {
  for (const char* key : {"small", "big", "real"}) {
    int32_t v = 0;
    g_seen.push_back(std::string(key) + (rt::ReadInt(call, key, v) ? "=int" : "=absent"));
  }
}

void ThenWithResult(const std::string& op, Json::Value call) {
  g_seen.push_back("then:" + op);
  PostThen("chain", call, ErrorResult(3));
}

void ChainEnd(const std::string& op, Json::Value call) {
  g_seen.push_back("end:" + rt::StringMember(call, "carry") + ":" +
                   std::to_string(rt::IntMember(call["result"], "error", -1)) + ":" +
                   (rt::BoolMember(call["result"], "status", true) ? "true" : "false") + ":" +
                   std::to_string(rt::IntMember(call, "opsign")));
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { g_seen.clear(); }
};

}  // namespace

TEST_F(Engine, ArrayPostingQueuesOnlyCallsInOrder) {
  RegisterOperation("array", "A", Record);
  RegisterOperation("array", "B", Record);
  EXPECT_TRUE(PostCall("array", R"([{"op":"A"}, "not an envelope", {"x":1}, {"op":"B"}])"));
  EXPECT_FALSE(PostCall("array", "[]"));
  EXPECT_FALSE(PostCall("array", R"([{"op":5}, 3, null])"));
  EXPECT_EQ(GetModule("array").PendingCount(), 2u);
  PumpModule("array", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"R:A:", "R:B:"}));
}

TEST_F(Engine, EnvelopesAreUnwrappedWholeAndPerElement) {
  RegisterOperation("env", "A", Record);
  const std::string wrapped = ParamEnvelope::Wrap(R"({"op":"A","arg":"whole"})");
  EXPECT_TRUE(PostCall("env", wrapped));
  const std::string element = ParamEnvelope::Wrap(R"({"op":"A","arg":"element"})");
  EXPECT_TRUE(PostCall("env", "[\"" + element + "\"]"));
  // A damaged envelope then fails as JSON.
  std::string damaged = wrapped;
  damaged[3] = damaged[3] == '1' ? '2' : '1';
  EXPECT_FALSE(PostCall("env", damaged));
  PumpModule("env", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"R:A:whole", "R:A:element"}));
}

TEST_F(Engine, NonCallTextsAreRefused) {
  for (const char* text : {"", "garbage", "123", "\"op\"", "{}", R"({"op":1})", R"({"op":null})",
                           "MD61509934C5H660", "{\"op\":\"A\"", "\xFF\xFE"})
    EXPECT_FALSE(PostCall("refuse", text)) << text;
  EXPECT_EQ(GetModule("refuse").PendingCount(), 0u);
}

TEST_F(Engine, HandlersRunInRegistrationOrderWithTheirOwnCopies) {
  EXPECT_TRUE(RegisterOperation("copies", "Op", Mutator));
  EXPECT_TRUE(RegisterOperation("copies", "Op", Record));
  EXPECT_FALSE(RegisterOperation("copies", "Op", Mutator)) << "same handler twice is refused";
  EXPECT_TRUE(PostCall("copies", R"({"op":"Op","arg":"original"})"));
  PumpModule("copies", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"M:Op:original", "R:Op:original"}));
}

TEST_F(Engine, PostedCallsRunOnALaterPump) {
  RegisterOperation("posting", "First", Poster);
  RegisterOperation("posting", "Second", Record);
  PostOperation("posting", "First");
  PumpModule("posting", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"P:First"}));
  PumpModule("posting", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"P:First", "R:Second:"}));
}

TEST_F(Engine, ZeroBudgetMovesButRunsNothing) {
  RegisterOperation("zero", "A", Record);
  PostOperation("zero", "A");
  PumpModule("zero", 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(GetModule("zero").PendingCount(), 1u);
  PumpModule("zero", 5);
  EXPECT_EQ(g_seen.size(), 1u);
}

TEST_F(Engine, CallsWithoutHandlerAreDroppedSilently) {
  RegisterOperation("drop", "Known", Record);
  EXPECT_TRUE(PostOperation("drop", "Unknown"));
  EXPECT_TRUE(PostOperation("drop", "known"));  // names are case-sensitive
  PumpModule("drop", 1000);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(GetModule("drop").PendingCount(), 0u);
  UnregisterAll("drop");
  PostOperation("drop", "Known");
  PumpModule("drop", 1000);
  EXPECT_TRUE(g_seen.empty()) << "no handlers after UnregisterAll";
}

TEST_F(Engine, NumbersReachHandlersAsTheReaderMakesThem) {
  RegisterOperation("numbers", "N", NumberKinds);
  Json::Value call;
  call["op"] = "N";
  call["small"] = Json::UInt(5);           // posted unsigned, read back signed
  call["big"] = Json::UInt(4294967295u);   // too large for a signed 32-bit integer
  call["real"] = 1.5;
  PostCall("numbers", rt::StyledText(call));
  PumpModule("numbers", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"small=int", "big=absent", "real=absent"}));
}

TEST_F(Engine, ThenChainCarriesResultAndArguments) {
  RegisterOperation("chain", "Start", ThenWithResult);
  RegisterOperation("chain", "End", ChainEnd);
  const int32_t tag = TakeOpsign();
  EXPECT_EQ(TakeOpsign(), tag + 1);
  Json::Value call;
  call["op"] = "Start";
  call["opsign"] = tag;
  call["then"]["op"] = "End";
  call["then"]["carry"] = "x";
  call["then"]["opsign"] = tag;
  PostCall("chain", rt::StyledText(call));
  PumpModule("chain", 1000);
  PumpModule("chain", 1000);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"then:Start", "end:x:3:false:" + std::to_string(tag)}));
  // No "then", or an empty one, ends the chain.
  EXPECT_FALSE(PostThen("chain", Json::Value(Json::objectValue)));
  Json::Value empty;
  empty["then"] = Json::Value(Json::objectValue);
  EXPECT_FALSE(PostThen("chain", empty));
}

// A handler that throws: the engine shows what it threw (a text, an
// exception's message, or that it was something else), the remaining
// handlers of that call do not run, and nothing leaves the pump.
TEST_F(Engine, ThrownFaultsAreShownAndStopTheRemainingHandlers) {
  struct Case {
    const char* op;
    OperationHandler thrower;
    const char* shown;  // the fault message up to the call text
  } cases[] = {
      {"BadText", Thrower, "执行操作[BadText]错误!错误信息:坏了\r\nJson数据:{"},
      {"BadException", ThrowsAnException, "执行操作[BadException]错误!错误信息:越界\r\nJson数据:{"},
      {"BadNumber", ThrowsANumber, "执行操作[BadNumber]错误!错误信息:未知异常\r\nJson数据:{"},
      {"BadNull", ThrowsNullText, "执行操作[BadNull]错误!错误信息:\r\nJson数据:{"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    g_seen.clear();
    RegisterOperation("fault", c.op, c.thrower);
    RegisterOperation("fault", c.op, Record);
    PostCall("fault", std::string(R"({"op":")") + c.op + R"(","arg":"x"})");
    PostCall("fault", R"({"op":"After","arg":"y"})");
    RegisterOperation("fault", "After", Record);
    std::string boxText;
    {
      Background closer([&] {
        HWND box = WaitForWindow("#32770", nullptr, 10000);
        if (!box) return;
        boxText = DialogText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
      });
      PumpModule("fault", 1000);
    }
    // The call after the faulty one still runs.
    EXPECT_EQ(g_seen, (std::vector<std::string>{"T:" + std::string(c.op), "R:After:y"}));
    EXPECT_NE(boxText.find(c.shown), std::string::npos) << boxText;
    EXPECT_NE(boxText.find("\"arg\" : \"x\""), std::string::npos) << boxText;
  }
}

namespace {

std::atomic<int> g_ticks{0};
std::atomic<bool> g_modalOpen{false};
std::atomic<bool> g_afterRan{false};
std::atomic<bool> g_afterRanWhileOpen{false};

void CALLBACK PumpTimer(HWND, UINT, UINT_PTR, DWORD) {
  ++g_ticks;
  PumpModule("modal", 5);
}

void OpensModalBox(const std::string& op, Json::Value call) {
  PostOperation("modal", "After");
  g_modalOpen = true;
  MessageBoxA(nullptr, "modal", "engine-modal-test", MB_OK);
  g_modalOpen = false;
}

void After(const std::string& op, Json::Value call) {
  if (g_modalOpen) g_afterRanWhileOpen = true;
  g_afterRan = true;
}

}  // namespace

TEST_F(Engine, NestedPumpsInsideAModalBoxRunNothing) {
  RegisterOperation("modal", "Modal", OpensModalBox);
  RegisterOperation("modal", "After", After);
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, PumpTimer);
  ASSERT_NE(timer, 0u);
  PostOperation("modal", "Modal");
  int ticksWhileOpen = 0;
  bool queuedWhileOpen = false;
  {
    Background closer([&] {
      HWND box = WaitForWindow("#32770", "engine-modal-test", 10000);
      if (!box) return;
      const int before = g_ticks;
      Sleep(300);
      ticksWhileOpen = g_ticks - before;
      queuedWhileOpen = GetModule("modal").PendingCount() == 1;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_TRUE(PumpMessagesUntil([] { return g_afterRan.load(); }, 20000));
  }
  KillTimer(nullptr, timer);
  EXPECT_GE(ticksWhileOpen, 5) << "the timer keeps firing inside the box's loop";
  EXPECT_TRUE(queuedWhileOpen) << "nested pumps moved the posted call but ran none";
  EXPECT_FALSE(g_afterRanWhileOpen);
  EXPECT_TRUE(g_afterRan);
}
