#include "process_runner.h"

#include <windows.h>

#include "log_file.h"
#include "path_util.h"
#include "scoped_handle.h"

int32_t RunProcess(const std::string& commandLine, const std::string& workDir, uint32_t waitMs,
                   bool waitForExit) {
  if (commandLine.empty()) {
    WriteLog("启程进程失败!未指定执行命令行!");
    return kRunNotStarted;
  }
  // The system may write into the command line buffer, so it is our copy.
  if (commandLine.size() >= kCommandLineBufferSize) {
    WriteLogF("启动失败! 命令行过长(%u字节)", static_cast<unsigned>(commandLine.size()));
    return kRunNotStarted;
  }
  char line[kCommandLineBufferSize];
  commandLine.copy(line, commandLine.size());
  line[commandLine.size()] = '\0';

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
    WriteLogF("启动失败! '%s'", commandLine.c_str());
    return kRunNotStarted;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  if (waitMs == 0) return 0;

  const DWORD wait = waitForExit ? WaitForSingleObject(process.Get(), waitMs)
                                 : WaitForInputIdle(process.Get(), waitMs);
  if (wait == WAIT_FAILED) {
    const DWORD error = GetLastError();
    WriteLogF("错误代码:%d", static_cast<int>(error));
    return static_cast<int32_t>(error);
  }
  if (wait == WAIT_TIMEOUT) {
    WriteLogF("等待超时:%dms", static_cast<int>(waitMs));
    return kRunTimedOut;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.Get(), &exitCode) || exitCode == 0) return 0;
  // A program that is ready for input is normally still running: that is the
  // success this wait asked for, not an exit code.
  if (!waitForExit && exitCode == STILL_ACTIVE) return 0;
  WriteLogF("退出代码:%d", static_cast<int>(exitCode));
  return static_cast<int32_t>(exitCode);
}

int32_t RunProcessToEnd(const std::string& commandLine, const std::string& workDir,
                        uint32_t waitMs) {
  return RunProcess(commandLine, workDir, waitMs, true);
}
