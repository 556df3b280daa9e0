// Drives a chain of operations through the engine from a real 10 ms window
// timer, the way the programs do, then prints the log it wrote.
#include <windows.h>

#include <cstdio>
#include <string>

#include "json_util.h"
#include "log_file.h"
#include "operation_engine.h"
#include "param_envelope.h"
#include "path_util.h"

namespace {

const char kModule[] = "Demo";
bool g_done = false;

void Fetch(const std::string& op, Json::Value call) {
  WriteLogF("Fetch: opsign %d, url '%s'", rt::IntMember(call, "opsign"),
            rt::StringMember(call, "url").c_str());
  PostThen(kModule, call, ErrorResult(0));
}

void Check(const std::string& op, Json::Value call) {
  const Json::Value& result = call["result"];
  WriteLogF("Check: opsign %d, status %s, error %d", rt::IntMember(call, "opsign"),
            rt::BoolMember(result, "status") ? "true" : "false", rt::IntMember(result, "error", -1));
  // The next step arrives wrapped, the way parameters cross process boundaries.
  PostCall(kModule, ParamEnvelope::Wrap(R"({"op":"Finish","note":"从信封中取出"})"));
}

void Finish(const std::string& op, Json::Value call) {
  WriteLogF("Finish: %s", rt::StringMember(call, "note").c_str());
  g_done = true;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) { PumpModule(kModule, 5); }

}  // namespace

int main() {
  const std::string dir = ProgramFolder();
  SetCurrentDirectoryA(dir.c_str());
  SetLogFileName("Log\\demo.log");

  RegisterOperation(kModule, "Fetch", Fetch);
  RegisterOperation(kModule, "Check", Check);
  RegisterOperation(kModule, "Finish", Finish);

  const int32_t tag = TakeOpsign();
  Json::Value call;
  call["op"] = "Fetch";
  call["opsign"] = tag;
  call["url"] = "http://127.0.0.1/starterUpdate.do";
  call["then"]["op"] = "Check";
  call["then"]["opsign"] = tag;
  WriteLog("Demo: posting the chain Fetch -> Check -> Finish");
  PostCall(kModule, rt::StyledText(call));

  const UINT_PTR timer = SetTimer(nullptr, 0, 10, Tick);
  const DWORD start = GetTickCount();
  MSG msg;
  while (!g_done && GetTickCount() - start < 10000 && GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  KillTimer(nullptr, timer);
  WriteLog(g_done ? "Demo: chain finished" : "Demo: chain did not finish");
  UnregisterAll(kModule);
  LogFile::Instance().Close();

  std::printf("--- %s\\Log\\demo.log ---\n", dir.c_str());
  if (FILE* f = std::fopen("Log\\demo.log", "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) std::fwrite(buffer, 1, got, stdout);
    std::fclose(f);
  }
  return g_done ? 0 : 1;
}
