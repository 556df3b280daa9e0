#include "updater_client.h"

#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "param_envelope.h"
#include "path_util.h"
#include "process_runner.h"

Json::Value InstallObject(const std::string& package, const std::string& folder,
                          const std::string& program, const std::string& params) {
  Json::Value args(Json::objectValue);
  args["SI"] = true;
  args["TP"] = package;
  if (!folder.empty()) args["dir"] = folder;
  if (!program.empty()) {
    args["SR"] = true;
    args["open"] = program;
    if (!params.empty()) args["SP"] = params;
  }
  return args;
}

Json::Value ReplaceObject(const std::string& package, const std::string& launcher, bool restart,
                          const std::string& params, const std::string& sha256, int64_t size) {
  Json::Value args(Json::objectValue);
  args["SU"] = true;
  if (restart) {
    args["SR"] = true;
    if (!params.empty()) args["SP"] = params;
  }
  args["TP"] = package;
  args["path"] = launcher;
  if (!sha256.empty()) {
    args["sha256"] = sha256;
    if (size >= 0) args["size"] = static_cast<Json::Int64>(size);
  }
  return args;
}

int32_t RunUpdater(const std::string& argumentText, bool wait) {
  if (argumentText.empty()) return kMissingArguments;
  const std::string& folder = LauncherApp::Get().exeDir;
  const std::string updater = JoinPath(folder, kUpdaterFileName);
  if (!FileExists(updater)) return 2;
  const std::string commandLine = "\"" + updater + "\" " + ParamEnvelope::Wrap(argumentText);
  const int32_t result = RunProcess(commandLine, folder, wait ? kWaitForever : 0, true);
  if (result != 0) WriteLogF("运行更新器失败[错误:%d] 参数:%s", result, argumentText.c_str());
  return result;
}

int32_t InstallPackage(const std::string& package, const std::string& folder,
                       const std::string& program, const std::string& params, bool wait) {
  if (package.empty()) return kMissingArguments;
  return RunUpdater(rt::StyledText(InstallObject(package, folder, program, params)), wait);
}

int32_t ReplaceLauncher(const std::string& package, const std::string& launcher, bool restart,
                        const std::string& params, const std::string& sha256, int64_t size) {
  if (package.empty() || launcher.empty()) return kMissingArguments;
  return RunUpdater(
      rt::StyledText(ReplaceObject(package, launcher, restart, params, sha256, size)), false);
}
