#include "component_updates.h"

#include <windows.h>

#include "config_keys.h"
#include "config_store.h"
#include "fatal_error.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "launcher_window.h"
#include "log_file.h"
#include "lua_event.h"
#include "operation_engine.h"
#include "package_check.h"
#include "param_envelope.h"
#include "path_util.h"
#include "trusted_config.h"
#include "updater_client.h"
#include "url_operations.h"

const Component kPlatformComponent = {
    "platform",
    "platformversion",
    "Tessel.pkg.exe",
    "更新平台资源...",
    "UpdatePlatform",
    "CheckPlaza",
    "平台资源更新信息错误!",
    "平台资源更新包下载失败,请检查网络或重新安装.",
    "平台资源更新包安装失败!",
    "更新平台资源到版本[%d]",
};

const Component kHallComponent = {
    "info",
    "plazaversion",
    "Orlune.pkg.exe",
    "更新大厅...",
    "UpdatePlaza",
    "StartPlazz",
    "大厅更新信息错误!",
    "大厅更新包下载失败,请检查网络或重新安装.",
    "大厅更新包安装失败!",
    "更新大厅到版本[%d]",
};

namespace {

// The package check before the updater runs a package, logged. What the
// download service took of the package while writing it is compared, not
// read again.
PackageCheck CheckPackage(const std::string& package, const Json::Value& call) {
  WrittenPackage written;
  DownloadTasks* tasks = CurrentDownloadTasks();
  const bool taken = tasks != nullptr && tasks->Client().TakeWrittenPackage(package, written);
  PackageCheck check = CheckDownloadedPackage(package, ExpectedPackage(call),
                                              ComponentRules(RepliesMustBeSigned()),
                                              taken ? &written : nullptr);
  if (!check.note.empty()) WriteLog(check.note.c_str());
  if (!check.logLine.empty()) WriteLog(check.logLine.c_str());
  return check;
}

// The installed version of a component: 0 unless stored as an integer.
int32_t InstalledVersion(const Component& component) {
  return rt::IntMember(LoadConfigJson("CFG_ConfigInfo"), component.versionMember, 0);
}

// Asks for the download and shows the update view. The package's digest and
// size travel from its configuration entry to the update step.
void StartComponentUpdate(const Component& component, const Json::Value& entry,
                          const std::string& url, int32_t installed, int32_t newest) {
  const LauncherApp& app = LauncherApp::Get();
  Json::Value download =
      ComponentDownloadCall(component, TakeOpsign(), url, app.downloadDir, newest);
  CarryPackageExpectation(entry, download["then"]);
  PostCall(kLauncherModule, rt::StyledText(download));
  Json::Value show(Json::objectValue);
  show["op"] = "ShowUpdateLoad";
  show["version"] = installed;
  show["next"] = newest;
  PostCall(kLauncherModule, rt::StyledText(show));
}

void UpdateComponent(const Component& component, const Json::Value& call) {
  const int32_t version = rt::IntMember(call, "version", 0);
  const std::string name = rt::StringMember(call, "name");
  const std::string dir = rt::StringMember(call, "dir");
  const bool downloaded = ResultStatus(call);
  if (version == 0) {
    FailStart(component.badData);
    return;
  }
  const std::string package = PackagePath(dir, name);
  if (package.empty() || !FileExists(package) || !downloaded) {
    FailStart(component.downloadFailed);
    return;
  }
  // What the configuration says the package is; it stays held until the
  // updater has run it.
  const PackageCheck check = CheckPackage(package, call);
  if (check.verdict == PackageVerdict::Refused) {
    FailStart(component.downloadFailed);
    return;
  }
  // The launcher stands still until the updater has finished.
  if (InstallPackage(package, LauncherApp::Get().exeDir, "", "", true) != 0) {
    std::string url;
    if (rt::ReadString(call, "url", url)) WriteLogF("更新包下载地址:\"%s\"", url.c_str());
    FailStart(component.installFailed);
    return;
  }
  Json::Value info = LoadConfigJson("CFG_ConfigInfo");
  if (rt::IsObjectOrNull(info)) {
    info[component.versionMember] = version;
    WriteConfigJson("CFG_ConfigInfo", info);
  }
  WriteLogF(component.updatedLog, version);
  PostOperation(kLauncherModule, component.nextOp);
}

}  // namespace

Json::Value ComponentDownloadCall(const Component& component, int32_t tag,
                                  const std::string& url, const std::string& folder,
                                  int32_t version) {
  Json::Value then(Json::objectValue);
  then["op"] = component.updateOp;
  then["name"] = component.package;
  then["dir"] = folder;
  then["version"] = version;
  then["url"] = url;
  Json::Value call(Json::objectValue);
  call["op"] = "URL_Download";
  call["opsign"] = tag;
  call["url"] = url;
  call["name"] = component.package;
  call["path"] = folder;
  call["text"] = component.downloadText;
  call["then"] = then;
  return call;
}

std::string PackagePath(const std::string& dir, const std::string& name) {
  if (dir.empty() || name.empty()) return std::string();
  const std::string path = CanonicalizePath(JoinPath(dir, name));
  return path.size() <= 259 ? path : std::string();
}

bool ResultStatus(const Json::Value& call) {
  return rt::BoolMember(rt::MemberOrNull(call, "result"), "status", false);
}

void CheckPlatformOperation(const std::string&, Json::Value) {
  const Component& c = kPlatformComponent;
  const bool debug = LauncherApp::Get().HasSigns(kSignDebug);
  const int32_t installed = InstalledVersion(c);
  const Json::Value platform = rt::MemberOrNull(StoredConfigData(), c.dataMember);
  const int32_t newest = rt::IntMember(platform, "version", 0);
  WriteLogF("当前[平台资源]版本[%d] 最新版本[%d]", installed, newest);
  if (newest != 0 && installed != newest && !debug) {
    const std::string url =
        rt::IsNonEmptyObject(platform) ? rt::StringMember(platform, "url") : std::string();
    if (url.empty()) {
      FailStart("由于配置信息错误而无法[平台资源]!");
      return;
    }
    if (ActivateRunningHall()) return;
    StartComponentUpdate(c, platform, url, installed, newest);
    return;
  }
  if (debug) WriteLog("使用当前版本[平台资源]继续调试.");
  PostOperation(kLauncherModule, c.nextOp);
}

void CheckPlazaOperation(const std::string&, Json::Value) {
  const Component& c = kHallComponent;
  const bool debug = LauncherApp::Get().HasSigns(kSignDebug);
  const int32_t installed = InstalledVersion(c);
  const Json::Value hall = rt::MemberOrNull(StoredConfigData(), c.dataMember);
  const int32_t newest = rt::IntMember(hall, "version", 0);
  WriteLogF("当前[大厅]版本[%d] 最新版本[%d]", installed, newest);
  if (newest == 0 || installed == newest || debug) {
    if (debug) {
      // Debugging starts the installed hall.
      WriteLog("使用当前版本[游戏大厅]继续调试.");
      PostOperation(kLauncherModule, c.nextOp);
    } else if (newest == 0) {
      FailStart("由于配置信息错误而无法更新[游戏大厅].");
    } else {
      PostOperation(kLauncherModule, c.nextOp);
    }
    return;
  }
  const std::string url =
      rt::IsNonEmptyObject(hall) ? rt::StringMember(hall, "url") : std::string();
  if (url.empty()) {
    FailStart("由于配置信息错误而无法更新[游戏大厅]!");
    return;
  }
  if (ActivateRunningHall()) return;
  StartComponentUpdate(c, hall, url, installed, newest);
}

void UpdatePlatformOperation(const std::string&, Json::Value call) {
  UpdateComponent(kPlatformComponent, call);
}

void UpdatePlazaOperation(const std::string&, Json::Value call) {
  UpdateComponent(kHallComponent, call);
}

void UpdateStarterOperation(const std::string&, Json::Value call) {
  const int32_t type = rt::IntMember(call, "type", 0);
  const std::string name = rt::StringMember(call, "name");
  const std::string dir = rt::StringMember(call, "dir");
  if ((type != 1 && type != 2) || name.empty() || dir.empty()) {
    FailStart("更新失败,请检查网络或重新安装.");
    return;
  }
  const std::string package = PackagePath(dir, name);
  if (package.empty() || !FileExists(package) || !ResultStatus(call)) {
    FailStart("更新下载失败,请检查网络或重新安装.");
    return;
  }
  // Checked before anything ends this launcher: a package that does not
  // match leaves it running as it is.
  const PackageCheck check = CheckPackage(package, call);
  if (check.verdict == PackageVerdict::Refused) {
    FailStart("更新下载失败,请检查网络或重新安装.");
    return;
  }
  const LauncherApp& app = LauncherApp::Get();
  // Type 2 names the launcher's folder as the file to replace: the updater
  // cannot copy a file onto a folder, and a launcher that ended first would
  // simply vanish. It is refused while the launcher can still say so.
  if (type == 2) {
    WriteLogF("启动器更新类型[2]无法执行: 不能把更新包复制到文件夹\"%s\"上", app.exeDir.c_str());
    FailStart("更新失败,请检查网络或重新安装.");
    return;
  }
  // The new launcher starts with this one's settings.
  const std::string params =
      app.paramsText.empty() ? std::string() : ParamEnvelope::Wrap(app.paramsText);
  // The updater is not waited for; it copies once this launcher has ended
  // (it retries while the old file is still in use). Only when it is running
  // does this launcher end: otherwise nothing would replace it and the player
  // would see it vanish.
  // With keys the updater checks the package itself against its signed
  // digest and copies what it checked: this launcher's hold ends with it.
  const PackageExpectation expected = ExpectedPackage(call);
  const bool verifyAgain = RepliesMustBeSigned() && check.verdict == PackageVerdict::Accepted &&
                           expected.hasDigest;
  const int32_t started =
      ReplaceLauncher(package, app.exePath, true, params,
                      verifyAgain ? trust::DigestText(expected.digest) : std::string(),
                      verifyAgain && expected.hasSize ? expected.size : -1);
  if (started != 0) {
    if (started == 2) {
      WriteLogF("更新器不存在:\"%s\"", JoinPath(app.exeDir, kUpdaterFileName).c_str());
    }
    FailStart("更新失败,请检查网络或重新安装.");
    return;
  }
  PostQuitMessage(0);
}

void ShowUpdateLoadOperation(const std::string&, Json::Value call) {
  Json::Value data(Json::objectValue);
  data["old"] = rt::IntMember(call, "version", 0);
  data["new"] = rt::IntMember(call, "next", 0);
  // The engine's start is queued before the event, so it runs first.
  if (LauncherWindow* window = MainWindow()) window->StartUI();
  PostCall(kLauncherModule, LuaEventCall("ShowUpdateLoad", data));
}
