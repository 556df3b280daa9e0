#include "start_process_operation.h"

#include "code_page.h"
#include "json_util.h"
#include "launcher_module.h"
#include "log_file.h"
#include "operation_engine.h"
#include "path_util.h"
#include "process_runner.h"

StartProcessArgs StartProcessArgs::FromCall(const Json::Value& call) {
  StartProcessArgs args;
  rt::ReadString(call, "name", args.name);
  rt::ReadString(call, "path", args.path);
  rt::ReadString(call, "dir", args.dir);
  rt::ReadString(call, "params", args.params);
  int32_t wait = 0;
  if (rt::ReadInt(call, "wait", wait)) args.waitMs = static_cast<uint32_t>(wait);  // -1: no limit
  rt::ReadBool(call, "type", args.waitForExit);
  return args;
}

namespace {

// The start of an over-long text for a log line, never ending inside a
// character.
std::string Shortened(const std::string& text) {
  return text.substr(0, cp936::CutLength(text, 200)) + "...";
}

}  // namespace

StartProcessPlan PlanStartProcess(const StartProcessArgs& args, const std::string& programFolder,
                                  const PathProbe& probe) {
  StartProcessPlan plan;
  if (args.name.empty()) {
    plan.error = kMissingArguments;
    return plan;
  }
  // Paths are held in 1040-byte buffers: what does not fit is refused whole,
  // never cut into another path.
  auto fits = [](const std::string& text) { return text.size() < kPathBufferSize; };
  std::string resolved = CanonicalizePath(args.name);
  if (IsRelativePath(resolved)) {
    if (!args.path.empty())
      resolved = CanonicalizePath(JoinPath(args.path, resolved));
    else if (!args.dir.empty() && probe.folderExists(args.dir))
      resolved = CanonicalizePath(JoinPath(args.dir, resolved));
    else
      resolved = CanonicalizePath(JoinPath(programFolder, resolved));
  }
  if (!fits(args.name) || !fits(resolved)) {
    plan.error = -1;
    plan.refusal = "执行程序失败:路径过长 '" + Shortened(args.name) + "'";
    return plan;
  }
  if (!probe.fileExists(resolved))
    plan.commandLine = args.name;
  else if (!args.params.empty())
    plan.commandLine = "\"" + resolved + "\" " + args.params;
  else
    plan.commandLine = "\"" + resolved + "\"";
  if (!fits(plan.commandLine)) {
    plan.error = -1;
    plan.refusal = "执行程序失败:命令行过长 '" + Shortened(plan.commandLine) + "'";
    plan.commandLine.clear();
  }
  return plan;
}

void StartProcessOperation(const std::string& op, Json::Value call) {
  const StartProcessArgs args = StartProcessArgs::FromCall(call);
  const PathProbe probe{FileExists, FolderExists};
  const StartProcessPlan plan = PlanStartProcess(args, ProgramFolder(), probe);
  int32_t code = plan.error;
  if (!plan.refusal.empty()) WriteLog(plan.refusal.c_str());
  if (code == 0) {
    code = RunProcess(plan.commandLine, args.dir, args.waitMs, args.waitForExit);
    if (code == 0)
      WriteLogF("执行程序成功 工作目录:'%s' 命令:'%s' ", args.dir.c_str(),
                plan.commandLine.c_str());
    else
      WriteLogF("执行程序失败或错误[ERR:%d] 工作目录:'%s' 命令:'%s' ", code, args.dir.c_str(),
                plan.commandLine.c_str());
  }
  PostThen(kLauncherModule, call, ErrorResult(code));
}
