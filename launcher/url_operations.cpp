#include "url_operations.h"

#include <cstring>

#include "config_keys.h"
#include "json_util.h"
#include "launcher_app.h"
#include "log_file.h"
#include "package_check.h"
#include "path_util.h"

namespace {

DownloadTasks* g_tasks = nullptr;

// Copies `text` with its terminator into `field`; false when it does not fit
// or holds a zero byte (it would end early on the other side).
template <size_t N>
bool CopyField(char (&field)[N], const std::string& text) {
  if (text.size() >= N || text.find('\0') != std::string::npos) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

void LogRefusal(const char* op, const std::string& field, const Json::Value& call) {
  WriteLogF("%s 错误! 参数'%s'过长,任务未启动.\r\n json:%s", op, field.c_str(),
            rt::StyledText(call).c_str());
}

// The task's owner; null (said in the log) when there is no window to serve
// the call.
DownloadTasks* TasksFor(const char* op, const Json::Value& call) {
  if (g_tasks == nullptr) {
    WriteLogF("%s 错误! 下载服务窗口不存在,任务未启动.\r\n json:%s", op,
              rt::StyledText(call).c_str());
  }
  return g_tasks;
}

}  // namespace

void SetDownloadTasks(DownloadTasks* tasks) { g_tasks = tasks; }
DownloadTasks* CurrentDownloadTasks() { return g_tasks; }

DownloadCallArgs DownloadCallArgs::FromCall(const Json::Value& call) {
  DownloadCallArgs a;
  rt::ReadString(call, "url", a.url);
  rt::ReadString(call, "name", a.name);
  rt::ReadString(call, "path", a.path);
  rt::ReadString(call, "text", a.text);
  rt::ReadInt(call, "opsign", a.opsign);
  rt::ReadBool(call, "display", a.display);
  rt::ReadBool(call, "open", a.open);
  return a;
}

std::string DownloadFolder(const std::string& path, const std::string& exeDir) {
  if (path.empty()) return exeDir;
  if (!IsRelativePath(path)) return path;
  return CanonicalizePath(JoinPath(exeDir, path));
}

bool FillLoadDataParams(const std::string& url, const std::string& downloadDir,
                        DownloadTaskParams& params, std::string& field) {
  std::memset(&params, 0, sizeof params);
  field.clear();
  if (!CopyField(params.url, url)) field = "url";
  else if (!CopyField(params.folder, downloadDir)) field = "path";
  return field.empty();
}

bool FillDownloadParams(const DownloadCallArgs& args, const std::string& folder,
                        DownloadTaskParams& params, std::string& field) {
  std::memset(&params, 0, sizeof params);
  params.display = args.display ? 1 : 0;
  params.open = args.open ? 1 : 0;
  field.clear();
  if (!CopyField(params.text, args.text)) field = "text";
  else if (!CopyField(params.name, args.name)) field = "name";
  else if (!CopyField(params.folder, folder)) field = "path";
  else if (!CopyField(params.url, args.url)) field = "url";
  return field.empty();
}

std::string ContinuationText(const Json::Value& call) {
  const Json::Value* then = rt::FindMember(call, "then");
  if (then == nullptr || !then->isObject()) return std::string();
  return rt::StyledText(*then);
}

bool LoadIsSentOnce(int32_t code, bool hasContinuation) {
  return !hasContinuation && (code & (kLoadCodeCache | kLoadCodeLuaEvent)) == 0;
}

DownloadTaskOptions PackageDownloadOptions(const Json::Value& continuation, bool keys) {
  DownloadTaskOptions options{};
  options.structSize = sizeof options;
  const PackageExpectation expected = ExpectedPackage(continuation);
  if (expected.hasDigest || keys) options.flags |= kTaskOptionReportFile;
  if (keys && expected.hasDigest) {
    options.flags |= kTaskOptionDigest;
    std::memcpy(options.sha256, expected.digest.data(), sizeof options.sha256);
  }
  if (keys && expected.hasSize) {
    options.flags |= kTaskOptionSizeLimit;
    options.size = expected.size;
  }
  return options;
}

void URLLoadDataOperation(const std::string&, Json::Value call) {
  const std::string url = rt::StringMember(call, "url");
  const int32_t opsign = rt::IntMember(call, "opsign", 0);
  const int32_t code = rt::IntMember(call, "code", kLoadCodeLuaEvent);
  if (url.empty()) {
    WriteLogF("URLLoadData 错误! 地址为空.\r\n json:%s", rt::StyledText(call).c_str());
    return;
  }
  const std::string thenText = ContinuationText(call);
  DownloadTaskParams params;
  std::string field;
  if (!FillLoadDataParams(url, LauncherApp::Get().downloadDir, params, field)) {
    LogRefusal("URLLoadData", field, call);
    return;
  }
  DownloadTasks* tasks = TasksFor("URLLoadData", call);
  if (tasks == nullptr) return;
  DownloadTaskOptions once{};
  once.structSize = sizeof once;
  once.flags = kTaskOptionSendOnce;
  const uint32_t task = tasks->CreateTask(
      kTaskLoadData, params, LoadIsSentOnce(code, !thenText.empty()) ? &once : nullptr);
  if (task == 0) return;  // nothing follows a task that did not start
  tasks->Client().TrackLoad(task, opsign, code, thenText, url);
}

void URLDownloadOperation(const std::string&, Json::Value call) {
  const DownloadCallArgs args = DownloadCallArgs::FromCall(call);
  if (args.url.empty() || args.name.empty()) {
    WriteLogF("URLDownload 错误! 地址或文件名为空.\r\n json:%s", rt::StyledText(call).c_str());
    return;
  }
  const std::string thenText = ContinuationText(call);
  DownloadTaskParams params;
  std::string field;
  const std::string folder = DownloadFolder(args.path, LauncherApp::Get().exeDir);
  if (!FillDownloadParams(args, folder, params, field)) {
    LogRefusal("URLDownload", field, call);
    return;
  }
  DownloadTasks* tasks = TasksFor("URLDownload", call);
  if (tasks == nullptr) return;
  // What the package is expected to be travels in the continuation; the
  // file's earlier hold goes first, or it would keep the new one from its name.
  const std::string file = CanonicalizePath(JoinPath(folder, args.name));
  tasks->Client().ForgetWrittenPackage(file);
  const DownloadTaskOptions options =
      PackageDownloadOptions(rt::MemberOrNull(call, "then"), RepliesMustBeSigned());
  const uint32_t task =
      tasks->CreateTask(kTaskDownloadFile, params, options.flags != 0 ? &options : nullptr);
  if (task == 0) return;
  tasks->Client().TrackDownload(task, args.opsign, thenText, args.url, file);
  if (call.isMember("sha256") || call.isMember("size")) {
    // The file must be what the caller names: checked when the download
    // ends; a file that does not match is refused (removed with keys, set
    // aside without) and the download failed.
    const PackageExpectation expected = ExpectedPackage(call);
    const PackageRules rules = RepliesMustBeSigned() ? PackageRules::Keys : PackageRules::Design;
    tasks->Client().CheckDownloadWith(task, [expected, file, rules] {
      const PackageCheck check = CheckDownloadedPackage(file, expected, rules);
      if (!check.note.empty()) WriteLogF("URLDownload %s", check.note.c_str());
      if (!check.logLine.empty()) WriteLogF("URLDownload %s", check.logLine.c_str());
      return check.verdict != PackageVerdict::Refused;
    });
  }
}
