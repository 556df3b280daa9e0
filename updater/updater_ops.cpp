#include "updater_ops.h"

#include <windows.h>

#include <ctime>

#include "file_work.h"
#include "json_util.h"
#include "log_file.h"
#include "operation_engine.h"
#include "path_util.h"
#include "process_runner.h"
#include "updater_app.h"
#include "updater_chain.h"
#include "updater_commands.h"
#include "verified_copy.h"

namespace {

// The installer is always waited for; without "wait" for at most this long.
constexpr uint32_t kInstallWaitLimitMs = 600000;

const std::string& ProgramDir() { return UpdaterApp::Get().programDir; }

// A path that does not fit its buffer: logged, and the operation fails with
// the system's "name too long" code.
Json::Value RefusePath(const std::string& text) {
  WriteLogF("路径过长(%u字节): '%s'", static_cast<unsigned>(text.size()), text.c_str());
  return ErrorResult(kPathTooLongError);
}

// Passes `result` on to the successor in "then", if there is one.
void Continue(const Json::Value& call, const Json::Value& result) {
  PostThen(kUpdaterModule, call, result);
}

// The folder of `file` (with a trailing backslash) is created when missing.
void EnsureFolderOf(const std::string& file) {
  const std::string folder = WithTrailingBackslash(ParentFolder(file));
  if (!PathExists(folder)) CreateMissingDirectories(folder);
}

}  // namespace

void RegisterUpdaterOperations() {
  RegisterOperation(kUpdaterModule, "Quit", OpQuit);
  RegisterOperation(kUpdaterModule, "StartProcess", OpStartProcess);
  RegisterOperation(kUpdaterModule, "StartProcedure", OpStartProcedure);
  RegisterOperation(kUpdaterModule, "CopyFile", OpCopyFile);
  RegisterOperation(kUpdaterModule, "Install", OpInstall);
  RegisterOperation(kUpdaterModule, "OpenFile", OpOpenFile);
}

void OpQuit(const std::string&, Json::Value call) { PostQuitMessage(QuitExitCode(call)); }

void OpStartProcedure(const std::string&, Json::Value) {
  const UpdaterApp& app = UpdaterApp::Get();
  UpdaterArgs args;
  args.options = app.options;
  args.startParams = app.startParams;
  args.targetPath = app.targetPath;
  args.copyPath = app.copyPath;
  args.directory = app.directory;
  args.open = app.open;
  args.hasDigest = app.hasDigest;
  args.digest = app.digest;
  args.size = app.size;
  const Json::Value first =
      BuildStartChain(args, app.programDir, static_cast<int64_t>(std::time(nullptr)));
  PostCall(kUpdaterModule, rt::StyledText(first));
}

void OpStartProcess(const std::string&, Json::Value call) {
  const std::string name = rt::StringMember(call, "name");
  const std::string params = rt::StringMember(call, "params");
  const std::string path = rt::StringMember(call, "path");
  const std::string dir = rt::StringMember(call, "dir");
  if (name.empty()) {
    WriteLogF("启程进程失败!未指定文件名! 参数:%s", rt::StyledText(call).c_str());
    return;
  }
  bool started = false;
  std::string command;
  if (!FormatStartProcessCommand(path.empty() ? ProgramDir() : path, name, params, command)) {
    WriteLogF("启动失败! 命令行过长: '%s\\%s %s'", path.empty() ? ProgramDir().c_str() : path.c_str(),
              name.c_str(), params.c_str());
  } else {
    // Started without waiting; the runner logs a failed start itself.
    started = RunProcessToEnd(command, dir, 0) == 0;
    if (started) WriteLogF("成功启动. '%s'", command.c_str());
  }
  // Here "result" is the bare flag, and any object counts as a successor.
  const Json::Value* then = rt::FindMember(call, "then");
  if (then && then->isObject()) {
    Json::Value next = *then;
    next["result"] = started;
    PostCall(kUpdaterModule, rt::StyledText(next));
  }
}

void OpCopyFile(const std::string&, Json::Value call) {
  const std::string file = rt::StringMember(call, "file");
  const std::string path = rt::StringMember(call, "path");
  if (file.empty() || path.empty()) return Continue(call, StatusResult(false));

  std::string source, destination;
  if (!CanonicalPath(file, source)) return Continue(call, RefusePath(file));
  if (!ResolvePath(path, ProgramDir(), destination)) return Continue(call, RefusePath(path));

  EnsureFolderOf(destination);
  // A package with its signed digest is checked here too, and what is
  // copied is what was checked.
  DWORD error = 0;
  trust::Digest expected{};
  const std::string digestText = rt::StringMember(call, "sha256");
  if (!digestText.empty()) {
    if (!trust::ParseDigest(digestText, expected)) return Continue(call, ErrorResult(ERROR_INVALID_DATA));
    int64_t size = -1;
    if (const Json::Value* given = rt::FindMember(call, "size"))
      if (given->isIntegral()) size = given->asLargestInt();
    const VerifiedCopyResult copied = CopyVerified(source, destination, expected, size);
    if (copied.mismatch) {
      WriteLogF("更新包校验失败 文件:'%s' 期望sha256:%s 实际sha256:%s 大小:%lld", source.c_str(),
                digestText.c_str(), trust::DigestText(copied.digest).c_str(),
                static_cast<long long>(copied.size));
    } else if (copied.error == 0) {
      WriteLogF("更新包校验通过 文件:'%s' sha256:%s 大小:%lld", source.c_str(),
                trust::DigestText(copied.digest).c_str(), static_cast<long long>(copied.size));
    }
    // What takes the launcher's place is the copy just checked, not the
    // package as it may be by now.
    error = copied.error != 0 ? copied.error : PutCopyInPlace(copied.copy, destination);
  } else {
    error = CopyFileRetrying(source, destination);
  }
  if (error == 0) {
    WriteLog("复制成功");
    return Continue(call, StatusResult(true));
  }
  WriteLogF("复制失败[ERR:%d] 源:'%s' 目标:'%s'", static_cast<int>(error), source.c_str(),
            destination.c_str());
  Continue(call, ErrorResult(static_cast<int32_t>(error)));
}

void OpInstall(const std::string&, Json::Value call) {
  const std::string file = rt::StringMember(call, "file");
  const std::string dir = rt::StringMember(call, "dir");
  const std::string log = rt::StringMember(call, "log");
  const bool wait = rt::BoolMember(call, "wait", true);
  if (file.empty()) return Continue(call, StatusResult(false));

  std::string package;
  if (!ResolvePath(file, ProgramDir(), package)) return Continue(call, RefusePath(file));
  if (!PathExists(package)) return Continue(call, ErrorResult(ERROR_FILE_NOT_FOUND));

  std::string installDir;
  if (dir.empty()) {
    if (!CanonicalPath(ProgramDir(), installDir)) return Continue(call, RefusePath(ProgramDir()));
  } else if (!ResolvePath(dir, ProgramDir(), installDir)) {
    return Continue(call, RefusePath(dir));
  }
  installDir = WithTrailingBackslash(installDir);

  std::string logFile;
  if (!log.empty()) {
    if (!ResolvePath(log, ProgramDir(), logFile)) return Continue(call, RefusePath(log));
    EnsureFolderOf(logFile);
  }

  std::string command;
  int32_t outcome = kRunNotStarted;
  if (FormatInstallCommand(package, installDir, logFile, command)) {
    outcome = RunProcessToEnd(command, std::string(), wait ? kWaitForever : kInstallWaitLimitMs);
  } else {
    WriteLogF("命令行过长(最多%u字节)", static_cast<unsigned>(kPathBufferSize - 1));
    command = "\"" + package + "\" /SILENT, /VERYSILENT /DIR=\"" + installDir + "\"";
  }
  if (outcome == 0) {
    WriteLog("安装成功");
    return Continue(call, StatusResult(true));
  }
  WriteLogF("安装失败或错误[ERR:%d] 命令行:'%s' 指定安装目录:'%s'", static_cast<int>(outcome),
            command.c_str(), dir.c_str());
  Continue(call, ErrorResult(outcome));
}

void OpOpenFile(const std::string&, Json::Value call) {
  const std::string file = rt::StringMember(call, "file");
  const std::string params = rt::StringMember(call, "params");
  const std::string dir = rt::StringMember(call, "dir");
  const bool wait = rt::BoolMember(call, "wait", false);
  if (file.empty()) return Continue(call, StatusResult(false));

  std::string target;
  if (!CanonicalPath(file, target)) return Continue(call, RefusePath(file));
  if (IsRelativePath(target)) {
    const std::string& base = (!dir.empty() && PathExists(dir)) ? dir : ProgramDir();
    if (!ResolvePath(target, base, target)) return Continue(call, RefusePath(file));
  }

  std::string command;
  int32_t outcome = kRunNotStarted;
  bool fits = true;
  if (PathExists(target)) {
    fits = FormatOpenCommand(target, params, command);
  } else {
    command = file;  // not a file: the text is a whole command line
    fits = command.size() < kPathBufferSize;
  }
  if (fits) {
    outcome = RunProcessToEnd(command, dir, wait ? kWaitForever : 0);
  } else {
    WriteLogF("命令行过长(最多%u字节)", static_cast<unsigned>(kPathBufferSize - 1));
  }
  if (outcome == 0) {
    WriteLog("运行成功");
    return Continue(call, StatusResult(true));
  }
  WriteLogF("打开文件失败或错误[ERR:%d] 工作目录:'%s' 命令:'%s' ", static_cast<int>(outcome),
            dir.c_str(), command.c_str());
  Continue(call, ErrorResult(outcome));
}
